// vren-render: draws the labels of a file of saved printer command bytes,
// without any printer or network.
//
//   vren-render [-o OUTPUT.png] [--json] [--unprinted] INPUT
//
// One label gives OUTPUT.png (default: INPUT with .png); several give
// OUTPUT-1.png, OUTPUT-2.png, ... With --json a transcript (.json) is written
// beside each picture. With --unprinted, commands after the last print command
// are drawn as one more label. Diagnostics go to standard error, those of
// bytes after the last label too; the exit status is 0 when there was no
// diagnostic, 1 when some diagnostic was reported (a file without any label
// is one), 2 on a usage or file error.
#include <getopt.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "png_io.h"
#include "session.h"

namespace {

constexpr const char *kProgram = "vren-render";

void help() {
    std::printf("Usage: %s [OPTION]... CAPTURE\n", kProgram);
    std::fputs(
        "Draws the labels of a file of saved label printer commands as PNG pictures,\n"
        "without a printer: a .bin file of the virtual printer's job directory, a\n"
        "connection it recorded, or command bytes captured elsewhere. One picture per\n"
        "print command, 1 bit per dot at 203 dpi.\n"
        "\n"
        "  -o, --output FILE.png  the picture of a single label (default: CAPTURE with\n"
        "                         .png); several labels give FILE-1.png, FILE-2.png, ...\n"
        "      --json             also write each label's transcript beside its picture\n"
        "                         (.json: the parsed commands and the diagnostics)\n"
        "      --unprinted        also draw the commands after the last print command,\n"
        "                         as one more label\n"
        "  -h, --help             show this help and exit\n"
        "  -V, --version          show the version and exit\n"
        "\n"
        "Each picture is named on standard output, diagnostics go to standard error.\n"
        "Exit status: 0 without diagnostics, 1 with some (a capture without any label\n"
        "counts as one), 2 on a usage or file error.\n",
        stdout);
}

int usageError(const char *format, const char *what) {
    std::fprintf(stderr, "%s: ", kProgram);
    std::fprintf(stderr, format, what);
    std::fprintf(stderr, "\nTry '%s --help' for the options.\n", kProgram);
    return 2;
}

std::string stem(const std::string &path) {
    const size_t slash = path.rfind('/');
    const size_t dot = path.rfind('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash))
        return path.substr(0, dot);
    return path;
}

}  // namespace

int main(int argc, char **argv) {
    std::string output;
    bool json = false, unprinted = false;
    static const option options[] = {
        {"output", required_argument, nullptr, 'o'}, {"json", no_argument, nullptr, 'j'},
        {"unprinted", no_argument, nullptr, 'u'},    {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, 'V'},      {nullptr, 0, nullptr, 0},
    };
    opterr = 0;  // the messages below name the option themselves
    for (int code; (code = getopt_long(argc, argv, ":o:hV", options, nullptr)) != -1;) {
        switch (code) {
        case 'o': output = optarg; break;
        case 'j': json = true; break;
        case 'u': unprinted = true; break;
        case 'h': help(); return 0;
        case 'V': std::printf("%s %s\n", kProgram, VREN_VERSION); return 0;
        case ':': return usageError("%s needs a value", argv[optind - 1]);
        default: {
            const std::string given = std::string(argv[optind - 1]).starts_with("--")
                                          ? argv[optind - 1]
                                          : std::string{'-', static_cast<char>(optopt)};
            return usageError("unrecognised option %s", given.c_str());
        }
        }
    }
    if (optind == argc)
        return usageError("%s", "no capture file given");
    if (optind + 1 < argc)
        return usageError("one capture file at a time: %s is one too many", argv[optind + 1]);
    const std::string input = argv[optind];
    std::ifstream file(input, std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "%s: cannot open %s\n", kProgram, input.c_str());
        return 2;
    }
    const std::string prefix = stem(output.empty() ? input : output);

    render::Session session;
    std::vector<char> chunk(1 << 16);
    while (file) {
        file.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        session.feed(chunk.data(), static_cast<size_t>(file.gcount()));
    }
    // A read error (a directory, an I/O error) is a file error, not an
    // empty capture.
    if (file.bad()) {
        std::fprintf(stderr, "%s: cannot read %s\n", kProgram, input.c_str());
        return 2;
    }
    session.finish(unprinted);
    const std::vector<render::LabelOutput> labels = session.take();
    int status = 0;
    if (labels.empty()) {
        std::fprintf(stderr, "%s: %s holds no print command%s\n", kProgram, input.c_str(),
                     unprinted ? " and no composition command" : " (try --unprinted)");
        status = 1;
    }
    for (const render::LabelOutput &label : labels) {
        const std::string name = labels.size() == 1 ? prefix : prefix + "-" + std::to_string(label.number);
        std::string error;
        if (!render::writePng(label.canvas, name + ".png", &error)) {
            std::fprintf(stderr, "%s: %s\n", kProgram, error.c_str());
            return 2;
        }
        std::printf("%s.png: label %d, %dx%d dots%s\n", name.c_str(), label.number, label.canvas.width(),
                    label.canvas.height(), label.printed ? "" : " (not printed)");
        if (json) {
            std::ofstream transcript(name + ".json", std::ios::binary);
            transcript << label.transcript;
            transcript.close();
            if (!transcript) {
                std::fprintf(stderr, "%s: cannot write %s.json\n", kProgram, name.c_str());
                return 2;
            }
        }
        if (label.diagnostics > 0) {
            status = 1;
            std::fprintf(stderr, "%s: label %d has %zu diagnostic(s):\n", kProgram, label.number,
                         label.diagnostics);
            // The transcript lists them; show its diagnostics part.
            const size_t at = label.transcript.find("\"diagnostics\":[");
            std::fprintf(stderr, "%s", label.transcript.substr(at).c_str());
        }
    }
    // Without --unprinted no label carries what came after the last print
    // command; its diagnostics are reported all the same.
    const std::vector<std::string> rest = session.pendingDiagnostics();
    if (!rest.empty()) {
        status = 1;
        std::fprintf(stderr, "%s: %zu diagnostic(s) after the last label:\n", kProgram, rest.size());
        for (const std::string &diagnostic : rest)
            std::fprintf(stderr, "%s\n", diagnostic.c_str());
    }
    return status;
}
