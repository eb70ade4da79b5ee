// The debug log as a sequence of records, for tests that check which function
// logged what, and in which order, across the caller and the transport.
#pragma once

#include <cctype>
#include <string>
#include <vector>

namespace vren::test {

struct LogRecord {
    std::string tag;  // without its padding
    std::string message;
};

// Splits a log text into its records, in order. A record is
// "<date> <time>.<usec>  : [<tag padded>] <message>\n"; the next one starts
// with the year, so a message may hold line feeds.
inline std::vector<LogRecord> splitLogRecords(const std::string &text) {
    std::vector<LogRecord> out;
    const std::string open = "  : [";
    size_t at = 0;
    while ((at = text.find(open, at)) != std::string::npos) {
        const size_t tagStart = at + open.size();
        const size_t close = text.find("] ", tagStart);
        if (close == std::string::npos)
            break;
        std::string tag = text.substr(tagStart, close - tagStart);
        tag.erase(tag.find_last_not_of(' ') + 1);
        size_t end = text.find("\n20", close);
        if (end == std::string::npos)
            end = text.size() - 1;
        out.push_back({std::move(tag), text.substr(close + 2, end - close - 2)});
        at = close;
    }
    return out;
}

// The records of a log text in order, each as "<tag>: <message>". The
// transport's per-byte lines ("i : ..." of writeData, the byte lines after
// "read data : " of readData) are not listed but counted.
struct LogRecords {
    std::vector<std::string> records;
    size_t bytesWritten = 0;
    size_t bytesRead = 0;
};

inline LogRecords parseLogRecords(const std::string &text) {
    LogRecords parsed;
    bool readingBytes = false;
    for (const LogRecord &record : splitLogRecords(text)) {
        if (record.tag == "writeData" && record.message.starts_with("i : ")) {
            ++parsed.bytesWritten;
            continue;
        }
        // "%02x, %c ": a following call's "START" is not a byte.
        if (record.tag == "readData" && readingBytes && record.message.size() >= 4 &&
            std::isxdigit(static_cast<unsigned char>(record.message[0])) &&
            std::isxdigit(static_cast<unsigned char>(record.message[1])) && record.message.compare(2, 2, ", ") == 0) {
            ++parsed.bytesRead;
            continue;
        }
        readingBytes = record.tag == "readData" && record.message == "read data : ";
        parsed.records.push_back(record.tag + ": " + record.message);
    }
    return parsed;
}

}  // namespace vren::test
