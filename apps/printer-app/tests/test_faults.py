"""A printer that reports an error or stops answering holds its job, says why
in printer-state-reasons, and prints once it is ready again; a printer that
closes the connection mid-label gets the label again, and the job is never
reported as printed."""
import time

from harness import qr_label, wait_for


def test_each_fault_shows_in_the_reasons_within_one_job(server, vprinter_factory, workdir):
    status = workdir / "status"
    status.write_text("0x80\n")
    device = vprinter_factory("vp", "--status-file", str(status))
    server.add("label", device.uri)
    job = server.submit("label", str(qr_label(workdir / "qr.png", "after the faults")))

    for byte, reason in [("0x80", "media-empty"), ("0x40", "cover-open"), ("0x04", "marker-supply-empty"),
                         ("none", "offline")]:
        status.write_text(byte + "\n")
        wait_for(lambda: reason in server.reasons("label"), 60, what=reason)
        assert server.job_state("label", job) not in ("completed", "aborted")
        assert device.labels() == []

    status.write_text("0x00\n")
    wait_for(lambda: server.job_state("label", job) == "completed", 90, what="job completed")
    assert len(device.labels()) == 1
    assert server.reasons("label") == "none"


def test_a_printer_that_closes_mid_label_gets_the_label_again(server, vprinter_factory, workdir):
    device = vprinter_factory("vp", "--fault", "close-mid-label")
    server.add("label", device.uri)
    job = server.submit("label", str(qr_label(workdir / "qr.png", "never whole")))

    wait_for(lambda: len(device.unprinted()) >= 2, 90, what="a second attempt")
    assert server.job_state("label", job) == "processing"
    server.run("cancel", "-d", "label", "-j", str(job))
    wait_for(lambda: server.job_state("label", job) == "canceled", 60, what="job canceled")
    time.sleep(1)
    assert device.labels() == []
