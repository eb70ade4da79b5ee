// Running out of memory on purpose: a child process lowers its address-space
// limit so that the next large allocation fails. AddressSanitizer reserves
// far more address space than any such limit, so these checks run in the
// plain build only.
#pragma once

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>

namespace vren::test {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kCanLimitMemory = false;
#else
constexpr bool kCanLimitMemory = true;
#endif

// Allows `headroom` more bytes of address space than the process uses now.
inline void limitAddressSpace(size_t headroom) {
    long pages = 0;
    if (std::FILE *statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld", &pages) != 1)
            pages = 0;
        std::fclose(statm);
    }
    const rlimit limit{static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + headroom,
                       RLIM_INFINITY};
    setrlimit(RLIMIT_AS, &limit);
}

}  // namespace vren::test
