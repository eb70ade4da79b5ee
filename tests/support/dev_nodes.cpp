#include "dev_nodes.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>

#include "fake_sleep.h"
#include "test_io.h"

namespace vren::test {

PseudoTerminal::PseudoTerminal() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
        throw std::runtime_error("no pseudo-terminal");
    slavePath_ = ptsname(master_);
    slave_ = open(slavePath_.c_str(), O_RDWR | O_NOCTTY);
}

PseudoTerminal::~PseudoTerminal() {
    if (master_ >= 0)
        close(master_);
    if (slave_ >= 0)
        close(slave_);
}

void PseudoTerminal::makeRaw() {
    termios attributes{};
    tcgetattr(slave_, &attributes);
    cfmakeraw(&attributes);
    tcsetattr(slave_, TCSANOW, &attributes);
}

int PseudoTerminal::releaseMaster() {
    const int fd = master_;
    master_ = -1;
    return fd;
}

void pauseUntilLineIsRead(int master, unsigned onlyPause) {
    setPauseHook([master, onlyPause](unsigned pause) {
        if (onlyPause != 0 && pause != onlyPause)
            return;
        waitFor(
            [master] {
                int unread = 0;
                return ioctl(master, FIONREAD, &unread) != 0 || unread == 0;
            },
            std::chrono::seconds(10), std::chrono::milliseconds(1));
    });
}

namespace {

bool makePrivateDev(const std::string &root, const std::vector<std::pair<std::string, std::string>> &nodes) {
    if (unshare(CLONE_NEWNS) != 0)
        return false;
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return false;
    if (mount("vren-dev", root.c_str(), "tmpfs", 0, "mode=0755") != 0)
        return false;
    for (const auto &[name, target] : nodes) {
        const std::filesystem::path node = std::filesystem::path(root) / name;
        std::error_code ignored;
        std::filesystem::create_directories(node.parent_path(), ignored);
        const int fd = open(node.c_str(), O_CREAT | O_WRONLY, 0600);
        if (fd < 0)
            return false;
        close(fd);
        if (mount(target.c_str(), node.c_str(), nullptr, MS_BIND, nullptr) != 0)
            return false;
    }
    return mount(root.c_str(), "/dev", nullptr, MS_BIND | MS_REC, nullptr) == 0;
}

}  // namespace

int runWithDevNodes(const std::vector<std::pair<std::string, std::string>> &nodes, const std::function<void()> &body,
                    const std::function<void()> &inParent) {
    char root[] = "/tmp/vren-dev-XXXXXX";
    if (mkdtemp(root) == nullptr)
        return kNoPrivateDev;
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        if (!makePrivateDev(root, nodes))
            _exit(kNoPrivateDev);
        body();
        std::fflush(nullptr);
        _exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    if (inParent)
        inParent();
    int status = 0;
    waitpid(child, &status, 0);
    rmdir(root);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

}  // namespace vren::test
