// Starting the converter with an argument vector (posix_spawnp, no shell) and
// managing its output file.
#include "converter.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "OpenClose/connection.h"
#include "VrenLabelAPI.h"

extern char **environ;

namespace vren {
namespace {

constexpr char kTemporarySuffix[] = "temp1sa3.bmp";
constexpr char kConverter[] = "convert";

}  // namespace

std::string temporaryImageName(std::string_view source) {
    const size_t dot = source.rfind('.');
    std::string name(source.substr(0, dot == std::string_view::npos ? source.size() : dot + 1));
    name += kTemporarySuffix;
    return name;
}

int TemporaryImage::create(const std::string &name) {
    remove();
    const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0) {
        close(fd);
        path_ = name;
        return 0;
    }
    if (errno != EEXIST)
        return errno;
    // The name is taken (another conversion of the same source, or something
    // planted there): a variant "<name without .bmp>-XXXXXX.bmp".
    constexpr size_t kExtension = 4;  // ".bmp"
    std::string variant = name.substr(0, name.size() - kExtension) + "-XXXXXX.bmp";
    std::vector<char> pattern(variant.begin(), variant.end());
    pattern.push_back('\0');
    const int unique = mkostemps(pattern.data(), static_cast<int>(kExtension), O_CLOEXEC);
    if (unique < 0)
        return errno;
    close(unique);
    path_.assign(pattern.data());
    return 0;
}

void TemporaryImage::remove() noexcept {
    if (path_.empty())
        return;
    unlink(path_.c_str());
    path_.clear();
}

namespace {

std::string anchored(const std::string &path, bool doublePercent) {
    std::string argument = path.empty() || path[0] == '/' ? std::string() : std::string("./");
    for (const char c : path) {
        argument += c;
        if (doublePercent && c == '%')
            argument += '%';
    }
    return argument;
}

}  // namespace

std::vector<std::string> converterArguments(Conversion mode, const std::string &source, const std::string &output) {
    std::vector<std::string> arguments;
    if (mode == Conversion::TrueColor)
        arguments = {"-type", "TrueColor"};
    else
        arguments = {"-monochrome"};
    if (!source.empty() && source.back() == ']') {
        arguments.push_back(anchored(source, false));
        arguments.push_back("-delete");
        arguments.push_back("1--1");
    } else {
        arguments.push_back(anchored(source, true) + "[0]");
    }
    arguments.push_back(anchored(output, true));
    return arguments;
}

void runConverter(Conversion mode, const std::string &source, const std::string &output) {
    std::vector<std::string> arguments = converterArguments(mode, source, output);
    std::string program = kConverter;
    std::vector<char *> argv{program.data()};
    for (std::string &argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    // The converter reads nothing from the application's input and does not
    // inherit the printer connection.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (gFD > STDERR_FILENO)
        posix_spawn_file_actions_addclose(&actions, gFD);
    pid_t child = 0;
    const int spawned = posix_spawnp(&child, kConverter, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        // Where a shell would have said that it cannot run the program.
        std::fprintf(stderr, "%s: %s\n", kConverter, std::strerror(spawned));
        return;
    }
    // The exit status is not examined: what the converter wrote is.
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
}

}  // namespace vren
