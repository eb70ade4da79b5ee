// Incremental parser of the printer command stream.
//
// Feed bytes as they arrive (any split, down to one byte at a time); take()
// returns the commands and diagnostics found so far, in stream order; finish()
// reports a command left incomplete at the end of the input.
//
// Framing rules:
// - A command starts at the first byte that is not a carriage return or line
//   feed (bare CR and LF between commands are skipped: several commands end in
//   CR LF).
// - Line commands end at the first carriage return.
// - Quoted commands (T, V, B1, B2, B3): the header runs up to the first single
//   quote; the data begins after it and ends at the first single quote that is
//   directly followed by a carriage return. Data containing that pair cannot
//   be told apart from its end.
// - LD: 10-byte header, bytes-per-row x rows raster bytes, carriage return.
//   LCR: 12-byte header, a run-length stream decoded until bytes-per-row x rows
//   raster bytes were produced, carriage return.
// - Anything else becomes a diagnostic with its byte offset, and parsing
//   resumes after the next carriage return; in a line that is no command, at
//   a '^' or '~' before that (the prefixes of the queries and immediate
//   commands), so that a query sent after bytes without their CR is found.
//
// Memory is bounded by the limits: no line, quoted field or raster is held
// beyond them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "command.h"

namespace cmdparse {

struct CommandRow;  // a row of the parser's table of commands

struct Limits {
    size_t maxLine = 4096;             // header or line command without its terminator
    size_t maxQuoted = 64 * 1024;      // data of one quoted field
    size_t maxRaster = 16 * 1024 * 1024;  // decoded bytes of one bitmap
};

class Parser {
public:
    explicit Parser(Limits limits = {});

    void feed(const void *data, size_t size);
    void feed(std::string_view bytes) { feed(bytes.data(), bytes.size()); }
    // End of input: a command still incomplete becomes a diagnostic.
    void finish();
    // Commands and diagnostics found since the last call, in stream order.
    std::vector<Event> take();

    // Bytes fed so far.
    uint64_t fed() const { return base_ + buffer_.size(); }
    // Bytes held in memory: the unconsumed ones and consumed ones not yet
    // dropped (at most 64 KiB of those).
    size_t held() const { return buffer_.size(); }

private:
    enum class State { Start, Discard, BitmapData, BitmapEnd };

    bool step();
    bool startCommand();
    bool lineCommand();
    bool quotedCommand(const CommandRow &entry);
    bool bitmapHeader(const CommandRow &entry);
    bool bitmapData();
    bool bitmapEnd();
    void consume(size_t count);
    void discardLine(uint64_t offset, std::string message);
    bool waitForMore(uint64_t offset, size_t avail);
    void diagnose(uint64_t offset, std::string message);
    void emit(uint64_t offset, uint64_t end, Body body);
    void compact();

    Limits limits_;
    std::string buffer_;  // unconsumed bytes start at pos_
    size_t pos_ = 0;
    uint64_t base_ = 0;   // stream offset of buffer_[0]
    size_t scanned_ = 0;  // bytes after pos_ already searched for a terminator
    size_t quote_ = std::string::npos;  // opening quote of a quoted command, from pos_
    State state_ = State::Start;
    bool finishing_ = false;

    // Bitmap in progress.
    Bitmap bitmap_;
    uint64_t bitmapOffset_ = 0;
    size_t bitmapTotal_ = 0;

    std::vector<Event> events_;
};

// Parses a whole stream at once.
std::vector<Event> parseAll(std::string_view bytes, Limits limits = {});

// Decodes a run-length stream (0x00 and 0xFF followed by a count, other bytes
// literal) onto the end of `raster` until it holds `total` bytes or the stream
// ends (a run whose count byte has not come yet is left unread). Returns the
// stream bytes used; sets `overrun` when a run went past `total` (the raster
// is cut at `total`), and adds to `emptyRuns` the offset of each run of
// length 0. The parser decodes a bitmap this way as its bytes arrive.
size_t decodeRuns(std::string_view stream, size_t total, std::vector<uint8_t> &raster, bool &overrun,
                  std::vector<size_t> *emptyRuns = nullptr);

// Decodes a whole run-length stream into `raster` (replacing what it held)
// until `total` bytes were produced. Returns the stream bytes used, or 0 when
// the stream ended first; `overrun` is set when the last run went past
// `total` (the raster is cut at `total`).
size_t decodeRunLength(std::string_view stream, size_t total, std::vector<uint8_t> &raster, bool &overrun);

}  // namespace cmdparse
