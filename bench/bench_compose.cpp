// Composition speed: a typical label of 20 mixed commands through the C
// interface (debug log records included), and the library's own formatting
// work per command, measured on the pure command builders without logging.
#include <benchmark/benchmark.h>
#include <iconv.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "VrenLabelAPI.h"
#include "barcodeCommands.h"
#include "basicFunc/graphicsCommands.h"
#include "basicFunc/textCommands.h"

namespace {

constexpr int kCommandsPerLabel = 20;

// The debug log goes to the working directory: keep it in a directory of its
// own, removed when the program ends.
struct LogDirectory {
    std::string path;
    LogDirectory() {
        char pattern[] = "/tmp/vren-bench-XXXXXX";
        if (mkdtemp(pattern) == nullptr || chdir(pattern) != 0)
            std::abort();
        path = pattern;
    }
    ~LogDirectory() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
};
LogDirectory gLogDirectory;

const char kKorean[] = "\xED\x95\x9C\xEA\xB8\x80 \xEB\x9D\xBC\xEB\xB2\xA8";  // 한글 라벨

// Twenty commands of a shipping label: text, one line converted to a code
// page, barcodes and graphics.
int composeLabel() {
    int failed = 0;
    failed |= PrintBlock(10, 10, 790, 590, 1, 0);
    failed |= PrintBlock(10, 200, 790, 204, 4, 2);
    failed |= PrintDeviceFont("VREN LOGISTICS", 40, 30, 4, 2, 2, 0, 1);
    failed |= PrintDeviceFont("Order 2026-000417", 40, 90, 3, 1, 1, 0, 0);
    failed |= PrintDeviceFont("Ship to:", 40, 220, 2, 1, 1, 0, 1);
    failed |= PrintDeviceFont("ACME Corp., 42 Harbour Road", 40, 250, 2, 1, 1, 0, 0);
    failed |= PrintDeviceFont("Seoul 04524", 40, 280, 2, 1, 1, 0, 0);
    failed |= PrintDeviceFont(kKorean, 40, 310, 'a', 1, 1, 0, 0);
    failed |= PrintVectorFont("FRAGILE", 500, 30, 5, 50, 50, 0, 1, 1, 0, 0, 1, 0);
    failed |= PrintVectorFont("Handle with care", 500, 100, 6, 24, 24, 0, 0, 0, 1, 0, 0, 0);
    failed |= Print1DBarcode("1234567890128", 40, 360, 1, 2, 6, 100, 0, 0);
    failed |= Print1DBarcode("000417", 420, 360, 3, 2, 5, 80, 0, 1);
    failed |= PrintQRCode("https://track.example.com/2026-000417", 600, 220, 2, 1, 4, 0);
    failed |= PrintDataMatrix("2026-000417", 600, 420, 2, 0, 0);
    failed |= PrintPDF417("ORDER 2026-000417 ACME CORP", 40, 480, 10, 4, 2, 0, 0, 0, 3, 10, 0);
    failed |= PrintGS1DataBar("(01)12345678901231", 420, 480, 2, 2, 1, 0, 6, 0);
    failed |= PrintMaxiCode("ACME 04524", 600, 500, 2);
    failed |= PrintCircle(760, 40, 3, 1);
    failed |= PrintCircle(760, 560, 2, 1);
    failed |= PrintDeviceFont("1/1", 700, 560, 1, 1, 1, 0, 0);
    return failed;
}

// Seconds per command, shown with a unit prefix (u, n).
benchmark::Counter perCommand(const benchmark::State &state) {
    return benchmark::Counter(static_cast<double>(state.iterations() * kCommandsPerLabel),
                              benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_ComposeLabelWithLog(benchmark::State &state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(composeLabel());
        initDataBuffer();
    }
    state.SetItemsProcessed(state.iterations() * kCommandsPerLabel);
    state.counters["per_command"] = perCommand(state);
}
BENCHMARK(BM_ComposeLabelWithLog);

// The same twenty commands, built by the pure builders: the library's own
// formatting work, without the debug log and the append.
void BM_BuildLabelCommands(benchmark::State &state) {
    using namespace vren;
    int x = 40;
    for (auto _ : state) {
        benchmark::DoNotOptimize(graphics::blockCommand(10, 10, 790, 590, 1, 0));
        benchmark::DoNotOptimize(graphics::blockCommand(10, 200, 790, 204, 4, 2));
        benchmark::DoNotOptimize(text::deviceFontHeader(x, 30, 4, 2, 2, 0, 1));
        benchmark::DoNotOptimize(text::deviceFontHeader(x, 90, 3, 1, 1, 0, 0));
        benchmark::DoNotOptimize(text::deviceFontHeader(x, 220, 2, 1, 1, 0, 1));
        benchmark::DoNotOptimize(text::deviceFontHeader(x, 250, 2, 1, 1, 0, 0));
        benchmark::DoNotOptimize(text::deviceFontHeader(x, 280, 2, 1, 1, 0, 0));
        benchmark::DoNotOptimize(text::deviceFontHeader(x, 310, 'a', 1, 1, 0, 0));
        benchmark::DoNotOptimize(text::vectorFontHeader(500, 30, 5, 50, 50, 0, 1, 1, 0, 0, 1, 0));
        benchmark::DoNotOptimize(text::vectorFontHeader(500, 100, 6, 24, 24, 0, 0, 0, 1, 0, 0, 0));
        benchmark::DoNotOptimize(barcode::oneDimensional(x, 360, 1, 2, 6, 100, 0, 0));
        benchmark::DoNotOptimize(barcode::oneDimensional(420, 360, 3, 2, 5, 80, 0, 1));
        benchmark::DoNotOptimize(barcode::qrCode(600, 220, 2, 1, 4, 0));
        benchmark::DoNotOptimize(barcode::dataMatrix(600, 420, 2, 0, 0));
        benchmark::DoNotOptimize(barcode::pdf417(x, 480, 10, 4, 2, 0, 0, 0, 3, 10, 0));
        benchmark::DoNotOptimize(barcode::gs1DataBar(420, 480, 2, 2, 1, 0, 6, 0));
        benchmark::DoNotOptimize(barcode::maxiCode(600, 500, 2));
        benchmark::DoNotOptimize(graphics::circleCommand(760, 40, 3, 1));
        benchmark::DoNotOptimize(graphics::circleCommand(760, 560, 2, 1));
        benchmark::DoNotOptimize(text::deviceFontHeader(700, 560, 1, 1, 1, 0, 0));
        benchmark::ClobberMemory();
        x ^= 1;  // keeps the arguments from being folded into constants
    }
    state.SetItemsProcessed(state.iterations() * kCommandsPerLabel);
    state.counters["per_command"] = perCommand(state);
}
BENCHMARK(BM_BuildLabelCommands);

// The widest header of all: every number at its longest.
void BM_BuildWidestHeader(benchmark::State &state) {
    int value = INT32_MIN;
    for (auto _ : state) {
        benchmark::DoNotOptimize(vren::barcode::codablock(value, value, value, value, value, 1, 62, 0, 18));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_BuildWidestHeader);

// One record of the debug log: what every command pays at least four times.
void BM_DebugLogRecord(benchmark::State &state) {
    for (auto _ : state)
        printDebugLog("PrintDeviceFont", "start");
}
BENCHMARK(BM_DebugLogRecord);

// The code-page conversion of one short line: the converter is opened and
// closed for every text, as the text commands do.
void BM_ConvertKoreanLine(benchmark::State &state) {
    char output[64];
    for (auto _ : state) {
        iconv_t converter = iconv_open("EUC-KR", "UTF-8");
        char *in = const_cast<char *>(kKorean);
        size_t inLeft = sizeof kKorean - 1;
        char *out = output;
        size_t outLeft = sizeof output;
        benchmark::DoNotOptimize(iconv(converter, &in, &inLeft, &out, &outLeft));
        iconv_close(converter);
    }
}
BENCHMARK(BM_ConvertKoreanLine);

}  // namespace
