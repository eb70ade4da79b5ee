import shutil

import pytest

from harness import Server, VirtualPrinter, new_directory


@pytest.fixture
def workdir():
    directory = new_directory("vren-app-test-")
    yield directory
    shutil.rmtree(directory, ignore_errors=True)


@pytest.fixture
def server(workdir):
    app = Server(workdir / "app")
    yield app
    # A clean exit: no sanitizer report, no crash at shutdown.
    assert app.stop() == 0, (workdir / "app" / "server.err").read_text()[-4000:]


@pytest.fixture
def vprinter_factory(workdir):
    printers = []

    def make(name, *options):
        printer = VirtualPrinter(workdir / name, *options)
        printers.append(printer)
        return printer

    yield make
    for printer in printers:
        printer.stop()
