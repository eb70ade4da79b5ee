// Device nodes this machine lacks (serial and parallel ports), stood in for by
// pseudo-terminals: a child process gets a private mount namespace whose /dev
// holds only the nodes a test asks for.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace vren::test {

// A pseudo-terminal pair. The master is what the printer side serves; the
// slave path is what the library opens. One slave descriptor stays open for
// the pair's life, so the master never sees a hang-up while the library
// closes and reopens the port.
class PseudoTerminal {
public:
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    // Hands the master descriptor over (for VirtualPrinter::serveDescriptor).
    int releaseMaster();
    int master() const { return master_; }
    // Turns off the line discipline's processing (echo, line editing, CR/LF
    // translation), as on a port that the library does not configure.
    void makeRaw();
    const std::string &slavePath() const { return slavePath_; }

private:
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
};

constexpr int kNoPrivateDev = 77;

// Runs `body` in a child process whose /dev holds only `nodes` (a name under
// /dev, e.g. "ttyS3", and the existing file bound there). GoogleTest
// assertions work inside `body`; the child's failures print as usual.
// Returns 0 when the body passed, 1 when it failed, kNoPrivateDev when this
// machine cannot give the child a private /dev (the test should then skip).
//
// `inParent` runs in the calling process once the child exists. Threads (a
// virtual printer) belong there: the caller should have no threads of its own
// when it forks, since a child forked from a threaded process may inherit a
// lock that another thread held (the sanitizers' allocators among them).
int runWithDevNodes(const std::vector<std::pair<std::string, std::string>> &nodes, const std::function<void()> &body,
                    const std::function<void()> &inParent = {});

// For the body of runWithDevNodes: makes the library's pauses in this process
// end only once the printer side of the line has read every byte written to
// it (`master` has no unread input), for up to 10 s. The printer runs on a
// thread of the parent, which a loaded machine may hold up for longer than
// the line can buffer or a read window lasts. `onlyPause`: when not 0, only
// pauses of that many microseconds wait (a printer that stops reading on
// purpose would hold up every pause).
void pauseUntilLineIsRead(int master, unsigned onlyPause = 0);

}  // namespace vren::test
