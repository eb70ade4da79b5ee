// The debug log: record format, file handling and failure paths.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <optional>
#include <regex>

#include "fake_write.h"
#include "library_test.h"
#include "test_io.h"

// The clock the log reads, held still while a test sets a time.
namespace {
std::optional<timeval> gFixedTime;
}  // namespace

extern "C" int gettimeofday(timeval *__restrict tv, void *__restrict) noexcept {
    if (gFixedTime) {
        *tv = *gFixedTime;
        return 0;
    }
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tv->tv_sec = now.tv_sec;
    tv->tv_usec = now.tv_nsec / 1000;
    return 0;
}

namespace vren::test {
namespace {

class DebugLog : public LibraryTest {};

const std::regex kStamp(R"(\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2}\.\d{6})");

// Splits the log into records (every record ends in a line feed and the next
// one starts with a time stamp).
std::vector<std::string> records(const std::string &text) {
    std::vector<std::string> out;
    const std::regex start(R"((^|\n)(\d{4}/\d{2}/\d{2} ))");
    std::vector<size_t> starts;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), start); it != std::sregex_iterator(); ++it)
        starts.push_back(static_cast<size_t>(it->position(2)));
    for (size_t i = 0; i < starts.size(); ++i)
        out.push_back(text.substr(starts[i], (i + 1 < starts.size() ? starts[i + 1] : text.size()) - starts[i]));
    return out;
}

// The record with its time stamp replaced by "T".
std::string withoutStamp(const std::string &record) {
    return std::regex_replace(record, kStamp, "T", std::regex_constants::format_first_only);
}

TEST_F(DebugLog, RecordFormat) {
    struct Row {
        const char *tag;
        std::string message;
        std::string expected;
    };
    const std::string tag25(25, 'A');
    const std::string tag30 = "printLongerThanTwentyFiveChars";
    const Row rows[] = {
        /* 0 */ {"ConnectToPrinter", "start", "T  : [ConnectToPrinter         ] start\n"},
        /* 1 */ {tag25.c_str(), "x", "T  : [" + tag25 + "] x\n"},
        /* 2 */ {tag30.c_str(), "long tag is not cut", "T  : [" + tag30 + "] long tag is not cut\n"},
        /* 3 */ {"t", "", "T  : [t                        ] \n"},
        /* 4 */ {"t", "two\nlines", "T  : [t                        ] two\nlines\n"},
    };
    for (const Row &row : rows)
        printDebugLog(row.tag, "%s", row.message.c_str());
    const auto found = records(logText());
    ASSERT_EQ(found.size(), std::size(rows));
    for (size_t i = 0; i < std::size(rows); ++i)
        EXPECT_EQ(withoutStamp(found[i]), rows[i].expected) << "row " << i;
}

TEST_F(DebugLog, FormatsArgumentsAndKeepsPlainTextUnchanged) {
    printDebugLog("t", "model = %s, %d", "LQ1", 151);
    printDebugLog("t", "plain text, no conversions");
    const auto found = records(logText());
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(withoutStamp(found[0]), "T  : [t                        ] model = LQ1, 151\n");
    EXPECT_EQ(withoutStamp(found[1]), "T  : [t                        ] plain text, no conversions\n");
}

TEST_F(DebugLog, MicrosecondsAlwaysHaveSixDigits) {
    for (int i = 0; i < 200; ++i)
        printDebugLog("t", "r");
    const std::regex record(R"(\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2}\.\d{6}  : \[t {24}\] r\n)");
    const auto found = records(logText());
    ASSERT_EQ(found.size(), 200u);
    for (const auto &r : found)
        EXPECT_TRUE(std::regex_match(r, record)) << r;
}

TEST_F(DebugLog, CreatesTheFileAndAppendsAfterEarlierRecords) {
    { std::ofstream("VRENLinuxSDKLog.txt") << "earlier run\n"; }
    printDebugLog("t", "first");
    printDebugLog("t", "second");
    const std::string text = logText();
    EXPECT_EQ(text.rfind("earlier run\n", 0), 0u);
    const size_t first = text.find("] first\n");
    const size_t second = text.find("] second\n");
    ASSERT_NE(first, std::string::npos);
    EXPECT_GT(second, first);
}

TEST_F(DebugLog, UnwritableDirectoryReportsOnStandardOutput) {
    // A working directory that no longer exists cannot take the file.
    ASSERT_EQ(mkdir("gone", 0700), 0);
    ASSERT_EQ(chdir("gone"), 0);
    ASSERT_EQ(rmdir((directory_ + "/gone").c_str()), 0);
    ::testing::internal::CaptureStdout();
    printDebugLog("t", "lost");
    printDebugLog("t", "lost too");
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Failed to open log file.\nFailed to open log file.\n");
    ASSERT_EQ(chdir(directory_.c_str()), 0);
}

// Without a log file the library works as usual, and every attempt to open
// it says that it failed: once for each record of its own, once for all the
// records of one transport call.
TEST_F(DebugLog, UnwritableDirectoryDoesNotStopTheLibrary) {
    ASSERT_EQ(connectToVirtualPrinter(), VREN_OK);
    ASSERT_EQ(mkdir("gone", 0700), 0);
    ASSERT_EQ(chdir("gone"), 0);
    ASSERT_EQ(rmdir((directory_ + "/gone").c_str()), 0);
    ::testing::internal::CaptureStdout();
    const int result = DirectIO("abc", 3, nullptr, nullptr);
    const std::string out = ::testing::internal::GetCapturedStdout();
    ASSERT_EQ(chdir(directory_.c_str()), 0);
    EXPECT_EQ(result, VREN_OK);
    EXPECT_BYTES("abc", printed(3));
    // DirectIO's "start", writeData's records, DirectIO's "end".
    std::string expected;
    for (int i = 0; i < 3; ++i)
        expected += "Failed to open log file.\n";
    EXPECT_EQ(out, expected);
}

// The records of a call are in the file while it waits, before its first
// write or read and after each retry pause: a call that hangs, or a process
// killed in it, leaves its trace.
TEST_F(DebugLog, RecordsOfAWaitingCallAreInTheFile) {
    struct Row {
        unsigned pause;  // of the call, at which the file is read
        std::function<void()> call;
        std::string last;  // record in the file by then
    };
    const Row rows[] = {
        /* 1 */ {10000, [] { writeData("abc", 3); }, "[writeData                ] i : 2, 63, c \n"},
        /* 2 */ {200000, [] { writeData("abc", 3); }, "[writeData                ] i : 2, 63, c \n"},
        /* 3 */ {30000, [] { unsigned char byte; readData(&byte, 1); }, "[readData                 ] START\n"},
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE("row " + std::to_string(i + 1));
        markLog();
        std::string seen;
        setPauseHook([&](unsigned pause) {
            if (pause == rows[i].pause && seen.empty())
                seen = logText();
        });
        rows[i].call();  // not connected: the write fails, the read finds nothing
        setPauseHook(nullptr);
        EXPECT_TRUE(seen.ends_with(rows[i].last)) << seen;
    }
}

// The log is the user's own: a symbolic link planted at its name is not
// followed, a new log is readable by its owner only, child processes do not
// inherit it, and every write holds whole records only, so that processes
// appending to one log never tear each other's records.
TEST_F(DebugLog, LogIsPrivateAndWrittenInWholeRecords) {
    { std::ofstream("victim.txt") << "keep\n"; }
    ASSERT_EQ(symlink("victim.txt", "VRENLinuxSDKLog.txt"), 0);
    printDebugLog("t", "planted");
    EXPECT_EQ(fileText("victim.txt"), "keep\n");
    ASSERT_EQ(unlink("VRENLinuxSDKLog.txt"), 0);

    static std::vector<std::string> writes;
    static bool inheritable;
    writes.clear();
    inheritable = false;
    const mode_t mask = umask(022);
    setFileWriteObserver([](int fd, const void *bytes, size_t length) {
        writes.emplace_back(static_cast<const char *>(bytes), length);
        inheritable = inheritable || (fcntl(fd, F_GETFD) & FD_CLOEXEC) == 0;
    });
    const std::string request(5000, 'w');
    writeData(request.data(), 5000);  // not connected: some 250 kB of records in one call
    printDebugLog("t", "%s", std::string(100000, 'm').c_str());  // a record longer than any holding area
    setFileWriteObserver(nullptr);
    umask(mask);
    struct stat info {};
    ASSERT_EQ(stat("VRENLinuxSDKLog.txt", &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_FALSE(inheritable);
    ASSERT_GT(writes.size(), 2u);
    std::string all;
    for (const std::string &write : writes) {
        EXPECT_TRUE(std::regex_search(write, std::regex(R"(^\d{4}/\d{2}/\d{2} )"))) << write.substr(0, 40);
        EXPECT_TRUE(write.ends_with("\n")) << write.substr(write.size() - 40);
        all += write;
    }
    EXPECT_EQ(all, logText());
}

TEST_F(DebugLog, MessageThatCannotBeFormattedWritesTheFailureRecord) {
    // In the C locale a lone surrogate has no multibyte form: vasprintf fails.
    printDebugLog("t", "%ls", L"\xD800");
    // A null format is refused the same way instead of crashing.
    const char *noFormat = nullptr;
    printDebugLog("t", noFormat);
    const auto found = records(logText());
    ASSERT_EQ(found.size(), 2u);
    for (const auto &record : found)
        EXPECT_EQ(withoutStamp(record), "T  : Failed vasprinterf. Can't write dubug log.\n");
}

// Records at a clock held still: the whole text of a single record and of the
// transport's batched records, time stamp included, in a known time zone.
TEST_F(DebugLog, ExactRecordsAtAFixedTime) {
    const char *saved = std::getenv("TZ");
    const std::string previous = saved != nullptr ? saved : "";
    setenv("TZ", "UTC0", 1);
    struct Row {
        time_t seconds;
        suseconds_t micros;
        const char *stamp;
    };
    // The clock moves on between rows: each record has the date and time of
    // its own call, never those of an earlier second.
    const Row rows[] = {
        /* 0 */ {1700000000, 0, "2023/11/14 22:13:20.000000"},
        /* 1 */ {1700000000, 7, "2023/11/14 22:13:20.000007"},
        /* 2 */ {1700000000, 40500, "2023/11/14 22:13:20.040500"},
        /* 3 */ {1700000000, 999999, "2023/11/14 22:13:20.999999"},
        /* 4 */ {1700000001, 0, "2023/11/14 22:13:21.000000"},
        /* 5 */ {1700003600, 12, "2023/11/14 23:13:20.000012"},
        /* 6 */ {1700000000 + 86400 * 47, 500, "2023/12/31 22:13:20.000500"},
        /* 7 */ {1700000000, 1, "2023/11/14 22:13:20.000001"},
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE("row " + std::to_string(i));
        markLog();
        gFixedTime = timeval{rows[i].seconds, rows[i].micros};
        printDebugLog("ConnectToPrinter", "start");
        writeData("A", 1);  // not connected: only the records before the first attempt
        gFixedTime.reset();
        const std::string stamp = rows[i].stamp;
        EXPECT_EQ(logText(), stamp + "  : [ConnectToPrinter         ] start\n" +
                                 stamp + "  : [writeData                ] write data : \n" +
                                 stamp + "  : [writeData                ] i : 0, 41, A \n");
    }
    if (saved != nullptr)
        setenv("TZ", previous.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

// Seconds since midnight of a record's time stamp.
int secondOfDay(const std::string &record) {
    std::smatch m;
    const std::regex time(R"( (\d{2}):(\d{2}):(\d{2})\.)");
    if (!std::regex_search(record, m, time))
        return -1;
    return std::stoi(m[1]) * 3600 + std::stoi(m[2]) * 60 + std::stoi(m[3]);
}

// The date and time are local time in the zone in force when the record is
// written, also when the application changed TZ since the last record.
TEST_F(DebugLog, LocalTimeFollowsAChangedTimeZone) {
    const char *saved = std::getenv("TZ");
    const std::string previous = saved != nullptr ? saved : "";
    setenv("TZ", "UTC0", 1);
    tzset();
    // A clock held still, however long the machine takes between records:
    // the zone changes once within a second and once with the next second.
    gFixedTime = timeval{1700000000, 0};
    printDebugLog("t", "utc");
    setenv("TZ", "EAT-3", 1);  // three hours east of UTC, taken up without tzset()
    gFixedTime = timeval{1700000000, 500000};
    printDebugLog("t", "east");
    setenv("TZ", "UTC0", 1);
    gFixedTime = timeval{1700000001, 0};
    printDebugLog("t", "utc again");
    gFixedTime.reset();
    if (saved != nullptr)
        setenv("TZ", previous.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();

    const auto found = records(logText());
    ASSERT_EQ(found.size(), 3u);
    EXPECT_EQ((secondOfDay(found[1]) - secondOfDay(found[0]) + 86400) % 86400, 3 * 3600);
    EXPECT_EQ((secondOfDay(found[2]) - secondOfDay(found[0]) + 86400) % 86400, 1);
}

// A zone whose TZ value is too long to be kept for comparison is taken up
// anew for every record: within one second, two such zones and then no zone
// at all each give their own local time.
TEST_F(DebugLog, LocalTimeFollowsZonesTooLongToKeep) {
    std::string padded = ":/usr/share/zoneinfo/";
    for (int i = 0; i < 60; ++i)
        padded += "./";
    if (access("/usr/share/zoneinfo/Etc/GMT-3", R_OK) != 0)
        GTEST_SKIP() << "no time zone files on this machine";
    const char *saved = std::getenv("TZ");
    const std::string previous = saved != nullptr ? saved : "";
    const std::optional<std::string> rows[] = {
        /* 0 */ padded + "Etc/UTC",
        /* 1 */ padded + "Etc/GMT-3",
        /* 2 */ std::nullopt,
        /* 3 */ padded + "Etc/GMT+5",
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE("row " + std::to_string(i));
        if (rows[i])
            setenv("TZ", rows[i]->c_str(), 1);
        else
            unsetenv("TZ");
        markLog();
        gFixedTime = timeval{1700000000, 0};
        printDebugLog("t", "x");
        gFixedTime.reset();
        // The same time formatted here, in the zone now in force.
        tzset();
        const time_t seconds = 1700000000;
        tm local{};
        localtime_r(&seconds, &local);
        char stamp[32];
        strftime(stamp, sizeof stamp, "%Y/%m/%d %H:%M:%S", &local);
        EXPECT_EQ(logText(), std::string(stamp) + ".000000  : [t                        ] x\n");
    }
    if (saved != nullptr)
        setenv("TZ", previous.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

// The transport's per-byte records look exactly like single records: a NUL
// byte ends the message as "%s" would, other bytes appear raw.
TEST_F(DebugLog, PerByteRecordsOfTheTransport) {
    const unsigned char bytes[] = {0x00, 'A', '\n', 0xFF};
    writeData(bytes, sizeof bytes);  // not connected: the write fails, the records stay
    const auto messages = logMessages("writeData");
    ASSERT_GE(messages.size(), 5u);
    EXPECT_EQ(messages[0], "write data : ");
    EXPECT_EQ(messages[1], "i : 0, 00, ");
    EXPECT_EQ(messages[2], "i : 1, 41, A ");
    EXPECT_EQ(messages[3], "i : 2, 0a, \n ");
    EXPECT_EQ(messages[4], "i : 3, ff, \xff ");
}

}  // namespace
}  // namespace vren::test
