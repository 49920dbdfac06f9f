// The zip layer as a file device: the table of open members, opening and
// closing them, paging queries, and the load-dump record of every open.
#include <cstdlib>
#include <cstring>

#include "core/assert.h"
#include "core/memory.h"
#include "core/output.h"
#include "core/strings.h"
#include "file/loaddump.h"
#include "zip/ziparchive.h"
#include "zip/zipfile.h"
#include "zip/zipwindow.h"

zipHandle s_ZipHandles[maxZipHandles];
std::recursive_mutex s_ZipLock;
bool s_ZipLoadLog = false;

const uint32_t kPageSize = 2048;

// ------------------------------------------------------------ inflate

static voidpf ZipAlloc(voidpf, uInt items, uInt size) {
    size_t bytes = static_cast<size_t>(items) * size;
    void* block = ZipAllocate<uint8_t>(bytes, __LINE__);
    if (block) memset(block, 0, bytes);
    return block;
}

static void ZipFree(voidpf, voidpf block) { ZipRelease(block); }

static bool IsDeflated(const zipEntry* entry) { return entry->m_Size != entry->m_CompSize; }

static bool StartInflate(z_stream* z) {
    memset(z, 0, sizeof *z);
    z->zalloc = ZipAlloc;
    z->zfree = ZipFree;
    return inflateInit2_(z, -15, "1.1.3", static_cast<int>(sizeof *z)) == Z_OK;
}

// ---------------------------------------------------------- open, close

static int32_t FreeHandle() {
    for (int32_t i = 0; i < maxZipHandles; ++i)
        if (!s_ZipHandles[i].m_Entry) return i;
    return -1;
}

// A member's local header is read at its first open, not at mount: one that
// is damaged or lies outside the file refuses that member alone.
static bool Placed(zipHandle* h, const char* name) {
    const char* why = LocateOpened(h);
    if (why) Errorf("Cannot open '%s' in '%s': %s", name, h->m_File->m_ArchiveName, why);
    return !why;
}

int32_t zipFile::Open(const char* name) {
    zipEntry* entry = Find(name);
    if (!entry) return -1;
    int32_t index = FreeHandle();
    if (index < 0) return -1;
    zipHandle& h = s_ZipHandles[index];
    h.m_File = this;
    h.m_Entry = entry;
    h.m_CompPos = h.m_Pos = 0;
    if (!Placed(&h, name)) {
        h.m_Entry = nullptr;
        return -1;
    }
    if (IsDeflated(entry) && !StartInflate(&h.m_ZStream)) {
        Errorf("zipFile::Open(%s) - inflateInit failed.", name);
        h.m_Entry = nullptr;
        return -1;
    }
    if (s_ZipLoadLog) WriteOpenRecord(name);
    return index;
}

int32_t zipFile::zipOpen(const char* name, uint8_t readOnly) {
    ZipLockGuard lock(s_ZipLock);
    StartLoadClock();
    if (!readOnly) {
        Errorf("zipFile::zipOpen: This shouldn't happen.");
        return -1;
    }
    if (s_CurrentZip) return s_CurrentZip->Open(name);
    for (zipFile* zip = s_ZipFiles; zip; zip = zip->m_Next) {
        int32_t handle = zip->Open(name);
        if (handle != -1) return handle;
    }
    return -1;
}

// The open member behind a handle, or null for a handle that names none:
// such a call touches nothing.
static zipHandle* OpenHandle(int32_t handle) {
    if (handle < 0 || handle >= maxZipHandles) return nullptr;
    zipHandle* h = &s_ZipHandles[handle];
    return h->m_Entry ? h : nullptr;
}

int32_t zipFile::zipClose(int32_t handle) {
    ZipLockGuard lock(s_ZipLock);
    zipHandle* h = OpenHandle(handle);
    if (!h) return -1;
    if (IsDeflated(h->m_Entry)) inflateEnd(&h->m_ZStream);
    h->m_Entry = nullptr;
    return 0;
}

// -------------------------------------------------------- other slots

int32_t zipFile::zipRead(int32_t handle, void* buffer, int32_t count) {
    ZipLockGuard lock(s_ZipLock);
    Assert(handle>=0 && handle<maxZipHandles);
    zipHandle* h = OpenHandle(handle);
    return h ? h->Read(buffer, count) : -1;
}

int32_t zipFile::zipSeek(int32_t handle, int32_t offset, int32_t origin) {
    ZipLockGuard lock(s_ZipLock);
    zipHandle* h = OpenHandle(handle);
    return h ? h->Seek(offset, origin) : -1;
}

int32_t zipFile::zipSize(int32_t handle) {
    ZipLockGuard lock(s_ZipLock);
    zipHandle* h = OpenHandle(handle);
    return h ? h->m_Entry->m_Size : -1;
}

int32_t zipFile::zipCreate(const char*) {
    Errorf("Cannot create on zip file");
    return -1;
}

int32_t zipFile::zipWrite(int32_t, const void*, int32_t) {
    Errorf("Cannot write on zip file");
    return -1;
}

// A short read of the archive cannot be made good: the data the caller
// expects is not there, so the process stops rather than hand on garbage.
void zipFile::zipReadFailed() {
    Errorf("Error reading zipfile from host, was fileserver reset?");
    Quitf("Fatal disc error");
}

bool zipFile::zipPaging(const char* name, zipEntry* location, uint32_t* pageHandle) {
    ZipLockGuard lock(s_ZipLock);
    StartLoadClock();
    for (zipFile* zip = s_ZipFiles; zip; zip = zip->m_Next) {
        zipEntry* fe = zip->Find(name);
        if (!fe) continue;
        const char* why = nullptr;
        if (!zip->Locate(fe, &why)) {
            Errorf("Cannot open '%s' in '%s': %s", name, zip->m_ArchiveName, why);
            return false;
        }
        if (fe->m_Offset % kPageSize != 0) {
            Errorf("zipFile::zipPaging(%s) - file not on 2k boundary", name);
            return false;
        }
        Assert((fe->m_CompSize == fe->m_Size) && "Compressed files cannot be paged");
        if (!pageHandle) continue;
        *location = *fe;
        location->m_Offset = fe->m_Offset / kPageSize;
        *pageHandle = zip->m_PageHandle;
        if (s_ZipLoadLog) WriteOpenRecord(name);
        return true;
    }
    return false;
}

const ZipFileDevice ZipDevice = {
    {
        zipFile::zipOpen,       // Open
        zipFile::zipCreate,     // Create
        zipFile::zipRead,       // Read
        zipFile::zipWrite,      // Write
        zipFile::zipSeek,       // Seek
        zipFile::zipClose,      // Close
        zipFile::zipEnumFiles,  // EnumFiles
        zipFile::zipSize,       // Size
        nullptr,                // Flush
        zipFile::zipPaging,     // Paging
    },
    zipFile::zipReadFailed,  // read failure
};
