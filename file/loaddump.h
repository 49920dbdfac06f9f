// The load dump: the records a program prints on the display channel while
// it loads, which segsorter groups into a load order. ::LOADSEG::(name) says
// that a segment begins; ::OPEN::(name) names a file opened within it, with a
// comment giving the milliseconds since the record before. The zip layer
// records the archive members it opens; streams can record plain files.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/output.h"

struct FileDevice;

// Where the records read the time: the millisecond clock of the timing
// comments, and the tick counter that times reads of archive members.
struct LoadClock {
    uint32_t (*TimeMs)();
    uint32_t (*Ticks)();
};
extern const LoadClock s_SystemLoadClock;
extern const LoadClock* s_LoadClock;
// The time of the last ::OPEN:: record; 0 until the clock starts, at the
// first open that may be recorded.
extern uint32_t s_LastOpenTime;

// Off at start. When set, every stream opened read-only on a device other
// than the zip device gets an ::OPEN:: record: the file's name past the
// asset path when it begins with it, lowered as archive members are, so
// that loose files (on the local disk or the file host) record the names
// their archive will give them.
extern bool s_StreamLoadLog;

// A segment record is one message of the display channel: a longer name
// would be cut, and with it the ')' that ends it. (A dump reader takes lines
// of 4095 bytes, so the channel is the narrower.)
const size_t kLongestSegmentName = kMessageSize - sizeof "::LOADSEG::()";
// An open record's name, as the zip layer has always held it.
const size_t kLongestOpenName = 255;

// Starts a load segment: files opened from now on belong to it, until the
// next. false, after an error message and writing nothing, for a name a dump
// cannot carry whole: longer than kLongestSegmentName or holding a line feed.
// A name holding ')' is written, with a warning: a dump reader ends it there.
bool StartLoadSegment(const char* name);

// Starts the clock unless it runs.
void StartLoadClock();
// The ::OPEN:: record of name, lowered, timed since the record before. A
// name longer than kLongestOpenName is reported, not recorded.
void WriteOpenRecord(const char* name);
// The record of a stream's open of name on device, when s_StreamLoadLog
// asks for one.
void RecordStreamOpen(const char* name, const FileDevice* device);
// Stops the clock: the next record starts it again.
void ResetLoadClock();
