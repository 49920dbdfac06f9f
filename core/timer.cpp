#include "core/timer.h"

#include "core/output.h"
#include "platform/platform.h"

float MsPerTick = 0.0f;
float SecsPerTick = 0.0f;

uint32_t Timer::Ticks() { return plat::TickCount(); }

// Measures the tick rate across a 100 ms sleep. A processor whose counter
// cannot be read, or does not move, cannot time anything: that is fatal.
static void Calibrate() {
    if (!plat::TickCountAvailable()) {
        Quitf("rdtsc instruction not supported on your CPU.");
        return;
    }
    double frequency = static_cast<double>(plat::PerfFrequency());
    int64_t c0 = plat::PerfCounter();
    uint32_t t0 = Timer::Ticks();
    SleepMs(100);
    int64_t c1 = plat::PerfCounter();
    uint32_t ticks = Timer::Ticks() - t0;
    if (ticks == 0) {
        Quitf("rdtsc instruction not supported on your CPU.");
        return;
    }
    double elapsedMs = (static_cast<double>(c1 - c0) / frequency) * 1000.0;
    MsPerTick = static_cast<float>(elapsedMs / ticks);
    SecsPerTick = MsPerTick * 0.001f;
}

// A counter whose rate the system states is not measured: a loader pays no
// sleep before its first byte.
static void SetRate() {
    int64_t frequency = plat::TickFrequency();
    if (frequency <= 0) return Calibrate();
    MsPerTick = static_cast<float>(1000.0 / static_cast<double>(frequency));
    SecsPerTick = MsPerTick * 0.001f;
}

Timer::Timer() {
    if (SecsPerTick == 0.0f) SetRate();
    m_Start = Ticks();
}

float Timer::ElapsedMs(uint32_t now) const {
    uint32_t ticks = now - m_Start;
    return static_cast<float>(ticks) * MsPerTick;
}

float Timer::ElapsedSecs(uint32_t now) const {
    uint32_t ticks = now - m_Start;
    return static_cast<float>(ticks) * SecsPerTick;
}

void SleepMs(uint32_t milliseconds) { plat::SleepMs(milliseconds); }

uint32_t GetTimeMs() { return plat::TimeMs(); }
