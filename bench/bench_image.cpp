// Image printing speed: BMP decoding, scaling, run-length encoding, and
// PrintBitmap end to end against the virtual printer on loopback TCP.
//
//   build/bench/bench_image --benchmark_filter=...
//
// PrintBitmap reports "x_pauses": its wall time over the pauses the transport
// must take (three requests of 20 ms each over TCP).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "VrenLabelAPI.h"
#include "util/runLength.h"
#include "virtual_printer.h"

namespace {

// The library writes its debug log into the current directory: the
// benchmarks work in a directory of their own, removed at exit.
class Workspace {
public:
    Workspace() {
        char pattern[] = "/tmp/vren-bench-XXXXXX";
        if (mkdtemp(pattern) == nullptr || chdir(pattern) != 0)
            std::abort();
        directory_ = pattern;
    }
    ~Workspace() {
        std::error_code ignored;
        std::filesystem::remove_all(directory_, ignored);
    }
    void clearLog() const { truncate("VRENLinuxSDKLog.txt", 0); }

private:
    std::string directory_;
};

const Workspace &workspace() {
    static Workspace instance;
    return instance;
}

void put32(std::string &out, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out[at + i] = static_cast<char>(v >> (8 * i) & 0xFF);
}

// Is pixel (x, y) of a label-like picture black: a frame, a barcode band and
// blocks of text-sized marks on white.
bool labelDot(uint32_t x, uint32_t y, uint32_t width, uint32_t height) {
    if (x < 8 || y < 8 || x >= width - 8 || y >= height - 8)
        return true;
    if (y > height / 2 && y < height / 2 + height / 6)
        return (x * 7 / 5 + x / 13) % 9 < 4;
    if (y % 40 < 24 && x % 60 < 44)
        return (x * 31 + y * 17) % 11 < 4;
    return false;
}

// A 24-bit BMP file of the label-like picture, written once per size.
std::string labelBmp(uint32_t width, uint32_t height) {
    const std::string path = "label-" + std::to_string(width) + "x" + std::to_string(height) + ".bmp";
    workspace();
    if (std::filesystem::exists(path))
        return path;
    const size_t stride = (width * 3 + 3) / 4 * 4;
    std::string file(54 + stride * height, '\0');
    file[0] = 'B';
    file[1] = 'M';
    put32(file, 2, static_cast<uint32_t>(file.size()));
    put32(file, 10, 54);
    put32(file, 14, 40);
    put32(file, 18, width);
    put32(file, 22, height);
    file[26] = 1;
    file[28] = 24;
    put32(file, 34, static_cast<uint32_t>(stride * height));
    for (uint32_t y = 0; y < height; ++y) {
        char *row = file.data() + 54 + (height - 1 - y) * stride;
        for (uint32_t x = 0; x < width; ++x) {
            const char value = labelDot(x, y, width, height) ? '\0' : '\xFF';
            row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = value;
        }
    }
    FILE *out = std::fopen(path.c_str(), "wb");
    std::fwrite(file.data(), 1, file.size(), out);
    std::fclose(out);
    return path;
}

struct LoadedRaster {
    std::unique_ptr<unsigned char, decltype(&std::free)> bytes{nullptr, &std::free};
    VrenImageHeader header{};
    size_t size() const { return static_cast<size_t>((header.biWidth + 7) / 8) * header.biHeight; }
};

LoadedRaster loadLabel(uint32_t width, uint32_t height) {
    LoadedRaster loaded;
    unsigned char *raster = nullptr;
    if (loadImage(labelBmp(width, height).c_str(), &raster, &loaded.header, 0) != 0)
        std::abort();
    loaded.bytes.reset(raster);
    return loaded;
}

void BM_LoadImage24(benchmark::State &state) {
    const auto width = static_cast<uint32_t>(state.range(0));
    const auto height = static_cast<uint32_t>(state.range(1));
    const std::string path = labelBmp(width, height);
    for (auto _ : state) {
        unsigned char *raster = nullptr;
        VrenImageHeader header{};
        if (loadImage(path.c_str(), &raster, &header, 0) != 0)
            state.SkipWithError("loadImage failed");
        std::free(raster);
        state.PauseTiming();
        workspace().clearLog();
        state.ResumeTiming();
    }
    // Throughput in bytes of 24-bit pixel data.
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * width * height * 3);
}
BENCHMARK(BM_LoadImage24)->Args({812, 1218})->Args({4000, 3000})->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ResizeImage4000To812(benchmark::State &state) {
    constexpr uint32_t kWidth = 4000, kHeight = 3000;
    std::vector<unsigned char> pixels(static_cast<size_t>(kWidth) * kHeight);
    for (uint32_t y = 0; y < kHeight; ++y)
        for (uint32_t x = 0; x < kWidth; ++x)
            pixels[static_cast<size_t>(y) * kWidth + x] = labelDot(x, y, kWidth, kHeight) ? 1 : 0;
    workspace();
    for (auto _ : state) {
        VrenImageHeader header{};
        header.biWidth = kWidth;
        header.biHeight = kHeight;
        unsigned char *scaled = nullptr;
        if (resizeImage(pixels.data(), &scaled, 812, &header) != 0)
            state.SkipWithError("resizeImage failed");
        std::free(scaled);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * 812 * 609);
}
BENCHMARK(BM_ResizeImage4000To812)->Unit(benchmark::kMillisecond)->UseRealTime();

// The encoder alone on the raster of a full 4 x 6 inch label at 203 dpi.
void BM_RunLengthEncodeLabel(benchmark::State &state) {
    const LoadedRaster label = loadLabel(812, 1218);
    std::vector<unsigned char> out(vren::runLengthBound(label.size()));
    size_t streamSize = 0;
    for (auto _ : state) {
        streamSize = vren::runLengthEncode(label.bytes.get(), label.size(), out.data());
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * label.size()));
    state.counters["stream_bytes"] = static_cast<double>(streamSize);
}
BENCHMARK(BM_RunLengthEncodeLabel)->UseRealTime();

// The encoder on a raster of isolated bytes: every byte a literal or a run of one.
void BM_RunLengthEncodeNoise(benchmark::State &state) {
    std::vector<unsigned char> raster(124236);
    uint32_t seed = 1;
    for (auto &byte : raster) {
        seed = seed * 1103515245u + 12345u;
        byte = static_cast<unsigned char>(seed >> 16);
    }
    std::vector<unsigned char> out(vren::runLengthBound(raster.size()));
    for (auto _ : state) {
        benchmark::DoNotOptimize(vren::runLengthEncode(raster.data(), raster.size(), out.data()));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * raster.size()));
}
BENCHMARK(BM_RunLengthEncodeNoise)->UseRealTime();

// One connection to an in-process virtual printer for the end-to-end runs.
vprinter::VirtualPrinter &printer() {
    static std::unique_ptr<vprinter::VirtualPrinter> instance = [] {
        workspace();
        auto made = std::make_unique<vprinter::VirtualPrinter>();
        const uint16_t port = made->listenTcp(0);
        const std::string address = "127.0.0.1:" + std::to_string(port);
        if (ConnectToPrinter(address.c_str()) != 0)
            std::abort();
        return made;
    }();
    return *instance;
}

// Pauses a request must take over TCP: 10 ms on entry, 10 ms before its chunk.
constexpr double kRequestPauses = 0.020;

void endToEnd(benchmark::State &state, int requests, const std::function<int()> &call) {
    printer();
    double seconds = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        if (call() != 0)
            state.SkipWithError("call failed");
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.PauseTiming();
        printer().clearReceived();
        workspace().clearLog();
        state.ResumeTiming();
    }
    state.counters["x_pauses"] = seconds / (static_cast<double>(state.iterations()) * requests * kRequestPauses);
}

// compressData of the label raster through the transport (one request).
void BM_CompressDataToPrinter(benchmark::State &state) {
    const LoadedRaster label = loadLabel(812, 1218);
    endToEnd(state, 1, [&] { return compressData(label.bytes.get(), static_cast<uint32_t>(label.size())); });
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * label.size()));
}
BENCHMARK(BM_CompressDataToPrinter)->Unit(benchmark::kMillisecond)->UseRealTime();

// PrintBitmap of a full 4 x 6 inch label (812 x 1218 dots, 124236 raster
// bytes) from a 24-bit BMP file; range(0) is the compress flag.
void BM_PrintBitmapLabel(benchmark::State &state) {
    const std::string path = labelBmp(812, 1218);
    const auto compress = static_cast<unsigned char>(state.range(0));
    endToEnd(state, 3, [&] { return PrintBitmap(path.c_str(), 0, 0, compress); });
}
BENCHMARK(BM_PrintBitmapLabel)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
