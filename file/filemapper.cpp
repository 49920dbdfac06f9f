#include "file/filemapper.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "core/assert.h"
#include "core/memory.h"
#include "core/output.h"
#include "core/strings.h"
#include "remote/remote.h"
#include "zip/zipfile.h"

// No mapper is installed unless an embedding program sets one.
FileMapper* s_FileMapper = nullptr;

FileMapper::FileMapper()
    : m_SavedPath(), m_Entries(nullptr), m_NumEntries(0), m_Mapped(false), m_OuterDevice(0),
      m_InnerDevice(0), m_OuterZip(0), m_InnerZip(0), m_OpenCount(0), m_RefCount(0) {
    for (MappedHandle& slot : m_Handles) slot = {-1, 0, 0};
    for (bool& archive : m_ArchiveFile) archive = false;
}

// ------------------------------------------------------------- the gate

// A bracket nested in an outer one only counts, so that a stream call made
// while another is under way keeps the outer selection; an inner bracket
// always acts, since it stands for the archive file beneath the outer call.
bool FileMapper::PassOpening(bool inner) {
    Assert(m_RefCount >= 0);
    bool outermost = m_RefCount++ == 0;
    if (!(outermost || inner) || m_NumEntries == 0) return false;
    (inner ? m_InnerDevice : m_OuterDevice) = GetCurrentDevice();
    (inner ? m_InnerZip : m_OuterZip) = s_ZipSelected;
    return true;
}

bool FileMapper::PassClosing(bool inner) {
    Assert(m_RefCount > 0);
    bool outermost = --m_RefCount == 0;
    return (outermost || inner) && m_NumEntries != 0;
}

// The reverse of the opening order: device first, then the archive choice.
void FileMapper::Restore(bool inner) {
    SwitchDevice(inner ? m_InnerDevice : m_OuterDevice);
    zipFile::zipSelect((inner ? m_InnerZip : m_OuterZip) != 0);
}

// ------------------------------------------------------------- matching

static bool SameNoCase(const char* a, const char* b, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
        if (x != y) return false;
    }
    return true;
}

// text of length textLength begins with the first n characters of prefix.
static bool Begins(const char* text, size_t textLength, const char* prefix, size_t n) {
    return textLength >= n && SameNoCase(text, prefix, n);
}

static bool RowMatches(const char* prefix, const char* name, size_t nameLength, const char* rest,
                       size_t restLength) {
    size_t n = strnlen(prefix, FNAME_LENGTH);
    if (n == 0 || n == static_cast<size_t>(FNAME_LENGTH)) return false;
    char last = prefix[n - 1];
    if (last == '\\' || last == '/')
        return Begins(name, nameLength, prefix, n) || Begins(rest, restLength, prefix, n);
    if (last == '*') return Begins(name, nameLength, prefix, n - 1);
    return (nameLength == n && SameNoCase(name, prefix, n)) ||
           (restLength == n && SameNoCase(rest, prefix, n));
}

// The name need not begin with the asset path: its first characters are
// skipped regardless, as many as the asset path is long.
const FileMapEntry* FileMapper::Match(const char* filename, size_t length) const {
    if (m_OpenCount >= kMappedHandles) return nullptr;
    size_t skip = strlen(s_AssetPath);
    if (skip > length) skip = length;
    for (int32_t i = 0; i < m_NumEntries; ++i)
        if (RowMatches(m_Entries[i].m_Prefix, filename, length, filename + skip, length - skip))
            return &m_Entries[i];
    return nullptr;
}

// Handles are plain numbers from different devices: a zip member's handle 0
// and the host's first file are both 0. Files the zip layer opens for itself
// (archives, inner brackets) are kept from the first slot up, stream files
// from the last slot down. Once a slot in the middle has been freed the two
// kinds interleave, so a lookup tries the slots of its own kind before the
// other's: neither kind takes or forgets the other's slot while it has one of
// its own. Negative handles are failures, never remembered; -1 would find a
// free slot.
static int32_t SlotIndex(int32_t i, bool inner) {
    return inner ? i : kMappedHandles - 1 - i;
}

MappedHandle* FileMapper::Find(int32_t handle, bool inner) {
    if (handle < 0) return nullptr;
    for (int32_t pass = 0; pass < 2; ++pass) {
        bool archive = (pass == 0) == inner;  // the caller's own kind first
        for (int32_t i = 0; i < kMappedHandles; ++i) {
            int32_t k = SlotIndex(i, inner);
            if (m_Handles[k].m_Handle == handle && m_ArchiveFile[k] == archive) return &m_Handles[k];
        }
    }
    return nullptr;
}

// m_OpenCount counts the remembered handles, so that a name opened while all
// eight slots are taken matches no row: it opens on the current device like
// any unmapped name, and its later calls run there too, instead of opening
// on a row's device and being lost to it. A failed open takes no slot.
void FileMapper::Remember(int32_t handle, bool inner) {
    for (int32_t i = 0; handle >= 0 && i < kMappedHandles; ++i) {
        int32_t k = SlotIndex(i, inner);
        if (m_Handles[k].m_Handle != -1) continue;
        m_Handles[k] = {handle, GetCurrentDevice(), static_cast<uint8_t>(s_ZipSelected)};
        m_ArchiveFile[k] = inner;
        ++m_OpenCount;
        return;
    }
}

// ----------------------------------------------------------- brackets

bool FileMapper::SelectByName(const char* filename, bool inner) {
    // Only the first FNAME_LENGTH bytes are ever looked at; a longer name,
    // once its assertion is passed over, matches no row.
    size_t length = strnlen(filename, FNAME_LENGTH);
    if (length >= static_cast<size_t>(FNAME_LENGTH))
        AssertFailed("strlen(filename) < FNAME_LENGTH", SourceBaseName(__FILE__), __LINE__);
    if (!PassOpening(inner)) return false;
    m_SavedPath[0] = 0;
    const FileMapEntry* row = length < static_cast<size_t>(FNAME_LENGTH) ? Match(filename, length) : nullptr;
    m_Mapped = row != nullptr;
    if (!row) return false;
    zipFile::zipSelect(!inner && row->m_UseZip != 0);
    SwitchDevice(row->m_DeviceId);
    if (!s_ZipSelected) return false;
    // Archives hold names relative to the asset path: the device sees the
    // name past it, and the asset path stays empty until FinishOpen.
    SafeStrncpy(m_SavedPath, s_AssetPath, sizeof m_SavedPath);
    datAssetManager::SetPath("");
    return true;
}

bool FileMapper::FinishOpen(int32_t handle, bool inner) {
    if (m_SavedPath[0]) {
        datAssetManager::SetPath(m_SavedPath);
        m_SavedPath[0] = 0;
    }
    if (!PassClosing(inner)) return false;
    bool mapped = m_Mapped;
    if (mapped) {
        Remember(handle, inner);
        m_Mapped = false;
    }
    Restore(inner);
    return mapped;
}

bool FileMapper::EnterHandle(int32_t handle, bool inner) {
    if (!PassOpening(inner)) return false;
    const MappedHandle* slot = Find(handle, inner);
    if (!slot) return false;
    zipFile::zipSelect(!inner && slot->m_UseZip != 0);
    SwitchDevice(slot->m_DeviceId);
    return true;
}

void FileMapper::Leave(bool inner) {
    if (PassClosing(inner)) Restore(inner);
}

void FileMapper::LeaveAndForget(int32_t handle, bool inner) {
    if (!PassClosing(inner)) return;
    if (MappedHandle* slot = Find(handle, inner)) {
        slot->m_Handle = -1;
        --m_OpenCount;
    }
    Restore(inner);
}

// ------------------------------------------------- making and installing

static bool RowUsable(const FileMapEntry& row, int32_t index) {
    size_t n = strnlen(row.m_Prefix, FNAME_LENGTH);
    if (n > 0 && n < static_cast<size_t>(FNAME_LENGTH)) return true;
    Errorf("Cannot make a file mapper: row %d has %s prefix", index + 1, n ? "an unterminated" : "an empty");
    return false;
}

FileMapper* NewFileMapper(const FileMapEntry* rows, int32_t count) {
    for (int32_t i = 0; i < count; ++i)
        if (!RowUsable(rows[i], i)) return nullptr;
    FileMapEntry* entries = count > 0 ? NEW FileMapEntry[count] : nullptr;
    FileMapper* mapper = NEW FileMapper;
    if (!mapper || (count > 0 && !entries)) {
        Errorf("Cannot make a file mapper: out of memory");
        free(entries);
        if (mapper) DeleteFileMapper(mapper);
        return nullptr;
    }
    if (count > 0) memcpy(entries, rows, sizeof *rows * count);
    mapper->m_Entries = entries;
    mapper->m_NumEntries = count;
    return mapper;
}

void DeleteFileMapper(FileMapper* mapper) {
    if (!mapper) return;
    Assert(mapper != s_FileMapper);
    free(mapper->m_Entries);
    mapper->~FileMapper();
    free(mapper);
}

bool InstallFileMapper(FileMapper* mapper) {
    if (s_FileMapper) {
        Errorf("Cannot install a file mapper: another one is installed");
        return false;
    }
    s_FileMapper = mapper;
    return true;
}

bool RemoveFileMapper() {
    FileMapper* mapper = s_FileMapper;
    if (!mapper) return true;
    if (mapper->m_RefCount != 0) {
        Errorf("Cannot remove the file mapper: a device call is under way");
        return false;
    }
    if (int32_t open = mapper->m_OpenCount) {
        Errorf("Cannot remove the file mapper: %d file%s opened through it %s still open", open,
               open == 1 ? "" : "s", open == 1 ? "is" : "are");
        return false;
    }
    s_FileMapper = nullptr;
    return true;
}

bool ParseFileMapRow(const char* text, FileMapEntry* row) {
    static const char* const kKinds[] = {"local", "remote", "local,zip", "remote,zip"};
    const char* equals = strrchr(text, '=');
    size_t length = equals ? static_cast<size_t>(equals - text) : 0;
    for (int32_t kind = 0; length > 0 && length < FNAME_LENGTH && kind < 4; ++kind) {
        if (strcmp(equals + 1, kKinds[kind]) != 0) continue;
        memset(row, 0, sizeof *row);
        memcpy(row->m_Prefix, text, length);
        row->m_DeviceId = static_cast<uint8_t>(kind & 1);
        row->m_UseZip = static_cast<uint8_t>(kind >> 1);
        return true;
    }
    Errorf("Bad file map row '%s': write it PREFIX=local|remote[,zip]", text);
    return false;
}
