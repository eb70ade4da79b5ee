"""Two printers of one application printing at the same time: the library
holds one connection, so their jobs take turns and every label reaches the
printer it was meant for, whole."""
from concurrent.futures import ThreadPoolExecutor

from harness import qr_label, read_codes, wait_for


def test_jobs_for_two_printers_never_interleave(server, vprinter_factory, workdir):
    devices = {name: vprinter_factory(name) for name in ("left", "right")}
    pictures = {}
    for name, device in devices.items():
        server.add(name, device.uri, "vren_lq1" if name == "left" else "vren_lq2")
        pictures[name] = qr_label(workdir / f"{name}.png", f"https://example.org/{name}")

    with ThreadPoolExecutor(2) as pool:
        jobs = dict(zip(devices, pool.map(lambda name: server.submit(name, "-o", "copies=3", str(pictures[name])),
                                          devices)))
    for name, job in jobs.items():
        wait_for(lambda: server.job_state(name, job) == "completed", 120, what=f"{name} completed")

    for name, device in devices.items():
        labels = device.labels()
        assert len(labels) == 3, name
        for label in labels:
            assert label.with_suffix(".bin").read_bytes().endswith(b"P1,1\r")
            assert read_codes(label) in ([f"QR-Code:https://example.org/{name}"], [f"https://example.org/{name}"])
