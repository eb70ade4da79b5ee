// The renderer: drawing of each command family from exact command bytes,
// pixel-exact where no font or symbol encoder is involved.
#include <gtest/gtest.h>
#include <iconv.h>
#include <zint.h>

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>
#include <string>

#include "bytes.h"
#include "parser.h"
#include "png_io.h"
#include "renderer.h"
#include "session.h"

namespace {

using render::Canvas;

// Renders a stream and returns its labels.
std::vector<render::LabelOutput> labelsOf(std::string_view bytes, bool unprinted = false) {
    render::Session session;
    session.feed(bytes.data(), bytes.size());
    session.finish(unprinted);
    return session.take();
}

render::LabelOutput onlyLabel(std::string_view bytes) {
    auto labels = labelsOf(bytes);
    EXPECT_EQ(1u, labels.size()) << vren::test::hex(bytes);
    return labels.empty() ? render::LabelOutput{} : std::move(labels[0]);
}

// Dots inside and outside the rectangle [x0, x1) x [y0, y1).
struct Count {
    size_t inside = 0, outside = 0;
};
Count countDots(const Canvas &canvas, int x0, int y0, int x1, int y1) {
    Count count;
    for (int y = 0; y < canvas.height(); ++y)
        for (int x = 0; x < canvas.width(); ++x)
            if (canvas.at(x, y))
                (x >= x0 && x < x1 && y >= y0 && y < y1 ? count.inside : count.outside)++;
    return count;
}

bool hasDiagnostic(const render::LabelOutput &label, const std::string &text) {
    return label.transcript.find(text) != std::string::npos;
}

// A strict reader of JSON text: true when `text` is one JSON value and white
// space, with strings free of raw control bytes and holding valid UTF-8.
class JsonChecker {
public:
    explicit JsonChecker(std::string_view text) : text_(text) {}
    bool valid() {
        space();
        if (!value())
            return false;
        space();
        return at_ == text_.size();
    }
    size_t where() const { return at_; }

private:
    bool more() const { return at_ < text_.size(); }
    char peek() const { return more() ? text_[at_] : '\0'; }
    bool take(char c) {
        if (peek() != c)
            return false;
        ++at_;
        return true;
    }
    void space() {
        while (more() && (peek() == ' ' || peek() == '\t' || peek() == '\n' || peek() == '\r'))
            ++at_;
    }
    bool value() {
        switch (peek()) {
        case '{': return list('}', true);
        case '[': return list(']', false);
        case '"': return string();
        case 't': return word("true");
        case 'f': return word("false");
        case 'n': return word("null");
        default: return number();
        }
    }
    bool word(std::string_view w) {
        if (text_.substr(at_, w.size()) != w)
            return false;
        at_ += w.size();
        return true;
    }
    bool digits() {
        const size_t from = at_;
        while (more() && peek() >= '0' && peek() <= '9')
            ++at_;
        return at_ > from;
    }
    bool number() {
        take('-');
        if (take('0')) {
        } else if (!(peek() >= '1' && peek() <= '9') || !digits()) {
            return false;
        }
        if (take('.') && !digits())
            return false;
        if (take('e') || take('E')) {
            if (!take('+'))
                take('-');
            return digits();
        }
        return true;
    }
    bool list(char close, bool members) {
        ++at_;
        space();
        if (take(close))
            return true;
        for (;;) {
            space();
            if (members) {
                if (!string())
                    return false;
                space();
                if (!take(':'))
                    return false;
                space();
            }
            if (!value())
                return false;
            space();
            if (take(close))
                return true;
            if (!take(','))
                return false;
        }
    }
    bool string() {
        if (!take('"'))
            return false;
        while (more()) {
            const auto c = static_cast<unsigned char>(text_[at_++]);
            if (c == '"')
                return true;
            if (c < 0x20)
                return false;
            if (c == '\\') {
                const char e = peek();
                ++at_;
                if (e == 'u') {
                    for (int k = 0; k < 4; ++k, ++at_)
                        if (!std::isxdigit(static_cast<unsigned char>(peek())))
                            return false;
                } else if (std::string_view("\"\\/bfnrt").find(e) == std::string_view::npos) {
                    return false;
                }
                continue;
            }
            if (c >= 0x80) {
                // UTF-8: a lead byte and its continuation bytes.
                const int length = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c <= 0xDF ? 2 : 0;
                if (length == 0 || c > 0xF4)
                    return false;
                for (int k = 1; k < length; ++k, ++at_)
                    if ((static_cast<unsigned char>(peek()) & 0xC0) != 0x80)
                        return false;
            }
        }
        return false;
    }

    std::string_view text_;
    size_t at_ = 0;
};

TEST(Render, PaperSizeFromTheLastSettings) {
    struct Row {
        std::string bytes;
        int width, height;
    };
    const Row rows[] = {
        {"P1,1\r", 812, 1218},                          // 0: no paper setting: 4 x 6 in
        {"SW400\rSL300,24,G,0\rP1,1\r", 400, 300},      // 1: width and length in dots
        {"SW400\rSW640\rP1,1\r", 640, 1218},            // 2: the last setting counts
        {"SW0\rSL-5,0,G,0\rP1,1\r", 812, 1218},         // 3: nonsense sizes keep the defaults
        {"SW999999\rP1,1\r", render::kMaxSide, 1218},   // 4: huge sizes are clamped
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        const auto label = onlyLabel(rows[i].bytes);
        EXPECT_EQ(rows[i].width, label.canvas.width()) << "row " << i;
        EXPECT_EQ(rows[i].height, label.canvas.height()) << "row " << i;
    }
}

TEST(Render, BlocksInTheirFiveOptions) {
    // 0: O fills [10, 50) x [20, 30)
    auto label = onlyLabel("SW100\rSL100,0,G,0\rBD10,20,50,30,O\rP1,1\r");
    Count c = countDots(label.canvas, 10, 20, 50, 30);
    EXPECT_EQ(400u, c.inside);
    EXPECT_EQ(0u, c.outside);
    // 1: corners in any order give the same block
    EXPECT_EQ(label.canvas, onlyLabel("SW100\rSL100,0,G,0\rBD50,30,10,20,O\rP1,1\r").canvas);
    // 2: E inverts, D erases
    label = onlyLabel("SW100\rSL100,0,G,0\rBD0,0,20,20,O\rBD10,10,30,30,E\rBD0,0,5,5,D\rP1,1\r");
    EXPECT_EQ(400u - 25u - 100u + 300u, label.canvas.countDots());
    EXPECT_FALSE(label.canvas.at(12, 12));
    EXPECT_TRUE(label.canvas.at(25, 25));
    EXPECT_FALSE(label.canvas.at(2, 2));
    // 3: B draws a frame of the given thickness inside the rectangle
    label = onlyLabel("SW100\rSL100,0,G,0\rBD10,10,40,30,B,3\rP1,1\r");
    c = countDots(label.canvas, 10, 10, 40, 30);
    EXPECT_EQ(30u * 20u - 24u * 14u, c.inside);
    EXPECT_EQ(0u, c.outside);
    // 4: S draws a line of squares from start to end
    label = onlyLabel("SW100\rSL100,0,G,0\rBD0,0,20,0,S,2\rP1,1\r");
    EXPECT_EQ(22u * 2u, label.canvas.countDots());
    // 5: a horizontal slope equals a thin filled block
    EXPECT_EQ(label.canvas, onlyLabel("SW100\rSL100,0,G,0\rBD0,0,22,2,O\rP1,1\r").canvas);
}

// A thick S line equals a thickness x thickness square stamped at every dot
// of the line's walk, in every direction and where it runs off the label.
TEST(Render, ThickLinesAreSquaresStampedAlongTheWalk) {
    struct Row {
        int x0, y0, x1, y1, thickness;
    };
    const Row rows[] = {
        {5, 5, 60, 20, 4},   // 0: shallow, right and down
        {60, 20, 5, 5, 4},   // 1: the same line walked back
        {5, 60, 20, 5, 7},   // 2: steep, right and up
        {70, 10, 10, 70, 3}, // 3: diagonal, left and down
        {30, 30, 30, 30, 5}, // 4: one point
        {40, 10, 40, 70, 6}, // 5: vertical
        {-20, 90, 95, -5, 9}, // 6: through the label, ends off it
        {0, 0, 79, 79, 1},   // 7: thin diagonal
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        const Row &r = rows[i];
        const std::string command = "BD" + std::to_string(r.x0) + "," + std::to_string(r.y0) + "," +
                                    std::to_string(r.x1) + "," + std::to_string(r.y1) + ",S," +
                                    std::to_string(r.thickness) + "\r";
        const auto label = onlyLabel("SW80\rSL80,0,G,0\r" + command + "P1,1\r");

        Canvas expected(80, 80);
        int x = r.x0, y = r.y0;
        const int dx = std::abs(r.x1 - x), dy = -std::abs(r.y1 - y);
        const int sx = x < r.x1 ? 1 : -1, sy = y < r.y1 ? 1 : -1;
        for (int error = dx + dy;;) {
            for (int v = y; v < y + r.thickness; ++v)
                for (int u = x; u < x + r.thickness; ++u)
                    if (u >= 0 && u < 80 && v >= 0 && v < 80)
                        expected.set(u, v);
            if (x == r.x1 && y == r.y1)
                break;
            const int twice = 2 * error;
            if (twice >= dy) {
                error += dy;
                x += sx;
            }
            if (twice <= dx) {
                error += dx;
                y += sy;
            }
        }
        EXPECT_EQ(expected, label.canvas) << "row " << i;
    }
}

TEST(Render, BlockWithAnUnknownOptionIsOutlinedAndNamed) {
    const auto label = onlyLabel("BD10,10,50,50,X\rP1,1\r");
    EXPECT_TRUE(hasDiagnostic(label, "BD: unknown block option X; outlined")) << label.transcript;
    EXPECT_TRUE(label.canvas.at(10, 10));
    EXPECT_GT(label.canvas.countDots(), 400u);
}

TEST(Render, CirclesAreExactRings) {
    // Size 1 at multiplier 1: 24 dots across, a ring 2 dots wide.
    auto label = onlyLabel("SW100\rSL100,0,G,0\rCD10,20,1,1\rP1,1\r");
    const Count c = countDots(label.canvas, 10, 20, 34, 44);
    EXPECT_EQ(0u, c.outside);
    EXPECT_TRUE(label.canvas.at(10 + 11, 20));        // top
    EXPECT_TRUE(label.canvas.at(10 + 12, 20 + 23));   // bottom
    EXPECT_TRUE(label.canvas.at(10, 20 + 12));        // left
    EXPECT_TRUE(label.canvas.at(33, 20 + 11));        // right
    EXPECT_FALSE(label.canvas.at(22, 32));            // centre
    // Symmetric both ways.
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 24; ++x) {
            ASSERT_EQ(label.canvas.at(10 + x, 20 + y), label.canvas.at(10 + 23 - x, 20 + y));
            ASSERT_EQ(label.canvas.at(10 + x, 20 + y), label.canvas.at(10 + x, 20 + 23 - y));
        }
    // Out-of-range size and multiplier: drawn as 2 and 1, with notes.
    label = onlyLabel("SW200\rSL200,0,G,0\rCD0,0,9,7\rP1,1\r");
    EXPECT_EQ(0u, countDots(label.canvas, 0, 0, 48, 48).outside);
    EXPECT_TRUE(hasDiagnostic(label, "CD: size 9 drawn as 2"));
    EXPECT_TRUE(hasDiagnostic(label, "CD: multiplier 7 drawn as 1"));
}

TEST(Render, BitmapsArePixelExact) {
    // A 12 x 3 raster: row 0 = 1000 0000 0001, row 1 = all, row 2 = none.
    const std::string raster("\x80\x10\xFF\xF0\x00\x00", 6);
    const std::string ld = std::string("LD\x05\x00\x07\x00\x02\x00\x03\x00", 10) + raster + "\r";
    const std::string lcr = std::string("LCR\x00\x05\x00\x07\x00\x02\x00\x03\x00", 12) +
                            std::string("\x80\x10\xFF\x01\xF0\x00\x02", 7) + "\r";
    for (const std::string &command : {ld, lcr}) {
        const auto label = onlyLabel("SW40\rSL20,0,G,0\r" + command + "P1,1\r");
        std::string rows;
        for (int y = 7; y < 10; ++y) {
            for (int x = 5; x < 21; ++x)
                rows += label.canvas.at(x, y) ? '#' : '.';
            rows += '|';
        }
        EXPECT_EQ("#..........#....|############....|................|", rows) << vren::test::hex(command);
        EXPECT_EQ(1u + 1u + 12u, label.canvas.countDots());
    }
}

TEST(Render, BottomOrientationTurnsTheLabel) {
    const auto top = onlyLabel("SW100\rSL50,0,G,0\rBD0,0,10,5,O\rP1,1\r");
    const auto bottom = onlyLabel("SW100\rSL50,0,G,0\rSOB\rBD0,0,10,5,O\rP1,1\r");
    EXPECT_TRUE(top.canvas.at(0, 0));
    EXPECT_TRUE(bottom.canvas.at(99, 49));
    EXPECT_FALSE(bottom.canvas.at(0, 0));
    EXPECT_EQ(top.canvas.rotated(2), bottom.canvas);
}

TEST(Render, MarginsMoveTheOrigin) {
    const auto label = onlyLabel("SW100\rSL50,0,G,0\rSM10,5\rBD0,0,10,5,O\rP1,1\r");
    const Count c = countDots(label.canvas, 10, 5, 20, 10);
    EXPECT_EQ(50u, c.inside);
    EXPECT_EQ(0u, c.outside);
    // A block at negative coordinates is moved onto the label whole.
    const auto moved = onlyLabel("SW100\rSL50,0,G,0\rSM10,5\rBD-10,-5,10,5,O\rP1,1\r");
    EXPECT_EQ(200u, countDots(moved.canvas, 0, 0, 20, 10).inside);
    EXPECT_EQ(200u, moved.canvas.countDots());
    // Margins far beyond the label move everything off it.
    EXPECT_EQ(0u, onlyLabel("SM-2147483648,2147483647\rBD0,0,800,1200,O\rP1,1\r").canvas.countDots());
}

TEST(Render, TextLongerThanALineIsCutAndNamed) {
    const auto label = onlyLabel("SW400\rSL100,0,G,0\rT0,0,0,1,1,0,0,N,N,'" + std::string(10000, 'W') + "'\rP1,1\r");
    EXPECT_TRUE(hasDiagnostic(label, "text too long for one line"));
    EXPECT_GT(countDots(label.canvas, 0, 0, 400, 20).inside, 0u);
}

TEST(Render, ClearAndInitialiseDropTheComposedLabel) {
    // 0: CB drops what came before it
    auto label = onlyLabel("SW100\rSL50,0,G,0\rBD0,0,10,5,O\rCB\rBD20,0,30,5,O\rP1,1\r");
    EXPECT_EQ(50u, countDots(label.canvas, 20, 0, 30, 5).inside);
    EXPECT_EQ(0u, countDots(label.canvas, 20, 0, 30, 5).outside);
    // 1: @ also restores the default paper size
    label = onlyLabel("SW100\rSL50,0,G,0\rBD0,0,10,5,O\r@\rP1,1\r");
    EXPECT_EQ(812, label.canvas.width());
    EXPECT_EQ(0u, label.canvas.countDots());
    // 2: each print starts a blank label; settings stay
    const auto labels = labelsOf("SW100\rSL50,0,G,0\rBD0,0,10,5,O\rP1,1\rBD20,0,30,5,O\rP2,3\r");
    ASSERT_EQ(2u, labels.size());
    EXPECT_EQ(100, labels[1].canvas.width());
    EXPECT_EQ(0u, countDots(labels[1].canvas, 20, 0, 30, 5).outside);
    EXPECT_TRUE(hasDiagnostic(labels[1], R"("labels":2,"copies":3)"));
}

TEST(Render, RawBytesAndTranscriptPerLabel) {
    const std::string first = "^PI0\r\nSW100\rBD0,0,10,5,O\rP1,1\r";
    const std::string second = "XX\rBD1,1,2,2,O\rP1,1\r";
    const auto labels = labelsOf(first + second);
    ASSERT_EQ(2u, labels.size());
    EXPECT_BYTES(first, labels[0].raw);
    EXPECT_BYTES(second, labels[1].raw);
    // Offsets count from the label's own first byte.
    EXPECT_TRUE(hasDiagnostic(labels[1], R"({"offset":0,"source":"parser","message":"unknown command \"XX\""})"))
        << labels[1].transcript;
    EXPECT_TRUE(hasDiagnostic(labels[1], R"({"offset":3,"length":12,"command":"BD")")) << labels[1].transcript;
}

TEST(Render, CommandsWithoutPrintAreDrawnOnlyOnRequest) {
    EXPECT_TRUE(labelsOf("BD0,0,10,5,O\r").empty());
    const auto labels = labelsOf("BD0,0,10,5,O\r", true);
    ASSERT_EQ(1u, labels.size());
    EXPECT_FALSE(labels[0].printed);
    EXPECT_TRUE(hasDiagnostic(labels[0], R"("printed":false)"));
    // Bytes after the last label that hold only a diagnostic still make one.
    const auto rest = labelsOf("P1,1\rXYZ\r", true);
    ASSERT_EQ(2u, rest.size());
    EXPECT_FALSE(rest[1].printed);
    EXPECT_TRUE(hasDiagnostic(rest[1], "unknown command")) << rest[1].transcript;
}

TEST(Render, TextIsDrawnAtItsPositionAndTurned) {
    const auto plain = onlyLabel("T100,100,3,1,1,0,0,N,N,'HELLO'\rP1,1\r");
    // Device font 3: 24-dot em, DejaVu Sans Mono advances 0.6 em per character.
    const Count c = countDots(plain.canvas, 100, 100, 100 + 5 * 15, 100 + 30);
    EXPECT_GT(c.inside, 100u);
    EXPECT_EQ(0u, c.outside);
    const auto turned = onlyLabel("T100,100,3,1,1,0,1,N,N,'HELLO'\rP1,1\r");
    const Count t = countDots(turned.canvas, 100 - 1, 100, 100 + 30, 100 + 5 * 15);
    EXPECT_EQ(c.inside, t.inside);
    EXPECT_EQ(0u, t.outside);
    // Doubled multipliers give about four times the dots.
    const auto big = onlyLabel("T100,100,3,2,2,0,0,N,N,'HELLO'\rP1,1\r");
    EXPECT_GT(big.canvas.countDots(), 3 * c.inside);
}

TEST(Render, AlignmentAndReverseOfVectorText) {
    const auto left = onlyLabel("V400,100,U,30,30,0,N,N,N,0,L,0,'ABC'\rP1,1\r");
    const auto right = onlyLabel("V400,100,U,30,30,0,N,N,N,0,R,0,'ABC'\rP1,1\r");
    EXPECT_EQ(0u, countDots(left.canvas, 400, 0, 812, 1218).outside);
    EXPECT_EQ(0u, countDots(right.canvas, 0, 0, 400, 1218).outside);
    const auto reverse = onlyLabel("V400,100,U,30,30,0,N,R,N,0,C,0,'ABC'\rP1,1\r");
    EXPECT_GT(reverse.canvas.countDots(), left.canvas.countDots() * 2);
}

TEST(Render, CodePageTextIsDecodedForDrawing) {
    // 0: "한" in CP949 with a Korean device font: drawn, no note
    auto label = onlyLabel("T10,10,c,1,1,0,0,N,N,'\xC7\xD1'\rP1,1\r");
    EXPECT_FALSE(hasDiagnostic(label, "\"source\":\"renderer\"")) << label.transcript;
    EXPECT_GT(label.canvas.countDots(), 50u);
    // 1: bytes that are not CP949 are drawn as replacement characters, with a note
    label = onlyLabel("T10,10,c,1,1,0,0,N,N,'\xFF\xFF'\rP1,1\r");
    EXPECT_TRUE(hasDiagnostic(label, "T: text is not valid CP949")) << label.transcript;
    // 2: the same for the vector fonts' code pages (GB18030 for G)
    label = onlyLabel("V10,10,G,24,24,0,N,N,N,0,L,0,'\xD6\xD0'\rP1,1\r");
    EXPECT_FALSE(hasDiagnostic(label, "\"source\":\"renderer\"")) << label.transcript;
    // 3: UTF-8 that is overlong (a 3-byte "é") or a surrogate (U+DFFF) is not valid
    for (const char *bytes : {"\xE0\x83\xA9", "\xED\xBF\xBF"}) {
        label = onlyLabel(std::string("T10,10,3,1,1,0,0,N,N,'") + bytes + "'\rP1,1\r");
        EXPECT_TRUE(hasDiagnostic(label, "T: text is not valid UTF-8")) << label.transcript;
    }
}

TEST(Render, CommandsThatCannotBeDrawnAreOutlinedAndNamed) {
    struct Row {
        std::string bytes;
        std::string note;
    };
    const Row rows[] = {
        {"T10,10,z,1,1,0,0,N,N,'A'\r", "T: unknown device font; outlined"},                     // 0
        {"V10,10,Z,24,24,0,N,N,N,0,L,0,'A'\r", "V: unknown vector font Z; outlined"},          // 1
        {"B110,10,42,2,6,50,0,0,'A'\r", "B1: unknown type 42; outlined"},                        // 2
        {"B110,10,7,2,6,50,0,0,'NOT DIGITS'\r", "B1: EAN-13 not drawn"},                         // 3
        {"B210,10,M,2,'no postcode'\r", "B2: MaxiCode not drawn"},                               // 4
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        const auto label = onlyLabel(rows[i].bytes + "P1,1\r");
        EXPECT_TRUE(hasDiagnostic(label, rows[i].note)) << "row " << i << ": " << label.transcript;
        // The outline's corner.
        EXPECT_TRUE(label.canvas.at(10, 10)) << "row " << i;
        EXPECT_TRUE(label.canvas.at(10 + 159, 10 + 47)) << "row " << i;
    }
}

TEST(Render, EveryBarcodeFamilyDrawsItsSymbol) {
    const char *const commands[] = {
        "B110,10,0,2,6,80,0,0,'CODE39'\r",          // 0
        "B110,10,1,2,6,80,0,1,'Code 128'\r",        // 1
        "B110,10,7,2,6,80,0,1,'5901234123457'\r",   // 2
        "B110,10,9,2,6,80,0,0,'(01)09501101530003'\r",  // 3
        "B210,10,M,4,'MAXICODE'\r",                 // 4
        "B210,10,P,10,4,2,0,0,1,2,6,0,'PDF'\r",     // 5
        "B210,10,Q,2,M,3,0,'QR'\r",                 // 6
        "B210,10,D,3,R,0,'DM'\r",                   // 7
        "B210,10,A,3,0,0,0,15,0,0,'AZTEC'\r",       // 8
        "B210,10,F,2,4,20,1,0,0,'CODE49'\r",        // 9
        "B210,10,C,2,4,20,1,30,F,4,0,'CODABLOCK'\r",  // 10
        "B210,10,B,2,6,0,0,'MICRO'\r",              // 11
        "B310,10,R,5,2,2,0,4,0,'(01)98898765432106(3202)012345'\r",  // 12
        "B310,10,R,0,2,1,0,0,0,'(01)09501101530003'\r",  // 13
    };
    for (size_t i = 0; i < std::size(commands); ++i) {
        const auto label = onlyLabel(std::string(commands[i]) + "P1,1\r");
        EXPECT_FALSE(hasDiagnostic(label, "\"source\":\"renderer\"")) << "row " << i << ": " << label.transcript;
        EXPECT_GT(label.canvas.countDots(), 200u) << "row " << i;
        EXPECT_EQ(0u, countDots(label.canvas, 10, 10, 812, 1218).outside) << "row " << i;
    }
}

TEST(Render, TranscriptsAreValidJsonForAnyBytes) {
    // The checker itself: a raw control byte, a bad escape, invalid UTF-8 and
    // a trailing comma are refused.
    EXPECT_TRUE(JsonChecker(R"({"a":[1,-2.5e3,"\u00ff\n"],"b":true})").valid());
    for (const char *bad : {"{\"a\":\"\x01\"}", R"({"a":"\x"})", "{\"a\":\"\xC3\x28\"}", "[1,]"})
        EXPECT_FALSE(JsonChecker(bad).valid()) << bad;
    std::string every;
    for (int c = 0; c < 256; ++c)
        every.push_back(static_cast<char>(c));  // holds ' and CR, never ' directly before CR
    const std::string hostile[] = {
        // 0: every byte value as text and barcode data
        "T1,2,3,1,1,0,0,N,N,'" + every + "'\rV1,2,U,9,9,0,N,N,N,0,L,0,'" + every + "'\rB11,2,1,2,6,50,0,1,'" +
            every + "'\rB21,2,Q,2,M,3,0,'" + every + "'\rP1,1\r",
        // 1: letter fields holding a quote, a backslash, control and high bytes
        "V1,2,\",9,9,0,N,N,N,0,L,0,'A'\rBD0,0,5,5,\\\rSO\x01\rT1,2,\xFF,1,1,0,0,N,N,'A'\r"
        "B21,2,C,2,4,20,1,30,\x7F,4,0,'A'\rSO\xC3\rP1,1\r",
        // 2: unknown commands and bad fields with quotes, backslashes, invalid UTF-8
        "\x01\"\\\x7F\xC3\x28\rP\"1,1\rCD1,2,\xE2\x82,4\rSW\\u0000\r\xF0\x9F\x98\rP1,1\r",
        // 3: commands left incomplete at the end
        "BD1,1,5,5,O\rV1,2,U,9,9,0,N,N,N,0,L,0,'\"\\\x80",
    };
    std::vector<std::string> streams(std::begin(hostile), std::end(hostile));
    std::mt19937 random(5);
    const std::string pieces[] = {"P1,1\r", "T1,2,3,1,1,0,0,N,N,'", "'\r", "\r", ",", "LCR\x00", "B2", "V"};
    for (int round = 0; round < 100; ++round) {
        std::string stream;
        while (stream.size() < 300)
            stream += random() % 3 == 0 ? pieces[random() % std::size(pieces)]
                                        : std::string(1, static_cast<char>(random()));
        streams.push_back(stream);
    }
    for (size_t i = 0; i < streams.size(); ++i) {
        const auto labels = labelsOf(streams[i], true);
        if (i < std::size(hostile)) {
            ASSERT_FALSE(labels.empty()) << "stream " << i;
        }
        for (const auto &label : labels) {
            JsonChecker checker(label.transcript);
            EXPECT_TRUE(checker.valid()) << "stream " << i << ", label " << label.number << ", at byte "
                                         << checker.where() << ": " << label.transcript;
        }
    }
}

}  // namespace

namespace {

// A canvas's dots cut to their bounding box, and where the box was.
struct Cut {
    int x = 0, y = 0;
    Canvas dots;
};
Cut cut(const Canvas &canvas) {
    int x0 = canvas.width(), y0 = canvas.height(), x1 = -1, y1 = -1;
    const uint8_t *dots = canvas.dots().data();
    for (int y = 0; y < canvas.height(); ++y)
        for (int x = 0; x < canvas.width(); ++x)
            if (*dots++) {
                x0 = std::min(x0, x);
                y0 = std::min(y0, y);
                x1 = std::max(x1, x);
                y1 = std::max(y1, y);
            }
    Cut out;
    if (x1 < 0)
        return out;
    out.x = x0;
    out.y = y0;
    out.dots = Canvas(x1 - x0 + 1, y1 - y0 + 1);
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x)
            if (canvas.at(x, y))
                out.dots.set(x - x0, y - y0);
    return out;
}

// The renderer's notes of a label's transcript, one per line.
std::string rendererNotes(const render::LabelOutput &label) {
    std::string out;
    for (size_t at = label.transcript.find("\"source\":\"renderer\""); at != std::string::npos;
         at = label.transcript.find("\"source\":\"renderer\"", at + 1))
        out += label.transcript.substr(at, label.transcript.find('}', at) - at) + "\n";
    return out;
}

enum class Relation { Same, Differs, Turned, Scaled, Tall, Wider };

struct FieldRow {
    FieldRow(std::string base, std::string variant, Relation relation, int a = 0, int b = 0, std::string note = {})
        : base(std::move(base)), variant(std::move(variant)), relation(relation), a(a), b(b), note(std::move(note)) {}
    std::string base, variant;
    Relation relation;
    int a, b;  // Turned: quarter turns; Scaled: x and y factors; Tall: the variant's height; Wider: extra dots
    std::string note;  // the variant's renderer note, or empty for none
};

// Draws both commands on a large label and checks how the variant's picture
// relates to the base's.
void checkRows(const std::vector<FieldRow> &rows) {
    const std::string paper = "SW2400\rSL2400,0,G,0\r";
    for (size_t i = 0; i < rows.size(); ++i) {
        const FieldRow &row = rows[i];
        const auto base = onlyLabel(paper + row.base + "\rP1,1\r");
        const auto variant = onlyLabel(paper + row.variant + "\rP1,1\r");
        const Cut a = cut(base.canvas), b = cut(variant.canvas);
        ASSERT_FALSE(a.dots.empty()) << "row " << i << ": " << base.transcript;
        ASSERT_FALSE(b.dots.empty()) << "row " << i << ": " << variant.transcript;
        if (row.note.empty()) {
            EXPECT_EQ("", rendererNotes(base)) << "row " << i;
            EXPECT_EQ("", rendererNotes(variant)) << "row " << i;
        } else {
            EXPECT_NE(std::string::npos, rendererNotes(variant).find(row.note)) << "row " << i << ": "
                                                                               << rendererNotes(variant);
        }
        switch (row.relation) {
        case Relation::Same: EXPECT_TRUE(base.canvas == variant.canvas) << "row " << i; break;
        case Relation::Differs: EXPECT_FALSE(base.canvas == variant.canvas) << "row " << i; break;
        case Relation::Turned: EXPECT_TRUE(a.dots.rotated(row.a) == b.dots) << "row " << i; break;
        case Relation::Scaled:
            EXPECT_EQ(a.dots.width() * row.a, b.dots.width()) << "row " << i;
            EXPECT_EQ(a.dots.height() * row.b, b.dots.height()) << "row " << i;
            break;
        case Relation::Tall: EXPECT_EQ(row.a, b.dots.height()) << "row " << i; break;
        case Relation::Wider: EXPECT_EQ(a.dots.width() + row.a, b.dots.width()) << "row " << i; break;
        }
    }
}

TEST(Render, TwoDimensionalBarcodeFieldsAreUsedAsDocumented) {
    using R = Relation;
    const std::string qr = "B2100,100,Q,2,M,2,0,'VREN QR'", dm = "B2100,100,D,2,N,0,'VREN DM'",
                      aztec = "B2100,100,A,2,0,0,0,15,0,0,'VREN AZTEC'",
                      pdf = "B2100,100,P,10,4,2,0,0,1,3,10,0,'VREN PDF'", c49 = "B2100,100,F,2,4,20,1,0,0,'VREN 49'",
                      cbf = "B2100,100,C,2,4,20,1,30,F,4,0,'VREN CODABLOCK F SAMPLE'",
                      micro = "B2100,100,B,2,6,0,0,'VREN MICRO'", bar = "B3100,100,R,0,2,1,0,0,0,'(01)09501101530003'",
                      expanded = "'(01)98898765432106(3202)012345(15)991231'";
    const std::vector<FieldRow> rows = {
        // QR Code: 5 level, 6 module size, 7 rotation; 4 unused
        {qr, "B2100,100,Q,1,M,2,0,'VREN QR'", R::Same},                                          // 0
        {qr, "B2100,100,Q,2,H,2,0,'VREN QR'", R::Differs},                                       // 1
        {qr, "B2100,100,Q,2,M,4,0,'VREN QR'", R::Scaled, 2, 2},                                  // 2
        {"B2100,100,Q,2,M,4,0,'VREN QR'", "B2100,100,Q,2,M,0,0,'VREN QR'", R::Same, 0, 0, "module size 0 drawn as 4"},  // 3
        {qr, "B2100,100,Q,2,M,2,1,'VREN QR'", R::Turned, 1},                                     // 4
        {qr, "B2100,100,Q,2,M,2,9,'VREN QR'", R::Same, 0, 0, "rotation 9 drawn as 0"},           // 5
        {"B2100,100,Q,2,L,2,0,'VREN QR'", "B2100,100,Q,2,X,2,0,'VREN QR'", R::Same, 0, 0,
         "error-correction level X drawn as L"},                                                  // 6
        // Data Matrix: 4 module size, 5 shape, 6 rotation
        {dm, "B2100,100,D,4,N,0,'VREN DM'", R::Scaled, 2, 2},                                    // 7
        {dm, "B2100,100,D,11,N,0,'VREN DM'", R::Same, 0, 0, "module size 11 drawn as 2"},         // 8
        {"B2100,100,D,2,N,0,'12345678901234567890'", "B2100,100,D,2,R,0,'12345678901234567890'", R::Tall, 32},  // 9: 8 x 32 modules
        {dm, "B2100,100,D,2,Z,0,'VREN DM'", R::Same, 0, 0, "shape Z drawn as N"},                 // 10
        {dm, "B2100,100,D,2,N,3,'VREN DM'", R::Turned, 3},                                       // 11
        // Aztec: 4 module size, 6 error correction in percent, 10 rotation; 5, 7, 8, 9 unused
        {aztec, "B2100,100,A,2,1,0,1,3,77,0,'VREN AZTEC'", R::Same},                             // 12
        {aztec, "B2100,100,A,4,0,0,0,15,0,0,'VREN AZTEC'", R::Scaled, 2, 2},                     // 13
        {aztec, "B2100,100,A,2,0,50,0,15,0,0,'VREN AZTEC'", R::Differs},                         // 14
        {aztec, "B2100,100,A,2,0,101,0,15,0,0,'VREN AZTEC'", R::Same, 0, 0,
         "error correction 101 drawn as zint's default"},                                         // 15
        {aztec, "B2100,100,A,2,0,0,0,15,0,1,'VREN AZTEC'", R::Turned, 1},                        // 16
        // PDF417: 4 rows, 5 columns, 6 level, 7 truncated, 10 module width, 11 row height, 12 rotation
        {pdf, "B2100,100,P,20,4,2,0,0,1,3,10,0,'VREN PDF'", R::Differs},                         // 17
        {"B2100,100,P,91,4,2,0,0,1,3,10,0,'VREN PDF'", "B2100,100,P,2,4,2,0,0,1,3,10,0,'VREN PDF'", R::Same, 0, 0,
         "rows 2 drawn as zint's choice"},                                                        // 18
        {pdf, "B2100,100,P,10,2,2,0,0,1,3,10,0,'VREN PDF'", R::Differs},                         // 19
        {pdf, "B2100,100,P,10,4,5,0,0,1,3,10,0,'VREN PDF'", R::Differs, 0, 0,
         "PDF417: Warning 746: Rows increased from 10 to 18"},                                    // 20: zint's warning
        {pdf, "B2100,100,P,10,4,2,1,0,1,3,10,0,'VREN PDF'", R::Differs},                         // 21
        {pdf, "B2100,100,P,10,4,2,0,1,0,3,10,0,'VREN PDF'", R::Same},                            // 22
        {pdf, "B2100,100,P,10,4,2,0,0,1,6,10,0,'VREN PDF'", R::Scaled, 2, 1},                    // 23
        {pdf, "B2100,100,P,10,4,2,0,0,1,3,20,0,'VREN PDF'", R::Scaled, 1, 2},                    // 24
        {pdf, "B2100,100,P,10,4,2,0,0,1,0,10,0,'VREN PDF'", R::Same, 0, 0, "module width 0 drawn as 3"},  // 25
        {pdf, "B2100,100,P,10,4,2,0,0,1,3,10,2,'VREN PDF'", R::Turned, 2},                       // 26
        // Code 49: 4 module width, 6 row height, 9 rotation; 5, 7, 8 unused
        {c49, "B2100,100,F,2,9,20,0,2,0,'VREN 49'", R::Same},                                    // 27
        {c49, "B2100,100,F,4,4,20,1,0,0,'VREN 49'", R::Scaled, 2, 1},                            // 28
        {c49, "B2100,100,F,2,4,40,1,0,0,'VREN 49'", R::Scaled, 1, 2},                            // 29
        {c49, "B2100,100,F,0,4,20,1,0,0,'VREN 49'", R::Same, 0, 0, "module width 0 drawn as 2"},  // 30
        {c49, "B2100,100,F,2,4,20,1,0,1,'VREN 49'", R::Turned, 1},                               // 31
        // Codablock F: 4 module width, 6 row height, 8 columns, 9 mode; 5, 7, 10, 11 unused
        {cbf, "B2100,100,C,2,9,20,0,30,F,2,7,'VREN CODABLOCK F SAMPLE'", R::Same},               // 32
        {cbf, "B2100,100,C,4,4,20,1,30,F,4,0,'VREN CODABLOCK F SAMPLE'", R::Scaled, 2, 1},       // 33
        {cbf, "B2100,100,C,2,4,40,1,30,F,4,0,'VREN CODABLOCK F SAMPLE'", R::Scaled, 1, 2},       // 34
        {cbf, "B2100,100,C,2,4,20,1,10,F,4,0,'VREN CODABLOCK F SAMPLE'", R::Differs},            // 35
        {"B2100,100,C,2,4,20,1,70,F,4,0,'VREN CODABLOCK F SAMPLE'",
         "B2100,100,C,2,4,20,1,5,F,4,0,'VREN CODABLOCK F SAMPLE'", R::Same, 0, 0, "columns 5 drawn as zint's choice"},  // 36
        {cbf, "B2100,100,C,2,4,20,1,30,E,4,0,'VREN CODABLOCK F SAMPLE'", R::Same, 0, 0,
         "Codablock mode E drawn as Codablock F"},                                                // 37
        // MicroPDF417: 4 module width, 5 row height, 7 rotation; 6 unused
        {micro, "B2100,100,B,2,6,33,0,'VREN MICRO'", R::Same},                                   // 38
        {micro, "B2100,100,B,4,6,0,0,'VREN MICRO'", R::Scaled, 2, 1},                            // 39
        {micro, "B2100,100,B,2,12,0,0,'VREN MICRO'", R::Scaled, 1, 2},                           // 40
        {"B2100,100,B,2,4,0,0,'VREN MICRO'", "B2100,100,B,2,0,0,0,'VREN MICRO'", R::Same, 0, 0,
         "row height 0 drawn as 4"},                                                              // 41
        {micro, "B2100,100,B,2,6,0,1,'VREN MICRO'", R::Turned, 1},                               // 42
        // GS1 DataBar: 4 type, 5 module width, 7 height, 8 segments, 9 rotation; 6 unused
        {bar, "B3100,100,R,0,2,2,0,0,0,'(01)09501101530003'", R::Same},                          // 43
        {bar, "B3100,100,R,0,4,1,0,0,0,'(01)09501101530003'", R::Scaled, 2, 2},                  // 44
        {bar, bar, R::Tall, 66},                                                                  // 45: 33 modules
        {bar, "B3100,100,R,0,2,1,132,0,0,'(01)09501101530003'", R::Tall, 132},                   // 46
        {"B3100,100,R,0,2,1,26,0,0,'(01)09501101530003'", "B3100,100,R,1,2,1,0,0,0,'(01)09501101530003'",
         R::Same},                                                                                // 47: truncated, 13 modules
        {bar, "B3100,100,R,4,2,1,0,0,0,'(01)09501101530003'", R::Tall, 20},                      // 48: limited, 10 modules
        {bar, "B3100,100,R,5,2,1,0,0,0," + expanded, R::Tall, 68},                               // 49: expanded, 34 modules
        {"B3100,100,R,5,2,1,0,0,0," + expanded, "B3100,100,R,9,2,1,0,0,0," + expanded, R::Same, 0, 0,
         "type 9 drawn as 5"},                                                                    // 50
        {"B3100,100,R,2,2,1,0,0,0,'(01)09501101530003'", "B3100,100,R,2,2,1,100,0,0,'(01)09501101530003'",
         R::Same},                                                                                // 51: stacked keeps zint's rows
        {"B3100,100,R,5,2,1,0,0,0," + expanded, "B3100,100,R,5,2,1,0,4,0," + expanded, R::Differs},  // 52
        {"B3100,100,R,5,2,1,0,0,0," + expanded, "B3100,100,R,5,2,1,0,7,0," + expanded, R::Same, 0, 0,
         "segments per row 7 drawn as 0"},                                                        // 53
        {"B3100,100,R,0,1,1,0,0,0,'(01)09501101530003'", "B3100,100,R,0,0,1,0,0,0,'(01)09501101530003'", R::Same, 0,
         0, "module width 0 drawn as 1"},                                                         // 54
        {bar, "B3100,100,R,0,2,1,0,0,1,'(01)09501101530003'", R::Turned, 1},                     // 55
        {bar, "B3100,100,R,0,2,1,-5,0,0,'(01)09501101530003'", R::Same, 0, 0, "height -5 drawn as 66"},  // 56
        {bar, "B3100,100,R,0,2,1,0,0,0,'[01]09501101530003'", R::Same},                          // 57
        {bar, "B3100,100,R,0,2,1,0,0,0,'09501101530003'", R::Same},                              // 58
        // MaxiCode: 4 mode (2, 3, 5, 6 as given, else 4)
        {"B2100,100,M,4,'VREN MAXI'", "B2100,100,M,0,'VREN MAXI'", R::Same},                     // 59
        {"B2100,100,M,4,'VREN MAXI'", "B2100,100,M,6,'VREN MAXI'", R::Differs},                  // 60
        {"B2100,100,M,4,'VREN MAXI'", "B2100,100,M,5,'VREN MAXI'", R::Differs},                  // 61
        {"B2100,100,Q,2,M,2,0,'VREN QR'", "B2100,100,Q,2,Q,2,0,'VREN QR'", R::Differs},          // 62: Q is not M
        // The edges of the ranges: kept as given, with no note
        {"B2100,100,A,2,0,23,0,15,0,0,'VREN AZTEC'", "B2100,100,A,2,0,11,0,15,0,0,'VREN AZTEC'", R::Same},  // 63: 23 %
        {"B2100,100,A,2,0,24,0,15,0,0,'VREN AZTEC'", "B2100,100,A,2,0,36,0,15,0,0,'VREN AZTEC'", R::Same},  // 64: 36 %
        {"B2100,100,P,3,4,0,0,0,1,3,10,0,'VREN PDF'", "B2100,100,P,3,4,0,0,0,1,6,10,0,'VREN PDF'", R::Scaled,
         2, 1},                                                                                   // 65: 3 rows
        {"B2100,100,C,2,4,20,1,67,F,4,0,'VREN CODABLOCK F SAMPLE'",
         "B2100,100,C,2,4,20,1,9,F,4,0,'VREN CODABLOCK F SAMPLE'", R::Differs},                     // 66: 67 and 9 columns
    };
    checkRows(rows);
}

}  // namespace

namespace {

// zint's module grid for `data`, each module `module` dots wide and each row
// `height` dots high: what a one-dimensional symbol must look like.
Canvas zintBars(int symbology, const std::string &data, int module, int height, int inputMode = -1) {
    zint_symbol *symbol = ZBarcode_Create();
    symbol->symbology = symbology;
    if (inputMode >= 0)
        symbol->input_mode = inputMode;
    const int result =
        ZBarcode_Encode(symbol, reinterpret_cast<const unsigned char *>(data.data()), static_cast<int>(data.size()));
    EXPECT_LT(result, ZINT_ERROR) << symbology << " " << data << ": " << symbol->errtxt;
    Canvas canvas(symbol->width * module, symbol->rows * height);
    for (int row = 0; row < symbol->rows; ++row)
        for (int column = 0; column < symbol->width; ++column)
            if ((symbol->encoded_data[row][column >> 3] >> (column & 7)) & 1)
                canvas.fill(column * module, row * height, (column + 1) * module, (row + 1) * height);
    ZBarcode_Delete(symbol);
    return canvas;
}

TEST(Render, LinearBarcodeTypesFollowTheTable) {
    struct Row {
        int type;
        std::string data;
        int symbology;        // zint's symbology the type stands for
        std::string encoded;  // the data zint is to encode, when it differs
    };
    const int gs1 = GS1_MODE | GS1PARENS_MODE;
    const Row rows[] = {
        {0, "CODE39", BARCODE_CODE39, ""},                       // 0
        {1, "Code 128", BARCODE_CODE128, ""},                    // 1
        {2, "12345678", BARCODE_C25INTER, ""},                   // 2
        {3, "A12345B", BARCODE_CODABAR, ""},                     // 3
        {4, "CODE93", BARCODE_CODE93, ""},                       // 4
        {5, "01234567890", BARCODE_UPCA, ""},                    // 5
        {6, "123456", BARCODE_UPCE, ""},                         // 6
        {7, "590123412345", BARCODE_EANX, ""},                   // 7
        {8, "1234567", BARCODE_EANX, ""},                        // 8
        {9, "(01)09501101530003", BARCODE_GS1_128, ""},          // 9
        {10, "12345", BARCODE_CODE11, ""},                       // 10
        {11, "12345", BARCODE_MSI_PLESSEY, ""},                  // 11
        {12, "12345", BARCODE_C25IND, ""},                       // 12
        {13, "12345", BARCODE_C25STANDARD, ""},                  // 13
        {14, "LOGMARS", BARCODE_LOGMARS, ""},                    // 14
        {15, "Code39ext", BARCODE_EXCODE39, ""},                 // 15
        {16, "1234567890123", BARCODE_ITF14, ""},                // 16
        // EAN-13 and EAN-8 whatever the data's length: short data padded
        {7, "1234567", BARCODE_EANX, "000001234567"},            // 17: zint alone: EAN-8
        {7, "12345", BARCODE_EANX, "000000012345"},              // 18: zint alone: EAN-5
        {7, "1234567+12", BARCODE_EANX, "000001234567+12"},      // 19: with an add-on
        {8, "12345", BARCODE_EANX, "0012345"},                   // 20: zint alone: EAN-5
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        const Row &row = rows[i];
        const auto label = onlyLabel("SW2400\rSL400,0,G,0\rB1100,100," + std::to_string(row.type) + ",3,6,50,0,0,'" +
                                     row.data + "'\rP1,1\r");
        EXPECT_EQ("", rendererNotes(label)) << "row " << i;
        const Cut drawn = cut(label.canvas);
        const Cut expected = cut(zintBars(row.symbology, row.encoded.empty() ? row.data : row.encoded, 3, 50,
                                          row.type == 9 ? gs1 : -1));
        EXPECT_TRUE(drawn.dots == expected.dots) << "row " << i << ": " << drawn.dots.width() << " x "
                                                 << drawn.dots.height() << " dots, expected "
                                                 << expected.dots.width() << " x " << expected.dots.height();
        EXPECT_EQ(100 + expected.x, drawn.x) << "row " << i;
        EXPECT_EQ(100, drawn.y) << "row " << i;
    }
}

TEST(Render, LinearBarcodeFields) {
    using R = Relation;
    const std::string base = "B1100,100,1,2,6,80,0,0,'VREN'";
    const std::vector<FieldRow> rows = {
        {base, "B1100,100,1,2,9,80,0,0,'VREN'", R::Same},                                        // 0: wide unused
        {base, "B1100,100,1,4,6,80,0,0,'VREN'", R::Scaled, 2, 1},                                // 1: narrow
        {base, "B1100,100,1,2,6,160,0,0,'VREN'", R::Scaled, 1, 2},                               // 2: height
        {base, "B1100,100,1,0,6,80,0,0,'VREN'", R::Same, 0, 0, "narrow width or height out of range, drawn as 2 and 80"},  // 3
        {"B1100,100,1,2,6,100,0,0,'VREN'", "B1100,100,1,2,6,4001,0,0,'VREN'", R::Same, 0, 0,
         "drawn as 2 and 100"},                                                                   // 4
        {base, "B1100,100,1,2,6,80,3,0,'VREN'", R::Turned, 3},                                   // 5
        {base, "B1100,100,1,2,6,80,4,0,'VREN'", R::Same, 0, 0, "rotation 4 drawn as 0"},         // 6
        {base, "B1100,100,1,2,6,80,0,1,'VREN'", R::Differs},                                     // 7: readable
        {"B1100,100,1,2,6,80,0,1,'VREN'", "B1100,100,1,2,6,80,0,-7,'VREN'", R::Same},            // 8: any non-zero
    };
    checkRows(rows);
    // Readable text: the bars unchanged on top, zint's text centred below
    // them in a 20-dot em.
    const auto plain = onlyLabel(base + "\rP1,1\r");
    const auto readable = onlyLabel("B1100,100,1,2,6,80,0,1,'VREN'\rP1,1\r");
    const Cut bars = cut(plain.canvas), all = cut(readable.canvas);
    EXPECT_EQ(bars.x, all.x);
    EXPECT_EQ(bars.dots.width(), all.dots.width());
    EXPECT_GT(all.dots.height(), 80 + 10);
    EXPECT_LT(all.dots.height(), 80 + 2 + 26);
    for (int y = 0; y < 80; ++y)
        for (int x = 0; x < bars.dots.width(); ++x)
            ASSERT_EQ(bars.dots.at(x, y), all.dots.at(x, y)) << x << ", " << y;
    const Cut text = cut([&] {
        Canvas below(all.dots.width(), all.dots.height() - 80);
        below.draw(all.dots, 0, -80);
        return below;
    }());
    EXPECT_LE(std::abs(text.x - (all.dots.width() - text.x - text.dots.width())), 1) << "text centred";
    // EAN-8 data of more than 8 digits (9 is the first such) is not drawn.
    const auto label = onlyLabel("B110,10,8,2,6,80,0,0,'590123412'\rP1,1\r");
    EXPECT_TRUE(hasDiagnostic(label, "B1: EAN-8 not drawn: more than 8 digits; outlined")) << label.transcript;
    EXPECT_TRUE(label.canvas.at(10 + 159, 10 + 47));  // the outline is 160 x 48 dots
    EXPECT_FALSE(label.canvas.at(10 + 160, 10 + 47));
    EXPECT_FALSE(label.canvas.at(10 + 159, 10 + 48));
}

}  // namespace

namespace {

// `text` (UTF-8) in the code page `encoding`.
std::string encoded(const std::string &text, const char *encoding) {
    iconv_t cd = iconv_open(encoding, "UTF-8");
    EXPECT_NE(reinterpret_cast<iconv_t>(-1), cd) << encoding;
    std::string out(4 * text.size() + 8, '\0');
    char *in = const_cast<char *>(text.data());
    size_t inLeft = text.size();
    char *to = out.data();
    size_t toLeft = out.size();
    EXPECT_NE(static_cast<size_t>(-1), iconv(cd, &in, &inLeft, &to, &toLeft)) << encoding;
    iconv_close(cd);
    out.resize(out.size() - toLeft);
    return out;
}

TEST(Render, DeviceFontsFollowTheTable) {
    // Numbered fonts and g, h, i, k, l: DejaVu Sans Mono (bold: Mono Bold) at
    // the table's em, that is the vector font b at that size.
    struct Row {
        std::string font;
        int em;
    };
    const Row mono[] = {{"0", 12}, {"1", 16}, {"2", 20}, {"3", 24}, {"4", 32}, {"5", 40}, {"6", 48}, {"7", 56},
                        {"8", 64}, {"9", 80}, {"g", 24}, {"h", 32}, {"i", 48}, {"k", 24}, {"l", 32}};
    for (const Row &row : mono) {
        for (const char *bold : {"N", "B"}) {
            const auto device = onlyLabel("T100,100," + row.font + ",1,1,0,0,N," + bold + ",'Ag1 \xC3\xA9'\rP1,1\r");
            const std::string em = std::to_string(row.em);
            const auto vector =
                onlyLabel("V100,100,b," + em + "," + em + ",0," + bold + ",N,N,0,L,0,'Ag1 \xC3\xA9'\rP1,1\r");
            EXPECT_GT(device.canvas.countDots(), 20u) << row.font;
            EXPECT_TRUE(device.canvas == vector.canvas) << "font " << row.font << ", bold " << bold;
        }
    }
    // Multipliers scale the em's width and height.
    EXPECT_TRUE(onlyLabel("T100,100,3,2,3,0,0,N,N,'Ag'\rP1,1\r").canvas ==
                onlyLabel("V100,100,b,48,72,0,N,N,N,0,L,0,'Ag'\rP1,1\r").canvas);
    EXPECT_TRUE(onlyLabel("T100,100,0,9,9,0,0,N,N,'Ag'\rP1,1\r").canvas ==
                onlyLabel("V100,100,b,108,108,0,N,N,N,0,L,0,'Ag'\rP1,1\r").canvas);  // 9 is the largest
    EXPECT_TRUE(onlyLabel("T100,100,3,0,10,0,0,N,N,'Ag'\rP1,1\r").canvas ==
                onlyLabel("T100,100,3,1,1,0,0,N,N,'Ag'\rP1,1\r").canvas);

    // Lettered CJK fonts: WenQuanYi Micro Hei at the table's em, text in the
    // table's code page; drawn as the same characters in UTF-8 are drawn by
    // the vector font U, which takes them from WenQuanYi Micro Hei.
    struct CjkRow {
        std::string font;
        int em;
        const char *encoding;
        std::string text;  // UTF-8
    };
    const std::string korean = "\xED\x95\x9C\xEB\x98\xA0";  // a KS X 1001 syllable and one of CP949's extension
    const CjkRow cjk[] = {
        {"a", 16, "CP949", korean}, {"b", 20, "CP949", korean}, {"c", 24, "CP949", korean},
        {"d", 32, "CP949", korean}, {"e", 40, "CP949", korean}, {"f", 48, "CP949", korean},
        {"j", 24, "CP932", "\xE3\x83\xA9\xE3\x83\x99\xE3\x83\xAB"},
        {"m", 24, "GB18030", "\xE6\xA0\x87\xE7\xAD\xBE"},
        {"n", 24, "CP950", "\xE6\xA8\x99\xE7\xB1\xA4"},
    };
    for (const CjkRow &row : cjk) {
        for (const char *bold : {"N", "B"}) {
            const auto device = onlyLabel("T100,100," + row.font + ",1,1,0,0,N," + bold + ",'" +
                                          encoded(row.text, row.encoding) + "'\rP1,1\r");
            const std::string em = std::to_string(row.em);
            const auto vector =
                onlyLabel("V100,100,U," + em + "," + em + ",0," + bold + ",N,N,0,L,0,'" + row.text + "'\rP1,1\r");
            EXPECT_EQ("", rendererNotes(device)) << row.font;
            const Cut a = cut(device.canvas), b = cut(vector.canvas);
            EXPECT_GT(a.dots.countDots(), 20u) << row.font;
            EXPECT_TRUE(a.dots == b.dots) << "font " << row.font << ", bold " << bold;
        }
    }
    // Bold CJK text is the glyph drawn twice, one dot apart.
    const std::string syllable = encoded("\xED\x95\x9C", "CP949");
    const Cut normal = cut(onlyLabel("T100,100,c,1,1,0,0,N,N,'" + syllable + "'\rP1,1\r").canvas);
    const Cut bold = cut(onlyLabel("T100,100,c,1,1,0,0,N,B,'" + syllable + "'\rP1,1\r").canvas);
    Canvas twice(normal.dots.width() + 1, normal.dots.height());
    twice.draw(normal.dots, 0, 0);
    twice.draw(normal.dots, 1, 0);
    EXPECT_TRUE(twice == bold.dots);
    EXPECT_EQ(normal.x, bold.x);
}

TEST(Render, VectorFontsFollowTheTable) {
    const std::string korean = "\xED\x95\x9C\xEB\x98\xA0", japanese = "\xE3\x83\xA9\xE3\x83\x99",
                      simplified = "\xE6\xA0\x87\xE7\xAD\xBE", traditional = "\xE6\xA8\x99\xE7\xB1\xA4";
    // K, B, G, J: WenQuanYi Micro Hei with text in CP949, CP950, GB18030, CP932.
    const std::pair<const char *, std::pair<const char *, std::string>> cjk[] = {
        {"K", {"CP949", korean}}, {"B", {"CP950", traditional}}, {"G", {"GB18030", simplified}},
        {"J", {"CP932", japanese}}};
    for (const auto &[letter, page] : cjk) {
        const auto inPage = onlyLabel(std::string("V100,100,") + letter + ",30,30,0,N,N,N,0,L,0,'" +
                                      encoded(page.second, page.first) + "'\rP1,1\r");
        const auto inUtf8 = onlyLabel("V100,100,U,30,30,0,N,N,N,0,L,0,'" + page.second + "'\rP1,1\r");
        EXPECT_EQ("", rendererNotes(inPage)) << letter;
        EXPECT_TRUE(cut(inPage.canvas).dots == cut(inUtf8.canvas).dots) << letter;
    }
    // U, a and b are three different faces (b, the device fonts' face, is
    // pinned by the device font test).
    const auto face = [](const char *letter) {
        return onlyLabel(std::string("V100,100,") + letter + ",30,30,0,N,N,N,0,L,0,'Regal 1'\rP1,1\r").canvas;
    };
    EXPECT_FALSE(face("U") == face("a"));
    EXPECT_FALSE(face("U") == face("b"));
    EXPECT_FALSE(face("a") == face("b"));

    using R = Relation;
    const std::string base = "V100,100,U,30,40,0,N,N,N,0,L,0,'Hello'";
    const std::vector<FieldRow> rows = {
        {"V100,100,U,40,40,0,N,N,N,0,L,0,'Hello'", "V100,100,U,0,40,0,N,N,N,0,L,0,'Hello'", R::Same},   // 0
        {"V100,100,U,30,30,0,N,N,N,0,L,0,'Hello'", "V100,100,U,30,0,0,N,N,N,0,L,0,'Hello'", R::Same},   // 1
        {"V100,100,U,24,24,0,N,N,N,0,L,0,'Hello'", "V100,100,U,0,0,0,N,N,N,0,L,0,'Hello'", R::Same, 0, 0,
         "no character size; drawn at 24 dots"},                                                     // 2
        {"V100,100,U,1000,1000,0,N,N,N,0,L,0,'Hi'", "V100,100,U,1200,5000,0,N,N,N,0,L,0,'Hi'", R::Same, 0, 0,
         "character size clamped to 1000 dots"},                                                     // 3
        {"V100,100,U,1000,30,0,N,N,N,0,L,0,'Hi'", "V100,100,U,1001,30,0,N,N,N,0,L,0,'Hi'", R::Same, 0, 0,
         "character size clamped to 1000 dots"},                                                     // 4
        {"V100,100,U,30,1000,0,N,N,N,0,L,0,'Hi'", "V100,100,U,30,1001,0,N,N,N,0,L,0,'Hi'", R::Same, 0, 0,
         "character size clamped to 1000 dots"},                                                     // 4a: height alone
        {base, "V100,100,U,30,40,5,N,N,N,0,L,0,'Hello'", R::Wider, 4 * 5},                        // 5: after each but the last
        {"V100,100,U,30,40,0,N,R,N,0,L,0,'Hello'", "V100,100,U,30,40,5,N,R,N,0,L,0,'Hello'", R::Wider, 4 * 5},  // 5a: the box too
        {base, "V100,100,U,30,40,0,N,N,N,0,L,1,'Hello'", R::Same},                                // 6: last option
        {base, "V100,100,U,30,40,0,B,N,N,0,L,0,'Hello'", R::Differs},                             // 7
        {base, "V100,100,U,30,40,0,N,N,I,0,L,0,'Hello'", R::Differs},                             // 8
        {base, "V100,100,U,30,40,0,N,N,N,2,L,0,'Hello'", R::Turned, 2},                           // 9
        {base, "V100,100,U,30,40,0,N,N,N,7,L,0,'Hello'", R::Same, 0, 0, "rotation 7 drawn as 0"},  // 10
    };
    checkRows(rows);
}

TEST(Render, ReverseAndAlignmentOfVectorText) {
    // Reverse: white text on a black box as large as the line; C and R move
    // the box by half or all of its length against the writing direction.
    const auto plain = onlyLabel("V400,300,U,30,30,0,N,N,N,0,L,0,'Ship'\rP1,1\r");
    const auto reverse = onlyLabel("V400,300,U,30,30,0,N,R,N,0,L,0,'Ship'\rP1,1\r");
    const Cut box = cut(reverse.canvas);
    EXPECT_EQ(400, box.x);
    EXPECT_EQ(300, box.y);
    const int length = box.dots.width(), high = box.dots.height();
    EXPECT_GT(length, 40);
    for (int y = 0; y < high; ++y)
        for (int x = 0; x < length; ++x)
            ASSERT_NE(plain.canvas.at(400 + x, 300 + y), box.dots.at(x, y)) << x << ", " << y;
    struct Row {
        char alignment;
        int rotation;
        int x, y;  // the box's top-left corner
    };
    const Row rows[] = {
        {'C', 0, 400 - length / 2, 300},  // 0
        {'R', 0, 400 - length, 300},      // 1
        {'R', 1, 400, 300 - length},      // 2: writing downwards
        {'R', 2, 400 + length, 300},      // 3: writing leftwards
        {'C', 3, 400, 300 + length / 2},  // 4: writing upwards
        {'L', 1, 400, 300},               // 5
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        const auto label = onlyLabel("V400,300,U,30,30,0,N,R,N," + std::to_string(rows[i].rotation) + "," +
                                     rows[i].alignment + ",0,'Ship'\rP1,1\r");
        const Cut turned = cut(label.canvas);
        EXPECT_EQ(rows[i].x, turned.x) << "row " << i;
        EXPECT_EQ(rows[i].y, turned.y) << "row " << i;
        EXPECT_TRUE(box.dots.rotated(rows[i].rotation) == turned.dots) << "row " << i;
    }
    // The box replaces what was below it: the letters stay white on a black
    // block, and a box wholly off the label draws nothing.
    const auto onBlack = onlyLabel("BD0,0,812,1218,O\rV400,300,U,30,30,0,N,R,N,0,L,0,'Ship'\rP1,1\r");
    EXPECT_EQ(box.dots.countDots(), countDots(onBlack.canvas, 400, 300, 400 + length, 300 + high).inside);
    EXPECT_EQ(0u, onlyLabel("V5000,300,U,30,30,0,N,R,N,0,L,0,'Ship'\rP1,1\r").canvas.countDots());
}

TEST(Render, CircleSizesAndRings) {
    const int diameters[] = {24, 48, 72, 96, 128, 160};
    for (int size = 1; size <= 6; ++size) {
        for (int times = 1; times <= 4; ++times) {
            const auto label = onlyLabel("SW800\rSL800,0,G,0\rCD50,60," + std::to_string(size) + "," +
                                         std::to_string(times) + "\rP1,1\r");
            const int d = diameters[size - 1] * times;
            const Cut ring = cut(label.canvas);
            EXPECT_EQ(50, ring.x) << size << " x " << times;
            EXPECT_EQ(60, ring.y) << size << " x " << times;
            EXPECT_EQ(d, ring.dots.width()) << size << " x " << times;
            EXPECT_EQ(d, ring.dots.height()) << size << " x " << times;
            // Across the middle row: a ring 2 x multiplier dots wide each side.
            int left = 0;
            while (ring.dots.at(left, d / 2))
                ++left;
            EXPECT_EQ(2 * times, left) << size << " x " << times;
            EXPECT_FALSE(ring.dots.at(d / 2, d / 2));
        }
    }
}

TEST(Render, BitmapFieldsAreUnsignedAndZeroBitsLeaveTheLabel) {
    // 0: x = 65010 as an unsigned field, moved back onto the label by a
    // margin of -65000 (as a signed field it would be far off the label)
    auto label = onlyLabel(std::string("SW100\rSL50,0,G,0\rSM-65000,0\rLD\xF2\xFD\x05\x00\x01\x00\x01\x00\x80\r", 40) +
                           "P1,1\r");
    EXPECT_TRUE(label.canvas.at(10, 5));
    EXPECT_EQ(1u, label.canvas.countDots());
    // 1, 2: a raster of 0 bits over a black block, raw and compressed: the block stays
    for (const std::string &bitmap : {std::string("LD\x00\x00\x00\x00\x01\x00\x02\x00\x00\x0F\r", 13),
                                      std::string("LCR\x00\x00\x00\x00\x00\x01\x00\x02\x00\x00\x01\x0F\r", 16)}) {
        label = onlyLabel("SW100\rSL50,0,G,0\rBD0,0,8,2,O\r" + bitmap + "P1,1\r");
        EXPECT_EQ(16u, label.canvas.countDots()) << vren::test::hex(bitmap);
    }
}

TEST(Render, ControlCommandsAndSettings) {
    struct Row {
        std::string bytes;
        int width, height;
        size_t dots;       // dots on the label
        int atX, atY;      // a dot that must be printed (-1: none)
    };
    const std::string set = "SW100\rSL50,0,G,0\rSM5,5\rSOB\r";
    const Row rows[] = {
        {set + "BD0,0,2,2,O\rP1,1\r", 100, 50, 4, 94, 44},                      // 0: margin, then turned
        {set + "BD0,0,2,2,O\r~JR\r\nBD0,0,2,2,O\rP1,1\r", 812, 1218, 4, 0, 0},  // 1: ~JR drops, restores
        {set + "BD0,0,2,2,O\r@\rBD0,0,2,2,O\rP1,1\r", 812, 1218, 4, 0, 0},      // 2: @ drops, restores
        {set + "BD0,0,2,2,O\rCB\rBD0,0,3,3,O\rP1,1\r", 100, 50, 9, 94, 44},     // 3: CB drops, keeps settings
        {set + "BD0,0,2,2,O\r~JC\r\n~PH\r\n^cu\r^PI0\r\nP1,1\r", 100, 50, 4, 94, 44},  // 4: change nothing
        {set + "SOT\rBD0,0,2,2,O\rP1,1\r", 100, 50, 4, 5, 5},                   // 5: SOT undoes SOB
        {"SS5\rSD9\rCUTy,3\r\nRWDy\r\nSA5\rTA5\rSTt\rSF1\rSL50,24,B,9\rCS3,4\rSW100\rBD0,0,2,2,O\rP1,1\r", 100, 50, 4,
         0, 0},                                                                  // 6: settings that change nothing
        {"SW8\rSL8,0,G,0\rP1,1\r", 8, 8, 0, -1, -1},                             // 7: smallest paper
        {"SW7\rSL-1,0,G,0\rP1,1\r", 812, 1218, 0, -1, -1},                       // 8: below 8: the default
        {"SW8192\rSL8193,0,G,0\rP1,1\r", 8192, 8192, 0, -1, -1},                 // 9: above 8192: 8192
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        const auto label = onlyLabel(rows[i].bytes);
        EXPECT_EQ(rows[i].width, label.canvas.width()) << "row " << i;
        EXPECT_EQ(rows[i].height, label.canvas.height()) << "row " << i;
        EXPECT_EQ(rows[i].dots, label.canvas.countDots()) << "row " << i;
        if (rows[i].atX >= 0) {
            EXPECT_TRUE(label.canvas.at(rows[i].atX, rows[i].atY)) << "row " << i;
        }
    }
    const auto small = onlyLabel("SW7\rSL-1,0,G,0\rP1,1\r");
    EXPECT_TRUE(hasDiagnostic(small, "SW: paper width 7 out of range, using 812")) << small.transcript;
    EXPECT_TRUE(hasDiagnostic(small, "SL: paper length -1 out of range, using 1218")) << small.transcript;
    EXPECT_TRUE(hasDiagnostic(onlyLabel("SW8193\rP1,1\r"), "SW: paper width 8193 out of range, using 8192"));
}

}  // namespace

namespace {

size_t occurrences(const std::string &text, const std::string &what) {
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++count;
    return count;
}

TEST(Render, RawBytesCutAtTheLimitDoNotTakeTheNextLabelsBytes) {
    const std::string first = "BD0,0,1,1,O\rBD0,0,2,2,O\rP1,1\r", second = "CB\rP1,1\r", rest = "BD0,0,4,4,O\r";
    const std::string stream = first + second + rest;
    // 0: in one piece; 1: a byte at a time
    for (const bool whole : {true, false}) {
        render::Session session({}, render::SessionLimits{16, 100000});
        if (whole) {
            session.feed(stream.data(), stream.size());
        } else {
            for (char c : stream)
                session.feed(&c, 1);
        }
        session.finish(true);
        const auto labels = session.take();
        ASSERT_EQ(3u, labels.size()) << whole;
        EXPECT_BYTES(first.substr(0, 16), labels[0].raw);
        EXPECT_TRUE(hasDiagnostic(labels[0], R"({"offset":16,"source":"printer","message":"raw bytes of the label cut at 16 bytes"})"))
            << labels[0].transcript;
        EXPECT_BYTES(second, labels[1].raw);
        EXPECT_FALSE(hasDiagnostic(labels[1], "cut at")) << labels[1].transcript;
        EXPECT_BYTES(rest, labels[2].raw);
        // Offsets still count from each label's first byte.
        EXPECT_TRUE(hasDiagnostic(labels[1], R"({"offset":3,"length":5,"command":"P")")) << labels[1].transcript;
        EXPECT_EQ(4u, labels[0].canvas.countDots());
        EXPECT_EQ(0u, labels[1].canvas.countDots());
        EXPECT_EQ(16u, labels[2].canvas.countDots());
    }
}

TEST(Render, ATranscriptListsABoundedNumberOfEntries) {
    render::Session session({}, render::SessionLimits{1 << 20, 5});
    std::string stream;
    for (int i = 0; i < 8; ++i)
        stream += "CB\r";
    for (int i = 0; i < 7; ++i)
        stream += "XX\r";
    stream += "P1,1\r";
    // The labels after it start their counts afresh, and a setting's note
    // goes to the label it came before, once.
    stream += "SW0\rP1,1\rP1,1\r";
    session.feed(stream.data(), stream.size());
    session.finish();
    const auto labels = session.take();
    ASSERT_EQ(3u, labels.size());
    EXPECT_EQ(1u, labels[1].diagnostics) << labels[1].transcript;
    EXPECT_EQ(0u, labels[2].diagnostics) << labels[2].transcript;
    const std::string &transcript = labels[0].transcript;
    EXPECT_EQ(5u, occurrences(transcript, "\"command\":\"CB\""));
    EXPECT_EQ(5u, occurrences(transcript, "unknown command"));
    EXPECT_TRUE(hasDiagnostic(labels[0], "4 more commands and 2 more diagnostics are not listed")) << transcript;
    EXPECT_EQ(8u, labels[0].diagnostics);
    EXPECT_TRUE(JsonChecker(transcript).valid());
}

TEST(Render, ALabelThatNeverEndsHoldsABoundedNumberOfCommandsAndNotes) {
    // Drawing commands beyond the limit: the first one dropped is named, once.
    std::string stream;
    for (size_t i = 0; i < render::Renderer::kMaxPending + 2; ++i)
        stream += "BD0,0,1,1,O\r";
    for (size_t i = 0; i < render::Renderer::kMaxStateNotes + 5; ++i)
        stream += "SW0\r";
    const auto label = onlyLabel(stream + "P1,1\r");
    const std::string dropped = "{\"offset\":" + std::to_string(12 * render::Renderer::kMaxPending) +
                                ",\"source\":\"renderer\",\"message\":\"BD: more than 100000 drawing commands in one "
                                "label; this one and the later ones are not drawn\"}";
    EXPECT_EQ(1u, occurrences(label.transcript, dropped));
    EXPECT_EQ(1u, occurrences(label.transcript, "drawing commands in one label"));
    // Notes of settings beyond the limit (the note above is one of them):
    // one more note says so.
    EXPECT_EQ(render::Renderer::kMaxStateNotes - 1, occurrences(label.transcript, "SW: paper width 0 out of range"));
    EXPECT_EQ(1u, occurrences(label.transcript, "more notes of settings before this label are not listed"));
}

}  // namespace

namespace {

TEST(Render, PicturesAreOneBitAt203DotsPerInchWithoutTimeStamp) {
    Canvas canvas(13, 5);
    canvas.set(0, 0);
    canvas.set(12, 4);
    const std::string png = render::encodePng(canvas);
    ASSERT_GT(png.size(), 8u);
    EXPECT_EQ(std::string("\x89PNG\r\n\x1A\n", 8), png.substr(0, 8));
    const auto word = [&](size_t at) {
        return static_cast<uint32_t>(static_cast<unsigned char>(png[at]) << 24 |
                                     static_cast<unsigned char>(png[at + 1]) << 16 |
                                     static_cast<unsigned char>(png[at + 2]) << 8 | static_cast<unsigned char>(png[at + 3]));
    };
    std::vector<std::string> chunks;
    for (size_t at = 8; at + 8 <= png.size();) {
        const uint32_t length = word(at);
        const std::string type = png.substr(at + 4, 4);
        chunks.push_back(type);
        if (type == "IHDR") {
            EXPECT_EQ(13u, word(at + 8));
            EXPECT_EQ(5u, word(at + 12));
            EXPECT_EQ(1, png[at + 16]) << "bit depth";
            EXPECT_EQ(0, png[at + 17]) << "greyscale";
        }
        if (type == "pHYs") {
            EXPECT_EQ(7992u, word(at + 8));  // 203 dots per inch, in dots per metre
            EXPECT_EQ(7992u, word(at + 12));
            EXPECT_EQ(1, png[at + 16]) << "unit: metre";
        }
        at += 12 + length;
    }
    EXPECT_EQ((std::vector<std::string>{"IHDR", "pHYs", "IDAT", "IEND"}), chunks);
    EXPECT_EQ(png, render::encodePng(canvas));
    // A picture the disk did not take is not reported as written (the bytes
    // fit the stream's buffer: only closing the file finds the error).
    std::string error;
    EXPECT_FALSE(render::writePng(canvas, "/dev/full", &error));
    EXPECT_EQ("cannot write /dev/full", error);
}

}  // namespace

namespace {

TEST(Render, LabelsDoNotDependOnHowTheStreamIsSplit) {
    // Every golden capture, with trailing bytes for an unprinted label, fed
    // whole, a byte at a time and in pieces of varying size.
    std::string all;
    for (const char *name : {"text_device", "text_vector", "graphics", "barcode_1d", "barcode_2d",
                             "barcode_stacked", "settings", "bitmap", "control"}) {
        std::ifstream file(std::string(VREN_SOURCE_DIR) + "/tests/golden/" + name + ".bin", std::ios::binary);
        std::stringstream bytes;
        bytes << file.rdbuf();
        ASSERT_FALSE(bytes.str().empty()) << name;
        all += bytes.str();
    }
    all += "XX\rBD0,0,9,9,O\rT1,2,3,1,1,0,0,N,N,'cut";
    const auto feed = [&](size_t (*piece)(size_t)) {
        render::Session session;
        for (size_t at = 0, i = 0; at < all.size(); ++i) {
            const size_t size = std::min(all.size() - at, piece(i));
            session.feed(all.data() + at, size);
            at += size;
        }
        session.finish(true);
        return session.take();
    };
    const auto whole = feed([](size_t) { return std::numeric_limits<size_t>::max(); });
    ASSERT_EQ(10u, whole.size());
    for (auto piece : {+[](size_t) -> size_t { return 1; }, +[](size_t i) -> size_t { return 1 + (i * 7919) % 300; }}) {
        const auto split = feed(piece);
        ASSERT_EQ(whole.size(), split.size());
        for (size_t i = 0; i < whole.size(); ++i) {
            EXPECT_EQ(whole[i].transcript, split[i].transcript) << "label " << i;
            EXPECT_BYTES(whole[i].raw, split[i].raw);
            EXPECT_TRUE(whole[i].canvas == split[i].canvas) << "label " << i;
        }
    }
}

}  // namespace

namespace {

TEST(Render, BlockThickness) {
    using R = Relation;
    const std::string note = "thickness missing or out of range, drawn as 1";
    const std::vector<FieldRow> rows = {
        {"BD10,10,50,50,B,1", "BD10,10,50,50,B,0", R::Same, 0, 0, note},       // 0
        {"BD10,10,50,50,B,1", "BD10,10,50,50,B,1001", R::Same, 0, 0, note},    // 1
        {"BD10,10,50,50,S,1", "BD10,10,50,50,S", R::Same, 0, 0, note},         // 2
        {"BD10,10,2200,2200,B,1000", "BD10,10,2200,2200,B,999", R::Differs},   // 3: 1000 is in range
        {"BD10,10,50,50,O", "BD10,10,50,50,O,7", R::Same},                     // 4: O, E, D take none
        {"BD10,10,50,50,E", "BD10,10,50,50,O", R::Same},                       // 5: E on a blank label
    };
    checkRows(rows);
}

}  // namespace
