// vren-vprinter: a virtual label printer on loopback TCP or a pseudo-terminal,
// for tests and demos. With --job-dir it renders every label it prints.
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include <filesystem>
#include <unistd.h>

#include "job_directory.h"
#include "virtual_printer.h"

namespace {

volatile std::sig_atomic_t gStop = 0;

void usage() {
    std::fputs(
        "usage: vren-vprinter [options]\n"
        "  --port N               TCP port on 127.0.0.1 (default 9100; 0 = any free port)\n"
        "  --host ADDR            address to listen on (default 127.0.0.1)\n"
        "  --model TEXT           model name to report (default LQ1; CR LF is appended)\n"
        "  --status BYTE          status byte to report (default 0x00)\n"
        "  --no-model-reply       never answer the model query\n"
        "  --no-status-reply      never answer the status query\n"
        "  --close-after N        close a connection after N bytes\n"
        "  --stop-reading-after N stop reading a connection after N bytes\n"
        "  --record-dir DIR       write the bytes of connection n to DIR/connection-n.bin\n"
        "  --ready-file FILE      write the listening port to FILE once listening\n"
        "  --exit-after N         exit after N connections have closed\n"
        "  --show                 print the bytes of each connection when it closes\n"
        "  --pty                  also serve a pseudo-terminal standing in for a serial\n"
        "                         printer; its slave path is printed on standard output\n"
        "  --pty-link PATH        with --pty: a symbolic link PATH to the slave (e.g.\n"
        "                         /dev/ttyS9, so that a serial address reaches it)\n"
        "  --no-tcp               with --pty: do not listen on TCP\n"
        "  --job-dir DIR          render every label into DIR: label-NNNN.png, .bin, .json\n"
        "  --label-png FILE       with --job-dir: also copy each printed label's PNG to FILE\n"
        "  --exit-after-labels N  exit after N labels were printed (needs --job-dir)\n"
        "  --fault KIND           paper-empty, cover-open, ribbon-end (status byte),\n"
        "                         no-answer (neither query answered), slow-reader\n"
        "                         (64 bytes per read, 20 ms apart), close-mid-label\n"
        "                         (close once a label's first drawing command arrived)\n"
        "  --fault-after-labels N with --job-dir: the status faults and no-answer of\n"
        "                         --fault start once N labels were printed\n"
        "  --status-file FILE     read the status to report from FILE while running\n"
        "                         (a byte such as 0x80, or none for no answer); a\n"
        "                         missing or empty FILE leaves the status as it was\n",
        stderr);
}

// Shows received bytes readably: printable text as is, other bytes escaped,
// a line break after each command's CR (or CR LF), long binary runs elided.
void show(size_t index, const std::string &bytes) {
    std::printf("--- connection %zu: %zu bytes ---\n", index, bytes.size());
    size_t binaryRun = 0;
    for (size_t i = 0; i < bytes.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        const bool next_is_lf = i + 1 < bytes.size() && bytes[i + 1] == '\n';
        if (c == '\r') {
            std::fputs(next_is_lf ? "\\r" : "\\r\n", stdout);
        } else if (c == '\n') {
            std::fputs("\\n\n", stdout);
        } else if (c >= 0x20 && c < 0x7f) {
            std::putchar(c);
        } else if (++binaryRun <= 48) {
            std::printf("\\x%02x", c);
            continue;
        } else {
            if (binaryRun == 49)
                std::fputs("...", stdout);
            continue;
        }
        binaryRun = 0;
    }
    std::printf("--- end of connection %zu ---\n", index);
    std::fflush(stdout);
}

// Takes the status to report from `path` when its text changed: a byte
// value, or "none" for a printer that answers no query.
void followStatusFile(vprinter::VirtualPrinter &printer, const std::string &path, std::string &last) {
    std::ifstream in(path);
    std::string text;
    if (!in || !std::getline(in, text) || text.empty() || text == last)
        return;
    last = text;
    vprinter::Behaviour behaviour = printer.behaviour();
    if (text == "none") {
        behaviour.status = -1;
        behaviour.answerModel = false;
    } else {
        char *end = nullptr;
        const long value = std::strtol(text.c_str(), &end, 0);
        if (*end != '\0' || value < 0 || value > 0xff) {
            std::fprintf(stderr, "vren-vprinter: %s: not a status byte: %s\n", path.c_str(), text.c_str());
            return;
        }
        behaviour.status = static_cast<int>(value);
        behaviour.answerModel = true;
    }
    printer.setBehaviour(behaviour);
    std::fprintf(stderr, "vren-vprinter: status now %s\n", text.c_str());
}

// A symbolic link to the slave of the printer's pseudo-terminal. Only a link
// this program makes is ever replaced or removed: an existing path is taken
// over when it is a link to a pseudo-terminal (one an earlier run left
// behind), refused otherwise; on exit the link goes only while it still
// points to this run's slave.
class PseudoTerminalLink {
public:
    PseudoTerminalLink() = default;
    PseudoTerminalLink(const PseudoTerminalLink &) = delete;
    PseudoTerminalLink &operator=(const PseudoTerminalLink &) = delete;
    ~PseudoTerminalLink() {
        if (!path_.empty() && linkTarget(path_) == slave_)
            ::unlink(path_.c_str());
    }

    // 0 when made, else the exit status, with the reason on stderr.
    int make(const std::string &path, const std::string &slave) {
        int error = ::symlink(slave.c_str(), path.c_str()) == 0 ? 0 : errno;
        if (error == EEXIST && linkTarget(path).starts_with("/dev/pts/")) {
            ::unlink(path.c_str());
            error = ::symlink(slave.c_str(), path.c_str()) == 0 ? 0 : errno;
        }
        if (error == EEXIST) {
            std::fprintf(stderr, "vren-vprinter: --pty-link %s: exists and is no link to a pseudo-terminal; "
                                 "left as it is\n", path.c_str());
            return 2;
        }
        if (error != 0) {
            std::fprintf(stderr, "vren-vprinter: cannot link %s to %s: %s\n", path.c_str(), slave.c_str(),
                         std::strerror(error));
            return 1;
        }
        path_ = path;
        slave_ = slave;
        return 0;
    }

private:
    // The target of the symbolic link at `path`, empty when it is none.
    static std::string linkTarget(const std::string &path) {
        char target[PATH_MAX];
        const ssize_t length = ::readlink(path.c_str(), target, sizeof target);
        return length > 0 && static_cast<size_t>(length) < sizeof target ? std::string(target, length) : std::string();
    }

    std::string path_;
    std::string slave_;
};

}  // namespace

int main(int argc, char **argv) {
    vprinter::Behaviour behaviour;
    unsigned port = 9100;
    std::string host = "127.0.0.1";
    std::string recordDir;
    std::string readyFile;
    long exitAfter = -1;
    bool showBytes = false;
    bool pty = false;
    bool tcp = true;
    std::string ptyLink;
    std::string jobDir;
    std::string labelPng;
    long exitAfterLabels = -1;
    bool closeMidLabel = false;
    long faultAfterLabels = -1;
    std::string statusFile;

    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> const char * {
            if (i + 1 >= argc) {
                usage();
                std::exit(2);
            }
            return argv[++i];
        };
        if (arg == "--port") port = static_cast<unsigned>(std::strtoul(value(), nullptr, 0));
        else if (arg == "--host") host = value();
        else if (arg == "--model") behaviour.modelReply = std::string(value()) + "\r\n";
        else if (arg == "--status") behaviour.status = static_cast<int>(std::strtol(value(), nullptr, 0) & 0xff);
        else if (arg == "--no-model-reply") behaviour.answerModel = false;
        else if (arg == "--no-status-reply") behaviour.status = -1;
        else if (arg == "--close-after") behaviour.closeAfter = std::strtoll(value(), nullptr, 0);
        else if (arg == "--stop-reading-after") behaviour.stopReadingAfter = std::strtoll(value(), nullptr, 0);
        else if (arg == "--record-dir") recordDir = value();
        else if (arg == "--ready-file") readyFile = value();
        else if (arg == "--exit-after") exitAfter = std::strtol(value(), nullptr, 0);
        else if (arg == "--show") showBytes = true;
        else if (arg == "--pty") pty = true;
        else if (arg == "--pty-link") ptyLink = value();
        else if (arg == "--no-tcp") tcp = false;
        else if (arg == "--job-dir") jobDir = value();
        else if (arg == "--label-png") labelPng = value();
        else if (arg == "--exit-after-labels") exitAfterLabels = std::strtol(value(), nullptr, 0);
        else if (arg == "--fault-after-labels") faultAfterLabels = std::strtol(value(), nullptr, 0);
        else if (arg == "--status-file") statusFile = value();
        else if (arg == "--fault") {
            const std::string kind = value();
            if (kind == "paper-empty") behaviour.status = 0x80;
            else if (kind == "cover-open") behaviour.status = 0x40;
            else if (kind == "ribbon-end") behaviour.status = 0x04;
            else if (kind == "no-answer") {
                behaviour.answerModel = false;
                behaviour.status = -1;
            } else if (kind == "slow-reader") {
                behaviour.readChunk = 64;
                behaviour.readPause = std::chrono::milliseconds(20);
            } else if (kind == "close-mid-label") closeMidLabel = true;
            else {
                usage();
                return 2;
            }
        } else {
            usage();
            return arg == "--help" ? 0 : 2;
        }
    }

    std::signal(SIGINT, [](int) { gStop = 1; });
    std::signal(SIGTERM, [](int) { gStop = 1; });

    try {
        if (jobDir.empty() &&
            (!labelPng.empty() || exitAfterLabels >= 0 || closeMidLabel || faultAfterLabels >= 0)) {
            std::fputs("vren-vprinter: --label-png, --exit-after-labels, --fault-after-labels and --fault "
                       "close-mid-label need --job-dir\n",
                       stderr);
            return 2;
        }
        // A delayed fault: the printer starts healthy and takes on the
        // fault's status and query answers once enough labels were printed.
        const vprinter::Behaviour faulted = behaviour;
        if (faultAfterLabels > 0) {
            behaviour.status = vprinter::Behaviour{}.status;
            behaviour.answerModel = true;
        }
        if (!tcp && !pty) {
            std::fputs("vren-vprinter: --no-tcp needs --pty\n", stderr);
            return 2;
        }
        // Declared before the printer, whose thread calls back into them
        // until the printer is destroyed (also on an early return).
        PseudoTerminalLink link;
        std::unique_ptr<vprinter::JobDirectory> jobs;
        std::atomic<long> closed{0};
        std::atomic<long> labels{0};
        std::atomic<bool> copyFailed{false};
        vprinter::VirtualPrinter printer(behaviour, recordDir);
        if (!jobDir.empty()) {
            std::filesystem::create_directories(jobDir);
            jobs = std::make_unique<vprinter::JobDirectory>(jobDir, closeMidLabel);
            jobs->onLabel([&](const std::string &base, const render::LabelOutput &label, bool pictureWritten) {
                if (pictureWritten)
                    std::fprintf(stderr, "vren-vprinter: %s.png (%dx%d dots%s)\n", base.c_str(),
                                 label.canvas.width(), label.canvas.height(), label.printed ? "" : ", not printed");
                if (!label.printed)
                    return;
                // Runs on the printer's thread: a failed copy is reported, never
                // thrown.
                std::error_code error;
                if (!labelPng.empty() &&
                    !std::filesystem::copy_file(base + ".png", labelPng,
                                                std::filesystem::copy_options::overwrite_existing, error)) {
                    std::fprintf(stderr, "vren-vprinter: cannot copy %s.png to %s: %s\n", base.c_str(),
                                 labelPng.c_str(), error.message().c_str());
                    copyFailed = true;
                }
                // On the printer's thread before it reads on, so that a status
                // query following this label already sees the fault.
                if (++labels == faultAfterLabels)
                    printer.setBehaviour(faulted);
            });
            jobs->attach(printer);
        }
        printer.onConnectionClosed([&](size_t index, const std::string &bytes) {
            if (jobs)
                jobs->closed(index);
            if (showBytes)
                show(index, bytes);
            ++closed;
        });
        std::string ready;
        if (tcp) {
            const uint16_t bound = printer.listenTcp(static_cast<uint16_t>(port), host);
            std::fprintf(stderr, "vren-vprinter: listening on %s:%u\n", host.c_str(), bound);
            ready = std::to_string(bound);
        }
        if (pty) {
            const std::string slave = printer.servePseudoTerminal();
            if (!ptyLink.empty()) {
                if (const int status = link.make(ptyLink, slave))
                    return status;
            }
            std::printf("%s\n", slave.c_str());
            std::fflush(stdout);
            if (!tcp)
                ready = slave;
        }
        if (!readyFile.empty()) {
            std::ofstream(readyFile) << ready << "\n";
        }
        std::string statusText;
        while (!gStop && (exitAfter < 0 || closed.load() < exitAfter) &&
               (exitAfterLabels < 0 || labels.load() < exitAfterLabels)) {
            if (!statusFile.empty())
                followStatusFile(printer, statusFile, statusText);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        printer.stop();
        if (copyFailed)
            return 1;
    } catch (const std::exception &error) {
        std::fprintf(stderr, "vren-vprinter: %s\n", error.what());
        return 1;
    }
    return 0;
}
