// vren-vprinter: a virtual label printer on loopback TCP or a pseudo-terminal,
// for tests and demos. With --job-dir it renders every label it prints. The
// options are read in options.cpp; this file runs the printer they describe.
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "job_directory.h"
#include "options.h"
#include "virtual_printer.h"

namespace vprinter {
namespace {

volatile std::sig_atomic_t gStop = 0;

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
void followStatusFile(VirtualPrinter &printer, const std::string &path, std::string &last) {
    std::ifstream in(path);
    std::string text;
    if (!in || !std::getline(in, text) || text.empty() || text == last)
        return;
    last = text;
    Behaviour behaviour = printer.behaviour();
    if (text == "none") {
        behaviour.status = -1;
        behaviour.answerModel = false;
    } else {
        long long value = 0;
        if (!parseNumber(text.c_str(), 0, 0xff, value)) {
            report("%s: not a status byte: %s", path.c_str(), text.c_str());
            return;
        }
        behaviour.status = static_cast<int>(value);
        behaviour.answerModel = true;
    }
    printer.setBehaviour(behaviour);
    report("status now %s", text.c_str());
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
            report("--pty-link %s: exists and is no link to a pseudo-terminal; left as it is", path.c_str());
            return 2;
        }
        if (error != 0) {
            report("cannot link %s to %s: %s", path.c_str(), slave.c_str(), std::strerror(error));
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

// Runs the printer until a signal or the exit condition; the exit status.
int run(const Options &options) {
    std::signal(SIGINT, [](int) { gStop = 1; });
    std::signal(SIGTERM, [](int) { gStop = 1; });

    // A delayed fault: the printer starts healthy and takes on the fault's
    // status and query answers once enough labels were printed.
    const Behaviour faulted = options.behaviour;
    Behaviour behaviour = options.behaviour;
    if (options.faultAfterLabels > 0) {
        behaviour.status = Behaviour{}.status;
        behaviour.answerModel = true;
    }
    // Declared before the printer, whose thread calls back into them until
    // the printer is destroyed (also on an early return).
    PseudoTerminalLink link;
    std::unique_ptr<JobDirectory> jobs;
    std::atomic<long long> closed{0};
    std::atomic<long long> labels{0};
    std::atomic<bool> copyFailed{false};
    VirtualPrinter printer(behaviour, options.recordDir);
    if (!options.jobDir.empty()) {
        std::filesystem::create_directories(options.jobDir);
        jobs = std::make_unique<JobDirectory>(options.jobDir, options.closeMidLabel);
        jobs->onLabel([&](const std::string &base, const render::LabelOutput &label, bool pictureWritten) {
            if (pictureWritten)
                report("%s.png (%dx%d dots%s)", base.c_str(), label.canvas.width(), label.canvas.height(),
                       label.printed ? "" : ", not printed");
            if (!label.printed)
                return;
            // Runs on the printer's thread: a failed copy is reported, never
            // thrown.
            std::error_code error;
            if (!options.labelPng.empty() &&
                !std::filesystem::copy_file(base + ".png", options.labelPng,
                                            std::filesystem::copy_options::overwrite_existing, error)) {
                report("cannot copy %s.png to %s: %s", base.c_str(), options.labelPng.c_str(),
                       error.message().c_str());
                copyFailed = true;
            }
            // On the printer's thread before it reads on, so that a status
            // query following this label already sees the fault.
            if (++labels == options.faultAfterLabels)
                printer.setBehaviour(faulted);
        });
        jobs->attach(printer);
    }
    printer.onConnectionClosed([&](size_t index, const std::string &bytes) {
        if (jobs)
            jobs->closed(index);
        if (options.showBytes)
            show(index, bytes);
        ++closed;
    });
    std::string ready;
    if (options.tcp) {
        const uint16_t bound = printer.listenTcp(options.port, options.host);
        report("listening on %s:%u", options.host.c_str(), bound);
        ready = std::to_string(bound);
    }
    if (options.pty) {
        const std::string slave = printer.servePseudoTerminal();
        if (!options.ptyLink.empty()) {
            if (const int status = link.make(options.ptyLink, slave))
                return status;
        }
        std::printf("%s\n", slave.c_str());
        std::fflush(stdout);
        if (!options.tcp)
            ready = slave;
    }
    if (!options.readyFile.empty())
        std::ofstream(options.readyFile) << ready << "\n";
    std::string statusText;
    while (!gStop && (options.exitAfter < 0 || closed.load() < options.exitAfter) &&
           (options.exitAfterLabels < 0 || labels.load() < options.exitAfterLabels)) {
        if (!options.statusFile.empty())
            followStatusFile(printer, options.statusFile, statusText);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    printer.stop();
    return copyFailed ? 1 : 0;
}

}  // namespace
}  // namespace vprinter

int main(int argc, char **argv) {
    vprinter::Options options;
    if (const int status = vprinter::parseOptions(argc, argv, options); status >= 0) {
        if (status == 2)
            std::fprintf(stderr, "Try '%s --help' for the options.\n", vprinter::kProgram);
        return status;
    }
    try {
        return vprinter::run(options);
    } catch (const std::exception &error) {
        vprinter::report("%s", error.what());
        return 1;
    }
}
