// vren-vprinter: a virtual label printer on loopback TCP or a pseudo-terminal,
// for tests and demos. With --job-dir it renders every label it prints.
#include <cctype>
#include <cerrno>
#include <cstdarg>
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
#include <arpa/inet.h>
#include <getopt.h>
#include <unistd.h>

#include "job_directory.h"
#include "virtual_printer.h"

namespace {

volatile std::sig_atomic_t gStop = 0;

constexpr const char *kProgram = "vren-vprinter";

// One line on standard error after the program's name, whole even while the
// printer's thread reports too.
[[gnu::format(printf, 1, 2)]] void report(const char *format, ...) {
    std::va_list arguments;
    va_start(arguments, format);
    flockfile(stderr);
    std::fprintf(stderr, "%s: ", kProgram);
    std::vfprintf(stderr, format, arguments);
    std::fputc('\n', stderr);
    funlockfile(stderr);
    va_end(arguments);
}

void help() {
    std::printf("Usage: %s [OPTION]...\n", kProgram);
    std::fputs(
        "A virtual label printer for tests and demonstrations. It serves loopback TCP\n"
        "and, on request, a pseudo-terminal standing in for a serial printer; answers\n"
        "the model query (^PI0) and the status query (^cu); records the bytes it\n"
        "receives; renders every label it prints into a job directory; and fails in\n"
        "the ways a real printer fails, on request.\n"
        "\n"
        "Connections:\n"
        "  --port N               TCP port on --host (default 9100; 0: any free port)\n"
        "  --host ADDR            IPv4 address to listen on (default 127.0.0.1)\n"
        "  --pty                  also serve a pseudo-terminal in raw mode standing in\n"
        "                         for a serial printer; its slave path is printed on\n"
        "                         standard output\n"
        "  --pty-link PATH        with --pty: make PATH (such as /dev/ttyS9) a symbolic\n"
        "                         link to the slave, removed on exit; an existing PATH\n"
        "                         is replaced only when it is a link to a\n"
        "                         pseudo-terminal\n"
        "  --no-tcp               with --pty: do not listen on TCP\n"
        "  --ready-file FILE      once listening, write the TCP port (with --no-tcp: the\n"
        "                         slave path) and a line feed to FILE\n"
        "  --exit-after N         exit once N connections have closed\n"
        "\n"
        "Answers:\n"
        "  --model TEXT           model name to report (default LQ1; CR LF is appended)\n"
        "  --status BYTE          status byte to report (default 0x00)\n"
        "  --no-model-reply       never answer the model query\n"
        "  --no-status-reply      never answer the status query\n"
        "  --status-file FILE     while running, take the status from the first line of\n"
        "                         FILE whenever it changes: a byte such as 0x80, or\n"
        "                         none to answer neither query; a missing or empty\n"
        "                         FILE leaves the status as it was\n"
        "\n"
        "Faults:\n"
        "  --fault KIND           paper-empty, cover-open or ribbon-end: report that\n"
        "                         status (0x80, 0x40, 0x04); no-answer: answer neither\n"
        "                         query; slow-reader: read at most 64 bytes at a time,\n"
        "                         20 ms apart; close-mid-label: close a connection as\n"
        "                         soon as a label's first drawing command has arrived\n"
        "                         (needs --job-dir)\n"
        "  --fault-after-labels N with --job-dir: the status faults and no-answer start\n"
        "                         once N labels were printed\n"
        "  --close-after N        close a connection once it has sent N bytes\n"
        "  --stop-reading-after N stop reading a connection after N bytes, so that the\n"
        "                         sender's writes block\n"
        "\n"
        "Records:\n"
        "  --record-dir DIR       write the bytes of connection n to DIR/connection-n.bin\n"
        "                         as they arrive\n"
        "  --show                 print the bytes of each connection on standard output\n"
        "                         when it closes\n"
        "  --job-dir DIR          render every label printed into DIR: label-NNNN.png\n"
        "                         (the picture), .bin (its bytes) and .json (the parsed\n"
        "                         commands); commands a connection left unprinted as\n"
        "                         unprinted-NNNN.*\n"
        "  --label-png FILE       with --job-dir: also copy each printed label's picture\n"
        "                         to FILE\n"
        "  --exit-after-labels N  with --job-dir: exit once N labels were printed\n"
        "\n"
        "  -h, --help             show this help and exit\n"
        "  -V, --version          show the version and exit\n"
        "\n"
        "Numbers are whole decimal numbers, or hexadecimal after 0x. SIGINT and SIGTERM\n"
        "end the printer. Exit status: 0 when it ended as asked, 1 when it failed (a\n"
        "socket, the pseudo-terminal, a copy for --label-png), 2 on a bad option.\n",
        stdout);
}

// What the command line asks for.
struct Options {
    vprinter::Behaviour behaviour;
    uint16_t port = 9100;
    std::string host = "127.0.0.1";
    std::string recordDir;
    std::string readyFile;
    long long exitAfter = -1;  // connections; negative: never
    bool showBytes = false;
    bool pty = false;
    bool tcp = true;
    std::string ptyLink;
    std::string jobDir;
    std::string labelPng;
    long long exitAfterLabels = -1;
    bool closeMidLabel = false;
    long long faultAfterLabels = -1;
    std::string statusFile;
};

// `text` as a whole number from `low` to `high`: decimal, or hexadecimal
// after 0x. False for anything else (signs, blanks, trailing characters).
bool parseNumber(const char *text, long long low, long long high, long long &value) {
    const bool hex = text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const char *digits = hex ? text + 2 : text;
    if (!std::isxdigit(static_cast<unsigned char>(digits[0])))
        return false;
    char *end = nullptr;
    errno = 0;
    value = std::strtoll(digits, &end, hex ? 16 : 10);
    return *end == '\0' && errno == 0 && value >= low && value <= high;
}

// Reads a numeric option's value into `value`; false with a message naming
// the option when it is not a whole number from `low` to `high`.
template <typename Number>
bool numericOption(const char *name, const char *text, long long low, long long high, Number &value) {
    long long number = 0;
    if (!parseNumber(text, low, high, number)) {
        if (high == LLONG_MAX)
            report("--%s: \"%s\" is not a whole number of %lld or more", name, text, low);
        else
            report("--%s: \"%s\" is not a whole number from %lld to %lld", name, text, low, high);
        return false;
    }
    value = static_cast<Number>(number);
    return true;
}

bool setFault(const char *kind, Options &options) {
    vprinter::Behaviour &behaviour = options.behaviour;
    const std::string_view name = kind;
    if (name == "paper-empty") {
        behaviour.status = 0x80;
    } else if (name == "cover-open") {
        behaviour.status = 0x40;
    } else if (name == "ribbon-end") {
        behaviour.status = 0x04;
    } else if (name == "no-answer") {
        behaviour.answerModel = false;
        behaviour.status = -1;
    } else if (name == "slow-reader") {
        behaviour.readChunk = 64;
        behaviour.readPause = std::chrono::milliseconds(20);
    } else if (name == "close-mid-label") {
        options.closeMidLabel = true;
    } else {
        report("--fault: unknown fault \"%s\"", kind);
        return false;
    }
    return true;
}

enum OptionCode {
    kPort = 256, kHost, kModel, kStatus, kNoModelReply, kNoStatusReply, kCloseAfter, kStopReadingAfter,
    kRecordDir, kReadyFile, kExitAfter, kShow, kPty, kPtyLink, kNoTcp, kJobDir, kLabelPng, kExitAfterLabels,
    kFault, kFaultAfterLabels, kStatusFile, kHelp = 'h', kVersion = 'V',
};

const option kOptions[] = {
    {"port", required_argument, nullptr, kPort},
    {"host", required_argument, nullptr, kHost},
    {"model", required_argument, nullptr, kModel},
    {"status", required_argument, nullptr, kStatus},
    {"no-model-reply", no_argument, nullptr, kNoModelReply},
    {"no-status-reply", no_argument, nullptr, kNoStatusReply},
    {"close-after", required_argument, nullptr, kCloseAfter},
    {"stop-reading-after", required_argument, nullptr, kStopReadingAfter},
    {"record-dir", required_argument, nullptr, kRecordDir},
    {"ready-file", required_argument, nullptr, kReadyFile},
    {"exit-after", required_argument, nullptr, kExitAfter},
    {"show", no_argument, nullptr, kShow},
    {"pty", no_argument, nullptr, kPty},
    {"pty-link", required_argument, nullptr, kPtyLink},
    {"no-tcp", no_argument, nullptr, kNoTcp},
    {"job-dir", required_argument, nullptr, kJobDir},
    {"label-png", required_argument, nullptr, kLabelPng},
    {"exit-after-labels", required_argument, nullptr, kExitAfterLabels},
    {"fault", required_argument, nullptr, kFault},
    {"fault-after-labels", required_argument, nullptr, kFaultAfterLabels},
    {"status-file", required_argument, nullptr, kStatusFile},
    {"help", no_argument, nullptr, kHelp},
    {"version", no_argument, nullptr, kVersion},
    {nullptr, 0, nullptr, 0},
};

// Sets `options` from one option and its value; false (reported) when the
// value is bad.
bool setOption(int code, const char *name, const char *value, Options &options) {
    constexpr long long kCount = LLONG_MAX;
    vprinter::Behaviour &behaviour = options.behaviour;
    switch (code) {
    case kPort: return numericOption(name, value, 0, 65535, options.port);
    case kHost: {
        in_addr address{};
        if (inet_pton(AF_INET, value, &address) != 1) {
            report("--host: \"%s\" is not an IPv4 address", value);
            return false;
        }
        options.host = value;
        return true;
    }
    case kModel: behaviour.modelReply = std::string(value) + "\r\n"; return true;
    case kStatus: return numericOption(name, value, 0, 0xff, behaviour.status);
    case kNoModelReply: behaviour.answerModel = false; return true;
    case kNoStatusReply: behaviour.status = -1; return true;
    case kCloseAfter: return numericOption(name, value, 0, kCount, behaviour.closeAfter);
    case kStopReadingAfter: return numericOption(name, value, 0, kCount, behaviour.stopReadingAfter);
    case kRecordDir: options.recordDir = value; return true;
    case kReadyFile: options.readyFile = value; return true;
    case kExitAfter: return numericOption(name, value, 0, kCount, options.exitAfter);
    case kShow: options.showBytes = true; return true;
    case kPty: options.pty = true; return true;
    case kPtyLink: options.ptyLink = value; return true;
    case kNoTcp: options.tcp = false; return true;
    case kJobDir: options.jobDir = value; return true;
    case kLabelPng: options.labelPng = value; return true;
    case kExitAfterLabels: return numericOption(name, value, 0, kCount, options.exitAfterLabels);
    case kFault: return setFault(value, options);
    case kFaultAfterLabels: return numericOption(name, value, 0, kCount, options.faultAfterLabels);
    case kStatusFile: options.statusFile = value; return true;
    default: return false;
    }
}

// Reads the command line into `options`. Returns -1 to run, else the exit
// status: 0 after --help, 2 after a bad option (named on stderr).
int parseOptions(int argc, char **argv, Options &options) {
    opterr = 0;  // the messages below name the option themselves
    for (;;) {
        int index = -1;
        const int code = getopt_long(argc, argv, ":hV", kOptions, &index);
        if (code == -1)
            break;
        if (code == kHelp) {
            help();
            return 0;
        }
        if (code == kVersion) {
            std::printf("%s %s\n", kProgram, VREN_VERSION);
            return 0;
        }
        const char *given = argv[optind - 1];
        if (code == ':') {
            report("%s needs a value", given);
            return 2;
        }
        if (code == '?') {
            if (std::string_view(given).starts_with("--"))
                report("unrecognised option %s", given);
            else
                report("unrecognised option -%c", optopt);
            return 2;
        }
        if (!setOption(code, kOptions[index].name, optarg, options))
            return 2;
    }
    if (optind < argc) {
        report("unexpected argument %s", argv[optind]);
        return 2;
    }
    if (options.jobDir.empty() && (!options.labelPng.empty() || options.exitAfterLabels >= 0 ||
                                   options.closeMidLabel || options.faultAfterLabels >= 0)) {
        report("--label-png, --exit-after-labels, --fault-after-labels and --fault close-mid-label need "
               "--job-dir");
        return 2;
    }
    if (!options.tcp && !options.pty) {
        report("--no-tcp needs --pty");
        return 2;
    }
    return -1;
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

}  // namespace

int main(int argc, char **argv) {
    Options options;
    if (const int status = parseOptions(argc, argv, options); status >= 0) {
        if (status == 2)
            std::fprintf(stderr, "Try '%s --help' for the options.\n", kProgram);
        return status;
    }
    vprinter::Behaviour behaviour = options.behaviour;
    const std::string &host = options.host;
    const std::string &ptyLink = options.ptyLink;
    const std::string &jobDir = options.jobDir;
    const std::string &labelPng = options.labelPng;
    const std::string &statusFile = options.statusFile;
    const long long exitAfter = options.exitAfter;
    const long long exitAfterLabels = options.exitAfterLabels;
    const long long faultAfterLabels = options.faultAfterLabels;

    std::signal(SIGINT, [](int) { gStop = 1; });
    std::signal(SIGTERM, [](int) { gStop = 1; });

    try {
        // A delayed fault: the printer starts healthy and takes on the
        // fault's status and query answers once enough labels were printed.
        const vprinter::Behaviour faulted = behaviour;
        if (faultAfterLabels > 0) {
            behaviour.status = vprinter::Behaviour{}.status;
            behaviour.answerModel = true;
        }
        // Declared before the printer, whose thread calls back into them
        // until the printer is destroyed (also on an early return).
        PseudoTerminalLink link;
        std::unique_ptr<vprinter::JobDirectory> jobs;
        std::atomic<long long> closed{0};
        std::atomic<long long> labels{0};
        std::atomic<bool> copyFailed{false};
        vprinter::VirtualPrinter printer(behaviour, options.recordDir);
        if (!jobDir.empty()) {
            std::filesystem::create_directories(jobDir);
            jobs = std::make_unique<vprinter::JobDirectory>(jobDir, options.closeMidLabel);
            jobs->onLabel([&](const std::string &base, const render::LabelOutput &label, bool pictureWritten) {
                if (pictureWritten)
                    report("%s.png (%dx%d dots%s)", base.c_str(), label.canvas.width(), label.canvas.height(),
                           label.printed ? "" : ", not printed");
                if (!label.printed)
                    return;
                // Runs on the printer's thread: a failed copy is reported, never
                // thrown.
                std::error_code error;
                if (!labelPng.empty() &&
                    !std::filesystem::copy_file(base + ".png", labelPng,
                                                std::filesystem::copy_options::overwrite_existing, error)) {
                    report("cannot copy %s.png to %s: %s", base.c_str(), labelPng.c_str(),
                           error.message().c_str());
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
            if (options.showBytes)
                show(index, bytes);
            ++closed;
        });
        std::string ready;
        if (options.tcp) {
            const uint16_t bound = printer.listenTcp(options.port, host);
            report("listening on %s:%u", host.c_str(), bound);
            ready = std::to_string(bound);
        }
        if (options.pty) {
            const std::string slave = printer.servePseudoTerminal();
            if (!ptyLink.empty()) {
                if (const int status = link.make(ptyLink, slave))
                    return status;
            }
            std::printf("%s\n", slave.c_str());
            std::fflush(stdout);
            if (!options.tcp)
                ready = slave;
        }
        if (!options.readyFile.empty()) {
            std::ofstream(options.readyFile) << ready << "\n";
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
        report("%s", error.what());
        return 1;
    }
    return 0;
}
