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
// A file a device opens for itself takes no slot, so the slots' count does
// not keep it from its row.
const FileMapEntry* FileMapper::Match(const char* filename, size_t length, bool inner) const {
    if (!inner && m_OpenCount >= kMappedHandles) return nullptr;
    size_t skip = strlen(s_AssetPath);
    if (skip > length) skip = length;
    for (int32_t i = 0; i < m_NumEntries; ++i)
        if (RowMatches(m_Entries[i].m_Prefix, filename, length, filename + skip, length - skip))
            return &m_Entries[i];
    return nullptr;
}

// Negative handles are failures, never remembered; -1 would find a free slot.
MappedHandle* FileMapper::Find(int32_t handle) {
    if (handle < 0) return nullptr;
    for (MappedHandle& slot : m_Handles)
        if (slot.m_Handle == handle) return &slot;
    return nullptr;
}

// m_OpenCount counts the remembered handles, so that a name opened while all
// eight slots are taken matches no row: it opens on the current device like
// any unmapped name, and its later calls run there too, instead of opening
// on a row's device and being lost to it. A failed open takes no slot.
void FileMapper::Remember(int32_t handle) {
    if (handle < 0) return;
    for (MappedHandle& slot : m_Handles) {
        if (slot.m_Handle != -1) continue;
        slot = {handle, GetCurrentDevice(), static_cast<uint8_t>(s_ZipSelected)};
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
    bool fits = length < static_cast<size_t>(FNAME_LENGTH);
    const FileMapEntry* row = fits ? Match(filename, length, inner) : nullptr;
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
    // What a device opens for itself (the zip layer's archive file) keeps the
    // functions of the device it opened on, and needs no slot: archives, however
    // many, never crowd out the streams' files.
    if (mapped && !inner) Remember(handle);
    m_Mapped = false;
    Restore(inner);
    return mapped;
}

bool FileMapper::EnterHandle(int32_t handle, bool inner) {
    if (!PassOpening(inner)) return false;
    const MappedHandle* slot = Find(handle);
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
    if (MappedHandle* slot = Find(handle)) {
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
