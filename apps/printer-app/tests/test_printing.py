"""Printing through real clients: ipptool's conformance suites, submitted
pictures compared with the labels the virtual printer rendered, the serial
limit of bitmap commands, and the test page."""
import random

import pytest
from PIL import Image

from harness import IPPTOOL_TESTS, bitmap_commands, qr_label, read_codes, agreement, wait_for

SERIAL_CALL_LIMIT = 200 * 512


@pytest.fixture
def printer(server, vprinter_factory):
    device = vprinter_factory("vp")
    server.add("label", device.uri)
    return device


@pytest.mark.parametrize("suite", ["ipp-1.1.test", "ipp-2.0.test", "print-job.test"])
def test_ipptool_suites_pass_whole(server, printer, workdir, suite):
    picture = qr_label(workdir / "qr.png", "https://example.org/ipptool")
    gray = workdir / "qr-gray.png"
    Image.open(picture).convert("L").save(gray)
    result = server.ipptool("label", IPPTOOL_TESTS / suite, "-t", "-f", str(gray))
    assert result.returncode == 0, result.stdout + result.stderr
    assert "[FAIL]" not in result.stdout


@pytest.mark.parametrize("kind", ["png-1bit", "jpeg"])
def test_submitted_picture_is_printed_as_submitted(server, printer, workdir, kind):
    text = f"https://example.org/vren/{kind}"
    picture = qr_label(workdir / "qr.png", text)
    if kind == "jpeg":
        jpeg = workdir / "qr.jpg"
        Image.open(picture).convert("L").save(jpeg, quality=90)
        picture_sent = jpeg
    else:
        picture_sent = picture
    job = server.submit("label", str(picture_sent))
    wait_for(lambda: server.job_state("label", job) == "completed", 60, what="job completed")
    labels = printer.labels()
    assert len(labels) == 1
    assert read_codes(labels[0]) == [f"QR-Code:{text}"] or read_codes(labels[0]) == [text]
    assert agreement(labels[0], picture) > 0.99


def test_page_goes_out_in_bands_that_fit_one_serial_call(server, printer, workdir):
    # Random dots do not compress: the 124 KB page needs two bands.
    random.seed(7)
    noise = Image.new("1", (812, 1218))
    noise.putdata([random.choice((0, 255)) for _ in range(812 * 1218)])
    picture = workdir / "noise.png"
    noise.save(picture)
    job = server.submit("label", str(picture))
    wait_for(lambda: server.job_state("label", job) == "completed", 60, what="job completed")
    (label,) = printer.labels()
    commands = bitmap_commands(label.with_suffix(".bin").read_bytes())
    assert len(commands) >= 2
    assert all(size <= SERIAL_CALL_LIMIT for *_, size in commands)
    assert sum(rows for _, _, _, _, rows, _ in commands) == 1218
    assert agreement(label, picture) == 1.0


def test_test_page_prints_the_demonstration_label(server, printer, workdir):
    marker = workdir / "testpage.txt"
    marker.write_text("VREN-TEST-PAGE\n")
    job = server.submit("label", str(marker))
    wait_for(lambda: server.job_state("label", job) == "completed", 60, what="test page")
    (label,) = printer.labels()
    raw = label.with_suffix(".bin").read_bytes()
    assert b"VREN LABEL DEMO" in raw and b"https://example.org/vren" in raw
    assert "QR-Code:https://example.org/vren" in " ".join(read_codes(label)) or \
        "https://example.org/vren" in read_codes(label)
