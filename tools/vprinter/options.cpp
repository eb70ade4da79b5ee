#include "options.h"

#include <arpa/inet.h>
#include <getopt.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace vprinter {
namespace {

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
    Behaviour &behaviour = options.behaviour;
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
    Behaviour &behaviour = options.behaviour;
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

}  // namespace

void report(const char *format, ...) {
    std::va_list arguments;
    va_start(arguments, format);
    flockfile(stderr);
    std::fprintf(stderr, "%s: ", kProgram);
    std::vfprintf(stderr, format, arguments);
    std::fputc('\n', stderr);
    funlockfile(stderr);
    va_end(arguments);
}

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

}  // namespace vprinter
