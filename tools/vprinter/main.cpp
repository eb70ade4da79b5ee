// vren-vprinter: a virtual label printer on loopback TCP, for tests and demos.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <atomic>
#include <string>
#include <thread>

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
        "  --show                 print the bytes of each connection when it closes\n",
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

}  // namespace

int main(int argc, char **argv) {
    vprinter::Behaviour behaviour;
    unsigned port = 9100;
    std::string host = "127.0.0.1";
    std::string recordDir;
    std::string readyFile;
    long exitAfter = -1;
    bool showBytes = false;

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
        else {
            usage();
            return arg == "--help" ? 0 : 2;
        }
    }

    std::signal(SIGINT, [](int) { gStop = 1; });
    std::signal(SIGTERM, [](int) { gStop = 1; });

    try {
        vprinter::VirtualPrinter printer(behaviour, recordDir);
        std::atomic<long> closed{0};
        printer.onConnectionClosed([&](size_t index, const std::string &bytes) {
            if (showBytes)
                show(index, bytes);
            ++closed;
        });
        const uint16_t bound = printer.listenTcp(static_cast<uint16_t>(port), host);
        std::fprintf(stderr, "vren-vprinter: listening on %s:%u\n", host.c_str(), bound);
        if (!readyFile.empty()) {
            std::ofstream(readyFile) << bound << "\n";
        }
        while (!gStop && (exitAfter < 0 || closed.load() < exitAfter))
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        printer.stop();
    } catch (const std::exception &error) {
        std::fprintf(stderr, "vren-vprinter: %s\n", error.what());
        return 1;
    }
    return 0;
}
