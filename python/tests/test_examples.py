"""The README's Python example, and examples/python/csv_labels.py: a preview
of one picture per row, and a batch that stops at a printer fault, saying
where to resume."""

from __future__ import annotations

import os
import re
import subprocess
import sys
from pathlib import Path
from typing import Callable

import pytest
from conftest import CHECKOUT, EXAMPLES, VirtualPrinter, vprinter_program
from PIL import Image

from vrenlabel import raw


def test_readme_example_prints_a_label(vprinter: VirtualPrinter, tmp_path: Path) -> None:
    readme = (CHECKOUT / "README.md").read_text()
    example = re.search(r"^```python\n(.*?)^```$", readme, re.DOTALL | re.MULTILINE).group(1)
    Image.linear_gradient("L").save(tmp_path / "photo.jpg")  # the current directory
    exec(example.replace("192.168.0.50:9100", vprinter.address), {})
    assert Image.open(vprinter.labels(1)[0]).size == (800, 600)
    assert raw.gConnectedPrinter.value == 0  # the with block closed the connection


def rows(tmp_path: Path, count: int) -> Path:
    path = tmp_path / "rows.csv"
    lines = ["name,price,sku"] + [f"Item {n},{n}.00 EUR,4001234{n:04d}" for n in range(1, count + 1)]
    path.write_text("\n".join(lines) + "\n")
    return path


def run_example(*arguments: str) -> subprocess.CompletedProcess[str]:
    env = dict(os.environ, PYTHONPATH=str(CHECKOUT / "python"), VREN_VPRINTER=vprinter_program())
    return subprocess.run([sys.executable, str(EXAMPLES / "csv_labels.py"), *arguments], env=env,
                          capture_output=True, text=True, timeout=120)


def test_preview_leaves_one_picture_per_row(tmp_path: Path) -> None:
    result = run_example("--preview", str(tmp_path / "out"), str(rows(tmp_path, 3)))
    assert result.returncode == 0, result.stderr
    pictures = sorted((tmp_path / "out").iterdir())
    assert [p.name for p in pictures] == ["row-0001.png", "row-0002.png", "row-0003.png"]
    assert Image.open(pictures[0]).size == (800, 400)  # the template's paper


@pytest.mark.parametrize("fault, reason", [("paper-empty", "the printer reports paper empty"),
                                           ("no-answer", "the printer stopped answering")])
def test_batch_stops_at_a_fault_and_says_where_to_resume(
        fault: str, reason: str, start_vprinter: Callable[..., VirtualPrinter], tmp_path: Path) -> None:
    vprinter = start_vprinter("--fault", fault, "--fault-after-labels", "3")
    result = run_example("--printer", vprinter.address, str(rows(tmp_path, 5)))
    assert result.returncode == 3, result.stderr
    assert f"stopped before row 4: {reason}" in result.stderr
    assert "3 labels were printed; resume with --start 4" in result.stderr
    assert len(list(vprinter.jobs.glob("label-*.png"))) == 3
