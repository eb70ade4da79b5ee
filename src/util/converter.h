// The external image converter (ImageMagick's "convert") and the temporary
// file it writes.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vren {

// The converter's output name for a source path: the path up to and including
// its last '.', then "temp1sa3.bmp" (/images/logo.jpg gives
// /images/logo.temp1sa3.bmp). The path must contain a '.'.
std::string temporaryImageName(std::string_view source);

// The converter's output file. create() makes it exclusively (never following
// or reusing anything already at the name) before the converter writes into
// it; the destructor removes it.
class TemporaryImage {
public:
    TemporaryImage() = default;
    ~TemporaryImage() { remove(); }
    TemporaryImage(const TemporaryImage &) = delete;
    TemporaryImage &operator=(const TemporaryImage &) = delete;

    // Creates the file under `name` when that name is free, else under a
    // unique variant of it in the same directory that still ends in ".bmp".
    // Returns 0 or the errno of the failure.
    int create(const std::string &name);
    void remove() noexcept;
    const std::string &path() const noexcept { return path_; }

private:
    std::string path_;
};

enum class Conversion {
    TrueColor,   // convert -type TrueColor <source> <output>
    Monochrome,  // convert -monochrome <source> <output>
};

// Runs the converter on `source`, writing `output`, and waits for it. The
// arguments go to the program as they are, one each (no shell is involved).
// Nothing is logged: a conversion that wrote nothing shows up when the output
// is opened. A program that cannot be started is named on the standard error,
// as a shell would; the exit status is not examined.
void runConverter(Conversion mode, const std::string &source, const std::string &output);

// The converter's arguments after its name: the conversion's options, the
// source, the output. Relative paths are made to start with "./" so that the
// converter never reads a leading "xyz:" as a format prefix or "|" and "@" as
// its own commands, and '%', which it expands in output names and in names
// with a frame selector, is doubled. The converter writes exactly one image,
// into the output file itself (several would go to numbered files beside
// it): the source gets the selector "[0]" (first frame), or, when its name
// already ends in ']', which the converter reads as it stands if the file
// exists and a selector after it would spoil, "-delete 1--1" follows it,
// which drops every frame but the first.
std::vector<std::string> converterArguments(Conversion mode, const std::string &source, const std::string &output);

}  // namespace vren
