"""The web page in a real browser, and the command line a user and help2man
see."""
import os
import subprocess

from harness import APP, wait_for


def chromium(*args, directory):
    profile = directory / "chromium-profile"
    profile.mkdir(parents=True)
    return subprocess.run(
        ["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync",
         f"--user-data-dir={profile}", *args],
        capture_output=True, text=True, timeout=120)


def test_web_pages_show_the_printer_its_status_media_darkness_and_speed(server, vprinter_factory, workdir):
    device = vprinter_factory("vp")
    server.add("label", device.uri)
    base = f"http://localhost:{server.port}/label"
    pages = {name: chromium("--dump-dom", base + path, directory=workdir / name).stdout
             for name, path in (("printer", ""), ("media", "/media"), ("defaults", "/printing"))}
    assert "Idle" in pages["printer"] and "VREN LQ1" in pages["printer"]
    assert '4 x 6"' in pages["media"] and "Gap" in pages["media"] and "Mark" in pages["media"]
    assert "Print Darkness" in pages["defaults"] and "12 inches/sec" in pages["defaults"]
    shot = workdir / "page.png"
    chromium(f"--screenshot={shot}", "--window-size=1000,760", base + "/printing", directory=workdir / "shot")
    assert shot.stat().st_size > 10000


def run(*args, directory):
    return subprocess.run([APP, *args], capture_output=True, text=True, timeout=120,
                          env=dict(os.environ, HOME=str(directory), SNAP_COMMON=str(directory)))


def test_help_version_drivers_and_devices(vprinter_factory, workdir):
    help_text = run("--help", directory=workdir).stdout
    for needed in ("server", "submit", "devices", "VRENLinuxSDKLog.txt", "working directory", "vren://"):
        assert needed in help_text
    assert run("--version", directory=workdir).stdout.strip() != ""
    state = f"state-directory={workdir / 'state'}"
    drivers = run("drivers", "-o", state, directory=workdir).stdout
    assert "vren_lq1" in drivers and "vren_lq2" in drivers

    device = vprinter_factory("vp", "--model", "LQ2")  # a model of the table answers
    devices = run("devices", "-o", state, "-o", f"probe=127.0.0.1:{device.port}", directory=workdir).stdout
    assert f"vren://127.0.0.1:{device.port}" in devices.split()
