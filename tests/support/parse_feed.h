// Feeding the command parser the way a socket would: in pieces.
#pragma once

#include <string_view>
#include <vector>

#include "parser.h"

namespace vren::test {

// The events of `pieces` fed one after the other, then the end of the stream.
inline std::vector<cmdparse::Event> parsedInPieces(const std::vector<std::string_view> &pieces,
                                                   cmdparse::Limits limits = {}) {
    cmdparse::Parser parser(limits);
    std::vector<cmdparse::Event> events;
    for (std::string_view piece : pieces) {
        parser.feed(piece);
        for (cmdparse::Event &event : parser.take())
            events.push_back(std::move(event));
    }
    parser.finish();
    for (cmdparse::Event &event : parser.take())
        events.push_back(std::move(event));
    return events;
}

// The events of `bytes` fed one byte at a time.
inline std::vector<cmdparse::Event> parsedBytewise(std::string_view bytes, cmdparse::Limits limits = {}) {
    std::vector<std::string_view> pieces;
    for (size_t i = 0; i < bytes.size(); ++i)
        pieces.push_back(bytes.substr(i, 1));
    return parsedInPieces(pieces, limits);
}

}  // namespace vren::test
