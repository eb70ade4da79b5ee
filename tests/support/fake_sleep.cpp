#include "fake_sleep.h"

#include <time.h>
#include <unistd.h>

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

}  // namespace vren::test

extern "C" int usleep(useconds_t microseconds) {
    double scale;
    std::function<void(unsigned)> hook;
    {
        std::lock_guard lock(vren::test::gMutex);
        vren::test::gSleeps.push_back(microseconds);
        scale = vren::test::gScale;
        hook = vren::test::gHook;
    }
    const long long scaled = static_cast<long long>(microseconds * scale);
    timespec duration{static_cast<time_t>(scaled / 1000000), static_cast<long>(scaled % 1000000) * 1000};
    while (clock_nanosleep(CLOCK_MONOTONIC, 0, &duration, &duration) != 0) {
    }
    if (hook)
        hook(microseconds);
    return 0;
}
