// The command line of vren-vprinter: its options, read with getopt_long, and
// the program's messages.
#pragma once

#include <cstdint>
#include <string>

#include "virtual_printer.h"

namespace vprinter {

// The program's name, as installed: in its messages, --help and --version.
inline constexpr const char *kProgram = "vren-vprinter";

// One line on standard error after the program's name, whole even while the
// printer's thread reports too.
[[gnu::format(printf, 1, 2)]] void report(const char *format, ...);

// What the command line asks for.
struct Options {
    Behaviour behaviour;
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

// Reads the command line into `options`. Returns -1 to run, else the exit
// status: 0 after --help or --version (printed on standard output), 2 after
// a bad option (named on standard error).
int parseOptions(int argc, char **argv, Options &options);

// `text` as a whole number from `low` to `high`: decimal, or hexadecimal
// after 0x. False for anything else (signs, blanks, trailing characters).
bool parseNumber(const char *text, long long low, long long high, long long &value);

}  // namespace vprinter
