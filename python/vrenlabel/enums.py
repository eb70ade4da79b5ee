"""Named values of the library's arguments and of the status byte.

The members are ints, so they go to the C functions as they are. Where the
command language fixes a letter rather than a meaning, the member says which
letter the printer receives.
"""

from __future__ import annotations

import enum


class Font(enum.IntEnum):
    """Device fonts of `Printer.text`: 0 to 9 and the letters a to n.

    Fonts A to F (Korean, EUC-KR), J (Japanese, CP932), M (Simplified
    Chinese, GB18030) and N (Traditional Chinese, BIG5) take UTF-8 text, which
    the library converts; all others take ASCII.
    """

    F0 = 0
    F1 = 1
    F2 = 2
    F3 = 3
    F4 = 4
    F5 = 5
    F6 = 6
    F7 = 7
    F8 = 8
    F9 = 9
    A = ord("a")
    B = ord("b")
    C = ord("c")
    D = ord("d")
    E = ord("e")
    F = ord("f")
    G = ord("g")
    H = ord("h")
    I = ord("i")  # noqa: E741 - the printer's letter
    J = ord("j")
    K = ord("k")
    L = ord("l")
    M = ord("m")
    N = ord("n")


class VectorFont(enum.IntEnum):
    """Vector fonts of `Printer.vector_text`, by the letter the printer receives.

    KOREAN (K, EUC-KR), TRADITIONAL_CHINESE (B, BIG5), SIMPLIFIED_CHINESE
    (G, GB18030) and JAPANESE (J, CP932) take UTF-8 text, which the library
    converts; U, A and B_MONO take ASCII.
    """

    U = 0
    KOREAN = 1
    TRADITIONAL_CHINESE = 2
    SIMPLIFIED_CHINESE = 3
    JAPANESE = 4
    A = 5  # letter a
    B_MONO = 6  # letter b


class Rotation(enum.IntEnum):
    """Quarter turns of text and barcodes."""

    R0 = 0
    R90 = 1
    R180 = 2
    R270 = 3


class Alignment(enum.IntEnum):
    """Alignment of vector text: letters L, C, R."""

    LEFT = 0
    CENTER = 1
    RIGHT = 2


class CodePage(enum.IntEnum):
    """Code pages the library converts UTF-8 text to (the W functions)."""

    EUC_KR = 0
    CP949 = 1
    EUC_CN = 2
    GB18030 = 3
    BIG5 = 4
    CP950 = 5
    EUC_JP = 6
    CP932 = 7
    CP874 = 8

    @property
    def codec(self) -> str:
        """Python's name for the same code page."""
        return _CODECS[self]


_CODECS = {
    CodePage.EUC_KR: "euc_kr",
    CodePage.CP949: "cp949",
    CodePage.EUC_CN: "gb2312",
    CodePage.GB18030: "gb18030",
    CodePage.BIG5: "big5",
    CodePage.CP950: "cp950",
    CodePage.EUC_JP: "euc_jp",
    CodePage.CP932: "cp932",
    CodePage.CP874: "cp874",
}


class BarcodeType(enum.IntEnum):
    """One-dimensional symbologies of `Printer.barcode` (field 3 of B1)."""

    CODE39 = 0
    CODE128 = 1
    INTERLEAVED_2_OF_5 = 2
    CODABAR = 3
    CODE93 = 4
    UPC_A = 5
    UPC_E = 6
    EAN13 = 7
    EAN8 = 8
    GS1_128 = 9
    CODE11 = 10
    MSI_PLESSEY = 11
    INDUSTRIAL_2_OF_5 = 12
    STANDARD_2_OF_5 = 13
    LOGMARS = 14
    CODE39_FULL_ASCII = 15
    ITF14 = 16


class QRErrorLevel(enum.IntEnum):
    """QR code error correction: letters L, M, Q, H."""

    L = 0
    M = 1
    Q = 2
    H = 3


class CodablockMode(enum.IntEnum):
    """CODABLOCK mode: letters A, E, F."""

    A = 0
    E = 1
    F = 2


class DataBarType(enum.IntEnum):
    """GS1 DataBar variants (field 4 of B3)."""

    OMNIDIRECTIONAL = 0
    TRUNCATED = 1
    STACKED = 2
    STACKED_OMNIDIRECTIONAL = 3
    LIMITED = 4
    EXPANDED = 5


class BlockOption(enum.IntEnum):
    """Block options of `Printer.box`: letters O, E, D, S, B."""

    FILL = 0  # O
    INVERT = 1  # E
    ERASE = 2  # D
    LINE = 3  # S, with a thickness
    FRAME = 4  # B, with a thickness


class Orientation(enum.IntEnum):
    """Print orientation: the letter T or B."""

    TOP = ord("T")
    BOTTOM = ord("B")


class MediaType(enum.IntEnum):
    """Media of `Paper`: letters G, C, B."""

    GAP = 0
    CONTINUOUS = 1
    BLACK_MARK = 2


class PrintingType(enum.IntEnum):
    """Printing type: letters d and t."""

    DIRECT_THERMAL = 0
    THERMAL_TRANSFER = 1


class StatusBit(enum.IntFlag):
    """Error bits of the status byte."""

    RIBBON_END = 0x04
    GAP_ERROR = 0x08
    HEAD_OVERHEAT = 0x10
    CUTTER_JAM = 0x20
    COVER_OPEN = 0x40
    PAPER_EMPTY = 0x80
