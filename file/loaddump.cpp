#include "file/loaddump.h"

#include <cstring>
#include <mutex>

#include "core/strings.h"
#include "core/timer.h"
#include "data/assetpath.h"
#include "zip/zipfile.h"

const LoadClock s_SystemLoadClock = {GetTimeMs, Timer::Ticks};
const LoadClock* s_LoadClock = &s_SystemLoadClock;
uint32_t s_LastOpenTime = 0;
bool s_StreamLoadLog = false;

const uint32_t kRedAfterMs = 25;

// Records may come from any thread; the lock keeps each record's reading
// and moving of the clock together.
static std::mutex s_ClockLock;

bool StartLoadSegment(const char* name) {
    size_t length = strlen(name);
    const char* lineFeed = strchr(name, '\n');
    if (length > kLongestSegmentName || lineFeed) {
        int shown = static_cast<int>(lineFeed ? lineFeed - name : 40);
        Errorf("Segment '%.*s...' not started: %s", shown, name,
               lineFeed ? "a load dump cannot carry a line feed in its name"
                        : "its name is longer than a load dump carries");
        return false;
    }
    if (const char* close = strchr(name, ')'))
        Warningf("Segment '%s' will be read back from a load dump as '%.*s': a dump reader ends it at its ')'",
                 name, static_cast<int>(close - name), name);
    Displayf("::LOADSEG::(%s)", name);
    return true;
}

void StartLoadClock() {
    std::lock_guard<std::mutex> lock(s_ClockLock);
    if (s_LastOpenTime == 0) s_LastOpenTime = s_LoadClock->TimeMs();
}

void ResetLoadClock() {
    std::lock_guard<std::mutex> lock(s_ClockLock);
    s_LastOpenTime = 0;
}

void WriteOpenRecord(const char* name) {
    if (strlen(name) > kLongestOpenName) {
        Errorf("'%.40s...' opened without a load-dump record: its name is longer than the %d characters one carries",
               name, static_cast<int>(kLongestOpenName));
        return;
    }
    char lowered[kLongestOpenName + 1];
    LowerPath(lowered, name);
    std::lock_guard<std::mutex> lock(s_ClockLock);
    uint32_t elapsed = s_LoadClock->TimeMs() - s_LastOpenTime;
    bool slow = elapsed > kRedAfterMs;
    Displayf("::OPEN::(%s)    // %s%dms%s", lowered, slow ? "\x1b[31m" : "",
             static_cast<int32_t>(elapsed), slow ? "\x1b[0m" : "");
    s_LastOpenTime = s_LoadClock->TimeMs();
}

// Letters and separators as LowerPath leaves them.
static char Folded(char c) {
    if (c >= 'A' && c <= 'Z') return static_cast<char>(c + ('a' - 'A'));
    return c == '/' ? '\\' : c;
}

static const char* PastAssetPath(const char* name) {
    size_t i = 0;
    while (s_AssetPath[i] && Folded(name[i]) == Folded(s_AssetPath[i])) ++i;
    return s_AssetPath[i] ? name : name + i;
}

// An archive member's open is the zip layer's to record.
void RecordStreamOpen(const char* name, const FileDevice* device) {
    if (!s_StreamLoadLog || device == &ZipDevice.m_Device) return;
    StartLoadClock();
    WriteOpenRecord(PastAssetPath(name));
}
