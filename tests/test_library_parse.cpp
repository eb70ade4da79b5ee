// Cross-check of the library and the command parser: every composition,
// setting, control and bitmap function is called with boundary and hostile
// arguments, the exact bytes it sent to the in-process virtual printer or
// left in the command buffer are parsed (whole and one byte at a time), and
// the parser must find the expected commands, no diagnostic, and the fields
// the library documents for those arguments (text and barcode data byte for
// byte). Finally the renderer draws labels holding all of them.
//
// Rows are generated from argument tables: a base row, each argument in turn
// through its values (the others at the base), and rows where every argument
// takes its k-th value at once (all INT_MIN, all INT_MAX, ...). A failing row
// names its call and arguments.
#include <gtest/gtest.h>
#include <iconv.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <climits>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "image_fixtures.h"
#include "json.h"
#include "library_test.h"
#include "memory_limit.h"
#include "parse_feed.h"
#include "parser.h"
#include "session.h"
#include "test_io.h"

namespace {

using namespace cmdparse;
using vren::test::hex;

// ---------------------------------------------------------------------------
// Argument tables

template <size_t N>
using Args = std::array<int, N>;
template <size_t N>
using Axes = std::array<std::vector<int>, N>;

// Every numeric argument is tried with these, plus its own boundaries.
std::vector<int> ints(std::initializer_list<int> boundaries = {}) {
    std::vector<int> values{INT_MIN, -1, 0, 1, INT_MAX};
    values.insert(values.end(), boundaries);
    return values;
}
// One-byte flags.
const std::vector<int> kFlag = {0, 1, 255};

template <size_t N>
std::vector<Args<N>> sweep(const Args<N> &base, const Axes<N> &axes) {
    std::vector<Args<N>> rows{base};
    size_t longest = 0;
    for (size_t i = 0; i < N; ++i) {
        longest = std::max(longest, axes[i].size());
        for (int value : axes[i]) {
            rows.push_back(base);
            rows.back()[i] = value;
        }
    }
    for (size_t k = 0; k < longest; ++k) {
        rows.emplace_back();
        for (size_t i = 0; i < N; ++i)
            rows.back()[i] = axes[i][k % axes[i].size()];
    }
    return rows;
}

// Repeats a pattern that holds quotes, CR and LF but never a quote directly
// followed by CR (which the language cannot carry inside data).
std::string longData(size_t size) {
    static const std::string pattern = "ab'c\r\nd,e\"f";
    std::string out;
    while (out.size() < size)
        out += pattern;
    out.resize(size);
    return out;
}

const std::vector<std::string> &dataVariants() {
    static const std::vector<std::string> variants = [] {
        std::string binary;
        for (int c = 1; c < 256; ++c)
            binary += static_cast<char>(c);
        return std::vector<std::string>{
            "",                                   // 0: empty
            "0123456789",                         // 1
            "'",                                  // 2: quotes alone, leading, trailing, inside
            "''",                                 // 3
            "'lead",                              // 4
            "trail'",                             // 5
            "in'side'",                           // 6
            "\r",                                 // 7: CR and LF alone and mixed
            "\n",                                 // 8
            "line\r\nbreak\rand\nmore",           // 9
            "\r'",                                // 10
            "'\n",                                // 11
            "T1,2,3,1,1,0,0,N,N,'x'\nP1,1\rCB\r",  // 12: commands inside data
            binary,                               // 13: every byte but NUL
            "\"\\{}[],",                          // 14: JSON's own characters
            "\xED\x95\x9C\xEA\xB5\xAD\xEC\x96\xB4",   // 15: Korean
            "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E",   // 16: Japanese (also Big5, GB18030)
            "\xE0\xB8\xA0\xE0\xB8\xB2\xE0\xB8\xA9\xE0\xB8\xB2",  // 17: Thai
            "\xED\x95\x9C \xE6\x97\xA5 \xE0\xB8\xA0",  // 18: three scripts at once
            longData(3580),                       // 19: near the flush threshold
            longData(4097),                       // 20: longer than the command buffer
            longData(10000),                      // 21
        };
    }();
    return variants;
}

// ---------------------------------------------------------------------------
// Expected outcomes, from the documented rules of each function

struct Outcome {
    int result = VREN_OK;
    std::vector<Body> commands;  // in order; empty: nothing sent
};

struct Row {
    std::string what;
    std::function<int()> call;
    Outcome expected;
};

Outcome ok(Body body) { return {VREN_OK, {std::move(body)}}; }

int in(int value, int low, int high, int otherwise) { return value >= low && value <= high ? value : otherwise; }
int clamp(int value, int low, int high) { return std::clamp(value, low, high); }
char yes(int flag, char on, char off) { return flag != 0 ? on : off; }
Field n(int value) { return {false, value}; }
Field l(char letter) { return {true, static_cast<unsigned char>(letter)}; }

template <size_t N>
std::string describe(const char *name, const Args<N> &args, int data = -1) {
    std::string out = std::string(name) + "(";
    if (data >= 0)
        out += "data " + std::to_string(data) + ", ";
    for (size_t i = 0; i < N; ++i)
        out += std::to_string(args[i]) + (i + 1 < N ? ", " : ")");
    return out;
}

// Rows of a function without data.
template <size_t N, typename Call, typename Model>
std::vector<Row> plain(const char *name, const Args<N> &base, const Axes<N> &axes, Call call, Model model) {
    std::vector<Row> rows;
    for (const Args<N> &args : sweep(base, axes))
        rows.push_back({describe(name, args), [=] { return call(args); }, model(args)});
    return rows;
}

// Rows of a function with a data argument: the rows take the data variants in
// turn, and every variant is used at least once.
template <size_t N, typename Call, typename Model>
std::vector<Row> withData(const char *name, const Args<N> &base, const Axes<N> &axes, Call call, Model model) {
    const auto swept = sweep(base, axes);
    const auto &data = dataVariants();
    std::vector<Row> rows;
    for (size_t i = 0; i < std::max(swept.size(), data.size()); ++i) {
        const Args<N> &args = swept[i % swept.size()];
        const std::string &text = data[i % data.size()];
        rows.push_back({describe(name, args, static_cast<int>(i % data.size())),
                        [=] { return call(text.c_str(), args); }, model(text, args)});
    }
    return rows;
}

// Text sent without conversion: like a code page outside the table.
constexpr int kAsGiven = -1;

// Text as it goes out: unchanged (a code page outside the table), or
// converted from UTF-8; nullopt when the code page cannot hold it.
std::optional<std::string> routed(const std::string &text, int codePage) {
    static const char *const names[] = {"EUC-KR", "CP949", "EUC-CN", "GB18030", "BIG5",
                                        "CP950",  "EUC-JP", "CP932", "CP874"};
    if (codePage < 0 || codePage > 8)
        return text;
    const iconv_t converter = iconv_open(names[codePage], "UTF-8");
    if (converter == reinterpret_cast<iconv_t>(-1))
        return std::nullopt;
    std::string out(4 * text.size() + 4, '\0');
    char *from = const_cast<char *>(text.data());
    size_t fromLeft = text.size();
    char *to = out.data();
    size_t toLeft = out.size();
    const bool converted = iconv(converter, &from, &fromLeft, &to, &toLeft) != static_cast<size_t>(-1);
    iconv_close(converter);
    if (!converted)
        return std::nullopt;
    out.resize(out.size() - toLeft);
    return out;
}

template <typename Make>
Outcome text(const std::string &data, int codePage, Make make) {
    const auto sent = routed(data, codePage);
    if (!sent)
        return {VREN_E_WRITE, {}};
    return ok(make(*sent));
}

// ---------------------------------------------------------------------------
// The families

int deviceFont(int font) { return (font >= 0 && font <= 9) || (font >= 'a' && font <= 'n') ? font : 3; }

// x, y, font, xMultiplier, yMultiplier, rotation, bold
DeviceText deviceText(const int *a, std::string data) {
    const int font = deviceFont(a[2]);
    return {a[0], a[1], font, font >= 'a', in(a[3], 1, 9, 1), in(a[4], 1, 9, 1), 0, in(a[5], 0, 3, 0), 'N',
            yes(a[6], 'B', 'N'), std::move(data)};
}

// x, y, font, width, height, spacing, bold, reverse, italic, rotation, alignment, lastOption
VectorText vectorText(const int *a, std::string data) {
    static const char letters[] = "UKBGJab";
    return {a[0], a[1], a[2] >= 1 && a[2] <= 6 ? letters[a[2]] : 'U', a[3], a[4], a[5],
            yes(a[6], 'B', 'N'), yes(a[7], 'R', 'N'), yes(a[8], 'I', 'N'), in(a[9], 0, 3, 0),
            a[10] == 1 ? 'C' : a[10] == 2 ? 'R' : 'L', in(a[11], 0, 1, 0), std::move(data)};
}

std::vector<int> allDeviceFonts() {
    std::vector<int> fonts = ints({9, 10, 96, 111, 'A'});
    for (int font = 2; font <= 8; ++font)
        fonts.push_back(font);
    for (int font = 'a'; font <= 'n'; ++font)
        fonts.push_back(font);
    return fonts;
}

const std::vector<int> kCodePages = ints({2, 3, 4, 5, 6, 7, 8, 9});

std::vector<Row> textRows() {
    const Args<7> device{10, 20, 3, 1, 1, 0, 0};
    const Axes<7> deviceAxes{ints(), ints(), allDeviceFonts(), ints({9, 10}), ints({9, 10}), ints({3, 4}), kFlag};
    const auto deviceCall = [](const char *d, const Args<7> &a) {
        return PrintDeviceFont(d, a[0], a[1], a[2], a[3], a[4], a[5], static_cast<unsigned char>(a[6]));
    };
    std::vector<Row> rows = withData("PrintDeviceFont", device, deviceAxes, deviceCall,
                                     [](const std::string &d, const Args<7> &a) {
        // Fonts a to f carry EUC-KR, j CP932, m GB18030, n BIG5.
        const int font = deviceFont(a[2]);
        int page = kAsGiven;
        if (font >= 'a' && font <= 'f')
            page = 0;
        else if (font == 'j' || font == 'm' || font == 'n')
            page = font == 'j' ? 7 : font == 'm' ? 3 : 4;
        return text(d, page, [&](std::string s) { return deviceText(a.data(), std::move(s)); });
    });

    Axes<8> deviceWAxes;
    std::copy(deviceAxes.begin(), deviceAxes.end(), deviceWAxes.begin());
    deviceWAxes[7] = kCodePages;
    const auto deviceW = withData("PrintDeviceFontW", Args<8>{10, 20, 0, 1, 1, 0, 0, 0}, deviceWAxes,
        [](const char *d, const Args<8> &a) {
            return PrintDeviceFontW(d, a[0], a[1], a[2], a[3], a[4], a[5], static_cast<unsigned char>(a[6]), a[7]);
        },
        [](const std::string &d, const Args<8> &a) {
            // The plain fonts 1 to 8 send the text as given; all others convert.
            const int font = deviceFont(a[2]);
            const int page = font >= 1 && font <= 8 ? kAsGiven : a[7];
            return text(d, page, [&](std::string s) { return deviceText(a.data(), std::move(s)); });
        });
    rows.insert(rows.end(), deviceW.begin(), deviceW.end());

    const Args<12> vector{10, 20, 0, 24, 24, 0, 0, 0, 0, 0, 0, 0};
    const Axes<12> vectorAxes{ints(), ints(), ints({2, 3, 4, 5, 6, 7}), ints({1000}), ints({1000}), ints(),
                              kFlag, kFlag, kFlag, ints({3, 4}), ints({2, 3}), ints({2})};
    const auto vectorRows = withData("PrintVectorFont", vector, vectorAxes,
        [](const char *d, const Args<12> &a) {
            return PrintVectorFont(d, a[0], a[1], a[2], a[3], a[4], a[5], static_cast<unsigned char>(a[6]),
                                   static_cast<unsigned char>(a[7]), static_cast<unsigned char>(a[8]), a[9], a[10],
                                   a[11]);
        },
        [](const std::string &d, const Args<12> &a) {
            // Fonts 1 K EUC-KR, 2 B BIG5, 3 G GB18030, 4 J CP932.
            static const int pages[] = {0, 4, 3, 7};
            const int page = a[2] >= 1 && a[2] <= 4 ? pages[a[2] - 1] : kAsGiven;
            return text(d, page, [&](std::string s) { return vectorText(a.data(), std::move(s)); });
        });
    rows.insert(rows.end(), vectorRows.begin(), vectorRows.end());

    Axes<13> vectorWAxes;
    std::copy(vectorAxes.begin(), vectorAxes.end(), vectorWAxes.begin());
    vectorWAxes[12] = kCodePages;
    Args<13> vectorW{};
    std::copy(vector.begin(), vector.end(), vectorW.begin());
    const auto vectorWRows = withData("PrintVectorFontW", vectorW, vectorWAxes,
        [](const char *d, const Args<13> &a) {
            return PrintVectorFontW(d, a[0], a[1], a[2], a[3], a[4], a[5], static_cast<unsigned char>(a[6]),
                                    static_cast<unsigned char>(a[7]), static_cast<unsigned char>(a[8]), a[9], a[10],
                                    a[11], a[12]);
        },
        [](const std::string &d, const Args<13> &a) {
            // Font 0 sends the text as given; every other value converts.
            const int page = a[2] == 0 ? kAsGiven : a[12];
            return text(d, page, [&](std::string s) { return vectorText(a.data(), std::move(s)); });
        });
    rows.insert(rows.end(), vectorWRows.begin(), vectorWRows.end());

    // Each code page of the table with text of its own script.
    static const char *const samples[] = {
        "\xED\x95\x9C\r'\n", "\xED\x95\x9C", "\xE4\xB8\xAD\xE6\x96\x87", "\xED\x95\x9C \xE0\xB8\xA0",
        "\xE7\xB9\x81\xE9\xAB\x94", "\xE7\xB9\x81\xE9\xAB\x94", "\xE6\x97\xA5\xE6\x9C\xAC",
        "\xE6\x97\xA5\xE6\x9C\xAC'", "\xE0\xB8\xA0\xE0\xB8\xB2"};
    for (int page = 0; page < 9; ++page) {
        const std::string data = samples[page];
        const Args<8> device{1, 2, 0, 1, 1, 0, 0, page};
        rows.push_back({describe("PrintDeviceFontW", device),
                        [=] { return PrintDeviceFontW(data.c_str(), 1, 2, 0, 1, 1, 0, 0, page); },
                        text(data, page, [&](std::string s) { return deviceText(device.data(), std::move(s)); })});
        const Args<13> vector{1, 2, 7, 24, 24, 0, 0, 0, 0, 0, 0, 0, page};
        rows.push_back({describe("PrintVectorFontW", vector),
                        [=] { return PrintVectorFontW(data.c_str(), 1, 2, 7, 24, 24, 0, 0, 0, 0, 0, 0, 0, page); },
                        text(data, page, [&](std::string s) { return vectorText(vector.data(), std::move(s)); })});
    }
    return rows;
}

std::vector<Row> graphicsRows() {
    std::vector<Row> rows = plain("PrintBlock", Args<6>{10, 20, 300, 400, 0, 3},
        Axes<6>{ints(), ints(), ints(), ints(), ints({2, 3, 4, 5}), ints({1000, 1001})},
        [](const Args<6> &a) { return PrintBlock(a[0], a[1], a[2], a[3], a[4], a[5]); },
        [](const Args<6> &a) {
            if (a[4] < 0 || a[4] > 4)
                return Outcome{VREN_E_BLOCK_OPTION, {}};
            // Options S and B carry the thickness, as given.
            return ok(Block{a[0], a[1], a[2], a[3], "OEDSB"[a[4]], a[4] >= 3 ? std::optional<int>(a[5]) : std::nullopt});
        });
    const auto circles = plain("PrintCircle", Args<4>{10, 20, 1, 1},
        Axes<4>{ints(), ints(), ints({6, 7}), ints({4, 5})},
        [](const Args<4> &a) { return PrintCircle(a[0], a[1], a[2], a[3]); },
        [](const Args<4> &a) { return ok(Circle{a[0], a[1], in(a[2], 1, 6, 2), in(a[3], 1, 4, 1)}); });
    rows.insert(rows.end(), circles.begin(), circles.end());
    return rows;
}

// A B2 or B3 command: x, y, the symbology letter, the fields after it.
Barcode2D symbol(int command, const int *xy, char letter, std::vector<Field> fields, const std::string &data) {
    return {command, xy[0], xy[1], letter, std::move(fields), data};
}

std::vector<Row> barcodeRows() {
    using U = unsigned char;
    std::vector<Row> rows;
    const auto add = [&](std::vector<Row> more) { rows.insert(rows.end(), more.begin(), more.end()); };

    add(withData("Print1DBarcode", Args<8>{10, 20, 1, 2, 4, 100, 0, 0},
        Axes<8>{ints(), ints(), ints({16, 17}), ints(), ints(), ints(), ints(), ints({8, 9})},
        [](const char *d, const Args<8> &a) {
            return Print1DBarcode(d, a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7]);
        },
        [](const std::string &d, const Args<8> &a) {
            return ok(Barcode1D{a[0], a[1], in(a[2], 0, 16, 1), a[3], a[4], a[5], 0, in(a[7], 0, 8, 0), d});
        }));
    add(withData("PrintMaxiCode", Args<3>{10, 20, 2}, Axes<3>{ints(), ints(), ints({2, 3, 4, 5})},
        [](const char *d, const Args<3> &a) { return PrintMaxiCode(d, a[0], a[1], a[2]); },
        [](const std::string &d, const Args<3> &a) {
            const bool known = a[2] == 0 || a[2] == 2 || a[2] == 3 || a[2] == 4;
            return ok(symbol(2, a.data(), 'M', {n(known ? a[2] : 0)}, d));
        }));
    add(withData("PrintPDF417", Args<11>{10, 20, 30, 5, 0, 0, 0, 0, 3, 10, 0},
        Axes<11>{ints(), ints(), ints({2, 3, 90, 91}), ints({30, 31}), ints({8, 9}), ints({2, 3}), kFlag, ints(),
                 ints({2, 9, 10}), ints({4, 99, 100}), ints({3, 4})},
        [](const char *d, const Args<11> &a) {
            return PrintPDF417(d, a[0], a[1], a[2], a[3], a[4], a[5], static_cast<U>(a[6]), a[7], a[8], a[9], a[10]);
        },
        [](const std::string &d, const Args<11> &a) {
            return ok(symbol(2, a.data(), 'P',
                             {n(in(a[2], 3, 90, 30)), n(in(a[3], 1, 30, 5)), n(in(a[4], 0, 8, 0)), n(in(a[5], 0, 2, 0)),
                              n(a[6] != 0), n(a[7] != 0), n(in(a[8], 2, 9, 3)), n(in(a[9], 4, 99, 10)),
                              n(in(a[10], 0, 3, 0))},
                             d));
        }));
    add(withData("PrintQRCode", Args<6>{10, 20, 2, 1, 4, 0},
        Axes<6>{ints(), ints(), ints({2, 3}), ints({2, 3, 4}), ints({4, 5}), ints({3, 4})},
        [](const char *d, const Args<6> &a) { return PrintQRCode(d, a[0], a[1], a[2], a[3], a[4], a[5]); },
        [](const std::string &d, const Args<6> &a) {
            const char level = a[3] == 1 ? 'M' : a[3] == 2 ? 'Q' : a[3] == 3 ? 'H' : 'L';
            return ok(symbol(2, a.data(), 'Q',
                             {n(in(a[2], 1, 2, 1)), l(level), n(in(a[4], 1, 4, 4)), n(in(a[5], 0, 3, 0))}, d));
        }));
    add(withData("PrintDataMatrix", Args<5>{10, 20, 2, 0, 0},
        Axes<5>{ints(), ints(), ints({4, 5}), kFlag, ints({3, 4})},
        [](const char *d, const Args<5> &a) { return PrintDataMatrix(d, a[0], a[1], a[2], static_cast<U>(a[3]), a[4]); },
        [](const std::string &d, const Args<5> &a) {
            return ok(symbol(2, a.data(), 'D', {n(in(a[2], 1, 4, 2)), l(yes(a[3], 'R', 'N')), n(in(a[4], 0, 3, 0))}, d));
        }));
    add(withData("PrintAztec", Args<9>{10, 20, 2, 0, 0, 0, 15, 0, 0},
        Axes<9>{ints(), ints(), ints({10, 11}), ints({2}), ints({300, 301}), kFlag, ints({26, 27}), ints(),
                ints({3, 4})},
        [](const char *d, const Args<9> &a) {
            return PrintAztec(d, a[0], a[1], a[2], a[3], a[4], static_cast<U>(a[5]), a[6], a[7], a[8]);
        },
        [](const std::string &d, const Args<9> &a) {
            return ok(symbol(2, a.data(), 'A',
                             {n(in(a[2], 1, 10, 2)), n(in(a[3], 0, 1, 0)), n(in(a[4], 0, 300, 0)), n(a[5] != 0),
                              n(in(a[6], 1, 26, 15)), n(a[7]), n(in(a[8], 0, 3, 0))},
                             d));
        }));
    add(withData("PrintCode49", Args<8>{10, 20, 2, 0, 20, 0, 0, 0},
        Axes<8>{ints(), ints(), ints(), ints(), ints(), ints({2, 3}), ints({7, 8}), ints({3, 4})},
        [](const char *d, const Args<8> &a) { return PrintCode49(d, a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7]); },
        [](const std::string &d, const Args<8> &a) {
            return ok(symbol(2, a.data(), 'F',
                             {n(a[2]), n(a[3]), n(a[4]), n(in(a[5], 0, 2, 0)), n(in(a[6], 0, 7, 0)),
                              n(in(a[7], 0, 3, 0))},
                             d));
        }));
    add(withData("PrintCODABLOCK", Args<9>{10, 20, 2, 0, 20, 0, 30, 2, 3},
        Axes<9>{ints(), ints(), ints(), ints(), ints(), kFlag, ints({2, 62, 63}), ints({2, 3}), ints({2, 4, 5, 18, 19})},
        [](const char *d, const Args<9> &a) {
            return PrintCODABLOCK(d, a[0], a[1], a[2], a[3], a[4], static_cast<U>(a[5]), a[6], a[7], a[8]);
        },
        [](const std::string &d, const Args<9> &a) {
            // The mode decides the range of field 10: A 1 to 18, else 2 to 4.
            const int mode = a[7];
            const int field10 = mode == 0 ? in(a[8], 1, 18, 10) : in(a[8], 2, 4, 3);
            return ok(symbol(2, a.data(), 'C',
                             {n(a[2]), n(a[3]), n(a[4]), n(a[5] != 0), n(in(a[6], 2, 62, 30)),
                              l(mode == 0 ? 'A' : mode == 2 ? 'F' : 'E'), n(field10), n(0)},
                             d));
        }));
    add(withData("PrintMicroPDF", Args<6>{10, 20, 5, 50, 0, 0},
        Axes<6>{ints(), ints(), ints({2, 8, 9}), ints({99, 100}), ints({33, 34}), ints({3, 4})},
        [](const char *d, const Args<6> &a) { return PrintMicroPDF(d, a[0], a[1], a[2], a[3], a[4], a[5]); },
        [](const std::string &d, const Args<6> &a) {
            return ok(symbol(2, a.data(), 'B',
                             {n(in(a[2], 2, 8, 5)), n(in(a[3], 1, 99, 50)), n(in(a[4], 0, 33, 0)), n(in(a[5], 0, 3, 0))},
                             d));
        }));
    add(withData("PrintGS1DataBar", Args<8>{10, 20, 0, 1, 1, 0, 6, 0},
        Axes<8>{ints(), ints(), ints({5, 6}), ints({10, 11}), ints({2, 3}), ints(), ints({2, 3, 21, 22, 23, 24}),
                ints({3, 4})},
        [](const char *d, const Args<8> &a) {
            return PrintGS1DataBar(d, a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7]);
        },
        [](const std::string &d, const Args<8> &a) {
            const int segments = a[6] >= 0 && a[6] <= 22 && a[6] % 2 == 0 ? a[6] : 6;
            return ok(symbol(3, a.data(), 'R',
                             {n(in(a[2], 0, 5, 5)), n(in(a[3], 1, 10, 1)), n(in(a[4], 1, 2, 1)), n(a[5]), n(segments),
                              n(in(a[7], 0, 3, 0))},
                             d));
        }));
    return rows;
}

Outcome setting(SettingCode code, std::vector<Field> fields) { return ok(Setting{code, std::move(fields)}); }

std::vector<Row> settingRows() {
    using S = SettingCode;
    using U = unsigned char;
    std::vector<Row> rows;
    const auto add = [&](std::vector<Row> more) { rows.insert(rows.end(), more.begin(), more.end()); };
    const auto one = [&](const char *name, std::vector<int> values, int (*call)(int), auto model) {
        add(plain(name, Args<1>{0}, Axes<1>{std::move(values)}, [call](const Args<1> &a) { return call(a[0]); },
                  [model](const Args<1> &a) { return model(a[0]); }));
    };
    one("SetSpeed", ints({12, 13}), SetSpeed, [](int v) { return setting(S::Speed, {n(clamp(v, 0, 12))}); });
    one("SetDensity", ints({20, 21}), SetDensity, [](int v) { return setting(S::Density, {n(clamp(v, 0, 20))}); });
    one("SetOrientation", ints({'B', 'T', 'b', 'A', 'C'}), SetOrientation,
        [](int v) { return setting(S::Orientation, {l(v == 'B' ? 'B' : 'T')}); });
    one("SetOffset", ints({-101, -100, 100, 101}), SetOffset,
        [](int v) { return setting(S::Offset, {n(clamp(v, -100, 100))}); });
    one("SetCutPostion", ints({-101, -100, 100, 101}), SetCutPostion,
        [](int v) { return setting(S::CutPosition, {n(clamp(v, -100, 100))}); });
    one("SetPrintingType", ints({2}), SetPrintingType,
        [](int v) { return setting(S::PrintingType, {l(v == 1 ? 't' : 'd')}); });
    add(plain("SetRewinder", Args<1>{0}, Axes<1>{kFlag},
              [](const Args<1> &a) { return SetRewinder(static_cast<U>(a[0])); },
              [](const Args<1> &a) { return setting(S::Rewinder, {l(yes(a[0], 'y', 'n'))}); }));
    add(plain("SetBackFeed", Args<1>{0}, Axes<1>{kFlag},
              [](const Args<1> &a) { return SetBackFeed(static_cast<U>(a[0])); },
              [](const Args<1> &a) { return setting(S::BackFeed, {n(a[0] != 0)}); }));
    add(plain("SetCutter", Args<2>{1, 1}, Axes<2>{kFlag, ints({2})},
              [](const Args<2> &a) { return SetCutter(static_cast<U>(a[0]), a[1]); },
              [](const Args<2> &a) {
                  // Off: no period; on: the period unless it is 0.
                  if (a[0] == 0)
                      return setting(S::Cutter, {l('n')});
                  return a[1] == 0 ? setting(S::Cutter, {l('y')}) : setting(S::Cutter, {l('y'), n(a[1])});
              }));
    add(plain("SetPaper", Args<5>{800, 1200, 0, 0, 24}, Axes<5>{ints(), ints(), ints({2, 3}), ints(), ints()},
              [](const Args<5> &a) { return SetPaper(a[0], a[1], a[2], a[3], a[4]); },
              [](const Args<5> &a) {
                  // Two commands: length, gap, media and offset, then the width.
                  const char media = a[2] == 1 ? 'C' : a[2] == 2 ? 'B' : 'G';
                  return Outcome{VREN_OK, {Setting{S::PaperLength, {n(a[1]), n(a[4]), l(media), n(a[3])}},
                                           Setting{S::PaperWidth, {n(a[0])}}}};
              }));
    add(plain("SetMargin", Args<2>{0, 0}, Axes<2>{ints(), ints()},
              [](const Args<2> &a) { return SetMargin(a[0], a[1]); },
              [](const Args<2> &a) { return setting(S::Margin, {n(a[0]), n(a[1])}); }));
    add(plain("SetCharacterSet", Args<2>{0, 0}, Axes<2>{ints({15, 16}), ints({255, 256})},
              [](const Args<2> &a) { return SetCharacterSet(a[0], a[1]); },
              [](const Args<2> &a) {
                  return setting(S::CharacterSet, {n(in(a[0], 0, 15, 0)), n(in(a[1], 0, 255, 0))});
              }));
    return rows;
}

std::vector<Row> controlRows() {
    std::vector<Row> rows = {
        {"InitializePrinter()", InitializePrinter, ok(Control{ControlCode::Initialize})},
        {"CalibrateMedia()", CalibrateMedia, ok(Control{ControlCode::Calibrate})},
        {"ResetPrinter()", ResetPrinter, ok(Control{ControlCode::Reset})},
        {"FeedOneLabel()", FeedOneLabel, ok(Control{ControlCode::FeedLabel})},
        {"ClearBuffer()", ClearBuffer, ok(Clear{})},
    };
    const auto prints = plain("Prints", Args<2>{1, 1}, Axes<2>{ints(), ints()},
                              [](const Args<2> &a) { return Prints(a[0], a[1]); },
                              [](const Args<2> &a) { return ok(Print{a[0], a[1]}); });
    rows.insert(rows.end(), prints.begin(), prints.end());
    return rows;
}

// ---------------------------------------------------------------------------
// Bitmaps: small BMP files written into the test's directory

struct Image {
    std::string path;
    vren::test::Picture picture;
};

std::vector<Image> writeImages() {
    using vren::test::kBlack;
    using vren::test::kWhite;
    using vren::test::Picture;
    using vren::test::Rgb;
    // Rows whose raster bytes are 0x0D and 0x27: a CR and a quote inside LD data.
    Picture carriage{8, 2, {}};
    for (const char *row : {"....##.#", "..#..###"})
        for (int x = 0; x < 8; ++x)
            carriage.pixels.push_back(row[x] == '#' ? kBlack : kWhite);
    const Rgb grey{128, 128, 128};
    const Rgb red{200, 0, 0};
    const std::vector<Image> images = {
        {"dot.bmp", Picture{1, 1, {kBlack}}},
        {"white.bmp", Picture{2100, 2, std::vector<Rgb>(4200, kWhite)}},  // runs of 0x00 past 255
        {"black.bmp", Picture{600, 4, std::vector<Rgb>(2400, kBlack)}},   // runs of 0xFF past 255
        {"carriage.bmp", carriage},
        {"pattern.bmp", vren::test::patternPicture(37, 11, {kWhite, kBlack}, 3)},
        {"colours.bmp", vren::test::patternPicture(13, 5, {kWhite, kBlack, grey, red}, 5)},
        {"framing.bmp", vren::test::patternPicture(104, 13, {kWhite, kBlack}, 7)},  // 13 rows of 13 bytes: CR, CR
    };
    for (const Image &image : images) {
        vren::test::BmpOptions options;
        if (image.path == "pattern.bmp")
            options = vren::test::paletted(1, {kWhite, kBlack});
        else if (image.path == "colours.bmp")
            options = vren::test::paletted(8, {kWhite, kBlack, grey, red});
        vren::test::writeFile(image.path, vren::test::makeBmp(image.picture, options));
    }
    return images;
}

// A position field as the printer reads it: low byte x % 256, high byte
// x / 256 (truncating division), each cut to 8 bits.
int position(int value) {
    return static_cast<unsigned char>(value % 256) | static_cast<unsigned char>(value / 256) << 8;
}

std::vector<Row> bitmapRows(const std::vector<Image> &images) {
    std::vector<Row> rows;
    // Positions whose header bytes are CR, LF or a quote, or cross 8 and 16 bits.
    const std::vector<int> positions = ints({10, 13, 39, 13 * 256 + 13, 255, 256, -256, -257, 65535, 65536, -65536});
    for (size_t i = 0; i < images.size(); ++i) {
        const Image &image = images[i];
        const std::string raster = vren::test::expectedRaster(image.picture);
        const auto forImage = plain(image.path.c_str(), Args<3>{10, 20, static_cast<int>(i % 2)},
            Axes<3>{positions, positions, kFlag},
            [path = image.path](const Args<3> &a) {
                return PrintBitmap(path.c_str(), a[0], a[1], static_cast<unsigned char>(a[2]));
            },
            [&](const Args<3> &a) {
                const bool compressed = a[2] != 0;
                Bitmap bitmap{compressed, position(a[0]), position(a[1]), (image.picture.width + 7) / 8,
                              image.picture.height,
                              compressed ? vren::test::referenceStream(raster).size() : raster.size(),
                              std::vector<uint8_t>(raster.begin(), raster.end())};
                return ok(std::move(bitmap));
            });
        rows.insert(rows.end(), forImage.begin(), forImage.end());
    }
    return rows;
}

// ---------------------------------------------------------------------------
// Capture and checks

std::string eventText(const Event &event) {
    if (const auto *command = std::get_if<Command>(&event))
        return toJson(*command);
    return toJson(std::get<Diagnostic>(event));
}

// Equal JSON texts; a failure shows where they part instead of both in full.
::testing::AssertionResult sameText(const std::string &expected, const std::string &actual) {
    if (expected == actual)
        return ::testing::AssertionSuccess();
    size_t at = 0;
    while (at < expected.size() && at < actual.size() && expected[at] == actual[at])
        ++at;
    const size_t from = at > 60 ? at - 60 : 0;
    return ::testing::AssertionFailure() << "differ at " << at << "\n  expected: ..." << expected.substr(from, 160)
                                         << "\n  actual:   ..." << actual.substr(from, 160);
}

class LibraryParse : public vren::test::LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        ASSERT_EQ(connectToVirtualPrinter(), VREN_OK);
    }

    // Runs the row and returns the bytes it produced: what reached the printer,
    // then what it left in the command buffer. A fence written after the call
    // tells when the printer has read everything before it.
    std::string capture(const Row &row) {
        static const std::string kFence = "\x1b<fence>\x1b";
        initDataBuffer();
        printer_->clearReceived();
        EXPECT_EQ(row.expected.result, row.call());
        EXPECT_EQ(static_cast<int>(kFence.size()), writeData(kFence.data(), static_cast<uint32_t>(kFence.size())));
        const size_t index = printer_->connectionCount() - 1;
        std::string received;
        const bool fenced = vren::test::waitFor(
            [&] {
                received = printer_->received(index);
                return received.ends_with(kFence);
            },
            std::chrono::seconds(10), std::chrono::microseconds(200));
        EXPECT_TRUE(fenced) << "the printer did not receive the fence";
        std::string bytes = received.substr(0, received.size() - std::min(received.size(), kFence.size())) +
                            vren::test::pendingBytes();
        initDataBuffer();
        return bytes;
    }

    // The bytes parse, whole and one byte at a time, into the expected
    // commands with nothing left over and no diagnostic.
    static void expectParsed(const std::string &bytes, const Outcome &expected) {
        const std::vector<Event> whole = parseAll(bytes);
        const std::vector<Event> split = vren::test::parsedBytewise(bytes);

        std::string wholeText, splitText, actual, wanted;
        uint64_t end = 0;
        size_t diagnostics = 0;
        for (const Event &event : whole) {
            wholeText += eventText(event) + "\n";
            if (const auto *diagnostic = std::get_if<Diagnostic>(&event)) {
                if (diagnostics++ == 0)
                    ADD_FAILURE() << "diagnostic at " << diagnostic->offset << ": " << diagnostic->message
                                  << "\n  bytes there: " << hex(std::string_view(bytes).substr(diagnostic->offset, 48));
                continue;
            }
            const auto &command = std::get<Command>(event);
            // Only CR and LF may stand between commands.
            EXPECT_EQ(std::string::npos, bytes.substr(end, command.offset - end).find_first_not_of("\r\n"));
            end = command.offset + command.length;
            actual += toJson(Command{0, 0, command.body}) + "\n";
        }
        EXPECT_EQ(0u, diagnostics);
        EXPECT_EQ(std::string::npos, bytes.substr(std::min<uint64_t>(end, bytes.size())).find_first_not_of("\r\n"))
            << "bytes after the last command: " << hex(bytes.substr(std::min<uint64_t>(end, bytes.size()), 48));
        for (const Event &event : split)
            splitText += eventText(event) + "\n";
        for (const Body &body : expected.commands)
            wanted += toJson(Command{0, 0, body}) + "\n";
        EXPECT_TRUE(sameText(wholeText, splitText)) << "fed whole and fed byte by byte";
        EXPECT_TRUE(sameText(wanted, actual)) << "bytes: " << hex(bytes.substr(0, 96));
    }

    void expectRows(const std::vector<Row> &rows) {
        for (size_t i = 0; i < rows.size(); ++i) {
            SCOPED_TRACE("row " + std::to_string(i) + ": " + rows[i].what);
            expectParsed(capture(rows[i]), rows[i].expected);
            if (HasFatalFailure())
                return;
        }
    }
};

TEST_F(LibraryParse, TextCommands) { expectRows(textRows()); }

TEST_F(LibraryParse, BlocksAndCircles) { expectRows(graphicsRows()); }

TEST_F(LibraryParse, Barcodes) { expectRows(barcodeRows()); }

TEST_F(LibraryParse, Settings) { expectRows(settingRows()); }

TEST_F(LibraryParse, ControlPrintAndClear) { expectRows(controlRows()); }

TEST_F(LibraryParse, Bitmaps) { expectRows(bitmapRows(writeImages())); }

// Quoted data up to the parser's limit (64 KiB) round-trips; the library
// sends longer data too, which the parser reports as too long.
TEST_F(LibraryParse, DataAtTheParsersLimit) {
    const std::string data = longData(64 * 1024);
    expectRows({
        {"PrintDeviceFont(64 KiB)", [&] { return PrintDeviceFont(data.c_str(), 1, 2, 3, 1, 1, 0, 0); },
         ok(DeviceText{1, 2, 3, false, 1, 1, 0, 0, 'N', 'N', data})},
        {"PrintQRCode(64 KiB)", [&] { return PrintQRCode(data.c_str(), 1, 2, 2, 3, 4, 0); },
         ok(Barcode2D{2, 1, 2, 'Q', {n(2), l('H'), n(4), n(0)}, data})},
    });
}

// Data is sent unescaped, and the field ends at the first quote followed by
// CR: data holding that pair is refused and nothing reaches the printer, while
// a quote or a CR on its own stays part of the data.
TEST_F(LibraryParse, DataHoldingQuoteAndCarriageReturnIsRefused) {
    const Row refused{"PrintDeviceFont(\"a'\\rb\")", [] { return PrintDeviceFont("a'\rb", 1, 2, 3, 1, 1, 0, 0); },
                      {VREN_E_WRITE, {}}};
    EXPECT_EQ("", capture(refused));
    const Row alone{"PrintDeviceFont(\"a'b\\rc'\")", [] { return PrintDeviceFont("a'b\rc'", 1, 2, 3, 1, 1, 0, 0); }, {}};
    const std::string bytes = capture(alone);
    EXPECT_EQ("T1,2,3,1,1,0,0,N,N,'a'b\rc''\r", bytes);
    const std::vector<Event> events = parseAll(bytes);
    ASSERT_EQ(1u, events.size());
    EXPECT_EQ("a'b\rc'", std::get<DeviceText>(std::get<Command>(events[0]).body).data);
}

// The renderer draws every row that composes or sets something, hostile ones
// included, without crashing and within a bounded amount of memory (in a
// child process with a limited address space): once on a label whose margins
// move everything far off it, once with no margins, where it must show dots.
TEST_F(LibraryParse, RendererDrawsLabelsOfAllRows) {
    std::string settings, composition;
    for (const Row &row : settingRows())
        settings += capture(row);
    for (auto rows : {textRows(), graphicsRows(), barcodeRows(), bitmapRows(writeImages())})
        for (const Row &row : rows)
            composition += capture(row);
    const auto call = [&](std::function<int()> function) { return capture({"", std::move(function), {}}); };
    const std::string farOff = call([] { return SetMargin(INT_MIN, INT_MIN); });
    const std::string plainLabel =
        call([] { return SetMargin(0, 0); }) + call([] { return SetPaper(812, 1218, 0, 0, 24); });
    const std::string stream = settings + farOff + composition + "P1,1\r" + plainLabel + composition + "P1,1\r";
    DisconnectPrinter();
    printer_.reset();  // no thread of ours runs while the child renders

    const pid_t child = fork();
    ASSERT_NE(-1, child);
    if (child == 0) {
        if (vren::test::kCanLimitMemory)
            vren::test::limitAddressSpace(size_t{1} << 30);
        int code = 0;
        try {
            render::Session session;
            session.feed(stream.data(), stream.size());
            session.finish();
            const auto labels = session.take();
            for (const render::LabelOutput &label : labels) {
                const render::Canvas &canvas = label.canvas;
                if (!label.printed || canvas.width() < 8 || canvas.height() < 8 || canvas.width() > render::kMaxSide ||
                    canvas.height() > render::kMaxSide)
                    code = 11;
                else if (label.transcript.find("\"source\":\"parser\"") != std::string::npos)
                    code = 12;  // the parser found fault with the library's bytes
            }
            if (labels.size() != 2)
                code = 10;
            else if (code == 0 && labels[1].canvas.countDots() == 0)
                code = 13;
        } catch (const std::bad_alloc &) {
            code = 14;
        } catch (...) {
            code = 15;
        }
        _exit(code);
    }
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    ASSERT_TRUE(WIFEXITED(status)) << "the renderer died with signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    EXPECT_EQ(0, WEXITSTATUS(status))
        << "10: not two labels, 11: bad size, 12: parser diagnostics, 13: empty, 14: out of memory, 15: exception";
}

}  // namespace
