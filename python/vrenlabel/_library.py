"""Finds and loads libVrenLabelAPI.so.1, once per process.

Lookup order:
  1. the path given to `load_library()` (or to `Printer(..., library=...)`);
  2. the path in the environment variable VREN_LIBRARY;
  3. "libVrenLabelAPI.so.1" through the dynamic loader's normal search (the
     installed library: ld.so.cache, LD_LIBRARY_PATH, the system directories);
  4. the build tree of the source checkout this package lies in
     (<checkout>/build/libVrenLabelAPI.so.1), for development.
A path that was asked for (1 or 2) is the only one tried: when it does not
load, the error says so instead of quietly loading another copy.

The library keeps its state in process-wide globals, so a process holds one
copy of it: asking for another path once one is loaded is an error.
"""

from __future__ import annotations

import ctypes
import os
import threading
from pathlib import Path

from .errors import LibraryError

SONAME = "libVrenLabelAPI.so.1"
ENVIRONMENT = "VREN_LIBRARY"

_lock = threading.Lock()
_loaded: tuple[str, ctypes.CDLL] | None = None


def _checkout_candidates() -> list[Path]:
    """The build directories of the source checkout holding this package, if any."""
    root = Path(__file__).resolve().parents[2]
    if not (root / "include" / "VrenLabelAPI.h").is_file():
        return []
    return [root / "build" / SONAME]


def _candidates(path: str | os.PathLike[str] | None) -> list[str]:
    if path is not None:
        return [os.fspath(path)]
    from_environment = os.environ.get(ENVIRONMENT)
    if from_environment:
        return [from_environment]
    return [SONAME] + [str(candidate) for candidate in _checkout_candidates()]


class _DlInfo(ctypes.Structure):
    _fields_ = [
        ("dli_fname", ctypes.c_char_p),
        ("dli_fbase", ctypes.c_void_p),
        ("dli_sname", ctypes.c_char_p),
        ("dli_saddr", ctypes.c_void_p),
    ]


def _file_of(library: ctypes.CDLL) -> str | None:
    """The file the loader took the library from (a name found by the
    loader's search becomes a path)."""
    try:
        dladdr = ctypes.CDLL(None).dladdr
    except AttributeError:
        return None
    dladdr.argtypes = [ctypes.c_void_p, ctypes.POINTER(_DlInfo)]
    dladdr.restype = ctypes.c_int
    info = _DlInfo()
    try:
        symbol = ctypes.cast(library.ConnectToPrinter, ctypes.c_void_p)
    except AttributeError:
        return None
    if not dladdr(symbol, ctypes.byref(info)) or not info.dli_fname:
        return None
    return os.fsdecode(info.dli_fname)


def load_library(path: str | os.PathLike[str] | None = None) -> ctypes.CDLL:
    """Returns the loaded library, loading it on first use (see the module's
    lookup order). Raises LibraryError naming every place that was tried."""
    global _loaded
    with _lock:
        if _loaded is not None:
            loaded_from, library = _loaded
            if path is not None and os.path.realpath(os.fspath(path)) != os.path.realpath(loaded_from):
                raise LibraryError(
                    f"{loaded_from} is loaded already; a process holds one copy of the library, "
                    f"so {os.fspath(path)} cannot be loaded as well"
                )
            return library
        failures = []
        for candidate in _candidates(path):
            try:
                library = ctypes.CDLL(candidate)
            except OSError as error:
                failures.append(f"  {candidate}: {error}")
                continue
            _loaded = (os.path.abspath(_file_of(library) or candidate), library)
            return library
        raise LibraryError(
            f"cannot load {SONAME}; tried:\n" + "\n".join(failures) + "\n"
            f"Install the library, set {ENVIRONMENT} to its path, or pass the path explicitly."
        )


def loaded_path() -> str | None:
    """The path (or name) the library was loaded from, None before loading."""
    return _loaded[0] if _loaded is not None else None
