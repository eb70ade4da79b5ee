"""The signature table against the header and the library, the result codes
and status bits against the header, and how the library is found."""

from __future__ import annotations

import os
import re
import subprocess
import sys
import textwrap

import pytest
from conftest import CHECKOUT, HEADER

from vrenlabel import Result, StatusBit, _cdecl, loaded_path, raw
from vrenlabel.errors import RESULTS


def test_table_declares_exactly_what_the_header_declares() -> None:
    header = {d.name: d for d in _cdecl.parse_header(HEADER.read_text())}
    assert sorted(raw.DECLARATIONS) == sorted(header)
    for name, declaration in header.items():
        assert raw.DECLARATIONS[name] == declaration, name


def test_every_c_type_of_the_table_has_a_ctypes_type() -> None:
    for function in raw.FUNCTIONS.values():
        for c_type in [function.restype, *(p.type for p in function.parameters)]:
            assert _cdecl.canonical_type(c_type) in raw.C_TYPES, (function.name, c_type)
    for variable in raw.VARIABLES.values():
        assert _cdecl.canonical_type(variable.type) in raw.C_TYPES, variable.name


def test_table_covers_the_library_exports() -> None:
    raw.getModel  # loads the library
    listing = subprocess.run(["nm", "-D", "--defined-only", loaded_path()], check=True, capture_output=True,
                             text=True).stdout
    exported = {line.split()[-1].split("@")[0] for line in listing.splitlines()
                if line.split() and line.split()[-2] in "TDBR"}
    assert set(raw.DECLARATIONS) == exported


def test_raw_functions_and_globals_are_typed_by_the_table() -> None:
    assert raw.ConnectToPrinter.argtypes == [raw.ctype_of("const char *")]
    assert raw.getModel.restype is raw.ctype_of("uint32_t")
    assert raw.getModel(b"xx lq2 xx") == 152
    assert raw.KORVEL_DEVICE[0] == b"VREN"
    assert len(raw.gPrintData) == 4096


def test_result_codes_and_status_bits_match_the_header() -> None:
    text = HEADER.read_text()
    enum_body = re.search(r"enum VrenResult \{(.*?)\};", text, re.DOTALL).group(1)
    codes = {name: int(value) for name, value in re.findall(r"(VREN_\w+) = (-?\d+)", enum_body)}
    assert {member.name: member.value for member in Result} == codes
    assert set(RESULTS) == set(codes.values()) - {0}
    bits = {name: int(value, 16) for name, value in re.findall(r"#define VREN_STATUS_(\w+) (0x\w+)", text)}
    assert {member.name: member.value for member in StatusBit} == bits


def run_python(script: str, **environment: str) -> subprocess.CompletedProcess[str]:
    env = {key: value for key, value in os.environ.items() if key != "VREN_LIBRARY"}
    env.update(environment, PYTHONPATH=str(CHECKOUT / "python"))
    return subprocess.run([sys.executable, "-c", textwrap.dedent(script)], env=env, capture_output=True,
                          text=True, timeout=60)


@pytest.mark.parametrize(
    "row, script, environment, expected",
    [
        # 1: an explicit path wins over VREN_LIBRARY
        (1, "load_library(real); print(loaded_path() == os.path.realpath(real))", {"VREN_LIBRARY": "/nowhere.so"},
         "True"),
        # 2: VREN_LIBRARY is the one place tried when set, and the error names it
        (2, "load_library()", {"VREN_LIBRARY": "/nowhere.so"}, "LibraryError: cannot load libVrenLabelAPI.so.1; "
         "tried:\n  /nowhere.so:"),
        # 3: a second, different library is refused once one is loaded
        (3, "load_library(real); load_library('/other/libVrenLabelAPI.so.1')", {},
         "LibraryError: " + "{real} is loaded already"),
    ],
)
def test_library_lookup(row: int, script: str, environment: dict[str, str], expected: str) -> None:
    raw.getModel  # loads the library
    real = os.path.realpath(loaded_path())
    result = run_python(f"import os; from vrenlabel import *; real = {real!r}\n{script}", **environment)
    assert expected.format(real=real) in result.stdout + result.stderr, f"row {row}: {result.stderr}"
