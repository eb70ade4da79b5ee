// The virtual printer's parser and renderer: parsing throughput, and the time
// to render a typical 4 x 6 in label (20 commands and a logo) to PNG. Target:
// well under 20 ms per label, so that rendering never holds up a test or demo.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "parser.h"
#include "png_io.h"
#include "renderer.h"
#include "session.h"

namespace {

// A 200 x 200 dot logo as an LCR bitmap: a ring with a checker inside.
std::string logo(int x, int y) {
    const int width = 200, height = 200, bytesPerRow = width / 8;
    std::vector<uint8_t> raster(static_cast<size_t>(bytesPerRow * height), 0);
    for (int py = 0; py < height; ++py)
        for (int px = 0; px < width; ++px) {
            const int dx = px - 100, dy = py - 100, r = dx * dx + dy * dy;
            const bool dot = (r < 95 * 95 && r > 80 * 80) || (r < 60 * 60 && ((px / 16 + py / 16) % 2 == 0));
            if (dot)
                raster[static_cast<size_t>(py * bytesPerRow + px / 8)] |= static_cast<uint8_t>(0x80 >> (px % 8));
        }
    std::string out = "LCR";
    out.push_back('\0');
    for (int v : {x, y, bytesPerRow, height}) {
        out.push_back(static_cast<char>(v & 0xFF));
        out.push_back(static_cast<char>(v >> 8));
    }
    for (size_t i = 0; i < raster.size();) {
        const uint8_t b = raster[i];
        if (b != 0 && b != 0xFF) {
            out.push_back(static_cast<char>(b));
            ++i;
            continue;
        }
        size_t n = 1;
        while (i + n < raster.size() && raster[i + n] == b && n < 255)
            ++n;
        out.push_back(static_cast<char>(b));
        out.push_back(static_cast<char>(n));
        i += n;
    }
    return out + "\r";
}

// A shipping label: 20 composition commands, the logo, a print command.
std::string typicalLabel() {
    std::string label = "SL1218,24,G,0\rSW812\r";
    label += logo(580, 20);
    label += "T20,20,4,1,1,0,0,N,B,'VREN LOGISTICS'\r";
    label += "T20,70,2,1,1,0,0,N,N,'1 Harbour Road, Dock 7'\r";
    label += "V20,110,U,32,32,0,N,N,N,0,L,0,'SHIP TO:'\r";
    label += "V20,150,U,40,40,0,B,N,N,0,L,0,'A. Customer'\r";
    label += "V20,200,U,28,28,0,N,N,N,0,L,0,'42 Long Street'\r";
    label += "V20,240,U,28,28,0,N,N,N,0,L,0,'9999 Someplace'\r";
    label += "BD20,290,792,296,O\r";
    label += "B140,320,1,3,9,160,0,1,'VREN0001234567'\r";
    label += "BD20,540,792,546,O\r";
    label += "B220,570,Q,2,M,4,0,'https://example.org/track/VREN0001234567'\r";
    label += "B2300,570,D,4,N,0,'VREN0001234567'\r";
    label += "B2520,570,P,10,4,2,0,0,1,2,6,0,'VREN0001234567 PARCEL 1/1'\r";
    label += "BD20,860,792,866,O\r";
    label += "V406,890,U,64,64,0,B,R,N,0,C,0,'PRIORITY'\r";
    label += "T20,1000,3,2,2,0,0,N,N,'WEIGHT 2.5 KG'\r";
    label += "CD680,980,4,1\r";
    label += "BD20,1080,400,1180,B,4\r";
    label += "BD420,1080,792,1180,S,3\r";
    label += "T40,1110,3,1,1,0,0,N,N,'CHECKED'\r";
    label += "B310,1190,R,0,1,1,20,0,0,'(01)09501101530003'\r";
    label += "P1,1\r";
    return label;
}

void BM_ParseThroughput(benchmark::State &state) {
    std::string stream;
    while (stream.size() < 4 * 1024 * 1024)
        stream += typicalLabel();
    for (auto _ : state) {
        cmdparse::Parser parser;
        size_t events = 0;
        for (size_t at = 0; at < stream.size(); at += 4096) {
            parser.feed(stream.data() + at, std::min<size_t>(4096, stream.size() - at));
            events += parser.take().size();
        }
        parser.finish();
        benchmark::DoNotOptimize(events);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(stream.size()));
}
BENCHMARK(BM_ParseThroughput)->Unit(benchmark::kMillisecond);

// Parse, draw and encode the PNG of one label, as the virtual printer does.
void BM_RenderTypicalLabel(benchmark::State &state) {
    const std::string label = typicalLabel();
    render::Session session;
    size_t bytes = 0;
    for (auto _ : state) {
        session.feed(label.data(), label.size());
        for (const render::LabelOutput &out : session.take())
            bytes += render::encodePng(out.canvas).size();
    }
    benchmark::DoNotOptimize(bytes);
    state.SetLabel("20 commands + logo, 812 x 1218 dots, PNG included");
}
BENCHMARK(BM_RenderTypicalLabel)->Unit(benchmark::kMillisecond);

// Drawing alone, without parsing or PNG.
void BM_DrawTypicalLabel(benchmark::State &state) {
    const std::vector<cmdparse::Event> events = cmdparse::parseAll(typicalLabel());
    render::Renderer renderer;
    for (auto _ : state) {
        for (const cmdparse::Event &event : events)
            if (const auto *command = std::get_if<cmdparse::Command>(&event))
                benchmark::DoNotOptimize(renderer.apply(*command));
    }
}
BENCHMARK(BM_DrawTypicalLabel)->Unit(benchmark::kMillisecond);

}  // namespace
