// The tick counter depends on the processor, not the operating system, so
// both systems share this file: the time-stamp counter on x86, the monotonic
// clock elsewhere.
#include "platform/platform.h"

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#include <x86intrin.h>

namespace plat {

// CPUID leaf 1, EDX: the processor has a time-stamp counter.
const unsigned kCpuidTimeStampCounter = 1u << 4;

uint32_t TickCount() { return static_cast<uint32_t>(__rdtsc()); }

bool TickCountAvailable() {
    unsigned eax, ebx, ecx, edx;
    return __get_cpuid(1, &eax, &ebx, &ecx, &edx) && (edx & kCpuidTimeStampCounter);
}

}  // namespace plat

#else

namespace plat {

uint32_t TickCount() { return static_cast<uint32_t>(PerfCounter()); }

bool TickCountAvailable() { return true; }

}  // namespace plat

#endif
