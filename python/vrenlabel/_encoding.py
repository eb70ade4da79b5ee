"""Turns the text a caller gives into the bytes the library receives.

bytes go as they are. str is encoded: to UTF-8 where the library converts the
text to a code page itself, otherwise to ASCII, since the printer reads the
bytes as they come and anything else would print as something else. A NUL
would end the C string early and lose the rest, so it is refused in both.
"""

from __future__ import annotations

import os
import unicodedata
from typing import Union

from .errors import ArgumentError

Text = Union[str, bytes, bytearray, memoryview]


def _describe(character: str) -> str:
    name = unicodedata.name(character, "")
    code = f"U+{ord(character):04X}"
    return f"{character!r} ({code} {name})" if name else f"{character!r} ({code})"


def to_bytes(text: Text, *, utf8: bool, what: str, hint: str = "") -> bytes:
    """The bytes for `text`; `what` names the argument in errors, `hint` says
    how to send what ASCII cannot carry."""
    if isinstance(text, str):
        try:
            data = text.encode("utf-8" if utf8 else "ascii")
        except UnicodeEncodeError as error:
            character = text[error.start]
            if utf8:
                reason = "is not a character UTF-8 can carry"
            else:
                reason = "cannot be sent: this text goes to the printer as ASCII" + (f"; {hint}" if hint else "")
            raise ArgumentError(f"{what}: character {_describe(character)} at position {error.start} {reason}") from None
    elif isinstance(text, (bytes, bytearray, memoryview)):
        data = bytes(text)
    else:
        raise ArgumentError(f"{what}: expected str or bytes, got {type(text).__name__}")
    position = data.find(b"\0")
    if position >= 0:
        raise ArgumentError(f"{what}: NUL at position {position}: the library would cut the text there")
    return data


def unencodable(text: Text, codec: str, label: str) -> str | None:
    """Why `text` cannot be converted to the code page `codec` (called `label`
    in the message), or None when Python's codec takes it. Used to explain a
    conversion the library refused."""
    if not isinstance(text, str):
        try:
            text = bytes(text).decode("utf-8")
        except UnicodeDecodeError as error:
            return f"the bytes are not UTF-8 (byte {error.start})"
    try:
        text.encode(codec)
    except UnicodeEncodeError as error:
        return f"character {_describe(text[error.start])} at position {error.start} is not in {label}"
    return None


def path_bytes(path: str | os.PathLike[str] | bytes, what: str) -> bytes:
    """A file name as the C library takes it."""
    data = os.fsencode(path)
    if b"\0" in data:
        raise ArgumentError(f"{what}: the file name holds a NUL")
    return data
