"""A private printer application and virtual printers for the tests.

Every server runs on a free loopback port with its own state, spool and
socket directory (PAPPL puts the client socket in $SNAP_COMMON when it is set,
so concurrent tests never share one), and is shut down by the fixture.
"""
import os
import re
import signal
import socket
import subprocess
import tempfile
import time
from pathlib import Path

from PIL import Image

APP = os.environ.get("VREN_APP", "vren-printer-app")
VPRINTER = os.environ.get("VREN_VPRINTER", "vren-vprinter")
RENDER = os.environ.get("VREN_RENDER", "render")
IPPTOOL_TESTS = Path("/usr/share/cups/ipptool")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for(condition, timeout=60.0, step=0.2, what="condition"):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(step)
    raise AssertionError(f"timed out waiting for {what}")


def stop_process(process, timeout=20):
    if process.poll() is None:
        process.send_signal(signal.SIGTERM)
        try:
            process.wait(timeout)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


class VirtualPrinter:
    def __init__(self, directory, *options):
        self.directory = Path(directory)
        self.jobs = self.directory / "jobs"
        self.jobs.mkdir(parents=True)
        ready = self.directory / "port"
        self.stderr = open(self.directory / "vprinter.err", "w")
        self.process = subprocess.Popen(
            [VPRINTER, "--port", "0", "--ready-file", str(ready), "--job-dir", str(self.jobs), *options],
            stdout=subprocess.DEVNULL, stderr=self.stderr)
        wait_for(lambda: ready.exists() and ready.read_text().strip(), 10, what="virtual printer")
        self.port = int(ready.read_text())
        self.uri = f"vren://127.0.0.1:{self.port}"

    def labels(self):
        return sorted(self.jobs.glob("label-*.png"))

    def unprinted(self):
        return sorted(self.jobs.glob("unprinted-*.bin"))

    def stop(self):
        stop_process(self.process)
        self.stderr.close()


class Server:
    def __init__(self, directory):
        self.directory = Path(directory)
        self.directory.mkdir(parents=True)
        self.port = free_port()
        self.env = dict(os.environ, SNAP_COMMON=str(self.directory), HOME=str(self.directory),
                        TMPDIR=str(self.directory))
        self.state = self.directory / "state"
        self.log = self.directory / "server.log"
        self.process = subprocess.Popen(
            [APP, "server", "-o", f"server-port={self.port}", "-o", "listen-hostname=localhost",
             "-o", f"state-directory={self.state}", "-o", f"log-file={self.log}", "-o", "log-level=debug"],
            env=self.env, stdout=subprocess.DEVNULL, stderr=open(self.directory / "server.err", "w"))
        wait_for(self._listening, 30, what="printer application")

    def _listening(self):
        assert self.process.poll() is None, "the server exited"
        try:
            socket.create_connection(("127.0.0.1", self.port), 1).close()
            return (self.directory / "vren-printer-app.sock").exists()
        except OSError:
            return False

    def run(self, *args, check=True, timeout=120):
        result = subprocess.run([APP, *args], env=self.env, capture_output=True, text=True, timeout=timeout)
        if check and result.returncode != 0:
            raise AssertionError(f"{args}: {result.returncode}\n{result.stdout}\n{result.stderr}")
        return result

    def add(self, name, device_uri, driver="vren_lq1"):
        self.run("add", "-d", name, "-v", device_uri, "-m", driver)

    def submit(self, name, *files_and_options):
        out = self.run("submit", "-d", name, *files_and_options).stdout
        return int(re.search(r"-(\d+)\s*$", out).group(1))

    def printer_uri(self, name):
        return f"ipp://localhost:{self.port}/ipp/print/{name}"

    def ipptool(self, name, test, *options, timeout=300):
        return subprocess.run(["ipptool", *options, self.printer_uri(name), str(test)],
                              capture_output=True, text=True, timeout=timeout)

    def attributes(self, name):
        """Printer attributes as {name: text value}."""
        out = self.ipptool(name, IPPTOOL_TESTS / "get-printer-attributes.test", "-tv").stdout
        return dict(re.findall(r"^\s+([a-z0-9-]+) \([^)]*\) = (.*)$", out, re.M))

    def reasons(self, name):
        return self.attributes(name).get("printer-state-reasons", "")

    def job_state(self, name, job_id):
        out = self.run("jobs", "-d", name).stdout
        for line in out.splitlines():
            fields = line.split()
            if fields and fields[0] == str(job_id):
                return fields[1]
        return None

    def stop(self):
        # Jobs that conformance tests leave open (a Create-Job without a
        # document) would hold up PAPPL's shutdown; SIGTERM then ends its run
        # loop at once ("shutdown" takes up to 30 s).
        for name in self.run("printers", check=False).stdout.split():
            self.run("cancel", "-d", name, "-a", check=False)
        stop_process(self.process, timeout=60)
        return self.process.returncode


def qr_label(path, text, caption="LABEL"):
    """A 4 x 6 in black-and-white label picture (812 x 1218 dots, 1 bit) with
    a QR code of `text`, drawn by the project's own label renderer."""
    commands = (f"SL1218,24,G,0\rSW812\rB2120,120,Q,2,M,8,0,'{text}'\r"
                f"T100,760,3,3,3,0,0,N,B,'{caption}'\rP1,1\r").encode()
    source = Path(path).with_suffix(".bin")
    source.write_bytes(commands)
    subprocess.run([RENDER, "-o", str(path), str(source)], check=True, capture_output=True)
    return Path(path)


def read_codes(png):
    result = subprocess.run(["zbarimg", "-q", "--raw", str(png)], capture_output=True, text=True)
    return result.stdout.split()


def agreement(a, b):
    """Share of dots on which two 1-bit pictures of one size agree."""
    first = Image.open(a).convert("1")
    second = Image.open(b).convert("1")
    assert first.size == second.size, (first.size, second.size)
    same = sum(1 for p, q in zip(first.getdata(), second.getdata()) if (p == 0) == (q == 0))
    return same / (first.size[0] * first.size[1])


def bitmap_commands(data):
    """(command, x, y, bytes per row, rows, payload bytes) of every LD and LCR
    command in bytes a printer received; the text commands are skipped."""
    found = []
    i = 0
    while i < len(data):
        if data[i] in b"\r\n":
            i += 1
        elif data.startswith(b"LD", i) and i + 10 <= len(data):
            x, y, per_row, rows = (int.from_bytes(data[i + k:i + k + 2], "little") for k in (2, 4, 6, 8))
            size = per_row * rows
            found.append(("LD", x, y, per_row, rows, size))
            i += 10 + size + 1
        elif data.startswith(b"LCR\x00", i):
            x, y, per_row, rows = (int.from_bytes(data[i + k:i + k + 2], "little") for k in (4, 6, 8, 10))
            want, j, got = per_row * rows, i + 12, 0
            while got < want:
                got += data[j + 1] if data[j] in (0, 255) else 1
                j += 2 if data[j] in (0, 255) else 1
            found.append(("LCR", x, y, per_row, rows, j - i - 12))
            i = j + 1
        else:
            end = data.find(b"\r", i)
            i = len(data) if end < 0 else end + 1
    return found


def new_directory(prefix):
    return Path(tempfile.mkdtemp(prefix=prefix))
