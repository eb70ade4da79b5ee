#include "fake_sleep.h"

#include <dlfcn.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <mutex>

namespace vren::test {
namespace {

std::mutex gMutex;
std::vector<unsigned> gSleeps;

double initialScale() {
    const char *text = std::getenv("VREN_TEST_TIME_SCALE");
    return text != nullptr ? std::atof(text) : 0.1;
}

double gScale = initialScale();
std::function<void(unsigned)> gHook;

}  // namespace

std::vector<unsigned> sleepsTaken() {
    std::lock_guard lock(gMutex);
    return gSleeps;
}

void clearSleeps() {
    std::lock_guard lock(gMutex);
    gSleeps.clear();
}

void setTimeScale(double scale) {
    std::lock_guard lock(gMutex);
    gScale = scale;
}

double timeScale() {
    std::lock_guard lock(gMutex);
    return gScale;
}

void setPauseHook(std::function<void(unsigned)> hook) {
    std::lock_guard lock(gMutex);
    gHook = std::move(hook);
}

namespace {

using Sleep = int (*)(clockid_t, int, const timespec *, timespec *);

unsigned long long microsecondsOf(const timespec &time) {
    return static_cast<unsigned long long>(time.tv_sec) * 1000000 + static_cast<unsigned long long>(time.tv_nsec) / 1000;
}

timespec timespecOf(unsigned long long microseconds) {
    return {static_cast<time_t>(microseconds / 1000000), static_cast<long>(microseconds % 1000000) * 1000};
}

// A pause that a signal interrupted: the time the fake reported left, and the
// pause's whole length. A sleep for exactly that time continues it.
struct Interrupted {
    bool pending = false;
    unsigned long long left = 0;
    unsigned length = 0;
};
thread_local Interrupted tInterrupted;

}  // namespace

}  // namespace vren::test

extern "C" int clock_nanosleep(clockid_t clock, int flags, const timespec *request, timespec *remaining) {
    static const auto real = reinterpret_cast<vren::test::Sleep>(dlsym(RTLD_NEXT, "clock_nanosleep"));
    if (clock != CLOCK_MONOTONIC || flags != 0 || request == nullptr)
        return real(clock, flags, request, remaining);
    using namespace vren::test;
    const unsigned long long requested = microsecondsOf(*request);
    const bool continued = tInterrupted.pending && tInterrupted.left == requested;
    const unsigned length = continued ? tInterrupted.length : static_cast<unsigned>(requested);
    tInterrupted.pending = false;
    double scale;
    std::function<void(unsigned)> hook;
    {
        std::lock_guard lock(gMutex);
        if (!continued)
            gSleeps.push_back(length);
        scale = gScale;
        hook = gHook;
    }
    const timespec scaled = timespecOf(static_cast<unsigned long long>(static_cast<double>(requested) * scale));
    timespec scaledLeft{};
    const int result = real(CLOCK_MONOTONIC, 0, &scaled, &scaledLeft);
    if (result == EINTR) {
        const double back = scale > 0 ? static_cast<double>(microsecondsOf(scaledLeft)) / scale : 0;
        tInterrupted = {true, std::min(requested, static_cast<unsigned long long>(back)), length};
        if (remaining != nullptr)
            *remaining = timespecOf(tInterrupted.left);
        return EINTR;
    }
    if (hook)
        hook(length);
    return result;
}
