// Shared between the files of the fakes; not for tests.
#pragma once

#include <dlfcn.h>

namespace vren::fake::detail {

// The definition that the executable's own one hides: the C library's (or a
// sanitizer's interceptor in front of it) or libbluetooth's.
template <typename Function>
Function *next(const char *name) {
    return reinterpret_cast<Function *>(dlsym(RTLD_NEXT, name));
}

void resetSdp();

}  // namespace vren::fake::detail
