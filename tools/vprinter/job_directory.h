// The virtual printer's job directory: every label a connection prints is
// rendered and kept as three files, numbered in the order the labels were
// printed:
//   label-0001.png   the label as the printer would print it
//   label-0001.bin   the raw bytes of the label
//   label-0001.json  the parsed commands with the parser's and renderer's diagnostics
// When a connection ends with commands that were never printed, they are kept
// the same way as "unprinted-0002.*" (the number continues the sequence).
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "session.h"

namespace vprinter {

class VirtualPrinter;

class JobDirectory {
public:
    // `directory` must exist. With `closeMidLabel`, a connection is closed as
    // soon as a label's first drawing command has arrived, before its print
    // command: the bytes after that command are not taken, even when they
    // came in the same read.
    explicit JobDirectory(std::string directory, bool closeMidLabel = false);
    ~JobDirectory();

    // Routes the printer's received bytes and closed connections here. The
    // printer calls back from its own thread until it is stopped: stop or
    // destroy it before this object.
    void attach(VirtualPrinter &printer);

    // Feeds bytes of a connection; false when the connection is to be closed.
    bool received(size_t connection, std::string_view bytes);
    // Ends a connection: unprinted commands are kept.
    void closed(size_t connection);

    int labelCount() const;
    // Called (on the thread that fed the bytes) with each label written, by
    // its file name without extension, and whether its picture was written
    // (a failure has been reported on stderr already).
    using LabelCallback =
        std::function<void(const std::string &base, const render::LabelOutput &label, bool pictureWritten)>;
    void onLabel(LabelCallback callback);

private:
    void write(const render::LabelOutput &label);

    std::string directory_;
    bool closeMidLabel_;
    mutable std::mutex mutex_;
    std::map<size_t, std::unique_ptr<render::Session>> sessions_;
    int count_ = 0;
    LabelCallback callback_;
};

}  // namespace vprinter
