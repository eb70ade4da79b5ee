// The debug log: one time-stamped record per call, appended to a file in the
// current working directory.
#include "debugLog.h"

#include <fcntl.h>
#include <sys/time.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>

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

// The log is opened for appending, never through a symbolic link planted at
// its name, and not inherited by child processes. A new log is readable by
// its owner only: it holds every byte sent to the printer. An existing log
// keeps its mode.
int openLog() noexcept {
    for (;;) {
        const int fd = open(kLogFile, O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0 || errno != EINTR) {
            if (fd < 0)
                reportOpenFailure();
            return fd;
        }
    }
}

// Hands whole records to the file in one write: with O_APPEND a write lands
// in one piece at the end of the file, so processes that share the log never
// tear each other's records. Only a write the system cuts short goes on in
// another.
void writeOut(int fd, const char *bytes, size_t size) noexcept {
    while (size > 0) {
        const ssize_t n = write(fd, bytes, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        bytes += n;
        size -= static_cast<size_t>(n);
    }
}

// The room a time stamp takes: the date and time, '.', six digits.
constexpr size_t kStampRoom = 99 + 7;

// "<date> <time>.<usec>"; returns the end.
char *putStamp(char *out, const Stamp &stamp) noexcept {
    std::memcpy(out, stamp.text, stamp.length);
    out += stamp.length;
    *out++ = '.';
    unsigned micros = stamp.micros;
    for (int i = 5; i >= 0; --i) {
        out[i] = static_cast<char>('0' + micros % 10);
        micros /= 10;
    }
    return out + 6;
}

// "  : [<tag padded to 25>] " as "%-25s" writes the tag (a null one as
// "(null)"); returns its length when `out` is null.
size_t putTagField(char *out, const char *tag) noexcept {
    if (tag == nullptr)
        tag = "(null)";
    const size_t length = std::strlen(tag);
    const size_t padded = std::max<size_t>(length, 25);
    if (out != nullptr) {
        std::memcpy(out, "  : [", 5);
        std::memcpy(out + 5, tag, length);
        std::memset(out + 5 + length, ' ', padded - length);
        std::memcpy(out + 5 + padded, "] ", 2);
    }
    return padded + 7;
}

// Writes one record, "<stamp><tag field><message>\n", in one write.
void writeRecord(int fd, const Stamp &stamp, const char *tagField, size_t tagFieldLength, const char *text,
                 size_t length) noexcept {
    const size_t size = kStampRoom + tagFieldLength + length + 1;
    const std::unique_ptr<char[]> record(new (std::nothrow) char[size]);
    if (record) {
        char *out = putStamp(record.get(), stamp);
        std::memcpy(out, tagField, tagFieldLength);
        out += tagFieldLength;
        std::memcpy(out, text, length);
        out += length;
        *out++ = '\n';
        writeOut(fd, record.get(), static_cast<size_t>(out - record.get()));
        return;
    }
    // Without memory to put it together the record still goes out in one
    // system call, from its pieces.
    char stampText[kStampRoom];
    iovec pieces[] = {
        {stampText, static_cast<size_t>(putStamp(stampText, stamp) - stampText)},
        {const_cast<char *>(tagField), tagFieldLength},
        {const_cast<char *>(text), length},
        {const_cast<char *>("\n"), 1},
    };
    while (writev(fd, pieces, 4) < 0 && errno == EINTR) {
    }
}

void writeFailureRecord(int fd, const Stamp &stamp) noexcept {
    constexpr char kFailure[] = "  : Failed vasprinterf. Can't write dubug log.\n";
    char record[kStampRoom + sizeof kFailure];
    char *out = putStamp(record, stamp);
    std::memcpy(out, kFailure, sizeof kFailure - 1);
    writeOut(fd, record, static_cast<size_t>(out - record) + sizeof kFailure - 1);
}

// The message of a record, formatted; null when it cannot be formatted (a null
// format among the causes). The message is written as "%s" would write it: up
// to its first NUL.
struct Message {
    char *text = nullptr;
    ~Message() { std::free(text); }
    bool format(const char *format, std::va_list args) noexcept {
        return format != nullptr && vasprintf(&text, format, args) >= 0;
    }
};

}  // namespace

void vlogRecord(const char *tag, const char *format, std::va_list args) noexcept {
    const int fd = openLog();
    if (fd < 0)
        return;
    // The record carries the time at which the call came, read before the
    // message is formatted.
    const Stamp stamp = now();
    Message message;
    if (!message.format(format, args)) {
        writeFailureRecord(fd, stamp);
    } else {
        // A tag of any length is written whole.
        const size_t tagFieldLength = putTagField(nullptr, tag);
        char usual[128];
        std::unique_ptr<char[]> longer;
        char *tagField = usual;
        if (tagFieldLength > sizeof usual) {
            longer.reset(new (std::nothrow) char[tagFieldLength]);
            tagField = longer.get();
        }
        if (tagField != nullptr) {
            putTagField(tagField, tag);
            writeRecord(fd, stamp, tagField, tagFieldLength, message.text, std::strlen(message.text));
        }
    }
    close(fd);
}

namespace {

// Records of a batch are held until this much is waiting.
constexpr size_t kHoldingArea = 1 << 16;

}  // namespace

LogBatch::~LogBatch() {
    flush();
    if (fd_ >= 0)
        close(fd_);
}

bool LogBatch::open() noexcept {
    if (fd_ >= 0)
        return true;
    // One attempt per batch: a log that cannot be opened says so once.
    if (failed_)
        return false;
    fd_ = openLog();
    failed_ = fd_ < 0;
    return !failed_;
}

void LogBatch::flush() noexcept {
    if (heldLength_ != 0)
        writeOut(fd_, held_.get(), heldLength_);
    heldLength_ = 0;
}

void LogBatch::record(const char *format, ...) noexcept {
    if (!open())
        return;
    const Stamp stamp = now();
    Message text;
    std::va_list args;
    va_start(args, format);
    const bool formatted = text.format(format, args);
    va_end(args);
    if (!formatted) {
        flush();
        writeFailureRecord(fd_, stamp);
        return;
    }
    message(text.text, std::strlen(text.text));
}

void LogBatch::message(const char *text, size_t length) noexcept {
    // The tags of batches are the transport's names, far shorter than the area.
    if (tagFieldLength_ == 0 && putTagField(nullptr, tag_) <= sizeof tagField_)
        tagFieldLength_ = putTagField(tagField_, tag_);
    if (tagFieldLength_ == 0)
        return;
    const Stamp stamp = now();
    const size_t most = kStampRoom + tagFieldLength_ + length + 1;
    if (!held_) {
        held_.reset(new (std::nothrow) char[kHoldingArea]);
        heldLength_ = 0;
    }
    if (held_ && most > kHoldingArea - heldLength_)
        flush();
    if (!held_ || most > kHoldingArea) {
        flush();
        writeRecord(fd_, stamp, tagField_, tagFieldLength_, text, length);
        return;
    }
    char *out = putStamp(held_.get() + heldLength_, stamp);
    std::memcpy(out, tagField_, tagFieldLength_);
    out += tagFieldLength_;
    std::memcpy(out, text, length);
    out += length;
    *out++ = '\n';
    heldLength_ = static_cast<size_t>(out - held_.get());
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
    // Logging does not change what the caller's errno says.
    const int error = errno;
    std::va_list args;
    va_start(args, format);
    vren::vlogRecord(tag, format, args);
    va_end(args);
    errno = error;
}
