// render: draws the labels of a file of saved printer command bytes, without
// any printer or network.
//
//   render [-o OUTPUT.png] [--json] [--unprinted] INPUT
//
// One label gives OUTPUT.png (default: INPUT with .png); several give
// OUTPUT-1.png, OUTPUT-2.png, ... With --json a transcript (.json) is written
// beside each picture. With --unprinted, commands after the last print command
// are drawn as one more label. Diagnostics go to standard error, those of
// bytes after the last label too; the exit status is 0 when there was no
// diagnostic, 1 when some diagnostic was reported (a file without any label
// is one), 2 on a usage or file error.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "png_io.h"
#include "session.h"

namespace {

int usage() {
    std::fputs("usage: render [-o OUTPUT.png] [--json] [--unprinted] INPUT\n", stderr);
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
    std::string input, output;
    bool json = false, unprinted = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-o" && i + 1 < argc)
            output = argv[++i];
        else if (arg == "--json")
            json = true;
        else if (arg == "--unprinted")
            unprinted = true;
        else if (arg == "--help" || arg == "-h")
            return usage(), 0;
        else if (!arg.empty() && arg[0] == '-')
            return usage();
        else if (input.empty())
            input = arg;
        else
            return usage();
    }
    if (input.empty())
        return usage();
    std::ifstream file(input, std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "render: cannot open %s\n", input.c_str());
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
        std::fprintf(stderr, "render: cannot read %s\n", input.c_str());
        return 2;
    }
    session.finish(unprinted);
    const std::vector<render::LabelOutput> labels = session.take();
    int status = 0;
    if (labels.empty()) {
        std::fprintf(stderr, "render: %s holds no print command%s\n", input.c_str(),
                     unprinted ? " and no composition command" : " (try --unprinted)");
        status = 1;
    }
    for (const render::LabelOutput &label : labels) {
        const std::string name = labels.size() == 1 ? prefix : prefix + "-" + std::to_string(label.number);
        std::string error;
        if (!render::writePng(label.canvas, name + ".png", &error)) {
            std::fprintf(stderr, "render: %s\n", error.c_str());
            return 2;
        }
        std::printf("%s.png: label %d, %dx%d dots%s\n", name.c_str(), label.number, label.canvas.width(),
                    label.canvas.height(), label.printed ? "" : " (not printed)");
        if (json) {
            std::ofstream transcript(name + ".json", std::ios::binary);
            transcript << label.transcript;
            transcript.close();
            if (!transcript) {
                std::fprintf(stderr, "render: cannot write %s.json\n", name.c_str());
                return 2;
            }
        }
        if (label.diagnostics > 0) {
            status = 1;
            std::fprintf(stderr, "render: label %d has %zu diagnostic(s):\n", label.number, label.diagnostics);
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
        std::fprintf(stderr, "render: %zu diagnostic(s) after the last label:\n", rest.size());
        for (const std::string &diagnostic : rest)
            std::fprintf(stderr, "%s\n", diagnostic.c_str());
    }
    return status;
}
