// The transport's own cost next to its mandated pauses, and the cost of one
// debug log record.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "VrenLabelAPI.h"
#include "virtual_printer.h"

namespace {

// The benchmarks write their debug log into a scratch directory.
const bool gInScratchDirectory = [] {
    char directory[] = "/tmp/vren-bench-XXXXXX";
    return mkdtemp(directory) != nullptr && chdir(directory) == 0;
}();

void BM_PrintDebugLogRecord(benchmark::State &state) {
    int i = 0;
    for (auto _ : state)
        printDebugLog("bench", "record %d", ++i);
    unlink("VRENLinuxSDKLog.txt");
}
BENCHMARK(BM_PrintDebugLogRecord);

// writeData of a full command buffer over loopback TCP: the pauses it must
// take are 20 ms (10 ms on entry, 10 ms before the one chunk); the counter
// ratio_to_pauses is the measured time divided by them.
void BM_WriteData4096Network(benchmark::State &state) {
    vprinter::VirtualPrinter printer;
    const std::string address = "127.0.0.1:" + std::to_string(printer.listenTcp(0));
    if (ConnectToPrinter(address.c_str()) != 0) {
        state.SkipWithError("cannot connect to the virtual printer");
        return;
    }
    const std::string buffer(4096, 'x');
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        if (writeData(buffer.data(), 4096) != 4096)
            state.SkipWithError("write failed");
    }
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    const double mandated = 0.020 * static_cast<double>(state.iterations());
    state.counters["ratio_to_pauses"] = elapsed.count() / mandated;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 4096);
    DisconnectPrinter();
    unlink("VRENLinuxSDKLog.txt");
}
BENCHMARK(BM_WriteData4096Network)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(50);

}  // namespace
