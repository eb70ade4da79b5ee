#include "job_directory.h"

#include <cstdio>
#include <fstream>

#include <unistd.h>

#include "png_io.h"
#include "virtual_printer.h"

namespace vprinter {

JobDirectory::JobDirectory(std::string directory, bool closeMidLabel)
    : directory_(std::move(directory)), closeMidLabel_(closeMidLabel) {}

JobDirectory::~JobDirectory() = default;

void JobDirectory::attach(VirtualPrinter &printer) {
    printer.onBytesReceived([this](size_t index, std::string_view bytes) { return received(index, bytes); });
    printer.onConnectionClosed([this](size_t index, const std::string &) { closed(index); });
}

bool JobDirectory::received(size_t connection, std::string_view bytes) {
    std::lock_guard lock(mutex_);
    auto &session = sessions_[connection];
    if (!session)
        session = std::make_unique<render::Session>();
    if (!closeMidLabel_) {
        session->feed(bytes.data(), bytes.size());
        for (const render::LabelOutput &label : session->take())
            write(label);
        return true;
    }
    // A byte at a time, so that the connection ends right after the first
    // drawing command even when the label's print command came in the same
    // read (the library sends a label's commands in one write).
    for (const char &byte : bytes) {
        session->feed(&byte, 1);
        for (const render::LabelOutput &label : session->take())
            write(label);
        if (session->pendingComposition() > 0)
            return false;
    }
    return true;
}

void JobDirectory::closed(size_t connection) {
    std::lock_guard lock(mutex_);
    const auto found = sessions_.find(connection);
    if (found == sessions_.end())
        return;
    found->second->finish(true);
    for (const render::LabelOutput &label : found->second->take())
        write(label);
    sessions_.erase(found);
}

int JobDirectory::labelCount() const {
    std::lock_guard lock(mutex_);
    return count_;
}

void JobDirectory::onLabel(LabelCallback callback) {
    std::lock_guard lock(mutex_);
    callback_ = std::move(callback);
}

namespace {

// Each file is written under a temporary name and renamed into place, so that
// whoever watches the job directory sees a file whole or not at all.
bool moveIntoPlace(const std::string &temporary, const std::string &path) {
    if (std::rename(temporary.c_str(), path.c_str()) == 0)
        return true;
    std::remove(temporary.c_str());
    return false;
}

bool writeBytes(const std::string &path, const std::string &bytes) {
    const std::string temporary = path + ".part";
    std::ofstream file(temporary, std::ios::binary);
    file << bytes;
    file.close();
    if (!file) {
        std::remove(temporary.c_str());
        return false;
    }
    return moveIntoPlace(temporary, path);
}

}  // namespace

void JobDirectory::write(const render::LabelOutput &label) {
    char name[32];
    std::snprintf(name, sizeof name, "%s-%04d", label.printed ? "label" : "unprinted", ++count_);
    const std::string base = directory_ + "/" + name;
    const std::string png = base + ".png";
    const bool pictureWritten = render::writePng(label.canvas, png + ".part") && moveIntoPlace(png + ".part", png);
    if (!pictureWritten) {
        // No picture of an earlier run stays beside this label's bytes as if
        // it were this label's (unlink: a directory of that name is left be).
        ::unlink((png + ".part").c_str());
        ::unlink(png.c_str());
        std::fprintf(stderr, "vren-vprinter: cannot write %s\n", png.c_str());
    }
    for (const auto &[extension, bytes] : {std::pair{".bin", &label.raw}, std::pair{".json", &label.transcript}}) {
        if (!writeBytes(base + extension, *bytes))
            std::fprintf(stderr, "vren-vprinter: cannot write %s%s\n", base.c_str(), extension);
    }
    if (callback_)
        callback_(base, label, pictureWritten);
}

}  // namespace vprinter
