"""The Pythonic layer: one `Printer` per connection, one method per command.

    with Printer("192.168.0.50:9100") as printer:
        printer.text("Hello", 40, 40, font=Font.F4, bold=True)
        printer.print_label()

Composition methods (text, barcodes, graphics) add to the library's command
buffer, which `print_label()` sends; settings, control commands, the status
query, raw output and images go to the printer at once. Keyword arguments
default to the values the library itself puts in place of an out-of-range
argument. Every failure raises a `VrenError`.
"""

from __future__ import annotations

import ctypes
import enum
import os
import threading
from types import TracebackType
from typing import Any, NamedTuple, TypeVar

from . import raw
from ._encoding import Text, path_bytes, to_bytes, unencodable
from ._library import load_library
from .enums import (
    Alignment,
    BarcodeType,
    BlockOption,
    CodablockMode,
    CodePage,
    DataBarType,
    Font,
    MediaType,
    Orientation,
    PrintingType,
    QRErrorLevel,
    Rotation,
    VectorFont,
)
from .errors import ArgumentError, ConnectError, WriteError, error_for
from .image import ImageSource, Raster, to_raster
from .status import Status

# The library's state is process-wide and its calls must not overlap: every
# call goes through this lock, and one Printer at a time may be open.
_lock = threading.RLock()
_open_printer: Printer | None = None

# Ranges of the C integer types of the signature table.
_LIMITS = {
    "int": (-(2**31), 2**31 - 1),
    "int32_t": (-(2**31), 2**31 - 1),
    "uint32_t": (0, 2**32 - 1),
    "uint8_t": (0, 255),
    "unsigned char": (0, 255),
}

# Fonts whose text the plain functions convert, and to which code page.
_DEVICE_FONT_CODE_PAGES = {
    **{font: CodePage.EUC_KR for font in range(ord("a"), ord("f") + 1)},
    ord("j"): CodePage.CP932,
    ord("m"): CodePage.GB18030,
    ord("n"): CodePage.BIG5,
}
_VECTOR_FONT_CODE_PAGES = {1: CodePage.EUC_KR, 2: CodePage.BIG5, 3: CodePage.GB18030, 4: CodePage.CP932}

_ASCII_HINT_TEXT = "use a font the library converts (Font.A to F, J, M, N), give code_page, or pass bytes"
_ASCII_HINT_VECTOR = "use a font the library converts (KOREAN, TRADITIONAL_CHINESE, ...), give code_page, or pass bytes"
_ASCII_HINT_DATA = "pass bytes to send other bytes"


class Paper(NamedTuple):
    """Label size and media for `Printer.settings(paper=...)`, in dots."""

    width: int
    height: int
    media: MediaType = MediaType.GAP
    offset: int = 0
    gap: int = 0


def _call(function: str, *args: Any) -> int:
    """Calls a C function of the signature table after checking that every
    integer fits its C type (ctypes would cut it silently)."""
    declaration = raw.FUNCTIONS[function]
    for parameter, value in zip(declaration.parameters, args):
        limits = _LIMITS.get(parameter.type)
        if limits is None:
            continue
        if not isinstance(value, int):
            raise ArgumentError(f"{parameter.name}: expected an int, got {type(value).__name__}", function=function)
        if not limits[0] <= value <= limits[1]:
            raise ArgumentError(f"{parameter.name}: {value} does not fit a C {parameter.type}", function=function)
    with _lock:
        return int(getattr(raw, function)(*args))


def _flag(value: object) -> int:
    return 1 if value else 0


def _device_font(font: int | str) -> int:
    """A device font as the library takes it: a number, or a letter a to n."""
    if isinstance(font, str):
        if len(font) != 1 or not "a" <= font <= "n":
            raise ArgumentError(f"font: expected a letter a to n, got {font!r}")
        return ord(font)
    return font


class Printer:
    """One connection to a printer.

    `address` is the library's address: "USB", "SERIAL:9600",
    "/dev/ttyS0:9600", "PARALLEL", "/dev/lp0", a Bluetooth address
    "AA:BB:CC:DD:EE:FF", or "192.168.0.50:9100". `library` is the path of
    libVrenLabelAPI.so.1 when it is not to be looked up.

    Used as a context manager it connects on entry and disconnects on exit;
    `open()` and `close()` do the same by hand. The library holds one
    connection per process: opening a second Printer while one is open raises
    ConnectError.
    """

    def __init__(self, address: str, *, library: str | os.PathLike[str] | None = None) -> None:
        self.address = address
        self.model: str | None = None
        self._library = library
        self._open = False

    def __repr__(self) -> str:
        state = f"open, {self.model}" if self._open else "closed"
        return f"Printer({self.address!r}, {state})"

    # Connection -------------------------------------------------------------

    @property
    def is_open(self) -> bool:
        return self._open

    def open(self) -> Printer:
        """Connects and identifies the printer (about a second)."""
        global _open_printer
        address = to_bytes(self.address, utf8=False, what="address")
        load_library(self._library)
        with _lock:
            if _open_printer is not None:
                raise ConnectError(
                    f"{_open_printer.address} is open already in this process, and the library holds one "
                    f"connection: close it before opening {self.address}"
                )
            if raw.gConnectedPrinter.value:
                raise ConnectError(
                    f"a connection made through vrenlabel.raw is open: disconnect it before opening {self.address}"
                )
            result = _call("ConnectToPrinter", address)
            if result < 0:
                raise error_for(result, "ConnectToPrinter", self.address)
            _open_printer = self
            self._open = True
            # Model names are entries 151 to 199; entry 0 is the maker's word.
            index = raw.gPrinterModel.value
            model = raw.KORVEL_DEVICE[index] if 151 <= index < len(raw.KORVEL_DEVICE) else None
            self.model = model.decode("ascii", "replace") if model else None
        return self

    def close(self) -> None:
        """Disconnects; does nothing when not open. What the command buffer
        still holds is not sent."""
        global _open_printer
        with _lock:
            if not self._open:
                return
            self._open = False
            _open_printer = None
            result = _call("DisconnectPrinter")
        if result < 0:
            raise ConnectError("closing the connection failed", code=result, function="DisconnectPrinter")

    def __enter__(self) -> Printer:
        return self.open()

    def __exit__(
        self,
        kind: type[BaseException] | None,
        error: BaseException | None,
        traceback: TracebackType | None,
    ) -> None:
        try:
            self.close()
        except ConnectError:
            if kind is None:
                raise

    def _run(self, function: str, *args: Any) -> int:
        if not self._open:
            raise ConnectError(f"{self.address} is not open", function=function)
        result = _call(function, *args)
        if result < 0:
            raise error_for(result, function)
        return result

    # Text -------------------------------------------------------------------

    def text(
        self,
        data: Text,
        x: int,
        y: int,
        *,
        font: int | str = Font.F3,
        x_multiplier: int = 1,
        y_multiplier: int = 1,
        rotation: int = Rotation.R0,
        bold: bool = False,
        code_page: int | None = None,
    ) -> None:
        """A line of text in a device font (0 to 9, or a letter a to n).

        str is sent as UTF-8 to the fonts the library converts (a to f, j, m,
        n; with `code_page`, also 0, 9 and every letter), as ASCII to the rest.
        """
        font = _device_font(font)
        normal = font if 0 <= font <= 9 or ord("a") <= font <= ord("n") else 3
        if code_page is None:
            page = _DEVICE_FONT_CODE_PAGES.get(normal)
        else:
            page = _code_page(code_page) if normal in (0, 9) or normal >= ord("a") else None
        encoded = to_bytes(data, utf8=page is not None, what="text", hint=_ASCII_HINT_TEXT)
        args = (encoded, x, y, font, x_multiplier, y_multiplier, rotation, _flag(bold))
        if code_page is None:
            self._text("PrintDeviceFont", data, page, *args)
        else:
            self._text("PrintDeviceFontW", data, page, *args, _code_page(code_page))

    def vector_text(
        self,
        data: Text,
        x: int,
        y: int,
        *,
        font: int = VectorFont.U,
        width: int = 24,
        height: int = 24,
        spacing: int = 0,
        bold: bool = False,
        reverse: bool = False,
        italic: bool = False,
        rotation: int = Rotation.R0,
        alignment: int = Alignment.LEFT,
        last_option: int = 0,
        code_page: int | None = None,
    ) -> None:
        """A line of text in a vector font, `width` x `height` dots per em.

        str is sent as UTF-8 to the fonts the library converts (KOREAN,
        TRADITIONAL_CHINESE, SIMPLIFIED_CHINESE, JAPANESE; with `code_page`,
        every font but U), as ASCII to the rest.
        """
        if code_page is None:
            page = _VECTOR_FONT_CODE_PAGES.get(font)
        else:
            page = _code_page(code_page) if font != 0 else None
        encoded = to_bytes(data, utf8=page is not None, what="text", hint=_ASCII_HINT_VECTOR)
        args = (encoded, x, y, font, width, height, spacing, _flag(bold), _flag(reverse), _flag(italic), rotation,
                alignment, last_option)
        if code_page is None:
            self._text("PrintVectorFont", data, page, *args)
        else:
            self._text("PrintVectorFontW", data, page, *args, _code_page(code_page))

    def _text(self, function: str, data: Text, page: CodePage | None, *args: Any) -> None:
        try:
            self._run(function, *args)
        except WriteError as error:
            # A text the code page lacks fails like a failed write; say which
            # character it was.
            reason = unencodable(data, page.codec, page.name) if page is not None else None
            if reason is None or error.code is None:
                raise
            raise error_for(error.code, function, f"text: {reason}", kind=ArgumentError) from None

    # Barcodes ---------------------------------------------------------------

    def _barcode(self, function: str, data: Text, x: int, y: int, *fields: int) -> None:
        self._run(function, to_bytes(data, utf8=False, what="data", hint=_ASCII_HINT_DATA), x, y, *fields)

    def barcode(
        self,
        data: Text,
        x: int,
        y: int,
        *,
        symbology: int = BarcodeType.CODE128,
        narrow: int = 2,
        wide: int = 6,
        height: int = 100,
        readable: int = 0,
    ) -> None:
        """A one-dimensional barcode (B1); `narrow` and `wide` are bar widths
        and `height` the bar height, in dots. The library always writes 0 in
        its rotation field."""
        self._barcode("Print1DBarcode", data, x, y, symbology, narrow, wide, height, 0, readable)

    def maxicode(self, data: Text, x: int, y: int, *, mode: int = 0) -> None:
        """A MaxiCode symbol; mode 0, 2, 3 or 4."""
        self._barcode("PrintMaxiCode", data, x, y, mode)

    def pdf417(
        self,
        data: Text,
        x: int,
        y: int,
        *,
        rows: int = 30,
        columns: int = 5,
        error_level: int = 0,
        truncate: int = 0,
        field8: bool = False,
        field9: int = 0,
        module_width: int = 3,
        row_height: int = 10,
        rotation: int = Rotation.R0,
    ) -> None:
        """A PDF417 symbol."""
        self._barcode("PrintPDF417", data, x, y, rows, columns, error_level, truncate, _flag(field8), field9,
                      module_width, row_height, rotation)

    def qr(
        self,
        data: Text,
        x: int,
        y: int,
        *,
        model: int = 1,
        error_level: int = QRErrorLevel.L,
        size: int = 4,
        rotation: int = Rotation.R0,
    ) -> None:
        """A QR code; `size` 1 to 4 scales its modules."""
        self._barcode("PrintQRCode", data, x, y, model, error_level, size, rotation)

    def datamatrix(
        self,
        data: Text,
        x: int,
        y: int,
        *,
        size: int = 2,
        rectangular: bool = False,
        rotation: int = Rotation.R0,
    ) -> None:
        """A Data Matrix symbol; `size` 1 to 4 scales its modules."""
        self._barcode("PrintDataMatrix", data, x, y, size, _flag(rectangular), rotation)

    def aztec(
        self,
        data: Text,
        x: int,
        y: int,
        *,
        size: int = 2,
        field5: int = 0,
        error_correction: int = 0,
        field7: bool = False,
        field8: int = 15,
        field9: int = 0,
        rotation: int = Rotation.R0,
    ) -> None:
        """An Aztec symbol; `error_correction` in percent (0: the default)."""
        self._barcode("PrintAztec", data, x, y, size, field5, error_correction, _flag(field7), field8, field9,
                      rotation)

    def code49(
        self,
        data: Text,
        x: int,
        y: int,
        *,
        module_width: int = 2,
        field5: int = 0,
        row_height: int = 20,
        field7: int = 0,
        field8: int = 0,
        rotation: int = Rotation.R0,
    ) -> None:
        """A Code 49 symbol."""
        self._barcode("PrintCode49", data, x, y, module_width, field5, row_height, field7, field8, rotation)

    def codablock(
        self,
        data: Text,
        x: int,
        y: int,
        *,
        module_width: int = 2,
        field5: int = 0,
        row_height: int = 20,
        field7: bool = False,
        columns: int = 30,
        mode: int = CodablockMode.E,
        field10: int | None = None,
    ) -> None:
        """A CODABLOCK symbol; `field10` None takes the mode's default."""
        self._barcode("PrintCODABLOCK", data, x, y, module_width, field5, row_height, _flag(field7), columns, mode,
                      0 if field10 is None else field10)

    def micropdf(
        self,
        data: Text,
        x: int,
        y: int,
        *,
        module_width: int = 5,
        row_height: int = 50,
        field6: int = 0,
        rotation: int = Rotation.R0,
    ) -> None:
        """A MicroPDF417 symbol."""
        self._barcode("PrintMicroPDF", data, x, y, module_width, row_height, field6, rotation)

    def gs1_databar(
        self,
        data: Text,
        x: int,
        y: int,
        *,
        kind: int = DataBarType.EXPANDED,
        module_width: int = 1,
        field6: int = 1,
        height: int = 0,
        segments_per_row: int = 6,
        rotation: int = Rotation.R0,
    ) -> None:
        """A GS1 DataBar symbol (B3); `height` 0 takes the symbology's."""
        self._barcode("PrintGS1DataBar", data, x, y, kind, module_width, field6, height, segments_per_row, rotation)

    # Graphics ---------------------------------------------------------------

    def box(
        self,
        start_x: int,
        start_y: int,
        end_x: int,
        end_y: int,
        *,
        option: int = BlockOption.FRAME,
        thickness: int = 1,
    ) -> None:
        """A block between two corners: FILL, INVERT, ERASE, LINE or FRAME
        (the last two `thickness` dots wide)."""
        self._run("PrintBlock", start_x, start_y, end_x, end_y, option, thickness)

    def line(self, start_x: int, start_y: int, end_x: int, end_y: int, *, thickness: int = 1) -> None:
        """A line from start to end, `thickness` dots wide."""
        self.box(start_x, start_y, end_x, end_y, option=BlockOption.LINE, thickness=thickness)

    def circle(self, x: int, y: int, *, size: int = 2, multiplier: int = 1) -> None:
        """A circle; `size` 1 to 6, `multiplier` 1 to 4."""
        self._run("PrintCircle", x, y, size, multiplier)

    # Images -----------------------------------------------------------------

    def bitmap(self, path: str | os.PathLike[str], x: int, y: int, *, compress: bool = True) -> None:
        """Sends an image file as the library reads it (BMP, JPEG, GIF; every
        pixel that is not pure white prints). For photos use print_image."""
        _check_position(x, y)
        self._run_image("PrintBitmap", os.fspath(path), path_bytes(path, "path"), x, y, _flag(compress))

    def print_image(
        self,
        image: ImageSource,
        x: int,
        y: int,
        width: int | None = None,
        dither: bool = True,
        threshold: int = 128,
    ) -> None:
        """Sends a Pillow image, or a file in any format Pillow reads, at dot
        position (x, y), scaled to `width` dots (None: its own width), as a
        run-length compressed bitmap. Grey is dithered (Floyd-Steinberg), or
        with `dither=False` cut at `threshold` (darker prints)."""
        _check_position(x, y)
        self.send_raster(to_raster(image, width, dither, threshold), x, y)

    def send_raster(self, raster: Raster, x: int, y: int) -> None:
        """Sends a 1-bit raster (see vrenlabel.image) as a run-length
        compressed bitmap."""
        _check_position(x, y)
        if len(raster.data) != raster.bytes_per_row * raster.height:
            raise ArgumentError(f"raster: {len(raster.data)} bytes for {raster.width} x {raster.height} dots")
        header = raw.VrenImageHeader(biSize=40, biWidth=raster.width, biHeight=raster.height, biPlanes=1,
                                     biBitCount=1)
        data = (ctypes.c_ubyte * max(1, len(raster.data))).from_buffer_copy(raster.data or b"\0")
        self._run_image("printLCR", f"{raster.width} x {raster.height} dots", data, ctypes.byref(header), x, y)

    def _run_image(self, function: str, what: str, *args: Any) -> None:
        if not self._open:
            raise ConnectError(f"{self.address} is not open", function=function)
        result = _call(function, *args)
        if result < 0:
            raise error_for(result, function, what)

    # Job --------------------------------------------------------------------

    def print_label(self, labels: int = 1, copies: int = 1) -> None:
        """Ends the label: sends the command buffer with the print command."""
        if labels < 1 or copies < 1:
            raise ArgumentError(f"print_label: expected at least one label and one copy, got {labels}, {copies}")
        self._run("Prints", labels, copies)

    def clear_buffer(self) -> None:
        """Tells the printer to drop what it has received of the label."""
        self._run("ClearBuffer")

    # Settings ---------------------------------------------------------------

    def settings(
        self,
        *,
        speed: int | None = None,
        density: int | None = None,
        orientation: int | None = None,
        cutter: bool | None = None,
        cut_period: int | None = None,
        rewinder: bool | None = None,
        offset: int | None = None,
        cut_position: int | None = None,
        printing_type: int | None = None,
        back_feed: bool | None = None,
        paper: Paper | None = None,
        margin: tuple[int, int] | None = None,
        character_set: int | None = None,
        code_table: int = 0,
    ) -> None:
        """Sends each setting given, at once, in the order of the arguments.

        speed 0 to 12; density 0 to 20; orientation Orientation.TOP or
        BOTTOM; cutter on or off, cutting every `cut_period` labels (0 or
        None: the printer's own); offset and cut_position -100 to 100;
        printing_type PrintingType; paper a Paper; margin (horizontal,
        vertical); character_set 0 to 15 with code_table 0 to 255.
        """
        if cut_period is not None and cutter is None:
            raise ArgumentError("cut_period: give cutter=True as well")
        steps: list[tuple[str, tuple[int, ...]]] = []
        if speed is not None:
            steps.append(("SetSpeed", (speed,)))
        if density is not None:
            steps.append(("SetDensity", (density,)))
        if orientation is not None:
            steps.append(("SetOrientation", (_member(Orientation, orientation, "orientation"),)))
        if cutter is not None:
            steps.append(("SetCutter", (_flag(cutter), cut_period or 0)))
        if rewinder is not None:
            steps.append(("SetRewinder", (_flag(rewinder),)))
        if offset is not None:
            steps.append(("SetOffset", (offset,)))
        if cut_position is not None:
            steps.append(("SetCutPostion", (cut_position,)))
        if printing_type is not None:
            steps.append(("SetPrintingType", (_member(PrintingType, printing_type, "printing_type"),)))
        if back_feed is not None:
            steps.append(("SetBackFeed", (_flag(back_feed),)))
        if paper is not None:
            paper = Paper(*paper)
            steps.append(("SetPaper", (paper.width, paper.height, paper.media, paper.offset, paper.gap)))
        if margin is not None:
            steps.append(("SetMargin", tuple(margin)))
        if character_set is not None:
            steps.append(("SetCharacterSet", (character_set, code_table)))
        for function, args in steps:
            self._run(function, *args)

    # Control and status -----------------------------------------------------

    def initialize(self) -> None:
        self._run("InitializePrinter")

    def calibrate(self) -> None:
        self._run("CalibrateMedia")

    def reset(self) -> None:
        self._run("ResetPrinter")

    def feed(self) -> None:
        """Feeds one label."""
        self._run("FeedOneLabel")

    def status(self) -> Status:
        """Asks the printer for its status. Raises ReadError when it does not
        answer."""
        return Status(self._run("CheckPrinterStatus"))

    def raw(self, data: bytes = b"", read: int = 0) -> bytes:
        """Writes `data` at once, then reads up to `read` bytes (at most 512)
        and returns them. Raises ReadError when `read` asked for bytes and
        none came."""
        data = bytes(data)
        if not 0 <= read <= 512:
            raise ArgumentError(f"read: expected 0 to 512 bytes, got {read}")
        buffer = ctypes.create_string_buffer(max(read, 1))
        length = ctypes.c_int(read)
        self._run("DirectIO", data or None, len(data), buffer if read else None, ctypes.byref(length))
        return buffer.raw[: length.value] if read else b""


_E = TypeVar("_E", bound=enum.IntEnum)


def _member(kind: type[_E], value: int, name: str) -> _E:
    try:
        return kind(value)
    except ValueError:
        choices = ", ".join(f"{member.name} ({member.value})" for member in kind)
        raise ArgumentError(f"{name}: expected one of {choices}, got {value!r}") from None


def _code_page(value: int) -> CodePage:
    return _member(CodePage, value, "code_page")


def _check_position(x: int, y: int) -> None:
    """Bitmap positions go out as 16-bit numbers."""
    for name, value in (("x", x), ("y", y)):
        if not isinstance(value, int) or not 0 <= value <= 0xFFFF:
            raise ArgumentError(f"{name}: a bitmap position is 0 to 65535 dots, got {value!r}")
