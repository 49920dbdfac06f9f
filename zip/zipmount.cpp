// Mounting: an archive's own directory turned into a sorted zipEntry array
// in the name mode in force, in one block per archive. A mount reads the end
// record and the central directory and nothing of the members, so that its
// time and the bytes it reads do not grow with their sizes.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "core/memory.h"
#include "core/output.h"
#include "core/strings.h"
#include "file/filemapper.h"
#include "file/loaddump.h"
#include "file/stream.h"
#include "zip/ziparchive.h"
#include "zip/zipfile.h"
#include "zip/zipinflate.h"
#include "zip/zipwindow.h"

ZipNameMode s_ZipNameMode = kZipNamesPlain;

static char s_MountError[kMountReasonLength];

// Every front-coded chain restarts with a name packed whole this often, so
// that a lookup probe unpacks at most this many names.
const int32_t kFrontRestart = 16;
// Sharing fewer characters than this would cost more than the two codes
// that say how many are shared.
const int32_t kFrontMinShared = 3;
const int32_t kFrontMarker = 56;

const char* zipFile::MountError() { return s_MountError; }

bool ParseZipNameMode(const char* word, ZipNameMode* mode) {
    const char* const words[] = {"plain", "packed", "front"};
    for (int32_t i = 0; i < 3; ++i)
        if (strcmp(word, words[i]) == 0) {
            *mode = static_cast<ZipNameMode>(i);
            return true;
        }
    return false;
}

// The mode of the directories already mounted, or the setting when none is.
static ZipNameMode ModeInForce() {
    if (!s_ZipFiles) return s_ZipNameMode;
    if (!s_PackedNames) return kZipNamesPlain;
    return s_FrontCoded ? kZipNamesFrontCoded : kZipNamesPacked;
}

// ------------------------------------------------------- name packing

struct BitWriter {
    uint8_t* m_Out;
    uint32_t m_Accumulator = 0;
    int32_t m_Bits = 0, m_Length = 0;

    void Put(int32_t code) {
        m_Accumulator |= static_cast<uint32_t>(code) << m_Bits;
        for (m_Bits += 6; m_Bits >= 8; m_Bits -= 8, m_Accumulator >>= 8)
            m_Out[m_Length++] = static_cast<uint8_t>(m_Accumulator);
    }
    int32_t Finish() {
        if (m_Bits) m_Out[m_Length++] = static_cast<uint8_t>(m_Accumulator);
        return m_Length;
    }
};

// Over folded names, which is what the packed codes hold.
static int32_t SharedPrefix(const char* a, const char* b) {
    int32_t n = 0;
    while (n < kZipNameLength - 1 && a[n] && a[n] == b[n]) ++n;
    return n;
}

// Two codes give the shared length; the rest of the name follows.
static int32_t PackFrontCoded(uint8_t* out, const char* text, int32_t shared) {
    uint8_t rest[kZipNameLength];
    PackZipName(rest, text + shared);
    BitWriter writer{out};
    writer.Put(kFrontMarker + shared % 8);
    writer.Put(shared / 8);
    for (int32_t k = 0;; ++k) {
        int32_t code = PackedCode(rest, k);
        writer.Put(code);
        if (code == 0) break;
    }
    return writer.Finish();
}

// How many leading characters entry i takes from the entry before it: 0 for
// a name packed whole.
static int32_t FrontShared(const MountMember* m, int32_t i, ZipNameMode mode) {
    if (mode != kZipNamesFrontCoded || i % kFrontRestart == 0) return 0;
    int32_t shared = SharedPrefix(m[i - 1].m_Folded, m[i].m_Folded);
    return shared >= kFrontMinShared ? shared : 0;
}

static int32_t NameBytes(const MountMember* m, int32_t i, ZipNameMode mode) {
    if (mode == kZipNamesPlain) return static_cast<int32_t>(strlen(m[i].m_Text)) + 1;
    // Names in a packed mode were checked to pack one code a character.
    int32_t length = static_cast<int32_t>(strlen(m[i].m_Text));
    int32_t shared = FrontShared(m, i, mode);
    int32_t codes = shared == 0 ? length + 1 : 2 + length - shared + 1;
    return (6 * codes + 7) / 8;
}

static int32_t StoreName(uint8_t* out, const MountMember* m, int32_t i, ZipNameMode mode) {
    if (mode == kZipNamesPlain) {
        size_t length = strlen(m[i].m_Text) + 1;
        memcpy(out, m[i].m_Text, length);
        return static_cast<int32_t>(length);
    }
    int32_t shared = FrontShared(m, i, mode);
    return shared ? PackFrontCoded(out, m[i].m_Text, shared) : PackZipName(out, m[i].m_Text);
}

// ---------------------------------------------------- the directory

// Code order follows the characters' byte order, so this one order serves
// all three modes. Equal names keep their central-directory order.
static bool NameOrder(const MountMember& a, const MountMember& b) {
    int order = strcmp(a.m_Folded, b.m_Folded);
    return order != 0 ? order < 0 : a.m_Order < b.m_Order;
}

static int32_t DropRepeats(const char* archive, MountMember* members, int32_t count) {
    int32_t kept = 0;
    for (int32_t i = 0; i < count; ++i) {
        if (kept > 0 && strcmp(members[kept - 1].m_Folded, members[i].m_Folded) == 0) {
            Warningf("'%s' holds '%s' more than once; the first is served", archive, members[i].m_Text);
            continue;
        }
        members[kept++] = members[i];
    }
    return kept;
}

// Equal sizes mean stored to the rest of the zip layer, yet a writer may
// deflate a member to exactly its own length. Such a member is held one byte
// longer packed: its reads then take the byte after its data (inside the
// archive: at least the central directory follows), which inflate never
// consumes, since the deflate stream ends before it.
static int32_t HeldCompSize(const MountMember& m) {
    return m.m_Deflated && m.m_CompSize == m.m_Size ? m.m_CompSize + 1 : m.m_CompSize;
}

// The entries, their CRCs, their local headers' offsets and their names in
// one block; the archive record on its own on the heap, where a leak checker
// finds what it points to (an image's address among it). No member's data is
// placed yet: that takes its local header, read when it is first opened.
static zipFile* BuildDirectory(const char* archive, const MountMember* members, int32_t count,
                               ZipNameMode mode) {
    size_t nameBytes = 0;
    for (int32_t i = 0; i < count; ++i) nameBytes += NameBytes(members, i, mode);
    size_t total = count * (sizeof(zipEntry) + 2 * sizeof(uint32_t)) + nameBytes + 1;
    uint8_t* block = MountAllocate<uint8_t>(total);
    zipFile* zip = ZipAllocate<zipFile>(1, __LINE__);
    if (!block || !zip) {
        MountRelease(block, total);
        ZipRelease(zip);
        return nullptr;
    }
    new (zip) zipFile();
    zip->m_DirectoryBytes = sizeof(zipFile) + total;
    zip->m_Entries = reinterpret_cast<zipEntry*>(block);
    zip->m_Crcs = reinterpret_cast<uint32_t*>(zip->m_Entries + count);
    zip->m_Headers = zip->m_Crcs + count;
    zip->m_EntryCount = count;
    SafeStrncpy(zip->m_ArchiveName, archive, sizeof zip->m_ArchiveName);
    uint8_t* names = reinterpret_cast<uint8_t*>(zip->m_Headers + count);
    for (int32_t i = 0; i < count; ++i) {
        const MountMember& m = members[i];
        zip->m_Entries[i] = {reinterpret_cast<const char*>(names), 0, m.m_Size, HeldCompSize(m)};
        zip->m_Crcs[i] = m.m_Crc;
        zip->m_Headers[i] = m.m_LocalHeader;
        names += StoreName(names, members, i, mode);
    }
    return zip;
}

static void FreeDirectory(zipFile* zip) {
    MountRelease(reinterpret_cast<uint8_t*>(zip->m_Entries), zip->m_DirectoryBytes - sizeof(zipFile));
    ZipRelease(zip);
}

static zipFile* ReadDirectory(ArchiveSource* source, const CentralDirectory* cd, ZipNameMode mode,
                              MountMember* members, char* names, char* folded) {
    int32_t count = 0;
    if (!ReadMembers(cd, mode != kZipNamesPlain, members, names, folded, &count, s_MountError))
        return nullptr;
    std::sort(members, members + count, NameOrder);
    count = DropRepeats(source->m_Name, members, count);
    zipFile* zip = BuildDirectory(source->m_Name, members, count, mode);
    if (!zip) SafeStrncpy(s_MountError, "out of memory", sizeof s_MountError);
    else zip->m_DataEnd = cd->m_Offset;
    return zip;
}

static zipFile* Build(ArchiveSource* source) {
    CentralDirectory cd = {};
    zipFile* zip = nullptr;
    if (FindCentralDirectory(source, &cd, s_MountError)) {
        size_t records = static_cast<size_t>(cd.m_Records) + 1, nameBytes = 2 * (cd.m_Size + 1);
        MountMember* members = MountAllocate<MountMember>(records);
        char* names = MountAllocate<char>(nameBytes);
        if (members && names)
            zip = ReadDirectory(source, &cd, ModeInForce(), members, names, names + cd.m_Size + 1);
        else
            SafeStrncpy(s_MountError, "out of memory", sizeof s_MountError);
        MountRelease(members, records);
        MountRelease(names, nameBytes);
    }
    MountRelease(cd.m_Bytes, cd.m_Size + 1);
    return zip;
}

// ------------------------------------------------------------- mount

static zipFile* Refuse(const char* name) {
    Errorf("Cannot mount '%s': %s", name, s_MountError);
    return nullptr;
}

// The first archive fixes the name mode and the device to go back to.
static zipFile* Link(zipFile* zip, uint32_t pageHandle) {
    if (!s_ZipFiles) {
        s_PackedNames = s_ZipNameMode != kZipNamesPlain;
        s_FrontCoded = s_ZipNameMode == kZipNamesFrontCoded;
    }
    zip->m_PageHandle = pageHandle;
    zipFile** tail = &s_ZipFiles;
    while (*tail) tail = &(*tail)->m_Next;
    *tail = zip;
    if (!s_BaseDevice && s_ReadDevice != &ZipDevice.m_Device) s_BaseDevice = s_ReadDevice;
    s_ZipAvailable = true;
    s_MountError[0] = 0;
    return zip;
}

static FileDevice* DefaultDevice() {
    if (s_ReadDevice == &ZipDevice.m_Device && s_BaseDevice) return s_BaseDevice;
    return s_ReadDevice;
}

// LocalDevice's slots forward to the backend installed at each call; the
// archive keeps the one installed now, which its handle belongs to.
static FileDevice OwnDevice(const FileDevice* device) {
    FileDevice own = *device;
    if (device != &LocalDevice.m_Device) return own;
    const LocalBackend& backend = LocalDevice.m_Backend;
    own.Open = backend.Open;
    own.Create = backend.Create;
    own.Read = backend.Read;
    own.Write = backend.Write;
    own.Seek = backend.Seek;
    own.Close = backend.Close;
    return own;
}

static bool HasByteAt(FileDevice* device, int32_t handle, int32_t position) {
    uint8_t byte = 0;
    return device->Seek(handle, position, 0) == position && device->Read(handle, &byte, 1) == 1;
}

// The end's position is the size only when no byte lies past it: a device
// that answers with the low 32 bits of a larger position would pass off an
// archive of 4 GiB and more as a small one. Null, or why not.
static const char* ReadSize(FileDevice* device, int32_t handle, uint32_t* size) {
    int32_t end = device->Seek(handle, 0, 2);
    if (end < 0)
        return HasByteAt(device, handle, INT32_MAX) ? "it is 2 GiB or more (archives are served below 2 GiB)"
                                                    : "cannot read its size";
    if (HasByteAt(device, handle, end)) return "it is 4 GiB or more (archives are served below 2 GiB)";
    *size = static_cast<uint32_t>(end);
    return nullptr;
}

static zipFile* BuildFrom(const char* name, FileDevice* own, int32_t handle) {
    uint32_t size = 0;
    if (const char* refusal = ReadSize(own, handle, &size)) {
        SafeStrncpy(s_MountError, refusal, sizeof s_MountError);
        return nullptr;
    }
    ArchiveSource source = {name, own, handle, nullptr, size};
    return Build(&source);
}

static zipFile* MountOn(const char* name, uint32_t pageHandle, FileDevice* device) {
    FileDevice own = OwnDevice(device);
    int32_t handle = own.Open(name, 1);
    if (handle < 0) {
        SafeStrncpy(s_MountError, "cannot open it", sizeof s_MountError);
        return Refuse(name);
    }
    zipFile* zip = BuildFrom(name, &own, handle);
    // The archive's position must be what m_FilePos says when it is handed over.
    if (!zip || own.Seek(handle, 0, 0) != 0) {
        own.Close(handle);
        if (zip) FreeDirectory(zip);
        return Refuse(name);
    }
    zip->m_OwnDevice = own;
    zip->m_Device = &zip->m_OwnDevice;
    zip->m_Handle = handle;
    zip->m_FilePos = 0;
    return Link(zip, pageHandle);
}

// The archive file is opened inside the mapper's inner brackets, so that it
// opens on the device its own name maps to; from then on the archive reads
// through that device alone, and the mapper keeps nothing of it.
zipFile* zipFile::Mount(const char* name, uint32_t pageHandle, FileDevice* device) {
    ZipLockGuard lock(s_ZipLock);
    if (!device) device = DefaultDevice();
    if (s_FileMapper) s_FileMapper->SelectByName(name, true);
    zipFile* zip = MountOn(name, pageHandle, device);
    if (s_FileMapper) s_FileMapper->FinishOpen(zip ? static_cast<int32_t>(zip->m_Handle) : -1, true);
    return zip;
}

zipFile* zipFile::MountImage(const char* label, const void* image, uint32_t size, uint32_t pageHandle) {
    ZipLockGuard lock(s_ZipLock);
    if (size > INT32_MAX) {
        SafeStrncpy(s_MountError, "archives of 2 GiB or more are not served", sizeof s_MountError);
        return Refuse(label);
    }
    ArchiveSource source = {label, nullptr, -1, static_cast<const uint8_t*>(image), size};
    zipFile* zip = Build(&source);
    if (!zip) return Refuse(label);
    zip->m_Device = nullptr;
    zip->m_Handle = reinterpret_cast<intptr_t>(image);
    zip->m_FilePos = 0;
    return Link(zip, pageHandle);
}

void zipFile::UnmountAll() {
    ZipLockGuard lock(s_ZipLock);
    for (int32_t i = 0; i < maxZipHandles; ++i) zipClose(i);
    if (s_ZipSelected) zipSelect(false);
    for (zipFile* zip = s_ZipFiles; zip;) {
        zipFile* next = zip->m_Next;
        if (zip->m_Device) zip->m_Device->Close(static_cast<int32_t>(zip->m_Handle));
        FreeDirectory(zip);
        zip = next;
    }
    s_ZipFiles = s_CurrentZip = nullptr;
    s_PackedNames = s_FrontCoded = s_ZipAvailable = s_ZipSelected = false;
    s_BaseDevice = nullptr;
    ForgetWindows();
    ReleaseWholeInflater();
    ResetLoadClock();
}
