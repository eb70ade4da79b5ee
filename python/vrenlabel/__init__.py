"""vrenlabel: VREN thermal label printers from Python, through libVrenLabelAPI.

    from vrenlabel import Printer, Font, BarcodeType

    with Printer("192.168.0.50:9100") as printer:
        printer.text("Hello, label", 40, 40, font=Font.F4, bold=True)
        printer.barcode("1234567890", 40, 120, symbology=BarcodeType.CODE128)
        printer.print_label()

`vrenlabel.raw` holds every C function and global of the library under its
C name, for what the Pythonic layer does not cover.
"""

from ._library import load_library, loaded_path
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
    StatusBit,
    VectorFont,
)
from .errors import (
    ArgumentError,
    ConnectError,
    ImageError,
    LibraryError,
    ReadError,
    Result,
    VrenError,
    WriteError,
)
from .image import Raster, to_raster
from .printer import Paper, Printer
from .status import Status

__version__ = "1.0.0"

__all__ = [
    "Alignment",
    "ArgumentError",
    "BarcodeType",
    "BlockOption",
    "CodablockMode",
    "CodePage",
    "ConnectError",
    "DataBarType",
    "Font",
    "ImageError",
    "LibraryError",
    "MediaType",
    "Orientation",
    "Paper",
    "Printer",
    "PrintingType",
    "QRErrorLevel",
    "Raster",
    "ReadError",
    "Result",
    "Rotation",
    "Status",
    "StatusBit",
    "VectorFont",
    "VrenError",
    "WriteError",
    "load_library",
    "loaded_path",
    "to_raster",
]
