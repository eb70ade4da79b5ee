// A fake of clock_nanosleep() at the C library boundary: the test executable
// defines it, so the library's pauses (relative sleeps on the monotonic
// clock) land here. Each pause is recorded once, with its length, and really
// slept for a fraction of that length (the time scale), which keeps the order
// of events of real pacing while the tests run fast. A signal interrupts the
// real sleep as it would interrupt the library's: the fake then reports the
// time left, scaled back, and the library's sleep for that time continues the
// same pause.
#pragma once

#include <functional>
#include <vector>

namespace vren::test {

// Pauses requested since the last clear, in microseconds, in order.
std::vector<unsigned> sleepsTaken();
void clearSleeps();
// Fraction of each pause that is really slept (default 0.1; 1.0 = real time).
void setTimeScale(double scale);
double timeScale();
// Called in the pausing thread at the end of every pause, with the pause's
// length in microseconds, before it returns (none: an empty function). A test
// uses it to let a device catch up, or to act at a known point of the
// library's pacing.
void setPauseHook(std::function<void(unsigned microseconds)> hook);

}  // namespace vren::test
