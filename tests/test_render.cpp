// The renderer: drawing of each command family from exact command bytes,
// pixel-exact where no font or symbol encoder is involved.
#include <gtest/gtest.h>

#include <cctype>
#include <random>
#include <string>

#include "bytes.h"
#include "parser.h"
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
