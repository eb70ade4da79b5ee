"""Reads C declarations: the signature table of `vrenlabel.raw`, and the
public header when the tests compare the two.

Only the forms the library's interface uses are understood: functions with
named parameters (and a trailing ``...``), and variables, optionally arrays
whose length is a number or a macro given in `constants`.
"""

from __future__ import annotations

import re
from typing import Mapping, NamedTuple


class Parameter(NamedTuple):
    type: str
    name: str


class Function(NamedTuple):
    name: str
    restype: str
    parameters: tuple[Parameter, ...]
    variadic: bool


class Variable(NamedTuple):
    name: str
    type: str
    length: int | None  # None: not an array


_COMMENT = re.compile(r"/\*.*?\*/|//[^\n]*", re.DOTALL)


def canonical_type(text: str) -> str:
    """A C type spelled one way: words and stars separated by single spaces."""
    return " ".join(re.findall(r"\w+|\*", text))


def _split_name(text: str) -> tuple[str, str]:
    """Splits "const char *data" into its type and its name."""
    tokens = re.findall(r"\w+|\*", text)
    if len(tokens) < 2 or not re.fullmatch(r"[A-Za-z_]\w*", tokens[-1]):
        raise ValueError(f"cannot read the declaration {text.strip()!r}")
    return " ".join(tokens[:-1]), tokens[-1]


def parse_declaration(text: str, constants: Mapping[str, int] | None = None) -> Function | Variable:
    """Parses one declaration without its semicolon."""
    text = " ".join(text.split())
    if "(" in text:
        head, _, rest = text.partition("(")
        arguments, _, tail = rest.rpartition(")")
        if tail.strip():
            raise ValueError(f"cannot read the declaration {text!r}")
        restype, name = _split_name(head)
        parameters: list[Parameter] = []
        variadic = False
        pieces = [piece.strip() for piece in arguments.split(",")]
        if pieces != ["void"]:
            for piece in pieces:
                if piece == "...":
                    variadic = True
                    continue
                ptype, pname = _split_name(piece)
                parameters.append(Parameter(canonical_type(ptype), pname))
        return Function(name, canonical_type(restype), tuple(parameters), variadic)
    length: int | None = None
    match = re.fullmatch(r"(.*?)\s*\[\s*(\w+)\s*\]", text)
    if match:
        text, size = match.group(1), match.group(2)
        length = int(size, 0) if size[0].isdigit() else int((constants or {})[size])
    vtype, name = _split_name(text)
    return Variable(name, canonical_type(vtype), length)


def parse_table(text: str) -> list[Function | Variable]:
    """Parses declarations separated by semicolons, comments allowed."""
    text = _COMMENT.sub(" ", text)
    return [parse_declaration(piece) for piece in text.split(";") if piece.strip()]


def parse_header(text: str) -> list[Function | Variable]:
    """Parses every declaration of a header that carries the export macro
    VREN_API, with array lengths taken from the header's own #defines."""
    constants: dict[str, int] = {}
    lines = []
    for line in _COMMENT.sub(" ", text).splitlines():
        define = re.match(r"\s*#\s*define\s+(\w+)\s+(0x[0-9A-Fa-f]+|\d+)\s*$", line)
        if define:
            constants[define.group(1)] = int(define.group(2), 0)
        if not line.lstrip().startswith("#"):
            lines.append(line)
    body = "\n".join(lines)
    declarations = []
    for statement in re.findall(r"\bVREN_API\b([^;{}]*);", body):
        statement = re.sub(r"\bVREN_PRINTF_LIKE\s*\([^)]*\)", " ", statement)
        declarations.append(parse_declaration(statement, constants))
    return declarations
