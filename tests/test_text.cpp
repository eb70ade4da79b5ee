// Text commands in device and vector fonts, and the conversion of their text
// to the printer's code pages.
#include <dlfcn.h>
#include <iconv.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "command_rows.h"
#include "fake_write.h"
#include "log_records.h"
#include "memory_limit.h"

namespace {

// While set, the converter is refused as it is on a system that lacks the
// code page (see iconv_open below).
std::atomic<bool> gConvertersMissing{false};

// Converters opened and closed by the library, counted by iconv_open and
// iconv_close below.
std::atomic<int> gConvertersOpened{0};
std::atomic<int> gConvertersClosed{0};
// The encodings of the last converter asked for, as "<from> -> <to>".
char gLastConverter[64];

struct ConvertersMissing {
    ConvertersMissing() { gConvertersMissing = true; }
    ~ConvertersMissing() { gConvertersMissing = false; }
    ConvertersMissing(const ConvertersMissing &) = delete;
    ConvertersMissing &operator=(const ConvertersMissing &) = delete;
};

}  // namespace

// The test program's iconv_open takes the library's calls: it answers as the
// C library does for a code page it does not know, or passes the call on.
extern "C" iconv_t iconv_open(const char *to, const char *from) {
    static const auto real = reinterpret_cast<iconv_t (*)(const char *, const char *)>(dlsym(RTLD_NEXT, "iconv_open"));
    std::snprintf(gLastConverter, sizeof gLastConverter, "%s -> %s", from, to);
    if (gConvertersMissing) {
        errno = EINVAL;
        return reinterpret_cast<iconv_t>(-1);
    }
    const iconv_t opened = real(to, from);
    if (opened != reinterpret_cast<iconv_t>(-1))
        ++gConvertersOpened;
    return opened;
}

extern "C" int iconv_close(iconv_t converter) {
    static const auto real = reinterpret_cast<int (*)(iconv_t)>(dlsym(RTLD_NEXT, "iconv_close"));
    ++gConvertersClosed;
    return real(converter);
}

namespace {

using vren::test::CommandRow;
using vren::test::expectAppended;

class TextTest : public vren::test::ComposeTest {
protected:
    // Each text function, given text whose output area cannot be allocated,
    // returns VREN_E_NOMEM, logs its "start" and "end" and leaves the pending
    // command alone. Runs in a child process whose address space it limits.
    bool allFailForLackOfMemory() {
        const std::string text(24 << 20, 'A');  // an output area of 48 MB
        PrintCircle(1, 1, 1, 1);
        vren::test::limitAddressSpace(8 << 20);
        const std::vector<std::pair<const char *, std::function<int()>>> calls = {
            {"PrintDeviceFont", [&] { return PrintDeviceFont(text.c_str(), 1, 2, 'a', 1, 1, 0, 0); }},
            {"PrintDeviceFontW", [&] { return PrintDeviceFontW(text.c_str(), 1, 2, 0, 1, 1, 0, 0, 8); }},
            {"PrintVectorFont", [&] { return PrintVectorFont(text.c_str(), 1, 2, 4, 8, 8, 0, 0, 0, 0, 0, 0, 0); }},
            {"PrintVectorFontW", [&] { return PrintVectorFontW(text.c_str(), 1, 2, 7, 8, 8, 0, 0, 0, 0, 0, 0, 0, 2); }},
        };
        bool ok = true;
        for (const auto &[name, call] : calls) {
            ok = ok && call() == VREN_E_NOMEM && vren::test::pendingBytes() == "CD1,1,1,1\r" &&
                 logMessages(name) == std::vector<std::string>{"start", "end"};
        }
        const std::string failed = "Failed to alloc memory for convData";
        return ok && logMessages("convertData") == std::vector<std::string>{failed, failed, failed, failed};
    }
};

// Encodings taken from the code pages' published tables, not from iconv.
const std::string kHan = "\xED\x95\x9C";                         // 한 in UTF-8
const std::string kHanEucKr = "\xC7\xD1";                        // KS X 1001
const std::string kHangeul = "\xED\x95\x9C\xEA\xB8\x80";          // 한글
const std::string kHangeulEucKr = "\xC7\xD1\xB1\xDB";
const std::string kTtom = "\xEB\x98\xA0";                        // 똠: CP949 only, not in KS X 1001
const std::string kTtomCp949 = "\x8C\x63";
const std::string kZhongwen = "\xE4\xB8\xAD\xE6\x96\x87";         // 中文
const std::string kZhongwenGb = "\xD6\xD0\xCE\xC4";               // GB 2312
const std::string kZhongwenBig5 = "\xA4\xA4\xA4\xE5";
const std::string kNihon = "\xE6\x97\xA5\xE6\x9C\xAC";            // 日本
const std::string kNihonEucJp = "\xC6\xFC\xCB\xDC";
const std::string kNihonSjis = "\x93\xFA\x96\x7B";
const std::string kKana = "\xE3\x82\xAB\xE3\x83\x8A\xE3\x81\x82";  // カナあ
const std::string kKanaEucJp = "\xA5\xAB\xA5\xCA\xA4\xA2";
const std::string kKanaSjis = "\x83\x4A\x83\x69\x82\xA0";
const std::string kThai = "\xE0\xB9\x84\xE0\xB8\x97\xE0\xB8\xA2";  // ไทย
const std::string kThaiCp874 = "\xE4\xB7\xC2";                    // TIS-620 layout
const std::string kCopyright = "\xC2\xA9";                         // ©: not in GB 2312
const std::string kCopyrightGb18030 = "\x81\x30\x84\x38";          // four-byte index 38

std::string quoted(const std::string &header, const std::string &text) { return header + "'" + text + "'\r"; }

TEST_F(TextTest, DeviceFontHeaders) {
    const char *abc = "ABC";
    expectAppended({
        /* 1 */ {[=] { return PrintDeviceFont(abc, 10, 20, 3, 1, 1, 0, 0); }, "T10,20,3,1,1,0,0,N,N,'ABC'\r"},
        /* 2 */ {[=] { return PrintDeviceFont(abc, 10, 20, 11, 1, 1, 0, 0); }, "T10,20,3,1,1,0,0,N,N,'ABC'\r"},
        /* 3 */ {[=] { return PrintDeviceFont(abc, 10, 20, -1, 1, 1, 0, 0); }, "T10,20,3,1,1,0,0,N,N,'ABC'\r"},
        /* 4 */ {[=] { return PrintDeviceFont(abc, 10, 20, 111, 1, 1, 0, 0); }, "T10,20,3,1,1,0,0,N,N,'ABC'\r"},
        /* 5 */ {[=] { return PrintDeviceFont(abc, 10, 20, 96, 1, 1, 0, 0); }, "T10,20,3,1,1,0,0,N,N,'ABC'\r"},
        /* 6 */ {[=] { return PrintDeviceFont(abc, 10, 20, 0, 9, 9, 3, 1); }, "T10,20,0,9,9,0,3,N,B,'ABC'\r"},
        /* 7 */ {[=] { return PrintDeviceFont(abc, 10, 20, 9, 0, 10, 4, 5); }, "T10,20,9,1,1,0,0,N,B,'ABC'\r"},
        /* 8 */ {[=] { return PrintDeviceFont(abc, 10, 20, 'g', 2, 3, -1, 0); }, "T10,20,g,2,3,0,0,N,N,'ABC'\r"},
        /* 9 */ {[=] { return PrintDeviceFont(abc, -5, -7, 'l', 1, 1, 1, 0); }, "T-5,-7,l,1,1,0,1,N,N,'ABC'\r"},
        /* 10 */ {[=] { return PrintDeviceFont("", 1, 2, 3, 1, 1, 0, 0); }, "T1,2,3,1,1,0,0,N,N,''\r"},
        /* 11: quotes and carriage returns go out as they are */
        {[=] { return PrintDeviceFont("a'b\rc", 1, 2, 3, 1, 1, 0, 0); }, "T1,2,3,1,1,0,0,N,N,'a'b\rc'\r"},
        /* 12: the widest numbers are not cut */
        {[=] { return PrintDeviceFont(abc, INT_MIN, INT_MIN, 3, 1, 1, 0, 0); },
         "T-2147483648,-2147483648,3,1,1,0,0,N,N,'ABC'\r"},
        /* 13: the other side of each multiplier's range */
        {[=] { return PrintDeviceFont(abc, 1, 2, 3, 10, 0, 0, 0); }, "T1,2,3,1,1,0,0,N,N,'ABC'\r"},
    });
}

TEST_F(TextTest, VectorFontHeaders) {
    const char *abc = "ABC";
    expectAppended({
        /* 1 */ {[=] { return PrintVectorFont(abc, 10, 20, 5, 30, 40, 2, 0, 0, 0, 0, 0, 0); },
                 "V10,20,a,30,40,2,N,N,N,0,L,0,'ABC'\r"},
        /* 2 */ {[=] { return PrintVectorFont(abc, 10, 20, 6, 30, 40, 2, 1, 7, 255, 3, 1, 1); },
                 "V10,20,b,30,40,2,B,R,I,3,C,1,'ABC'\r"},
        /* 3 */ {[=] { return PrintVectorFont(abc, 10, 20, 0, 30, 40, 2, 0, 0, 0, 4, 2, 2); },
                 "V10,20,U,30,40,2,N,N,N,0,R,0,'ABC'\r"},
        /* 4 */ {[=] { return PrintVectorFont(abc, 10, 20, 7, 30, 40, 2, 0, 0, 0, -1, 3, -1); },
                 "V10,20,U,30,40,2,N,N,N,0,L,0,'ABC'\r"},
        /* 5 */ {[=] { return PrintVectorFont(abc, 10, 20, -1, -30, -40, -2, 0, 0, 0, 0, 0, 0); },
                 "V10,20,U,-30,-40,-2,N,N,N,0,L,0,'ABC'\r"},
        /* 6: 75 characters of header, none cut */
        {[=] { return PrintVectorFont(abc, INT_MIN, INT_MIN, 5, INT_MIN, INT_MIN, INT_MIN, 1, 1, 1, 3, 2, 1); },
         "V-2147483648,-2147483648,a,-2147483648,-2147483648,-2147483648,B,R,I,3,R,1,'ABC'\r"},
        /* 7 */ {[=] { return PrintVectorFontW(abc, 10, 20, 0, 1, 1, 0, 0, 0, 0, 0, 0, 0, 3); },
                 "V10,20,U,1,1,0,N,N,N,0,L,0,'ABC'\r"},
        /* 8: every non-zero flag byte is on, even ones */
        {[=] { return PrintVectorFont(abc, 1, 2, 5, 8, 8, 0, 2, 128, 2, 0, 0, 0); }, "V1,2,a,8,8,0,B,R,I,0,L,0,'ABC'\r"},
    });
}

// Which text each font sends unchanged, and which code page converts it.
TEST_F(TextTest, FontsRouteTheirTextToCodePages) {
    const std::string han = kHan, zh = kZhongwen, kana = kKana, thai = kThai;
    const std::string t = "T1,2,", dfTail = ",1,1,0,0,N,N,";
    const std::string v = "V1,2,", vfTail = ",8,8,0,N,N,N,0,L,0,";
    expectAppended({
        /* 1 */ {[=] { return PrintDeviceFont(han.c_str(), 1, 2, 'a', 1, 1, 0, 0); }, quoted(t + "a" + dfTail, kHanEucKr)},
        /* 2 */ {[=] { return PrintDeviceFont(han.c_str(), 1, 2, 'f', 1, 1, 0, 0); }, quoted(t + "f" + dfTail, kHanEucKr)},
        /* 3 */ {[=] { return PrintDeviceFont(han.c_str(), 1, 2, 'g', 1, 1, 0, 0); }, quoted(t + "g" + dfTail, han)},
        /* 4 */ {[=] { return PrintDeviceFont(kana.c_str(), 1, 2, 'j', 1, 1, 0, 0); }, quoted(t + "j" + dfTail, kKanaSjis)},
        /* 5 */ {[=] { return PrintDeviceFont(han.c_str(), 1, 2, 'k', 1, 1, 0, 0); }, quoted(t + "k" + dfTail, han)},
        /* 6 */ {[=] { return PrintDeviceFont(zh.c_str(), 1, 2, 'm', 1, 1, 0, 0); }, quoted(t + "m" + dfTail, kZhongwenGb)},
        /* 7 */ {[=] { return PrintDeviceFont(zh.c_str(), 1, 2, 'n', 1, 1, 0, 0); }, quoted(t + "n" + dfTail, kZhongwenBig5)},
        /* 8 */ {[=] { return PrintDeviceFont(han.c_str(), 1, 2, 0, 1, 1, 0, 0); }, quoted(t + "0" + dfTail, han)},
        /* 9: W: plain fonts 1 to 8 never convert */
        {[=] { return PrintDeviceFontW(han.c_str(), 1, 2, 5, 1, 1, 0, 0, 0); }, quoted(t + "5" + dfTail, han)},
        /* 10 */ {[=] { return PrintDeviceFontW(han.c_str(), 1, 2, 1, 1, 1, 0, 0, 0); }, quoted(t + "1" + dfTail, han)},
        /* 11 */ {[=] { return PrintDeviceFontW(han.c_str(), 1, 2, 0, 1, 1, 0, 0, 0); }, quoted(t + "0" + dfTail, kHanEucKr)},
        /* 12 */ {[=] { return PrintDeviceFontW(kana.c_str(), 1, 2, 9, 1, 1, 0, 0, 6); }, quoted(t + "9" + dfTail, kKanaEucJp)},
        /* 13: the caller's code page wins over the font's own */
        {[=] { return PrintDeviceFontW(thai.c_str(), 1, 2, 'a', 1, 1, 0, 0, 8); }, quoted(t + "a" + dfTail, kThaiCp874)},
        /* 14: an out-of-range font becomes 3 and is sent unchanged */
        {[=] { return PrintDeviceFontW(han.c_str(), 1, 2, 200, 1, 1, 0, 0, 0); }, quoted(t + "3" + dfTail, han)},
        /* 15 */ {[=] { return PrintVectorFont(han.c_str(), 1, 2, 1, 8, 8, 0, 0, 0, 0, 0, 0, 0); }, quoted(v + "K" + vfTail, kHanEucKr)},
        /* 16 */ {[=] { return PrintVectorFont(zh.c_str(), 1, 2, 2, 8, 8, 0, 0, 0, 0, 0, 0, 0); }, quoted(v + "B" + vfTail, kZhongwenBig5)},
        /* 17 */ {[=] { return PrintVectorFont(zh.c_str(), 1, 2, 3, 8, 8, 0, 0, 0, 0, 0, 0, 0); }, quoted(v + "G" + vfTail, kZhongwenGb)},
        /* 18 */ {[=] { return PrintVectorFont(kana.c_str(), 1, 2, 4, 8, 8, 0, 0, 0, 0, 0, 0, 0); }, quoted(v + "J" + vfTail, kKanaSjis)},
        /* 19 */ {[=] { return PrintVectorFont(han.c_str(), 1, 2, 5, 8, 8, 0, 0, 0, 0, 0, 0, 0); }, quoted(v + "a" + vfTail, han)},
        /* 20 */ {[=] { return PrintVectorFont(han.c_str(), 1, 2, 0, 8, 8, 0, 0, 0, 0, 0, 0, 0); }, quoted(v + "U" + vfTail, han)},
        /* 21 */ {[=] { return PrintVectorFont(han.c_str(), 1, 2, 7, 8, 8, 0, 0, 0, 0, 0, 0, 0); }, quoted(v + "U" + vfTail, han)},
        /* 22: W routes by the font number: 7 is written U and still converted */
        {[=] { return PrintVectorFontW(han.c_str(), 1, 2, 7, 8, 8, 0, 0, 0, 0, 0, 0, 0, 0); }, quoted(v + "U" + vfTail, kHanEucKr)},
        /* 23 */ {[=] { return PrintVectorFontW(han.c_str(), 1, 2, 0, 8, 8, 0, 0, 0, 0, 0, 0, 0, 0); }, quoted(v + "U" + vfTail, han)},
        /* 24 */ {[=] { return PrintVectorFontW(kana.c_str(), 1, 2, 1, 8, 8, 0, 0, 0, 0, 0, 0, 0, 7); }, quoted(v + "K" + vfTail, kKanaSjis)},
        /* 25 */ {[=] { return PrintVectorFontW(han.c_str(), 1, 2, -3, 8, 8, 0, 0, 0, 0, 0, 0, 0, 1); }, quoted(v + "U" + vfTail, kHanEucKr)},
        /* 26: empty text, converted */
        {[=] { return PrintDeviceFont("", 1, 2, 'a', 1, 1, 0, 0); }, quoted(t + "a" + dfTail, "")},
        // The edges of each font range, one row per font not yet covered.
        /* 27 */ {[=] { return PrintDeviceFont(han.c_str(), 1, 2, 'e', 1, 1, 0, 0); }, quoted(t + "e" + dfTail, kHanEucKr)},
        /* 28 */ {[=] { return PrintDeviceFont(han.c_str(), 1, 2, 'h', 1, 1, 0, 0); }, quoted(t + "h" + dfTail, han)},
        /* 29 */ {[=] { return PrintDeviceFont(han.c_str(), 1, 2, 'i', 1, 1, 0, 0); }, quoted(t + "i" + dfTail, han)},
        /* 30 */ {[=] { return PrintDeviceFont(han.c_str(), 1, 2, 'l', 1, 1, 0, 0); }, quoted(t + "l" + dfTail, han)},
        /* 31: out of range: written as 3, sent unchanged */
        {[=] { return PrintDeviceFont(han.c_str(), 1, 2, 'n' + 1, 1, 1, 0, 0); }, quoted(t + "3" + dfTail, han)},
        /* 32 */ {[=] { return PrintDeviceFont(han.c_str(), 1, 2, 'a' - 1, 1, 1, 0, 0); }, quoted(t + "3" + dfTail, han)},
        /* 33 */ {[=] { return PrintDeviceFont(han.c_str(), 1, 2, 9, 1, 1, 0, 0); }, quoted(t + "9" + dfTail, han)},
        /* 34 */ {[=] { return PrintDeviceFontW(han.c_str(), 1, 2, 8, 1, 1, 0, 0, 0); }, quoted(t + "8" + dfTail, han)},
        /* 35: W converts the fonts that the plain function sends unchanged */
        {[=] { return PrintDeviceFontW(han.c_str(), 1, 2, 'g', 1, 1, 0, 0, 1); }, quoted(t + "g" + dfTail, kHanEucKr)},
        /* 36 */ {[=] { return PrintDeviceFontW(zh.c_str(), 1, 2, 'n', 1, 1, 0, 0, 5); }, quoted(t + "n" + dfTail, kZhongwenBig5)},
        /* 37 */ {[=] { return PrintDeviceFontW(han.c_str(), 1, 2, 'n' + 1, 1, 1, 0, 0, 0); }, quoted(t + "3" + dfTail, han)},
        /* 38 */ {[=] { return PrintVectorFont(han.c_str(), 1, 2, 6, 8, 8, 0, 0, 0, 0, 0, 0, 0); }, quoted(v + "b" + vfTail, han)},
        /* 39 */ {[=] { return PrintVectorFont(han.c_str(), 1, 2, -1, 8, 8, 0, 0, 0, 0, 0, 0, 0); }, quoted(v + "U" + vfTail, han)},
        /* 40: W converts fonts 5 and 6 too, and with the caller's code page */
        {[=] { return PrintVectorFontW(han.c_str(), 1, 2, 5, 8, 8, 0, 0, 0, 0, 0, 0, 0, 0); }, quoted(v + "a" + vfTail, kHanEucKr)},
        /* 41 */ {[=] { return PrintVectorFontW(kana.c_str(), 1, 2, 6, 8, 8, 0, 0, 0, 0, 0, 0, 0, 6); }, quoted(v + "b" + vfTail, kKanaEucJp)},
        /* 42 */ {[=] { return PrintVectorFontW(zh.c_str(), 1, 2, 2, 8, 8, 0, 0, 0, 0, 0, 0, 0, 2); }, quoted(v + "B" + vfTail, kZhongwenGb)},
    });
}

// The code page each font converts with, by the log line that names it: the
// bytes alone do not tell EUC-KR from CP949, EUC-CN from GB18030 or BIG5 from
// CP950 for common text.
TEST_F(TextTest, EachFontNamesItsCodePage) {
    struct Row {
        std::function<int()> call;
        const char *conversion;  // nullptr: the text goes out unchanged
    };
    const Row rows[] = {
        /* 1 */ {[] { return PrintDeviceFont("A", 1, 2, 'a', 1, 1, 0, 0); }, "conv EUC-KR"},
        /* 2 */ {[] { return PrintDeviceFont("A", 1, 2, 'f', 1, 1, 0, 0); }, "conv EUC-KR"},
        /* 3 */ {[] { return PrintDeviceFont("A", 1, 2, 'j', 1, 1, 0, 0); }, "conv CP932"},
        /* 4 */ {[] { return PrintDeviceFont("A", 1, 2, 'm', 1, 1, 0, 0); }, "conv GB18030"},
        /* 5 */ {[] { return PrintDeviceFont("A", 1, 2, 'n', 1, 1, 0, 0); }, "conv BIG5"},
        /* 6 */ {[] { return PrintDeviceFont("A", 1, 2, 'g', 1, 1, 0, 0); }, nullptr},
        /* 7 */ {[] { return PrintVectorFont("A", 1, 2, 1, 8, 8, 0, 0, 0, 0, 0, 0, 0); }, "conv EUC-KR"},
        /* 8 */ {[] { return PrintVectorFont("A", 1, 2, 2, 8, 8, 0, 0, 0, 0, 0, 0, 0); }, "conv BIG5"},
        /* 9 */ {[] { return PrintVectorFont("A", 1, 2, 3, 8, 8, 0, 0, 0, 0, 0, 0, 0); }, "conv GB18030"},
        /* 10 */ {[] { return PrintVectorFont("A", 1, 2, 4, 8, 8, 0, 0, 0, 0, 0, 0, 0); }, "conv CP932"},
        /* 11 */ {[] { return PrintVectorFont("A", 1, 2, 5, 8, 8, 0, 0, 0, 0, 0, 0, 0); }, nullptr},
        /* 12 */ {[] { return PrintDeviceFontW("A", 1, 2, 0, 1, 1, 0, 0, 5); }, "conv CP950"},
        /* 13 */ {[] { return PrintVectorFontW("A", 1, 2, 7, 8, 8, 0, 0, 0, 0, 0, 0, 0, 2); }, "conv EUC-CN"},
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE("row " + std::to_string(i + 1));
        markLog();
        EXPECT_EQ(rows[i].call(), VREN_OK);
        const std::vector<std::string> expected =
            rows[i].conversion ? std::vector<std::string>{"dataLen = 1", rows[i].conversion} : std::vector<std::string>{};
        EXPECT_EQ(logMessages("convertData"), expected);
    }
}

// Every conversion opens its own converter and closes it, failed or not;
// text outside the table opens none.
TEST_F(TextTest, ConvertersAreOpenedAndClosedPerCall) {
    const int opened = gConvertersOpened, closed = gConvertersClosed;
    EXPECT_EQ(convertData(kHan.c_str(), 3, 0), VREN_OK);
    EXPECT_EQ(convertData(kHan.c_str(), 3, 0), VREN_OK);
    EXPECT_EQ(convertData(kHan.c_str(), 3, 6), VREN_E_WRITE);
    EXPECT_EQ(convertData(kHan.c_str(), 3, 9), VREN_OK);
    EXPECT_EQ(gConvertersOpened - opened, 3);
    EXPECT_EQ(gConvertersClosed - closed, 3);
}

TEST_F(TextTest, ConvertDataCodePages) {
    struct Case {
        int codePage;
        std::string text;
        std::string encoded;
    };
    const Case cases[] = {
        /* 1 */ {0, kHangeul, kHangeulEucKr},
        /* 2 */ {0, "A" + kHan + "1", "A" + kHanEucKr + "1"},
        /* 3 */ {1, kHangeul + kTtom, kHangeulEucKr + kTtomCp949},
        /* 4 */ {2, kZhongwen, kZhongwenGb},
        /* 5 */ {3, kZhongwen, kZhongwenGb},
        /* 6 */ {4, kZhongwen, kZhongwenBig5},
        /* 7 */ {5, kZhongwen, kZhongwenBig5},
        /* 8 */ {6, kNihon + kKana, kNihonEucJp + kKanaEucJp},
        /* 9 */ {7, kNihon + kKana, kNihonSjis + kKanaSjis},
        /* 10 */ {8, kThai, kThaiCp874},
        /* 11: outside the table: sent unconverted */
        {9, kHan, kHan},
        /* 12 */ {-1, kHan, kHan},
        /* 13: two UTF-8 bytes become four: the output area is full */
        {3, kCopyright + kCopyright + kCopyright, kCopyrightGb18030 + kCopyrightGb18030 + kCopyrightGb18030},
        /* 14 */ {3, "A" + kCopyright, "A" + kCopyrightGb18030},
    };
    std::vector<CommandRow> rows;
    for (const Case &c : cases)
        rows.push_back({[c] { return convertData(c.text.c_str(), static_cast<int>(c.text.size()), c.codePage); },
                        quoted("", c.encoded)});
    expectAppended(rows);
}

TEST_F(TextTest, ConvertDataLogsItsSteps) {
    ASSERT_EQ(convertData(kHangeul.c_str(), 6, 0), VREN_OK);
    ASSERT_EQ(convertData(kHan.c_str(), 3, 9), VREN_OK);
    const std::vector<std::string> expected = {"dataLen = 6", "conv EUC-KR", "dataLen = 3", "Wrong code page."};
    EXPECT_EQ(logMessages("convertData"), expected);
    EXPECT_EQ(logMessages("bufferCheck").size(), 4u);
}

// The length decides how much is converted; text outside the table goes out
// up to its NUL whatever the length says.
TEST_F(TextTest, ConvertDataLength) {
    const std::string hangeul = kHangeul, han = kHan;
    expectAppended({
        /* 1: the first syllable only */ {[=] { return convertData(hangeul.c_str(), 3, 0); }, quoted("", kHanEucKr)},
        /* 2 */ {[=] { return convertData(hangeul.c_str(), 0, 0); }, quoted("", "")},
        /* 3: a syllable cut by the length is incomplete input */
        {[=] { return convertData(hangeul.c_str(), 4, 0); }, "", VREN_E_WRITE},
        /* 4 */ {[=] { return convertData("ABCDEF", 2, 9); }, quoted("", "ABCDEF")},
        /* 5 */ {[=] { return convertData(han.c_str(), 0, -1); }, quoted("", han)},
        /* 6: a NUL within the length is converted and kept */
        {[] { return convertData("A\0B", 3, 0); }, quoted("", std::string("A\0B", 3))},
    });
}

// The records of one text command, in order, across the function, the
// conversion and the buffer check.
TEST_F(TextTest, RecordsInOrder) {
    const std::string han = kHan;
    struct Row {
        std::function<int()> call;
        int result;
        std::vector<std::string> records;
    };
    const std::vector<std::string> check = {"bufferCheck: start", "bufferCheck: end"};
    auto with = [](std::vector<std::string> a, const std::vector<std::string> &b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    const Row rows[] = {
        /* 1 */ {[] { return PrintDeviceFont("ABC", 1, 2, 3, 1, 1, 0, 0); }, VREN_OK,
                 with(with({"PrintDeviceFont: start"}, check), {"PrintDeviceFont: end"})},
        /* 2 */ {[=] { return PrintDeviceFont(han.c_str(), 1, 2, 'a', 1, 1, 0, 0); }, VREN_OK,
                 with(with({"PrintDeviceFont: start", "convertData: dataLen = 3", "convertData: conv EUC-KR"}, check),
                      {"PrintDeviceFont: end"})},
        /* 3: outside the table */
        {[=] { return PrintVectorFontW(han.c_str(), 1, 2, 1, 8, 8, 0, 0, 0, 0, 0, 0, 0, 12); }, VREN_OK,
         with(with({"PrintVectorFontW: start", "convertData: dataLen = 3", "convertData: Wrong code page."}, check),
              {"PrintVectorFontW: end"})},
        /* 4: a failed conversion runs no buffer check */
        {[=] { return PrintDeviceFontW(han.c_str(), 1, 2, 0, 1, 1, 0, 0, 6); }, VREN_E_WRITE,
         {"PrintDeviceFontW: start", "convertData: dataLen = 3", "convertData: conv EUC-JP",
          "convertData: Failed to convert. errno : 84", "PrintDeviceFontW: end"}},
        /* 5: a plain font of the W variant does not go through the conversion */
        {[=] { return PrintDeviceFontW(han.c_str(), 1, 2, 5, 1, 1, 0, 0, 0); }, VREN_OK,
         with(with({"PrintDeviceFontW: start"}, check), {"PrintDeviceFontW: end"})},
        /* 6 */ {[=] { return PrintVectorFont(han.c_str(), 1, 2, 6, 8, 8, 0, 0, 0, 0, 0, 0, 0); }, VREN_OK,
                 with(with({"PrintVectorFont: start"}, check), {"PrintVectorFont: end"})},
        /* 7 */ {[] { return PrintVectorFont(nullptr, 1, 2, 1, 8, 8, 0, 0, 0, 0, 0, 0, 0); }, VREN_E_WRITE,
                 {"PrintVectorFont: start", "PrintVectorFont: data is null", "PrintVectorFont: end"}},
        /* 8: convertData itself logs no start or end */
        {[=] { return convertData(han.c_str(), 3, 8); }, VREN_E_WRITE,
         {"convertData: dataLen = 3", "convertData: conv CP874", "convertData: Failed to convert. errno : 84"}},
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE("row " + std::to_string(i + 1));
        initDataBuffer();
        markLog();
        vren::test::clearSleeps();
        EXPECT_EQ(rows[i].call(), rows[i].result);
        EXPECT_EQ(vren::test::parseLogRecords(logText()).records, rows[i].records);
        EXPECT_TRUE(vren::test::sleepsTaken().empty()) << "composing waits for nothing";
    }
}

// A buffer check that fails to send comes between the conversion's lines and
// the function's "end".
TEST_F(TextTest, RecordsOfAFailedSend) {
    const std::string pending(vren::test::kNearlyFull, 'p');
    std::memcpy(gPrintData, pending.data(), pending.size());
    gDataIndex = static_cast<uint32_t>(pending.size());
    EXPECT_EQ(PrintVectorFont(kHan.c_str(), 1, 2, 1, 8, 8, 0, 0, 0, 0, 0, 0, 0), VREN_E_WRITE);
    const std::vector<std::string> expected = {
        "PrintVectorFont: start", "convertData: dataLen = 3", "convertData: conv EUC-KR", "bufferCheck: start",
        "writeData: write data : ", "bufferCheck: Failed to write", "PrintVectorFont: end"};
    const vren::test::LogRecords log = vren::test::parseLogRecords(logText());
    EXPECT_EQ(log.records, expected);
    EXPECT_EQ(log.bytesWritten, gDataIndex);
}

// A code page the system's converter does not offer fails like any other
// conversion failure: -105 with the converter's error number, nothing
// appended, no buffer check.
TEST_F(TextTest, MissingConverterFailsTheConversion) {
    const ConvertersMissing missing;
    const char *names[] = {"EUC-KR", "CP949", "EUC-CN", "GB18030", "BIG5", "CP950", "EUC-JP", "CP932", "CP874"};
    for (int page = 0; page < 9; ++page) {
        SCOPED_TRACE(page);
        markLog();
        EXPECT_EQ(PrintDeviceFontW("A", 1, 2, 0, 1, 1, 0, 0, page), VREN_E_WRITE);
        EXPECT_EQ(gDataIndex, 0u);
        const std::vector<std::string> expected = {
            "PrintDeviceFontW: start", "convertData: dataLen = 1", std::string("convertData: conv ") + names[page],
            "convertData: Failed to convert. errno : " + std::to_string(EINVAL), "PrintDeviceFontW: end"};
        EXPECT_EQ(vren::test::parseLogRecords(logText()).records, expected);
    }
    // Outside the table no converter is asked for.
    EXPECT_EQ(convertData("A", 1, 9), VREN_OK);
    EXPECT_BYTES("'A'\r", vren::test::pendingBytes());
}

// Each code page is logged and asked of the converter by its own name, from
// "UTF-8" (the C library knows aliases of these names; other systems may not).
TEST_F(TextTest, EveryCodePageIsLoggedByName) {
    const char *names[] = {"EUC-KR", "CP949", "EUC-CN", "GB18030", "BIG5", "CP950", "EUC-JP", "CP932", "CP874"};
    for (int page = 0; page < 9; ++page) {
        ASSERT_EQ(convertData("A", 1, page), VREN_OK) << page;
        EXPECT_EQ(std::string(gLastConverter), std::string("UTF-8 -> ") + names[page]);
    }
    const std::vector<std::string> messages = logMessages("convertData");
    ASSERT_EQ(messages.size(), 18u);
    for (int page = 0; page < 9; ++page)
        EXPECT_EQ(messages[2 * page + 1], std::string("conv ") + names[page]);
}

// A failed conversion appends nothing: neither the text nor the header.
TEST_F(TextTest, FailedConversionLeavesTheBufferAsItWas) {
    const std::string han = kHan, thai = kThai;
    const std::string invalid = "A\xFF" "B", truncated = "A\xED\x95";
    const int eilseq = 84, einval = 22;
    struct Case {
        std::function<int()> call;
        int error;
    };
    const Case cases[] = {
        /* 1: 한 is not in EUC-JP */
        {[=] { return PrintDeviceFontW(han.c_str(), 1, 2, 0, 1, 1, 0, 0, 6); }, eilseq},
        /* 2: 똠 is not in EUC-KR */
        {[=] { return PrintDeviceFont(kTtom.c_str(), 1, 2, 'a', 1, 1, 0, 0); }, eilseq},
        /* 3: Thai is not in EUC-KR */
        {[=] { return PrintVectorFont(thai.c_str(), 1, 2, 1, 8, 8, 0, 0, 0, 0, 0, 0, 0); }, eilseq},
        /* 4: invalid UTF-8 */
        {[=] { return PrintVectorFontW(invalid.c_str(), 1, 2, 1, 8, 8, 0, 0, 0, 0, 0, 0, 0, 3); }, eilseq},
        /* 5: a character cut short */
        {[=] { return PrintDeviceFont(truncated.c_str(), 1, 2, 'b', 1, 1, 0, 0); }, einval},
        /* 6 */ {[=] { return convertData(han.c_str(), 3, 8); }, eilseq},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE("row " + std::to_string(i + 1));
        initDataBuffer();
        ASSERT_EQ(PrintCircle(1, 1, 1, 1), VREN_OK);
        const std::string before = vren::test::pendingBytes();
        const size_t logged = logMessages("convertData").size();
        EXPECT_EQ(cases[i].call(), VREN_E_WRITE);
        EXPECT_BYTES(before, vren::test::pendingBytes());
        const std::vector<std::string> messages = logMessages("convertData");
        ASSERT_GE(messages.size(), logged + 3);
        EXPECT_EQ(messages.back(), "Failed to convert. errno : " + std::to_string(cases[i].error));
    }
    // The next command follows the earlier one directly.
    ASSERT_EQ(PrintCircle(2, 2, 1, 1), VREN_OK);
    EXPECT_BYTES("CD1,1,1,1\rCD2,2,1,1\r", vren::test::pendingBytes());
}

TEST_F(TextTest, FailedConversionStillLogsEnd) {
    EXPECT_EQ(PrintDeviceFontW(kHan.c_str(), 1, 2, 0, 1, 1, 0, 0, 6), VREN_E_WRITE);
    const std::vector<std::string> expected = {"start", "end"};
    EXPECT_EQ(logMessages("PrintDeviceFontW"), expected);
    const std::vector<std::string> conversion = {"dataLen = 3", "conv EUC-JP", "Failed to convert. errno : 84"};
    EXPECT_EQ(logMessages("convertData"), conversion);
}

TEST_F(TextTest, NullDataIsRefused) {
    const std::vector<std::pair<const char *, std::function<int()>>> calls = {
        {"PrintDeviceFont", [] { return PrintDeviceFont(nullptr, 1, 2, 3, 1, 1, 0, 0); }},
        {"PrintDeviceFontW", [] { return PrintDeviceFontW(nullptr, 1, 2, 0, 1, 1, 0, 0, 0); }},
        {"PrintVectorFont", [] { return PrintVectorFont(nullptr, 1, 2, 1, 8, 8, 0, 0, 0, 0, 0, 0, 0); }},
        {"PrintVectorFontW", [] { return PrintVectorFontW(nullptr, 1, 2, 0, 8, 8, 0, 0, 0, 0, 0, 0, 0, 0); }},
    };
    expectNullDataRefused(calls);
    EXPECT_EQ(convertData(nullptr, 3, 0), VREN_E_WRITE);
    EXPECT_EQ(gDataIndex, 0u);
    const std::vector<std::string> expected = {"data is null"};
    EXPECT_EQ(logMessages("convertData"), expected);
}

// A negative length asks for an output area of 2 x length bytes, which no
// allocation gives: the allocation failure, and nothing appended.
TEST_F(TextTest, NegativeLengthFailsLikeTheAllocation) {
    const int lengths[] = {/* 1 */ -1, /* 2 */ -2, /* 3 */ INT_MIN};
    for (int length : lengths) {
        SCOPED_TRACE(length);
        EXPECT_EQ(convertData("abc", length, 0), VREN_E_NOMEM);
        EXPECT_EQ(gDataIndex, 0u);
    }
    const std::string failed = "Failed to alloc memory for convData";
    const std::vector<std::string> expected = {failed, failed, failed};
    EXPECT_EQ(logMessages("convertData"), expected);
    EXPECT_TRUE(logMessages("bufferCheck").empty());
}

// Text whose output area cannot be allocated leaves the buffer as it was:
// neither the header nor the text stays behind.
TEST_F(TextTest, OutOfMemoryLeavesTheBufferAsItWas) {
    if (!vren::test::kCanLimitMemory)
        GTEST_SKIP() << "address-space limits do not mix with AddressSanitizer";
    EXPECT_EXIT(std::exit(allFailForLackOfMemory() ? 0 : 1), ::testing::ExitedWithCode(0), "");
}

// A command that lifts the buffer over the threshold stays in it when the
// send fails, converted or not, and the function still logs "end".
TEST_F(TextTest, FailedSendKeepsTheCommand) {
    const std::string han = kHan;
    vren::test::expectKeptAfterFailedSend({
        /* 1 */ {[] { return PrintDeviceFont("ABC", 10, 20, 3, 1, 1, 0, 0); }, "T10,20,3,1,1,0,0,N,N,'ABC'\r"},
        /* 2 */ {[=] { return PrintDeviceFont(han.c_str(), 1, 2, 'a', 1, 1, 0, 0); },
                 quoted("T1,2,a,1,1,0,0,N,N,", kHanEucKr)},
        /* 3 */ {[=] { return PrintDeviceFontW(han.c_str(), 1, 2, 0, 1, 1, 0, 0, 1); },
                 quoted("T1,2,0,1,1,0,0,N,N,", kHanEucKr)},
        /* 4 */ {[] { return PrintVectorFont("ABC", 1, 2, 5, 8, 8, 0, 0, 0, 0, 0, 0, 0); },
                 "V1,2,a,8,8,0,N,N,N,0,L,0,'ABC'\r"},
        /* 5 */ {[=] { return PrintVectorFontW(han.c_str(), 1, 2, 1, 8, 8, 0, 0, 0, 0, 0, 0, 0, 9); },
                 quoted("V1,2,K,8,8,0,N,N,N,0,L,0,", han)},
    });
    for (const char *name : {"PrintDeviceFont", "PrintDeviceFontW", "PrintVectorFont", "PrintVectorFontW"}) {
        SCOPED_TRACE(name);
        const std::vector<std::string> messages = logMessages(name);
        ASSERT_FALSE(messages.empty());
        EXPECT_EQ(messages.back(), "end");
    }
    EXPECT_EQ(std::ranges::count(logMessages("bufferCheck"), "Failed to write"), 5);
}

// A command that does not fit into the free space sends the buffer first, and
// one longer than the whole buffer is sent on its own. Not connected, that
// send fails: -105, the buffer left as it was, no buffer check, and the
// "Failed to write" of whoever appends: convertData for converted text.
TEST_F(TextTest, FailedSendBeforeTheCommand) {
    std::string hangul;
    for (int i = 0; i < 200; ++i)  // 1200 bytes of UTF-8, 800 of EUC-KR
        hangul += kHangeul;
    const std::string plain(600, 'x'), oversize(5000, 'o');
    const std::vector<std::string> write = {"writeData: write data : "};
    struct Row {
        std::function<int()> call;
        uint32_t pending;
        std::vector<std::string> records;
    };
    const Row rows[] = {
        /* 1 */ {[&] { return PrintDeviceFont(plain.c_str(), 1, 2, 3, 1, 1, 0, 0); }, 3500,
                 {"PrintDeviceFont: start", write[0], "PrintDeviceFont: Failed to write", "PrintDeviceFont: end"}},
        /* 2 */ {[&] { return PrintDeviceFont(hangul.c_str(), 1, 2, 'a', 1, 1, 0, 0); }, 3500,
                 {"PrintDeviceFont: start", "convertData: dataLen = 1200", "convertData: conv EUC-KR", write[0],
                  "convertData: Failed to write", "PrintDeviceFont: end"}},
        /* 3 */ {[&] { return PrintVectorFont(oversize.c_str(), 1, 2, 5, 8, 8, 0, 0, 0, 0, 0, 0, 0); }, 0,
                 {"PrintVectorFont: start", write[0], "PrintVectorFont: Failed to write", "PrintVectorFont: end"}},
        /* 4 */ {[&] { return PrintVectorFontW(hangul.c_str(), 1, 2, 1, 8, 8, 0, 0, 0, 0, 0, 0, 0, 1); }, 3500,
                 {"PrintVectorFontW: start", "convertData: dataLen = 1200", "convertData: conv CP949", write[0],
                  "convertData: Failed to write", "PrintVectorFontW: end"}},
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE("row " + std::to_string(i + 1));
        initDataBuffer();
        const std::string pending(rows[i].pending, 'p');
        std::memcpy(gPrintData, pending.data(), pending.size());
        gDataIndex = rows[i].pending;
        markLog();
        EXPECT_EQ(rows[i].call(), VREN_E_WRITE);
        EXPECT_LONG_BYTES(pending, vren::test::pendingBytes());
        EXPECT_EQ(vren::test::parseLogRecords(logText()).records, rows[i].records);
    }
}

TEST_F(TextTest, LogLinesOfAConvertedText) {
    ASSERT_EQ(PrintDeviceFont(kHan.c_str(), 1, 2, 'a', 1, 1, 0, 0), VREN_OK);
    const std::vector<std::string> function = {"start", "end"};
    const std::vector<std::string> conversion = {"dataLen = 3", "conv EUC-KR"};
    EXPECT_EQ(logMessages("PrintDeviceFont"), function);
    EXPECT_EQ(logMessages("convertData"), conversion);
}

// Converters still open when the library last wrote to the printer.
std::atomic<int> gConvertersOpenAtWrite{-1};

// A conversion that fills the buffer closes its converter before the buffer
// check sends the buffer.
TEST_F(TextTest, ConverterIsClosedBeforeTheBufferIsSent) {
    ASSERT_EQ(connectToVirtualPrinter(), VREN_OK);
    const std::string filler(3550, 'x');
    ASSERT_EQ(PrintDeviceFont(filler.c_str(), 1, 2, 3, 1, 1, 0, 0), VREN_OK);
    ASSERT_LT(gDataIndex, 3584u);
    vren::test::setWriteObserver([](int, size_t) { gConvertersOpenAtWrite = gConvertersOpened - gConvertersClosed; });
    const int result = PrintDeviceFont(kHan.c_str(), 1, 2, 'a', 1, 1, 0, 0);
    vren::test::setWriteObserver(nullptr);
    EXPECT_EQ(result, VREN_OK);
    EXPECT_EQ(gDataIndex, 0u);
    EXPECT_EQ(gConvertersOpenAtWrite, 0);
}

// Text longer than the whole buffer goes out whole, behind what was pending.
TEST_F(TextTest, LongTextGoesOutWhole) {
    ASSERT_EQ(connectToVirtualPrinter(), VREN_OK);
    ASSERT_EQ(PrintCircle(5, 5, 1, 1), VREN_OK);
    std::string hangul, encoded;
    for (int i = 0; i < 750; ++i) {  // 4500 bytes of UTF-8, 3000 of EUC-KR
        hangul += kHangeul;
        encoded += kHangeulEucKr;
    }
    std::string plain(5000, 'x');
    ASSERT_EQ(PrintDeviceFont(plain.c_str(), 1, 2, 3, 1, 1, 0, 0), VREN_OK);
    ASSERT_EQ(PrintVectorFont(hangul.c_str(), 1, 2, 1, 8, 8, 0, 0, 0, 0, 0, 0, 0), VREN_OK);
    const std::string expected = "CD5,5,1,1\r" + quoted("T1,2,3,1,1,0,0,N,N,", plain);
    EXPECT_LONG_BYTES(expected, printed(expected.size()));
    // The converted text fits into the emptied buffer and waits there.
    EXPECT_LONG_BYTES(quoted("V1,2,K,8,8,0,N,N,N,0,L,0,", encoded), vren::test::pendingBytes());
    // Longer than the buffer after conversion: streamed behind it.
    const std::string longer = hangul + hangul;
    ASSERT_EQ(PrintDeviceFont(longer.c_str(), 1, 2, 'a', 1, 1, 0, 0), VREN_OK);
    const std::string all = expected + quoted("V1,2,K,8,8,0,N,N,N,0,L,0,", encoded) +
                            quoted("T1,2,a,1,1,0,0,N,N,", encoded + encoded);
    EXPECT_LONG_BYTES(all, printed(all.size()));
    EXPECT_EQ(gDataIndex, 0u);
}

}  // namespace
