// Reading open members: stored ones straight from the archive, deflated ones
// inflated into the caller's buffer, and the raw archive reads beneath both.
#include <cstring>

#include "core/output.h"
#include "core/timer.h"
#include "file/loaddump.h"
#include "zip/zipfile.h"

const int32_t kInputPiece = 4096;
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

static int32_t ReadStored(zipHandle* h, void* buffer, int32_t count) {
    h->m_File->SeekRaw(h->m_Entry->m_Offset + h->m_Pos);
    h->m_File->ReadRaw(buffer, count);
    h->m_Pos += static_cast<uint32_t>(count);
    return count;
}

static void RefillInput(zipHandle* h, uint8_t* input) {
    uint32_t k = static_cast<uint32_t>(h->m_Entry->m_CompSize) - h->m_CompPos;
    if (k > static_cast<uint32_t>(kInputPiece)) k = kInputPiece;
    h->m_File->SeekRaw(h->m_Entry->m_Offset + h->m_CompPos);
    h->m_File->ReadRaw(input, static_cast<int32_t>(k));
    h->m_ZStream.next_in = input;
    h->m_ZStream.avail_in = k;
    h->m_CompPos += k;
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

// What the stream did not consume is given back, to be read again next time:
// no input buffer outlives the call.
static int32_t ReadDeflated(zipHandle* h, void* buffer, int32_t count) {
    uint8_t input[kInputPiece];
    z_stream& z = h->m_ZStream;
    z.next_out = static_cast<Bytef*>(buffer);
    z.avail_out = static_cast<uInt>(count);
    bool bad = false;
    do {
        if (z.avail_in == 0) RefillInput(h, input);
        int r = inflate(&z, Z_SYNC_FLUSH);
        if (r == Z_STREAM_END) break;
        if (r < 0) {
            ReportBadData(h);
            bad = !s_ZipBadDataFatal;
            break;  // after the stop, only a debugger resumes here: deliver what there is
        }
    } while (z.avail_out > 0);
    int32_t delivered = count - static_cast<int32_t>(z.avail_out);
    h->m_Pos += static_cast<uint32_t>(delivered);
    h->m_CompPos -= z.avail_in;
    z.next_in = nullptr;
    z.avail_in = 0;
    return bad ? -1 : delivered;
}

static Timer StartTimer() {
    Timer timer;  // the first one calibrates the tick rate
    timer.m_Start = s_LoadClock->Ticks();
    return timer;
}

int32_t zipHandle::Read(void* buffer, int32_t count) {
    int32_t left = static_cast<int32_t>(static_cast<uint32_t>(m_Entry->m_Size) - m_Pos);
    if (count > left) count = left;
    if (count <= 0) return 0;
    Timer timer = StartTimer();
    int32_t result = IsStored(m_Entry) ? ReadStored(this, buffer, count)
                                       : ReadDeflated(this, buffer, count);
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
    uint8_t discard[kInputPiece];
    while (target > h->m_Pos) {
        uint32_t step = target - h->m_Pos;
        if (h->Read(discard, step < sizeof discard ? static_cast<int32_t>(step) : kInputPiece) <= 0)
            return static_cast<int32_t>(h->m_Pos);
    }
    return static_cast<int32_t>(target);
}

int32_t zipHandle::Seek(int32_t offset, int32_t origin) {
    int64_t base = 0;
    if (!Base(this, origin, &base)) return -1;
    return IsStored(m_Entry) ? SeekStored(this, base, offset) : SeekDeflated(this, base, offset);
}
