"""Fixtures: the project's virtual printer on a free loopback port, and a
Printer connected to it that is closed again after each test.

VREN_LIBRARY and VREN_VPRINTER name the library and vren-vprinter to use
(CTest sets both); without them the build tree of this checkout is used.
"""

from __future__ import annotations

import os
import subprocess
import time
from pathlib import Path
from typing import Callable, Iterator

import pytest

from vrenlabel import Printer

CHECKOUT = Path(__file__).resolve().parents[2]
EXAMPLES = CHECKOUT / "examples" / "python"
HEADER = CHECKOUT / "include" / "VrenLabelAPI.h"
MODEL_QUERY = b"^PI0\r\n"


def wait_for(condition: Callable[[], bool], what: str, timeout: float = 20.0) -> None:
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out waiting for {what}")
        time.sleep(0.02)


def vprinter_program() -> str:
    program = os.environ.get("VREN_VPRINTER") or str(CHECKOUT / "build" / "tools" / "vren-vprinter")
    if not os.access(program, os.X_OK):
        pytest.skip(f"no virtual printer at {program}: build vren-vprinter or set VREN_VPRINTER")
    return program


class VirtualPrinter:
    """vren-vprinter in a directory of its own: recordings in rec/, labels in jobs/."""

    def __init__(self, directory: Path, *options: str) -> None:
        self.directory = directory
        self.jobs = directory / "jobs"
        (directory / "rec").mkdir(parents=True)
        ready = directory / "port"
        self.log = (directory / "vprinter.log").open("w")
        self.process = subprocess.Popen(
            [vprinter_program(), "--port", "0", "--ready-file", str(ready), "--record-dir",
             str(directory / "rec"), "--job-dir", str(self.jobs), *options],
            stdout=subprocess.DEVNULL, stderr=self.log)
        wait_for(lambda: ready.is_file() and ready.read_text().endswith("\n") or self.process.poll() is not None,
                 "the virtual printer to listen")
        assert self.process.poll() is None, (directory / "vprinter.log").read_text()
        self.address = f"127.0.0.1:{ready.read_text().strip()}"

    def received(self, connection: int = 0) -> bytes:
        path = self.directory / "rec" / f"connection-{connection}.bin"
        return path.read_bytes() if path.exists() else b""

    def wait_for_bytes(self, count: int, connection: int = 0) -> bytes:
        wait_for(lambda: len(self.received(connection)) >= count, f"{count} bytes on connection {connection}")
        return self.received(connection)

    def labels(self, count: int) -> list[Path]:
        """The first `count` printed labels' pictures, once they are written."""
        wait_for(lambda: len(list(self.jobs.glob("label-*.png"))) >= count, f"{count} labels")
        return sorted(self.jobs.glob("label-*.png"))[:count]

    def stop(self) -> None:
        self.process.terminate()
        self.process.wait(timeout=10)
        self.log.close()


@pytest.fixture(autouse=True)
def in_scratch_directory(tmp_path: Path, monkeypatch: pytest.MonkeyPatch) -> None:
    """The library writes its debug log into the current directory."""
    monkeypatch.chdir(tmp_path)


@pytest.fixture
def start_vprinter(tmp_path: Path) -> Iterator[Callable[..., VirtualPrinter]]:
    started: list[VirtualPrinter] = []

    def start(*options: str) -> VirtualPrinter:
        started.append(VirtualPrinter(tmp_path / f"vprinter-{len(started)}", *options))
        return started[-1]

    yield start
    for vprinter in started:
        vprinter.stop()


@pytest.fixture
def vprinter(start_vprinter: Callable[..., VirtualPrinter]) -> VirtualPrinter:
    return start_vprinter()


@pytest.fixture
def printer(vprinter: VirtualPrinter) -> Iterator[Printer]:
    with Printer(vprinter.address) as connected:
        yield connected
