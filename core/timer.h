// A stopwatch on the platform's tick counter, and the system's millisecond
// clock. A counter of stated rate (POSIX) is used as it is; the processor's
// time-stamp counter (Windows) is calibrated once against the performance
// counter.
#pragma once

#include <cstdint>

// Both 0 until the first Timer sets them.
extern float MsPerTick;
extern float SecsPerTick;

class Timer {
public:
    // The first Timer of the process sets the tick rate; where it has to be
    // measured (Windows), that takes about 100 ms.
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
