// The input windows and the local header read at a member's first open.
#include "zip/zipwindow.h"

#include <cstring>

#include "zip/ziparchive.h"

// Room read in front of a member's data at open, so that the local header's
// name and extra fields (which may differ from the central directory's, an
// alignment pad among them) come in the same read as the first data bytes.
const uint32_t kHeaderRoom = 4096;

alignas(64) static uint8_t s_ZipWindows[maxZipHandles][kZipInputWindow];

static uint8_t* WindowOf(const zipHandle* h) { return s_ZipWindows[h - s_ZipHandles]; }

static bool Holds(const zipHandle* h, uint32_t at) {
    return h->m_InFile == h->m_File && at >= h->m_InStart && at - h->m_InStart < h->m_InLength;
}

// Reads past the central directory's first byte are never needed: a member
// held one byte longer than its data takes at most that byte.
static uint32_t Readable(const zipFile* zip, uint32_t at) {
    return at <= zip->m_DataEnd ? zip->m_DataEnd + 1 - at : 0;
}

static uint32_t Min(uint32_t a, uint32_t b) { return a < b ? a : b; }

// What the window already holds from at moves to its front and only the rest
// is read, from where the last read ended: members loaded one after another
// in archive order cost one device read each and no seek, however much of
// the next one the last read brought in.
static void Fill(zipHandle* h, uint32_t at, uint32_t want) {
    zipFile* zip = h->m_File;
    uint32_t length = Min(Min(want, kZipInputWindow), Readable(zip, at));
    uint32_t kept = Holds(h, at) ? Min(length, h->m_InStart + h->m_InLength - at) : 0;
    if (kept) memmove(WindowOf(h), WindowOf(h) + (at - h->m_InStart), kept);
    h->m_InLength = 0;
    if (length > kept) {
        zip->SeekRaw(at + kept);
        zip->ReadRaw(WindowOf(h) + kept, static_cast<int32_t>(length - kept));
    }
    h->m_InFile = zip;
    h->m_InStart = at;
    h->m_InLength = length;
}

static const uint8_t* ImageAt(const zipFile* zip, uint32_t at) {
    return reinterpret_cast<const uint8_t*>(zip->m_Handle) + at;
}

const uint8_t* WindowAt(zipHandle* h, uint32_t at, uint32_t want, uint32_t* have) {
    if (!h->m_File->m_Device) {
        *have = Min(want, Readable(h->m_File, at));
        return ImageAt(h->m_File, at);
    }
    if (!Holds(h, at)) Fill(h, at, want);
    uint32_t offset = at - h->m_InStart;
    *have = Min(want, h->m_InLength - offset);
    return WindowOf(h) + offset;
}

const uint8_t* WindowSpan(zipHandle* h, uint32_t at, uint32_t count) {
    uint32_t have = 0;
    const uint8_t* bytes = WindowAt(h, at, count, &have);
    if (have >= count || !h->m_File->m_Device) return bytes;
    Fill(h, at, count);
    return WindowOf(h);
}

uint32_t TakeFromWindow(const zipHandle* h, uint32_t at, void* buffer, uint32_t count) {
    if (!h->m_File->m_Device || !Holds(h, at)) return 0;
    uint32_t n = Min(count, h->m_InLength - (at - h->m_InStart));
    memcpy(buffer, WindowOf(h) + (at - h->m_InStart), n);
    return n;
}

// Where the entry's local header lies; null, or why it cannot be read.
static const char* HeaderOf(const zipFile* zip, const zipEntry* entry, uint32_t* headerAt) {
    *headerAt = zip->m_Headers[entry - zip->m_Entries];
    return HeaderInside(*headerAt, zip->m_DataEnd) ? nullptr : "its local header lies outside the file";
}

const char* LocateOpened(zipHandle* h) {
    zipFile* zip = h->m_File;
    zipEntry* entry = h->m_Entry;
    uint32_t headerAt = 0;
    if (entry->m_Offset) return nullptr;
    if (const char* why = HeaderOf(zip, entry, &headerAt)) return why;
    uint32_t want = kHeaderRoom + static_cast<uint32_t>(entry->m_CompSize);
    uint32_t have = 0;
    const uint8_t* header = WindowAt(h, headerAt, want, &have);
    if (have < kLocalHeaderSize) header = WindowSpan(h, headerAt, kLocalHeaderSize);
    return PlaceData(header, headerAt, entry, zip->m_DataEnd, &entry->m_Offset);
}

// ---------------------------------------------------- whole members

static uint8_t* s_Scratch;
static uint32_t s_ScratchSize;

static uint8_t* Scratch(uint32_t size) {
    if (size <= s_ScratchSize) return s_Scratch;
    ZipRelease(s_Scratch);
    s_Scratch = ZipAllocate<uint8_t>(size, __LINE__);
    s_ScratchSize = s_Scratch ? size : 0;
    return s_Scratch;
}

const uint8_t* PackedMember(zipHandle* h, uint32_t comp) {
    uint32_t data = h->m_Entry->m_Offset;
    if (comp <= kZipInputWindow || !h->m_File->m_Device) return WindowSpan(h, data, comp);
    uint8_t* block = Scratch(comp);
    if (!block) return nullptr;
    uint32_t taken = TakeFromWindow(h, data, block, comp);
    h->m_File->SeekRaw(data + taken);
    h->m_File->ReadRaw(block + taken, static_cast<int32_t>(comp - taken));
    return block;
}

void ForgetWindows() {
    for (zipHandle& h : s_ZipHandles) h.m_InFile = nullptr;
    ZipRelease(s_Scratch);
    s_Scratch = nullptr;
    s_ScratchSize = 0;
}

// ------------------------------------------------- without an open handle

// For tools that show where members lie: the header alone, past the windows.
bool zipFile::Locate(zipEntry* entry, const char** reason) {
    ZipLockGuard lock(s_ZipLock);
    if (entry->m_Offset) return true;
    uint32_t headerAt = 0;
    const char* why = HeaderOf(this, entry, &headerAt);
    if (!why) {
        uint8_t header[kLocalHeaderSize];
        SeekRaw(headerAt);
        ReadRaw(header, kLocalHeaderSize);
        why = PlaceData(header, headerAt, entry, m_DataEnd, &entry->m_Offset);
    }
    if (why && reason) *reason = why;
    return !why;
}
