"""Every exported function and global of libVrenLabelAPI, under its C name.

    from vrenlabel import raw
    raw.ConnectToPrinter(b"192.168.0.50:9100")
    raw.PrintDeviceFont(b"Hello", 40, 40, 3, 1, 1, 0, 1)
    raw.gDataIndex.value

The functions are the library's own, with the argument and result types of
the table below: strings are bytes, results are the C results (no exceptions).
Globals are ctypes objects living in the library (`.value`, or indexing for
the arrays). The library is loaded on first use (see `load_library`).

The table is the one place that declares the C interface: the tests compare
it with the public header and with the library's exported symbols.
"""

from __future__ import annotations

import ctypes
from ctypes import POINTER, c_char, c_char_p, c_int, c_int32, c_ubyte, c_uint8, c_uint16, c_uint32, c_void_p
from typing import Any, Final

from . import _cdecl
from ._library import load_library


class VrenImageHeader(ctypes.Structure):
    """The 40-byte BMP information header the image functions take."""

    _fields_ = [
        ("biSize", c_uint32),
        ("biWidth", c_int32),
        ("biHeight", c_int32),
        ("biPlanes", c_uint16),
        ("biBitCount", c_uint16),
        ("biCompression", c_uint32),
        ("biSizeImage", c_uint32),
        ("biXPelsPerMeter", c_int32),
        ("biYPelsPerMeter", c_int32),
        ("biClrUsed", c_uint32),
        ("biClrImportant", c_uint32),
    ]


class bdaddr_t(ctypes.Structure):  # noqa: N801 - BlueZ's name
    """A Bluetooth device address, least significant byte first (BlueZ)."""

    _pack_ = 1
    _fields_ = [("b", c_uint8 * 6)]


# The C interface, as the header declares it.
SIGNATURES: Final = """
/* Data */
unsigned char gPrintData[4096];
uint32_t gDataIndex;
unsigned char gConnectedPrinter;
uint32_t gPrinterModel;
const char *const KORVEL_DEVICE[200];
int gSpeed;
int gDensity;
int gOrientation;
unsigned char gAutoCut;
int gCutPeriod;
unsigned char gRewind;
int gOffset;
int gCutPosition;
int gPrintingType;
int gBackFeeding;
int gPaperWidth;
int gPaperHeight;
int gMediaType;
int gGapLength;
int gHorizontalMargin;
int gVerticalMargin;
unsigned char gStatus;

/* Connection */
int ConnectToPrinter(const char *address);
int DisconnectPrinter(void);

/* Job output and raw I/O */
int Prints(int labels, int copies);
int ClearBuffer(void);
int DirectIO(const void *writeBuffer, int writeLength, void *readBuffer, int *readLength);

/* Text */
int PrintDeviceFont(const char *data, int x, int y, int font, int xMultiplier, int yMultiplier,
                    int rotation, unsigned char bold);
int PrintDeviceFontW(const char *data, int x, int y, int font, int xMultiplier, int yMultiplier,
                     int rotation, unsigned char bold, int codePage);
int PrintVectorFont(const char *data, int x, int y, int font, int width, int height, int spacing,
                    unsigned char bold, unsigned char reverse, unsigned char italic, int rotation,
                    int alignment, int lastOption);
int PrintVectorFontW(const char *data, int x, int y, int font, int width, int height, int spacing,
                     unsigned char bold, unsigned char reverse, unsigned char italic, int rotation,
                     int alignment, int lastOption, int codePage);

/* Graphics */
int PrintBlock(int startX, int startY, int endX, int endY, int option, int thickness);
int PrintCircle(int x, int y, int size, int multiplier);

/* Barcodes */
int Print1DBarcode(const char *data, int x, int y, int field3, int field4, int field5, int field6,
                   int field7, int field8);
int PrintMaxiCode(const char *data, int x, int y, int mode);
int PrintPDF417(const char *data, int x, int y, int rows, int columns, int errorLevel, int field7,
                unsigned char field8, int field9, int field10, int field11, int field12);
int PrintQRCode(const char *data, int x, int y, int model, int errorLevel, int field6, int field7);
int PrintDataMatrix(const char *data, int x, int y, int field4, unsigned char field5, int field6);
int PrintAztec(const char *data, int x, int y, int field4, int field5, int field6, unsigned char field7,
               int field8, int field9, int field10);
int PrintCode49(const char *data, int x, int y, int field4, int field5, int field6, int field7, int field8,
                int field9);
int PrintCODABLOCK(const char *data, int x, int y, int field4, int field5, int field6, unsigned char field7,
                   int field8, int mode, int field10);
int PrintMicroPDF(const char *data, int x, int y, int field4, int field5, int field6, int field7);
int PrintGS1DataBar(const char *data, int x, int y, int field4, int field5, int field6, int field7,
                    int segmentsPerRow, int field9);

/* Settings */
int SetSpeed(int speed);
int SetDensity(int density);
int SetOrientation(int orientation);
int SetCutter(unsigned char autoCut, int cutPeriod);
int SetRewinder(unsigned char rewind);
int SetOffset(int offset);
int SetCutPostion(int cutPosition);
int SetPrintingType(int printingType);
int SetBackFeed(unsigned char backFeeding);
int SetPaper(int paperWidth, int paperHeight, int mediaType, int offset, int gapLength);
int SetMargin(int horizontalMargin, int verticalMargin);
int SetCharacterSet(int characterSet, int codeTable);

/* Control and status */
int InitializePrinter(void);
int CalibrateMedia(void);
int ResetPrinter(void);
int FeedOneLabel(void);
int CheckPrinterStatus(void);

/* Images */
int PrintBitmap(const char *path, int x, int y, unsigned char compress);
int loadImage(const char *path, unsigned char **raster, VrenImageHeader *header, int32_t width);
int loadImage1(const char *path, unsigned char **raster, VrenImageHeader *header);
int GetImageBit(const char *path);
int resizeImage(const unsigned char *pixels, unsigned char **scaled, int32_t width, VrenImageHeader *header);
int compressData(const unsigned char *data, uint32_t length);
int printLD(const unsigned char *raster, const VrenImageHeader *header, int x, int y);
int printLCR(const unsigned char *raster, const VrenImageHeader *header, int x, int y);
void strToUpper(const char *source, char *destination, int32_t count);

/* Internal steps */
void printDebugLog(const char *tag, const char *format, ...);
int openCheck(void);
int modelCheck(void);
uint32_t getModel(const char *reply);
int openDeviceEthernet(const char *host, const char *port);
int openDeviceSerial(const char *path, int baudRate);
int openDeviceParallel(const char *path);
int openDeviceUSB(void);
int writeData(const void *data, uint32_t count);
int readData(void *data, int32_t count);
void initDataBuffer(void);
int bufferCheck(void);
int convertData(const char *data, int length, int codePage);
int openDeviceBluetooth(bdaddr_t device);
int spp_connect(const bdaddr_t *local, const bdaddr_t *remote, uint8_t channel, int *sock);
int sdp_search_spp(sdp_session_t *session, uint8_t *channel);
"""

# C types of the table and their ctypes. `const char *` is c_char_p, so that
# bytes can be passed; the library never keeps such a pointer.
C_TYPES: Final[dict[str, Any]] = {
    _cdecl.canonical_type(name): ctype
    for name, ctype in {
        "void": None,
        "int": c_int,
        "int32_t": c_int32,
        "uint8_t": c_uint8,
        "uint32_t": c_uint32,
        "unsigned char": c_ubyte,
        "int *": POINTER(c_int),
        "uint8_t *": POINTER(c_uint8),
        "const char *": c_char_p,
        "const char *const": c_char_p,
        "char *": POINTER(c_char),
        "const void *": c_void_p,
        "void *": c_void_p,
        "const unsigned char *": POINTER(c_ubyte),
        "unsigned char **": POINTER(POINTER(c_ubyte)),
        "VrenImageHeader *": POINTER(VrenImageHeader),
        "const VrenImageHeader *": POINTER(VrenImageHeader),
        "bdaddr_t": bdaddr_t,
        "const bdaddr_t *": POINTER(bdaddr_t),
        "sdp_session_t *": c_void_p,
    }.items()
}

DECLARATIONS: Final = {declaration.name: declaration for declaration in _cdecl.parse_table(SIGNATURES)}
FUNCTIONS: Final = {name: d for name, d in DECLARATIONS.items() if isinstance(d, _cdecl.Function)}
VARIABLES: Final = {name: d for name, d in DECLARATIONS.items() if isinstance(d, _cdecl.Variable)}


def ctype_of(c_type: str) -> Any:
    """The ctypes type of a C type of the table."""
    return C_TYPES[_cdecl.canonical_type(c_type)]


def _variable_type(variable: _cdecl.Variable) -> Any:
    ctype = ctype_of(variable.type)
    return ctype * variable.length if variable.length is not None else ctype


_bound: dict[str, Any] = {}


def _bind(name: str) -> Any:
    """The library's function or global `name`, typed by the table."""
    if name in _bound:
        return _bound[name]
    library = load_library()
    function = FUNCTIONS.get(name)
    if function is not None:
        entry = getattr(library, name)
        entry.restype = ctype_of(function.restype)
        entry.argtypes = [ctype_of(parameter.type) for parameter in function.parameters]
    else:
        entry = _variable_type(VARIABLES[name]).in_dll(library, name)
    _bound[name] = entry
    return entry


def __getattr__(name: str) -> Any:
    if name in DECLARATIONS:
        return _bind(name)
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")


def __dir__() -> list[str]:
    return sorted(set(globals()) | set(DECLARATIONS))
