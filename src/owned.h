// Resources the library owns for the length of a call: released when their
// owner goes, on every path, unless they are handed to someone else.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <utility>

namespace vren {

// Owns a value of type T that is given back with `Release`, unless it is
// `Empty`. release() hands the value over; the new owner gives it back.
template <typename T, auto Release, T Empty>
class Owned {
public:
    Owned() noexcept = default;
    explicit Owned(T value) noexcept : value_(value) {}
    ~Owned() { reset(); }
    Owned(Owned &&other) noexcept : value_(other.release()) {}
    Owned &operator=(Owned &&other) noexcept {
        reset(other.release());
        return *this;
    }
    Owned(const Owned &) = delete;
    Owned &operator=(const Owned &) = delete;

    T get() const noexcept { return value_; }
    explicit operator bool() const noexcept { return value_ != Empty; }
    T release() noexcept { return std::exchange(value_, Empty); }
    void reset(T value = Empty) noexcept {
        const T old = std::exchange(value_, value);
        if (old != Empty)
            Release(old);
    }

private:
    T value_ = Empty;
};

inline void closeDescriptor(int fd) noexcept {
    close(fd);
}

inline void freeMemory(void *memory) noexcept {
    std::free(memory);
}

// A file descriptor, closed when it goes.
using Descriptor = Owned<int, closeDescriptor, -1>;

// Memory from the C allocator (calloc), given back with free(): what the
// library hands to C callers, who free it themselves.
template <typename T>
using Allocated = Owned<T *, freeMemory, nullptr>;

}  // namespace vren
