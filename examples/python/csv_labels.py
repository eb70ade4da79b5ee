#!/usr/bin/env python3
"""Prints one label per row of a CSV file.

    csv_labels.py --printer 192.168.0.50:9100 products.csv
    csv_labels.py --preview previews/ products.csv

The layout is a template (label.toml beside this script, or --template): a
list of items, each one call of a vrenlabel.Printer method with its keyword
arguments, whose texts hold {column} placeholders filled from the row.

Before each label the printer's status is checked. When the printer reports
paper empty (or another error) or stops answering, the batch stops and says
which row to resume from with --start. Rows are numbered from 1, the header
line not counted.

--preview DIR starts the virtual printer vren-vprinter (found through
VREN_VPRINTER, the PATH, or the build tree of this checkout), sends it the
batch, and leaves one PNG per row in DIR: row-0001.png, ...
"""

from __future__ import annotations

import argparse
import contextlib
import csv
import os
import shutil
import subprocess
import sys
import tempfile
import time
import tomllib
from pathlib import Path
from typing import Any, Iterator

from tqdm import tqdm

import vrenlabel
from vrenlabel import (
    Alignment,
    BarcodeType,
    BlockOption,
    CodablockMode,
    CodePage,
    DataBarType,
    Paper,
    Printer,
    QRErrorLevel,
    Rotation,
    VectorFont,
    VrenError,
)

HERE = Path(__file__).resolve().parent
COMMANDS = {
    "text", "vector_text", "barcode", "maxicode", "pdf417", "qr", "datamatrix", "aztec", "code49",
    "codablock", "micropdf", "gs1_databar", "box", "line", "circle", "bitmap", "print_image",
}
# Arguments given by an enum member's name in the template.
ENUMS: dict[str, Any] = {
    "symbology": BarcodeType, "rotation": Rotation, "alignment": Alignment, "error_level": QRErrorLevel,
    "option": BlockOption, "code_page": CodePage, "codablock.mode": CodablockMode,
    "vector_text.font": VectorFont, "gs1_databar.kind": DataBarType,
}
# Arguments naming a file, relative to the template's directory.
FILES = {"bitmap.path", "print_image.image"}

EXIT_STOPPED = 3


class Stop(Exception):
    """The batch cannot go on; `row` is the first row not printed."""

    def __init__(self, message: str, row: int) -> None:
        super().__init__(message)
        self.row = row


def load_template(path: Path) -> tuple[Paper | None, list[dict[str, Any]]]:
    with path.open("rb") as file:
        template = tomllib.load(file)
    paper = Paper(**template["paper"]) if "paper" in template else None
    items = template.get("item", [])
    for number, item in enumerate(items, 1):
        if item.get("command") not in COMMANDS:
            raise ValueError(f"{path}: item {number}: command must be one of {', '.join(sorted(COMMANDS))}")
    return paper, items


def arguments(item: dict[str, Any], row: dict[str, str], number: int, base: Path) -> dict[str, Any]:
    """The keyword arguments of one item for one row."""
    command = item["command"]
    result = {}
    for key, value in item.items():
        if key == "command":
            continue
        kind = ENUMS.get(f"{command}.{key}") or ENUMS.get(key)
        if isinstance(value, str) and kind is not None:
            value = kind[value]
        elif isinstance(value, str):
            try:
                value = value.format_map({**row, "row": number})
            except KeyError as error:
                raise ValueError(f"placeholder {error} is not a column (columns: {', '.join(row)})") from None
            if f"{command}.{key}" in FILES:
                value = str(base / value)
        result[key] = value
    return result


def check(printer: Printer, row: int) -> None:
    """Stops the batch before `row` when the printer reports an error or does not answer."""
    try:
        status = printer.status()
    except vrenlabel.ReadError:
        raise Stop("the printer stopped answering", row) from None
    if not status.ok:
        raise Stop(f"the printer reports {status}", row)


def print_batch(printer: Printer, paper: Paper | None, items: list[dict[str, Any]], rows: list[dict[str, str]],
                start: int, copies: int, base: Path) -> int:
    """Prints rows[start - 1:]; returns the number of labels printed."""
    if paper is not None:
        printer.settings(paper=paper)
    printed = 0
    todo = list(enumerate(rows, 1))[start - 1:]
    with tqdm(todo, unit="label", disable=None, file=sys.stderr) as progress:
        for number, row in progress:
            check(printer, number)
            try:
                for item in items:
                    getattr(printer, item["command"])(**arguments(item, row, number, base))
                printer.print_label(copies=copies)
            except VrenError as error:
                raise Stop(str(error), number) from None
            printed += 1
    check(printer, len(rows) + 1)
    return printed


def find_virtual_printer() -> str:
    candidates = [os.environ.get("VREN_VPRINTER"), shutil.which("vren-vprinter"),
                  str(HERE.parents[1] / "build" / "tools" / "vren-vprinter")]
    for candidate in candidates:
        if candidate and os.access(candidate, os.X_OK):
            return candidate
    raise FileNotFoundError("vren-vprinter not found: build it, install it, or set VREN_VPRINTER")


@contextlib.contextmanager
def virtual_printer(work: Path) -> Iterator[str]:
    """Runs the virtual printer, rendering into work/jobs; yields its address."""
    ready = work / "port"
    with (work / "vprinter.log").open("w") as log:
        process = subprocess.Popen([find_virtual_printer(), "--port", "0", "--ready-file", str(ready),
                                    "--job-dir", str(work / "jobs")], stdout=subprocess.DEVNULL, stderr=log)
        try:
            deadline = time.monotonic() + 10
            while not ready.is_file() or not ready.read_text().endswith("\n"):
                if process.poll() is not None or time.monotonic() > deadline:
                    raise RuntimeError(f"the virtual printer did not start; see {log.name}")
                time.sleep(0.05)
            yield f"127.0.0.1:{ready.read_text().strip()}"
        finally:
            process.terminate()
            process.wait()


def keep_previews(jobs: Path, directory: Path, start: int) -> None:
    """Moves the virtual printer's label pictures to DIR, named by row."""
    directory.mkdir(parents=True, exist_ok=True)
    for index, picture in enumerate(sorted(jobs.glob("label-*.png"))):
        shutil.move(picture, directory / f"row-{start + index:04d}.png")


def run(options: argparse.Namespace, paper: Paper | None, items: list[dict[str, Any]],
        rows: list[dict[str, str]]) -> int:
    base = options.template.resolve().parent
    with tempfile.TemporaryDirectory() as scratch:
        work = Path(scratch)
        try:
            with contextlib.ExitStack() as stack:
                address = stack.enter_context(virtual_printer(work)) if options.preview else options.printer
                with Printer(address) as printer:
                    return print_batch(printer, paper, items, rows, options.start, options.copies, base)
        finally:
            if options.preview:
                keep_previews(work / "jobs", options.preview, options.start)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    target = parser.add_mutually_exclusive_group(required=True)
    target.add_argument("--printer", metavar="ADDRESS", help='printer address, e.g. "192.168.0.50:9100" or "USB"')
    target.add_argument("--preview", metavar="DIR", type=Path, help="render to DIR through the virtual printer")
    parser.add_argument("--template", type=Path, default=HERE / "label.toml", help="label layout (TOML)")
    parser.add_argument("--start", type=int, default=1, metavar="ROW", help="first row to print (default 1)")
    parser.add_argument("--copies", type=int, default=1, help="copies of each label")
    parser.add_argument("csv", type=Path, help="the rows, with a header line naming the columns")
    options = parser.parse_args()

    try:
        paper, items = load_template(options.template)
        with options.csv.open(newline="", encoding="utf-8-sig") as file:
            rows = list(csv.DictReader(file))
    except (OSError, ValueError, TypeError, tomllib.TOMLDecodeError) as error:
        print(f"csv_labels: {error}", file=sys.stderr)
        return 1
    if not 1 <= options.start <= len(rows):
        print(f"csv_labels: {options.csv} has {len(rows)} rows; --start must be one of them", file=sys.stderr)
        return 2
    try:
        printed = run(options, paper, items, rows)
    except Stop as stop:
        done = stop.row - options.start
        if stop.row > len(rows):
            print(f"csv_labels: all {done} labels were sent; now {stop}", file=sys.stderr)
            return 0
        print(f"csv_labels: stopped before row {stop.row}: {stop}. {done} labels were printed; "
              f"resume with --start {stop.row}", file=sys.stderr)
        return EXIT_STOPPED
    except (VrenError, OSError, ValueError, RuntimeError) as error:
        print(f"csv_labels: {error}", file=sys.stderr)
        return 1
    print(f"csv_labels: {printed} labels printed", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
