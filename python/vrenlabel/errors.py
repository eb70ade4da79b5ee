"""Result codes and the exceptions they become.

Every negative result of the library is raised as a VrenError subclass chosen
by one table, `RESULTS`; the exception carries the code, its name in the
header and a sentence saying what failed. Errors found in Python before the
library is called (text that cannot be sent, a second connection) carry no
code.
"""

from __future__ import annotations

import enum
from typing import Final


class Result(enum.IntEnum):
    """The result codes of the header, under their header names."""

    VREN_OK = 0
    VREN_E_LINE_CONFIG = -99
    VREN_E_OPEN = -100
    VREN_E_NOT_ACCEPTED = -101
    VREN_E_WRITE_GAVE_UP = -102
    VREN_E_SERIAL_ATTR = -104
    VREN_E_WRITE = -105
    VREN_E_READ = -106
    VREN_E_BT_SDP_CONNECT = -107
    VREN_E_BT_NO_SERVICE = -108
    VREN_E_BT_SOCKET = -109
    VREN_E_BT_BIND = -110
    VREN_E_BT_CONNECT = -111
    VREN_E_ADDRESS = -112
    VREN_E_SOCKET = -113
    VREN_E_IMAGE_OPEN = -118
    VREN_E_IMAGE_FORMAT = -119
    VREN_E_NOMEM = -120
    VREN_E_BLOCK_OPTION = -124


class VrenError(Exception):
    """A failure of the library or of a call into it.

    code      the library's negative result code, or None for an error found
              in Python before the library was called
    name      the code's name in the header ("VREN_E_WRITE"), or None
    sentence  what failed, in words
    function  the C function that failed, or None
    """

    def __init__(
        self,
        sentence: str,
        *,
        code: int | None = None,
        function: str | None = None,
    ) -> None:
        self.code = code
        self.name = _name_of(code)
        self.sentence = sentence
        self.function = function
        super().__init__(self._text())

    def _text(self) -> str:
        where = f"{self.function}: " if self.function else ""
        if self.code is None:
            return where + self.sentence
        return f"{where}{self.sentence} ({self.name or 'unknown result'}, {self.code})"


class ConnectError(VrenError):
    """Opening or closing the printer connection failed, or one is open already."""


class WriteError(VrenError):
    """A command did not reach the printer whole."""


class ReadError(VrenError):
    """The printer did not answer."""


class ImageError(VrenError):
    """An image could not be opened, read or sent."""


class ArgumentError(VrenError, ValueError):
    """An argument the library refuses or cannot be given (text that cannot be
    sent, a number out of the range of its C type, an unknown option)."""


class LibraryError(VrenError, OSError):
    """libVrenLabelAPI.so.1 could not be loaded."""


# code: (exception class, sentence)
RESULTS: Final[dict[int, tuple[type[VrenError], str]]] = {
    Result.VREN_E_LINE_CONFIG: (ConnectError, "configuring the serial line failed, or the network connect failed"),
    Result.VREN_E_OPEN: (ConnectError, "the printer's device could not be opened"),
    Result.VREN_E_NOT_ACCEPTED: (ConnectError, "the printer was not identified as a supported model"),
    Result.VREN_E_WRITE_GAVE_UP: (WriteError, "writing to the printer failed six times"),
    Result.VREN_E_SERIAL_ATTR: (ConnectError, "applying the serial line settings failed"),
    Result.VREN_E_WRITE: (WriteError, "the command did not reach the printer whole"),
    Result.VREN_E_READ: (ReadError, "the printer did not answer"),
    Result.VREN_E_BT_SDP_CONNECT: (ConnectError, "the Bluetooth service discovery connection failed"),
    Result.VREN_E_BT_NO_SERVICE: (ConnectError, "the printer offers no Bluetooth serial port service"),
    Result.VREN_E_BT_SOCKET: (ConnectError, "a Bluetooth socket could not be created"),
    Result.VREN_E_BT_BIND: (ConnectError, "the Bluetooth socket could not be bound"),
    Result.VREN_E_BT_CONNECT: (ConnectError, "the Bluetooth connection failed five times"),
    Result.VREN_E_ADDRESS: (ConnectError, "the printer address is not valid"),
    Result.VREN_E_SOCKET: (ConnectError, "a network socket could not be created"),
    Result.VREN_E_IMAGE_OPEN: (ImageError, "the image file could not be opened"),
    Result.VREN_E_IMAGE_FORMAT: (ImageError, "the image is not a BMP file the library reads, or it is malformed"),
    Result.VREN_E_NOMEM: (VrenError, "the library ran out of memory"),
    Result.VREN_E_BLOCK_OPTION: (ArgumentError, "the block option is not one of 0 to 4"),
}


def _name_of(code: int | None) -> str | None:
    try:
        return Result(code).name if code is not None else None
    except ValueError:
        return None


def error_for(
    code: int,
    function: str,
    detail: str | None = None,
    kind: type[VrenError] | None = None,
) -> VrenError:
    """The exception for a negative result `code` of `function`. `detail` is
    added to the sentence; `kind` overrides the table's class where the caller
    knows better (a text the code page lacks fails as VREN_E_WRITE, but it
    is an argument error)."""
    table_kind, sentence = RESULTS.get(code, (VrenError, "the call failed"))
    if detail:
        sentence = f"{sentence}: {detail}"
    return (kind or table_kind)(sentence, code=code, function=function)
