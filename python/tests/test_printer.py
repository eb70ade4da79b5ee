"""The Pythonic layer against the virtual printer: the bytes of one call per
command family, how text is encoded, and the exceptions."""

from __future__ import annotations

import socket
from typing import Callable

import pytest
from conftest import MODEL_QUERY, VirtualPrinter
from PIL import Image

from vrenlabel import (
    Alignment,
    ArgumentError,
    BarcodeType,
    BlockOption,
    CodablockMode,
    CodePage,
    ConnectError,
    Font,
    ImageError,
    Orientation,
    Paper,
    Printer,
    PrintingType,
    QRErrorLevel,
    ReadError,
    Result,
    Rotation,
    VectorFont,
    VrenError,
    raw,
)


def two_dots(mode: str) -> Image.Image:
    """10 x 1 pixels, black at both ends; in LA a transparent black one between."""
    image = Image.new(mode, (10, 1), 255 if mode == "L" else (255, 255))
    for x in (0, 9):
        image.putpixel((x, 0), 0 if mode == "L" else (0, 255))
    if mode == "LA":
        image.putpixel((5, 0), (0, 0))
    return image


# The LCR command of two_dots() at (3, 258): header, run-length stream (two literal bytes), CR.
TWO_DOTS = b"LCR\0" + bytes([3, 0, 2, 1, 2, 0, 1, 0]) + b"\x80\x40\r"

Call = Callable[[Printer], object]
ROWS: list[tuple[int, Call, bytes]] = [
    (1, lambda p: p.text("Hello", 10, 20), b"T10,20,3,1,1,0,0,N,N,'Hello'\r"),
    (2, lambda p: p.text("Hi", 10, 20, font="b", x_multiplier=2, y_multiplier=3, rotation=Rotation.R90, bold=True),
     b"T10,20,b,2,3,0,1,N,B,'Hi'\r"),
    (3, lambda p: p.text("한글", 0, 0, font=Font.A), b"T0,0,a,1,1,0,0,N,N,'" + "한글".encode("euc_kr") + b"'\r"),
    (4, lambda p: p.text("한", 0, 0, font=Font.F0, code_page=CodePage.CP949),
     b"T0,0,0,1,1,0,0,N,N,'" + "한".encode("cp949") + b"'\r"),
    (5, lambda p: p.text(b"caf\xe9", 0, 0), b"T0,0,3,1,1,0,0,N,N,'caf\xe9'\r"),
    (6, lambda p: p.vector_text("Hi", 5, 6), b"V5,6,U,24,24,0,N,N,N,0,L,0,'Hi'\r"),
    (7, lambda p: p.vector_text("中文", 5, 6, font=VectorFont.SIMPLIFIED_CHINESE, width=30, height=40, spacing=2,
                                bold=True, reverse=True, italic=True, rotation=Rotation.R180,
                                alignment=Alignment.RIGHT, last_option=1),
     b"V5,6,G,30,40,2,B,R,I,2,R,1,'" + "中文".encode("gb18030") + b"'\r"),
    (8, lambda p: p.vector_text("ก", 5, 6, font=VectorFont.A, code_page=CodePage.CP874),
     b"V5,6,a,24,24,0,N,N,N,0,L,0,'\xa1'\r"),
    (9, lambda p: p.barcode("12345", 50, 100), b"B150,100,1,2,6,100,0,0,'12345'\r"),
    (10, lambda p: p.barcode(b"12\xff", 1, 2, symbology=BarcodeType.EAN13, narrow=3, wide=7, height=80, readable=1),
     b"B11,2,7,3,7,80,0,1,'12\xff'\r"),
    (11, lambda p: p.maxicode("ABC", 10, 20, mode=3), b"B210,20,M,3,'ABC'\r"),
    (12, lambda p: p.pdf417("ABC", 10, 20), b"B210,20,P,30,5,0,0,0,0,3,10,0,'ABC'\r"),
    (13, lambda p: p.qr("ABC", 100, 50, model=2, error_level=QRErrorLevel.M, size=3), b"B2100,50,Q,2,M,3,0,'ABC'\r"),
    (14, lambda p: p.datamatrix("ABC", 10, 20, size=3, rectangular=True, rotation=Rotation.R90),
     b"B210,20,D,3,R,1,'ABC'\r"),
    (15, lambda p: p.aztec("ABC", 10, 20), b"B210,20,A,2,0,0,0,15,0,0,'ABC'\r"),
    (16, lambda p: p.code49("ABC", 10, 20), b"B210,20,F,2,0,20,0,0,0,'ABC'\r"),
    (17, lambda p: p.codablock("ABC", 10, 20, mode=CodablockMode.F, field10=4), b"B210,20,C,2,0,20,0,30,F,4,0,'ABC'\r"),
    (18, lambda p: p.codablock("ABC", 10, 20, mode=CodablockMode.A), b"B210,20,C,2,0,20,0,30,A,10,0,'ABC'\r"),
    (19, lambda p: p.micropdf("ABC", 10, 20), b"B210,20,B,5,50,0,0,'ABC'\r"),
    (20, lambda p: p.gs1_databar("(01)12345678901231", 10, 20), b"B310,20,R,5,1,1,0,6,0,'(01)12345678901231'\r"),
    (21, lambda p: p.box(10, 20, 300, 400), b"BD10,20,300,400,B,1\r"),
    (22, lambda p: p.box(10, 20, 300, 400, option=BlockOption.FILL), b"BD10,20,300,400,O\r"),
    (23, lambda p: p.line(0, 0, 100, 50, thickness=3), b"BD0,0,100,50,S,3\r"),
    (24, lambda p: p.circle(100, 100), b"CD100,100,2,1\r"),
    (25, lambda p: p.print_label(2, 3), b"P2,3\r"),
    (26, lambda p: p.settings(speed=11, density=25, orientation=Orientation.BOTTOM, cutter=True, cut_period=3,
                              rewinder=False, offset=-150, cut_position=5,
                              printing_type=PrintingType.THERMAL_TRANSFER, back_feed=True,
                              paper=Paper(800, 1200, gap=24), margin=(4, -2), character_set=2, code_table=7),
     b"SS11\rSD20\rSOB\rCUTy,3\r\nRWDn\r\nSA-100\rTA5\rSTt\rSF1\rSL1200,24,G,0\rSW800\rSM4,-2\rCS2,7\r"),
    (27, lambda p: (p.initialize(), p.calibrate(), p.reset(), p.feed(), p.clear_buffer()),
     b"@\r~JC\r\n~JR\r\n~PH\r\nCB\r"),
    (28, lambda p: p.raw(b"\x1bXYZ"), b"\x1bXYZ"),
    (29, lambda p: p.status(), b"^cu\r"),
    (30, lambda p: p.print_image(two_dots("L"), 3, 258, dither=False), TWO_DOTS),
    (31, lambda p: p.print_image(two_dots("LA"), 3, 258), TWO_DOTS),
]


def test_each_command_family_sends_its_bytes(printer: Printer, vprinter: VirtualPrinter) -> None:
    sent = []
    for number, call, expected in ROWS:
        call(printer)
        if raw.gDataIndex.value:  # a composition command waits in the buffer
            printer.print_label()
            expected += b"P1,1\r"
        sent.append((number, expected))
    received = vprinter.wait_for_bytes(len(MODEL_QUERY) + sum(len(expected) for _, expected in sent))
    offset = len(MODEL_QUERY)
    for number, expected in sent:
        assert received[offset : offset + len(expected)] == expected, f"row {number}"
        offset += len(expected)
    assert offset == len(received)
    assert printer.raw(b"^cu\r", read=1) == b"\0"


ERRORS: list[tuple[int, Call, type[VrenError], int | None, str]] = [
    (1, lambda p: p.text("café", 0, 0), ArgumentError, None,
     "'é' (U+00E9 LATIN SMALL LETTER E WITH ACUTE) at position 3 cannot be sent"),
    (2, lambda p: p.text("a\0b", 0, 0, font="a"), ArgumentError, None, "NUL at position 1"),
    # font 1 is sent unconverted whatever the code page
    (3, lambda p: p.text("Ü", 0, 0, font=Font.F1, code_page=CodePage.CP949), ArgumentError, None,
     "position 0 cannot be sent"),
    (4, lambda p: p.text("x🙂", 0, 0, font="a"), ArgumentError, Result.VREN_E_WRITE,
     "position 1 is not in EUC_KR"),
    (5, lambda p: p.text("x", 0, 0, font="z"), ArgumentError, None, "letter a to n"),
    (6, lambda p: p.text("x", 0, 0, code_page=9), ArgumentError, None, "code_page: expected one of EUC_KR (0)"),
    (7, lambda p: p.barcode("12€", 0, 0), ArgumentError, None, "'€' (U+20AC EURO SIGN) at position 2"),
    (8, lambda p: p.box(0, 0, 1, 1, option=5), ArgumentError, Result.VREN_E_BLOCK_OPTION, "block option"),
    (9, lambda p: p.circle(2**31, 0), ArgumentError, None, "x: 2147483648 does not fit a C int"),
    (10, lambda p: p.bitmap("missing.bmp", 0, 0), ImageError, Result.VREN_E_IMAGE_OPEN, "missing.bmp"),
    (11, lambda p: p.print_image("missing.png", 0, 0), ImageError, Result.VREN_E_IMAGE_OPEN, "missing.png"),
    (12, lambda p: p.print_image(two_dots("L"), 70000, 0), ArgumentError, None, "0 to 65535"),
]


def test_errors_carry_code_name_and_sentence_and_leave_nothing_behind(printer: Printer) -> None:
    for number, call, kind, code, text in ERRORS:
        with pytest.raises(kind) as caught:
            call(printer)
        assert caught.value.code == code, f"row {number}"
        assert caught.value.name == (Result(code).name if code is not None else None), f"row {number}"
        assert text in str(caught.value), f"row {number}: {caught.value}"
    assert raw.gDataIndex.value == 0


def test_refused_connection_raises_connect_error() -> None:
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        port = probe.getsockname()[1]
    with pytest.raises(ConnectError) as caught:
        Printer(f"127.0.0.1:{port}").open()
    assert (caught.value.code, caught.value.name) == (-99, "VREN_E_LINE_CONFIG")
    assert f"127.0.0.1:{port}" in str(caught.value)
    with pytest.raises(ConnectError, match="is not open"):
        Printer(f"127.0.0.1:{port}").status()


def test_printer_that_does_not_answer_raises_read_error(start_vprinter: Callable[..., VirtualPrinter]) -> None:
    with Printer(start_vprinter("--no-status-reply").address) as printer:
        with pytest.raises(ReadError) as caught:
            printer.status()
    assert (caught.value.code, caught.value.function) == (-106, "CheckPrinterStatus")


def test_one_printer_at_a_time(vprinter: VirtualPrinter) -> None:
    first = Printer(vprinter.address).open()
    assert first.model == "LQ1"
    second = Printer(vprinter.address)
    with pytest.raises(ConnectError, match="is open already"):
        second.open()
    assert first.status().ok  # still the connection in use
    first.close()
    with pytest.raises(RuntimeError):
        with second:
            assert second.status().ok
            raise RuntimeError
    assert not second.is_open and raw.gConnectedPrinter.value == 0
    assert vprinter.received(1) and not vprinter.received(2)
