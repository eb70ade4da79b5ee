// The debug log: one time-stamped record per call, appended to a file in the
// current working directory.
#include "debugLog.h"

#include <sys/time.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "VrenLabelAPI.h"

namespace vren {
namespace {

constexpr const char *kLogFile = "VRENLinuxSDKLog.txt";

// Date and time text of one time reading. The calendar conversion is done once
// per second and time zone: the transport logs one record per byte, and a
// fresh localtime() for each of them would cost more than the record itself.
// Like localtime(), each conversion first takes up the time zone in force (TZ
// may have changed since), which localtime_r() alone would not do; a changed
// TZ formats the time anew within the same second.
struct Stamp {
    const char *text;  // valid until the next reading on this thread
    size_t length;
    unsigned micros;
};

// The TZ value the cached text was formatted in. A value too long to keep
// never matches, so that such a zone is looked at for every record.
class ZoneSeen {
public:
    bool matches(const char *zone) const noexcept {
        if (zone == nullptr)
            return state_ == State::Unset;
        return state_ == State::Kept && std::strcmp(zone, text_) == 0;
    }
    void keep(const char *zone) noexcept {
        if (zone == nullptr) {
            state_ = State::Unset;
        } else if (std::strlen(zone) < sizeof text_) {
            std::strcpy(text_, zone);
            state_ = State::Kept;
        } else {
            state_ = State::TooLong;
        }
    }

private:
    enum class State { Unset, Kept, TooLong };
    State state_ = State::TooLong;
    char text_[128] = {};
};

Stamp now() noexcept {
    thread_local time_t cachedSecond = -1;
    thread_local ZoneSeen cachedZone;
    thread_local char cachedText[99];
    thread_local size_t cachedLength = 0;
    timeval tv{};
    gettimeofday(&tv, nullptr);
    const char *zone = std::getenv("TZ");
    if (tv.tv_sec != cachedSecond || !cachedZone.matches(zone)) {
        cachedZone.keep(zone);
        tm local{};
        time_t seconds = tv.tv_sec;
        tzset();
        localtime_r(&seconds, &local);
        cachedLength = strftime(cachedText, sizeof cachedText, "%Y/%m/%d %H:%M:%S", &local);
        cachedText[cachedLength] = '\0';
        cachedSecond = tv.tv_sec;
    }
    return {cachedText, cachedLength, static_cast<unsigned>(tv.tv_usec)};
}

void reportOpenFailure() noexcept {
    std::fputs("Failed to open log file.\n", stdout);
}

// The message is written as "%s" would write it: up to its first NUL.
void writeRecord(std::FILE *file, const Stamp &stamp, const char *tag, const char *text) noexcept {
    std::fprintf(file, "%s.%06u  : [%-25s] %s\n", stamp.text, stamp.micros, tag, text);
}

void writeFailureRecord(std::FILE *file, const Stamp &stamp) noexcept {
    std::fprintf(file, "%s.%06u  : Failed vasprinterf. Can't write dubug log.\n", stamp.text, stamp.micros);
}

// Formats the message and writes its record, or the failure record when the
// message cannot be formatted. The record carries the time at which the call
// came, read before the message is formatted.
void writeFormatted(std::FILE *file, const char *tag, const char *format, std::va_list args) noexcept {
    const Stamp stamp = now();
    char *text = nullptr;
    // A null format cannot be formatted: it gets the failure record rather
    // than crashing the application inside vasprintf.
    if (format == nullptr || vasprintf(&text, format, args) < 0) {
        writeFailureRecord(file, stamp);
        return;
    }
    writeRecord(file, stamp, tag, text);
    std::free(text);
}

}  // namespace

void vlogRecord(const char *tag, const char *format, std::va_list args) noexcept {
    std::FILE *file = std::fopen(kLogFile, "a+");
    if (file == nullptr) {
        reportOpenFailure();
        return;
    }
    writeFormatted(file, tag, format, args);
    std::fclose(file);
}

LogBatch::~LogBatch() {
    if (file_ != nullptr)
        std::fclose(file_);
}

bool LogBatch::open() noexcept {
    if (file_ != nullptr)
        return true;
    if (!failed_) {
        file_ = std::fopen(kLogFile, "a+");
        if (file_ != nullptr) {
            // Records of a large transfer go out in few large writes.
            std::setvbuf(file_, nullptr, _IOFBF, 1 << 16);
            return true;
        }
        failed_ = true;
    }
    // Like a single record: every record that cannot be written says so.
    reportOpenFailure();
    return false;
}

void LogBatch::record(const char *format, ...) noexcept {
    if (!open())
        return;
    std::va_list args;
    va_start(args, format);
    writeFormatted(file_, tag_, format, args);
    va_end(args);
}

void LogBatch::message(const char *text, size_t length) noexcept {
    if (tagFieldLength_ == 0) {
        const int n = std::snprintf(tagField_, sizeof tagField_, "  : [%-25s] ", tag_);
        tagFieldLength_ = n < 0 ? 0 : std::min(static_cast<size_t>(n), sizeof tagField_ - 1);
    }
    const Stamp stamp = now();
    // One record is assembled in place and handed to stdio in one piece.
    char record[256];
    char *out = record;
    std::memcpy(out, stamp.text, stamp.length);
    out += stamp.length;
    *out++ = '.';
    unsigned micros = stamp.micros;
    for (int i = 5; i >= 0; --i) {
        out[i] = static_cast<char>('0' + micros % 10);
        micros /= 10;
    }
    out += 6;
    std::memcpy(out, tagField_, tagFieldLength_);
    out += tagFieldLength_;
    const size_t room = sizeof record - static_cast<size_t>(out - record) - 1;
    if (length <= room) {
        std::memcpy(out, text, length);
        out += length;
        *out++ = '\n';
        std::fwrite(record, 1, static_cast<size_t>(out - record), file_);
        return;
    }
    std::fwrite(record, 1, static_cast<size_t>(out - record), file_);
    std::fwrite(text, 1, length, file_);
    std::fputc('\n', file_);
}

namespace {

constexpr char kHex[] = "0123456789abcdef";

char *putHexByte(char *out, unsigned char byte) {
    *out++ = kHex[byte >> 4];
    *out++ = kHex[byte & 0x0f];
    return out;
}

// Appends ", %c " as "%s" of the formatted message would show it: a NUL byte
// ends the message, so the character and the blank after it are not written.
char *putCharField(char *out, unsigned char byte) {
    *out++ = ',';
    *out++ = ' ';
    if (byte == 0)
        return out;
    *out++ = static_cast<char>(byte);
    *out++ = ' ';
    return out;
}

}  // namespace

void LogBatch::writtenByte(unsigned index, unsigned char byte) noexcept {
    if (!open())
        return;
    char text[48] = "i : ";
    char *out = text + 4;
    char digits[12];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + index % 10);
        index /= 10;
    } while (index != 0);
    while (count > 0)
        *out++ = digits[--count];
    *out++ = ',';
    *out++ = ' ';
    out = putHexByte(out, byte);
    out = putCharField(out, byte);
    message(text, static_cast<size_t>(out - text));
}

void LogBatch::readByte(unsigned char byte) noexcept {
    if (!open())
        return;
    char text[8];
    char *out = putHexByte(text, byte);
    out = putCharField(out, byte);
    message(text, static_cast<size_t>(out - text));
}

}  // namespace vren

extern "C" VREN_API void printDebugLog(const char *tag, const char *format, ...) {
    std::va_list args;
    va_start(args, format);
    vren::vlogRecord(tag, format, args);
    va_end(args);
}
