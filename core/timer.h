// A stopwatch on the processor's tick counter, calibrated once against the
// performance counter, and the system's millisecond clock.
#pragma once

#include <cstdint>

// Both 0 until the first Timer calibrates them.
extern float MsPerTick;
extern float SecsPerTick;

class Timer {
public:
    // The first Timer of the process calibrates, which takes about 100 ms.
    Timer();
    static uint32_t Ticks();
    // Intervals of 2^32 ticks or more wrap around.
    float ElapsedMs() const { return ElapsedMs(Ticks()); }
    float ElapsedSecs() const { return ElapsedSecs(Ticks()); }
    // The same, as of a given tick.
    float ElapsedMs(uint32_t now) const;
    float ElapsedSecs(uint32_t now) const;

    uint32_t m_Start;
};

void SleepMs(uint32_t milliseconds);
uint32_t GetTimeMs();
