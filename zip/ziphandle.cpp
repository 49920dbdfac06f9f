// Reading open members: stored ones straight from the archive, deflated ones
// inflated into the caller's buffer from the handle's input window (or in
// one call when a read takes a whole member), and the raw archive reads
// beneath both.
#include <cstring>

#include "core/output.h"
#include "core/timer.h"
#include "file/loaddump.h"
#include "zip/zipfile.h"
#include "zip/zipinflate.h"
#include "zip/zipwindow.h"

// A forward seek in a deflated member inflates into a buffer on the stack.
const int32_t kDiscardPiece = 16 * 1024;
const float kSlowReadMs = 100.0f;

static bool IsStored(const zipEntry* entry) { return entry->m_Size == entry->m_CompSize; }

// ------------------------------------------------------------- raw reads

uint32_t zipFile::SeekRaw(uint32_t position) {
    if (m_FilePos == position) return position;
    m_FilePos = position;
    if (m_Device) m_Device->Seek(static_cast<int32_t>(m_Handle), static_cast<int32_t>(position), 0);
    return m_FilePos;
}

int32_t zipFile::ReadRaw(void* buffer, int32_t count) {
    if (count <= 0) return count;
    if (!m_Device) {
        memcpy(buffer, reinterpret_cast<const uint8_t*>(m_Handle) + m_FilePos, count);
    } else {
        int32_t n = m_Device->Read(static_cast<int32_t>(m_Handle), buffer, count);
        if (n != count) {
            ZipDevice.ReadFailed();
            // Only a debugger or a test gets here: no stale bytes go on.
            int32_t kept = n < 0 ? 0 : n;
            if (kept < count) memset(static_cast<uint8_t*>(buffer) + kept, 0, count - kept);
        }
    }
    m_FilePos += static_cast<uint32_t>(count);
    return count;
}

// ---------------------------------------------------------- member reads

// What the window brought in with the local header goes first; the rest
// comes straight into the caller's buffer.
static int32_t ReadStored(zipHandle* h, void* buffer, int32_t count) {
    uint32_t at = h->m_Entry->m_Offset + h->m_Pos;
    uint8_t* out = static_cast<uint8_t*>(buffer);
    uint32_t taken = TakeFromWindow(h, at, out, static_cast<uint32_t>(count));
    if (taken < static_cast<uint32_t>(count)) {
        h->m_File->SeekRaw(at + taken);
        h->m_File->ReadRaw(out + taken, count - static_cast<int32_t>(taken));
    }
    h->m_Pos += static_cast<uint32_t>(count);
    return count;
}

// The stream is handed the window's bytes in place; what it leaves unread
// stays in the window for the next read.
static void GiveInput(zipHandle* h) {
    uint32_t left = static_cast<uint32_t>(h->m_Entry->m_CompSize) - h->m_CompPos;
    uint32_t have = 0;
    const uint8_t* bytes = left ? WindowAt(h, h->m_Entry->m_Offset + h->m_CompPos, left, &have) : nullptr;
    h->m_ZStream.next_in = const_cast<Bytef*>(bytes);
    h->m_ZStream.avail_in = have;
}

bool s_ZipBadDataFatal = true;

// The report names the member and what inflate found, so that a damaged
// archive can be told from a failing disc.
static void ReportBadData(const zipHandle* h) {
    char name[kZipNameLength];
    const char* why = h->m_ZStream.msg ? h->m_ZStream.msg : "its stored data ends before the member does";
    Errorf("Cannot inflate '%s' in '%s': %s", UnpackZipName(name, h->m_Entry), h->m_File->m_ArchiveName, why);
    if (s_ZipBadDataFatal) Quitf("Fatal disc error");
}

static int32_t ReadDeflated(zipHandle* h, void* buffer, int32_t count) {
    z_stream& z = h->m_ZStream;
    z.next_out = static_cast<Bytef*>(buffer);
    z.avail_out = static_cast<uInt>(count);
    bool bad = false;
    do {
        if (z.avail_in == 0) GiveInput(h);
        uInt before = z.avail_in;
        int r = inflate(&z, Z_SYNC_FLUSH);
        h->m_CompPos += before - z.avail_in;
        if (r == Z_STREAM_END) break;
        if (r < 0) {
            ReportBadData(h);
            bad = !s_ZipBadDataFatal;
            break;  // after the stop, only a debugger resumes here: deliver what there is
        }
    } while (z.avail_out > 0);
    int32_t delivered = count - static_cast<int32_t>(z.avail_out);
    h->m_Pos += static_cast<uint32_t>(delivered);
    z.next_in = nullptr;
    z.avail_in = 0;
    return bad ? -1 : delivered;
}

// A read of a whole member of bounded packed size inflates it in one call,
// the fastest road there is; any surprise (damage, a stream of another
// length, no memory) sends the read down the streaming road from the start,
// which reports what it finds.
static bool ReadWhole(zipHandle* h, void* buffer) {
    uint32_t comp = static_cast<uint32_t>(h->m_Entry->m_CompSize);
    if (comp > kWholeMemberLimit) return false;
    const uint8_t* packed = PackedMember(h, comp);
    if (!packed) return false;
    uint32_t size = static_cast<uint32_t>(h->m_Entry->m_Size);
    if (!InflateWhole(&h->m_ZStream, packed, comp, static_cast<uint8_t*>(buffer), size)) {
        inflateReset(&h->m_ZStream);
        return false;
    }
    h->m_Pos = size;
    h->m_CompPos = comp;
    return true;
}

static int32_t ReadMember(zipHandle* h, void* buffer, int32_t count) {
    if (IsStored(h->m_Entry)) return ReadStored(h, buffer, count);
    if (h->m_Pos == 0 && count == h->m_Entry->m_Size && ReadWhole(h, buffer)) return count;
    return ReadDeflated(h, buffer, count);
}

static Timer StartTimer() {
    Timer timer;  // the first one sets the tick rate
    timer.m_Start = s_LoadClock->Ticks();
    return timer;
}

int32_t zipHandle::Read(void* buffer, int32_t count) {
    int32_t left = static_cast<int32_t>(static_cast<uint32_t>(m_Entry->m_Size) - m_Pos);
    if (count > left) count = left;
    if (count <= 0) return 0;
    Timer timer = StartTimer();
    int32_t result = ReadMember(this, buffer, count);
    if (timer.ElapsedMs(s_LoadClock->Ticks()) > kSlowReadMs)
        Displayf("\x1b[32m%d bytes read, time = %f\x1b[0m", count,
                 static_cast<double>(timer.ElapsedMs(s_LoadClock->Ticks())));
    return result;
}

// ----------------------------------------------------------------- seeks

// Positions are kept within [0, 2^31): before the member's start a stored
// member would read outside it, and far past its end the length check of
// Read would wrap.
static uint32_t ClampPosition(int64_t position) {
    if (position < 0) return 0;
    return position > INT32_MAX ? INT32_MAX : static_cast<uint32_t>(position);
}

static bool Base(const zipHandle* h, int32_t origin, int64_t* base) {
    switch (origin) {
        case 0: *base = 0; return true;
        case 1: *base = h->m_Pos; return true;
        case 2: *base = h->m_Entry->m_Size; return true;
        default: return false;
    }
}

static int32_t SeekStored(zipHandle* h, int64_t base, int32_t offset) {
    uint32_t start = h->m_Entry->m_Offset;
    uint32_t position = h->m_File->SeekRaw(start + ClampPosition(base + offset));
    h->m_Pos = position - start;
    return static_cast<int32_t>(h->m_Pos);
}

// Forward by inflating into a discard buffer, backward by starting over. A
// stream that ends before the member's length stops the seek where it ended.
static int32_t SeekDeflated(zipHandle* h, int64_t base, int32_t offset) {
    uint32_t target = static_cast<uint32_t>(base + offset);
    uint32_t size = static_cast<uint32_t>(h->m_Entry->m_Size);
    if (target > size) target = size;
    if (target < h->m_Pos) {
        h->m_CompPos = h->m_Pos = 0;
        inflateReset(&h->m_ZStream);
    }
    uint8_t discard[kDiscardPiece];
    while (target > h->m_Pos) {
        uint32_t step = target - h->m_Pos;
        if (h->Read(discard, step < sizeof discard ? static_cast<int32_t>(step) : kDiscardPiece) <= 0)
            return static_cast<int32_t>(h->m_Pos);
    }
    return static_cast<int32_t>(target);
}

int32_t zipHandle::Seek(int32_t offset, int32_t origin) {
    int64_t base = 0;
    if (!Base(this, origin, &base)) return -1;
    return IsStored(m_Entry) ? SeekStored(this, base, offset) : SeekDeflated(this, base, offset);
}
