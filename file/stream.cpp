#include "file/stream.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "core/assert.h"
#include "core/ipc.h"
#include "core/output.h"
#include "core/strings.h"
#include "file/filemapper.h"
#include "file/loaddump.h"

Stream s_StreamTable[kMaxStreams];
static uint8_t s_StreamBuffers[kMaxStreams][kStreamBufferSize];
FileDevice* s_ReadDevice = &LocalDevice.m_Device;
FileDevice* s_WriteDevice = &LocalDevice.m_Device;
bool (*s_OpenHook)(const char* name, bool readOnly) = nullptr;
int32_t s_StreamDebug = 0;
Mutex* s_StreamMutex = nullptr;

// File offsets are 32-bit by design and may wrap on files past 2 GiB; the
// arithmetic wraps instead of overflowing, and nothing reads them back.
static int32_t Advance(int32_t offset, int32_t by) {
    return static_cast<int32_t>(static_cast<uint32_t>(offset) + static_cast<uint32_t>(by));
}

// ---------------------------------------------------- mapper brackets

static void EnterHandle(int32_t handle) {
    if (s_FileMapper) s_FileMapper->EnterHandle(handle, false);
}

static void Leave() {
    if (s_FileMapper) s_FileMapper->Leave(false);
}

static void FinishOpen(int32_t handle) {
    if (s_FileMapper) s_FileMapper->FinishOpen(handle, false);
}

// The name the device sees: an archive selected by the mapper sees it
// relative to the asset path the mapper saved.
static const char* SelectByName(const char* name) {
    if (!s_FileMapper || !s_FileMapper->SelectByName(name, false)) return name;
    size_t skip = strlen(s_FileMapper->m_SavedPath);
    size_t length = strlen(name);
    return name + (skip < length ? skip : length);
}

static int32_t DeviceRead(Stream* s, void* buffer, int32_t count) {
    EnterHandle(s->m_Handle);
    int32_t result = s->m_Device->Read(s->m_Handle, buffer, count);
    Leave();
    return result;
}

static int32_t DeviceWrite(Stream* s, const void* buffer, int32_t count) {
    EnterHandle(s->m_Handle);
    int32_t result = s->m_Device->Write(s->m_Handle, buffer, count);
    Leave();
    return result;
}

static int32_t DeviceSeek(Stream* s, int32_t offset) {
    EnterHandle(s->m_Handle);
    int32_t result = s->m_Device->Seek(s->m_Handle, offset, 0);
    Leave();
    return result;
}

static void DeviceClose(FileDevice** device, int32_t handle) {
    EnterHandle(handle);
    (*device)->Close(handle);
    if (s_FileMapper) s_FileMapper->LeaveAndForget(handle, false);
}

// ------------------------------------------------------- open and close

Stream* Stream::Open(const char* name, bool readOnly) {
    FileDevice** device = readOnly ? &s_ReadDevice : &s_WriteDevice;
    const char* deviceName = SelectByName(name);
    int32_t handle = (*device)->Open(deviceName, readOnly);
    Debugf(s_StreamDebug, "Stream::Open(%s,%d) %s", name, readOnly ? 1 : 0,
           handle >= 0 ? "ok" : "failed");
    if (handle < 0) {
        FinishOpen(handle);
        return nullptr;
    }
    if (s_OpenHook && !s_OpenHook(name, readOnly)) {
        FinishOpen(handle);
        DeviceClose(device, handle);
        return nullptr;
    }
    Stream* stream = AllocHandle(name, handle, *device);
    FinishOpen(handle);
    if (readOnly && stream) RecordStreamOpen(name, stream->m_Device);
    return stream;
}

Stream* Stream::Create(const char* name) {
    if (s_FileMapper) s_FileMapper->SelectByName(name, false);
    int32_t handle = s_WriteDevice->Create(name);
    FinishOpen(handle);
    if (handle < 0) return nullptr;
    return AllocHandle(name, handle, s_WriteDevice);
}

// Constructed on first use, so its destruction is registered for exit then;
// s_StreamMutex is set once, inside the same guarded initialisation.
static Mutex& StreamMutex() {
    static Mutex* const mutex = [] {
        static Mutex created;
        s_StreamMutex = &created;
        return &created;
    }();
    return *mutex;
}

// An entry is free while m_Device is null. Close resets everything else first
// and stores the free mark last, with release ordering; the acquire load here
// pairs with it, so a new owner never meets a field of the old one.
static bool EntryFree(const Stream& s) {
    return __atomic_load_n(&s.m_Device, __ATOMIC_ACQUIRE) == nullptr;
}

Stream* Stream::AllocHandle(const char* name, int32_t handle, FileDevice* device) {
    MutexGuard guard(&StreamMutex());
    for (int i = 0; i < kMaxStreams; ++i) {
        Stream& s = s_StreamTable[i];
        if (!EntryFree(s)) continue;
        s.m_FileOffset = s.m_BufferPos = s.m_BufferFill = 0;
        s.m_Handle = handle;
        s.m_Buffer = s_StreamBuffers[i];
        s.m_BufferSize = kStreamBufferSize;
        SafeStrncpy(s.m_Name, name, sizeof s.m_Name);
        s.m_Device = device;
        return &s;
    }
    DumpHandles();
    Quitf("Out of file handles.");
    return nullptr;
}

int32_t Stream::Close() {
    if (!m_Device) return 0;  // already closed, by a fatal stop for one
    if (m_BufferFill == 0 && m_BufferPos != 0) Flush();
    if (!m_Device) return 0;  // closed by a fatal stop inside that flush
    FileDevice* device = m_Device;
    DeviceClose(&device, m_Handle);
    m_Handle = -1;
    m_FileOffset = m_BufferPos = m_BufferFill = 0;  // nothing of a closed stream is readable
    __atomic_store_n(&m_Device, static_cast<FileDevice*>(nullptr), __ATOMIC_RELEASE);
    return 0;
}

void Stream::CloseAll() {
    for (Stream& s : s_StreamTable) {
        if (!s.m_Device) continue;
        ::Printf("closing '%s'", s.m_Name);
        s.Close();
    }
}

void Stream::DumpHandles() {
    for (int i = 0; i < kMaxStreams; ++i) {
        const Stream& s = s_StreamTable[i];
        if (s.m_Device)
            Displayf("%d. HANDLE=%x NAME=%s", i, static_cast<unsigned>(s.m_Handle), s.m_Name);
    }
}

// --------------------------------------------------------- buffered I/O

// A stream closed under its user (a fatal stop closes them all, and a debugger
// may resume the caller) has no device left: every operation on it fails.
int32_t Stream::Flush() {
    if (!m_Device) return -1;
    int32_t result = 0;
    bool unread = m_BufferFill != 0 && m_BufferPos != m_BufferFill;
    bool pending = m_BufferFill == 0 && m_BufferPos != 0;
    if (unread && m_Device->Seek) result = DeviceSeek(this, Advance(m_FileOffset, m_BufferPos));
    if (pending && m_Device->Write) result = DeviceWrite(this, m_Buffer, m_BufferPos);
    // A fatal stop inside the device call closes every stream, this one too;
    // a debugger may resume here with nothing left to flush.
    if (!m_Device) return -1;
    // A short write is not repeated: the whole pending count counts as written.
    m_FileOffset = Advance(m_FileOffset, m_BufferPos);
    m_BufferPos = m_BufferFill = 0;
    if (m_Device->Flush) return m_Device->Flush(m_Handle);
    return result;
}

// Takes up to count bytes from the buffer and returns how many it took.
static int32_t TakeBuffered(Stream* s, uint8_t* destination, int32_t count) {
    int32_t available = s->m_BufferFill - s->m_BufferPos;
    int32_t n = count < available ? count : available;
    if (n > 0) memcpy(destination, s->m_Buffer + s->m_BufferPos, n);  // a count of 0 may come with no buffer
    s->m_BufferPos += n;
    return n;
}

int32_t Stream::Read(void* buffer, int32_t count) {
    if (count < 0 || !m_Device) return -1;
    if (m_BufferFill == 0 && m_BufferPos != 0 && Flush() < 0) return -1;
    uint8_t* destination = static_cast<uint8_t*>(buffer);
    if (count <= m_BufferFill - m_BufferPos) return TakeBuffered(this, destination, count);
    int32_t delivered = TakeBuffered(this, destination, count);
    destination += delivered;
    count -= delivered;
    m_FileOffset = Advance(m_FileOffset, m_BufferPos);
    if (count >= m_BufferSize) {
        int32_t n = DeviceRead(this, destination, count);
        m_BufferPos = m_BufferFill = 0;
        if (n < 0) return -1;
        m_FileOffset = Advance(m_FileOffset, n);
        return delivered + n;
    }
    int32_t fill = DeviceRead(this, m_Buffer, m_BufferSize);
    m_BufferPos = 0;
    // A device that claims more than the buffer holds is not believed.
    m_BufferFill = fill < 0 ? 0 : (fill > m_BufferSize ? m_BufferSize : fill);
    if (fill < 0) return -1;
    return delivered + TakeBuffered(this, destination, count);
}

int32_t Stream::Write(const void* buffer, int32_t count) {
    if (count < 0 || !m_Device) return -1;
    if (m_BufferFill != 0 && Flush() < 0) return -1;
    const uint8_t* source = static_cast<const uint8_t*>(buffer);
    if (count >= m_BufferSize) {
        if (Flush() < 0) return -1;
        int32_t n = DeviceWrite(this, source, count);
        if (n < 0) return -1;
        m_FileOffset = Advance(m_FileOffset, n);
        return n;
    }
    int32_t remaining = count;
    int32_t space = m_BufferSize - m_BufferPos;
    if (remaining >= space) {
        memcpy(m_Buffer + m_BufferPos, source, space);
        m_BufferPos = m_BufferSize;
        if (Flush() < 0) return -1;
        source += space;
        remaining -= space;
    }
    if (remaining > 0) memcpy(m_Buffer + m_BufferPos, source, remaining);
    m_BufferPos += remaining;
    return count;
}

void Stream::Printf(const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    int bytesWritten = vsnprintf(text, sizeof text, format, args);
    va_end(args);
    Assert(bytesWritten<1024);
    // Past an ignored assertion, what fit in the buffer is written.
    if (bytesWritten < 0) bytesWritten = 0;
    if (bytesWritten >= static_cast<int>(sizeof text)) bytesWritten = sizeof text - 1;
    Write(text, bytesWritten);
}

// Copies buffered bytes up to and including a line feed; returns how many,
// and sets *ended when the line feed was among them.
static int32_t TakeLine(Stream* s, char* destination, int32_t room, bool* ended) {
    int32_t available = s->m_BufferFill - s->m_BufferPos;
    int32_t n = room < available ? room : available;
    const uint8_t* from = s->m_Buffer + s->m_BufferPos;
    const void* lineFeed = memchr(from, '\n', n);
    if (lineFeed) n = static_cast<int32_t>(static_cast<const uint8_t*>(lineFeed) - from) + 1;
    memcpy(destination, from, n);
    s->m_BufferPos += n;
    *ended = lineFeed != nullptr;
    return n;
}

int32_t fgetline(char* buffer, int32_t size, Stream* stream) {
    if (size <= 1) {
        if (size == 1) buffer[0] = 0;
        return 0;
    }
    int32_t stored = 0;
    bool ended = false;
    while (stored < size - 1 && !ended) {
        if (stream->m_BufferPos < stream->m_BufferFill) {
            stored += TakeLine(stream, buffer + stored, size - 1 - stored, &ended);
            continue;
        }
        char c;
        if (stream->Read(&c, 1) != 1) break;
        buffer[stored++] = c;
        ended = c == '\n';
    }
    buffer[stored] = 0;
    return stored;
}
