// The Windows tick counter: the time-stamp counter on x86, whose rate is
// measured once (see Timer), the performance counter elsewhere. POSIX
// systems count ticks on their monotonic clock (platform_posix.cpp).
#include "platform/platform.h"

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#include <x86intrin.h>

namespace plat {

// CPUID leaf 1, EDX: the processor has a time-stamp counter.
const unsigned kCpuidTimeStampCounter = 1u << 4;

uint32_t TickCount() { return static_cast<uint32_t>(__rdtsc()); }

int64_t TickFrequency() { return 0; }

bool TickCountAvailable() {
    unsigned eax, ebx, ecx, edx;
    return __get_cpuid(1, &eax, &ebx, &ecx, &edx) && (edx & kCpuidTimeStampCounter);
}

}  // namespace plat

#else

namespace plat {

uint32_t TickCount() { return static_cast<uint32_t>(PerfCounter()); }

int64_t TickFrequency() { return PerfFrequency(); }

bool TickCountAvailable() { return true; }

}  // namespace plat

#endif
