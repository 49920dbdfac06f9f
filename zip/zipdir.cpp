// The directories of mounted archives: lookup, listing, and the switch that
// makes the zip device the current read device.
#include <cstring>

#include "core/strings.h"
#include "file/stream.h"
#include "zip/ziparchive.h"
#include "zip/zipfile.h"

zipFile* s_ZipFiles = nullptr;
zipFile* s_CurrentZip = nullptr;
bool s_PackedNames = false;
bool s_FrontCoded = false;
bool s_ZipAvailable = false;
FileDevice* s_BaseDevice = nullptr;
bool s_ZipSelected = false;

// Binary search; compare(key, entry) orders the key against a probed entry.
template <typename Compare>
static zipEntry* Search(zipEntry* entries, int32_t count, Compare compare) {
    int32_t low = 0, high = count - 1;
    while (low <= high) {
        int32_t middle = low + (high - low) / 2;
        int32_t order = compare(&entries[middle]);
        if (order == 0) return &entries[middle];
        if (order < 0)
            high = middle - 1;
        else
            low = middle + 1;
    }
    return nullptr;
}

zipEntry* zipFile::Find(const char* name) {
    // No member name is longer, and a longer key would not pack into 256 bytes.
    if (m_EntryCount <= 0 || strlen(name) >= static_cast<size_t>(kZipNameLength)) return nullptr;
    if (!s_PackedNames)
        return Search(m_Entries, m_EntryCount,
                      [name](const zipEntry* e) { return ZipNameCompare(name, e->m_Name); });
    if (!s_FrontCoded) {
        uint8_t key[kZipNameLength];
        PackZipName(key, name);
        return Search(m_Entries, m_EntryCount, [&key](const zipEntry* e) {
            return PackedNameCompare(key, reinterpret_cast<const uint8_t*>(e->m_Name));
        });
    }
    return Search(m_Entries, m_EntryCount, [name](const zipEntry* e) {
        char probed[kZipNameLength];
        return ZipNameCompare(name, UnpackZipName(probed, e));
    });
}

static bool StartsWithFolded(const char* text, const char* prefix, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        char a = ZipFoldChar(text[i]);
        if (a != ZipFoldChar(prefix[i]) || a == 0) return false;
    }
    return true;
}

// A directory is given with '/' or '\' between its parts: every '\' is read
// as '/', as lookups read it. One that cannot fit the buffer with its
// separator lists nothing rather than some other directory.
int32_t zipFile::EnumFiles(const char* directory, EnumCallback callback, void* context) {
    char prefix[kZipNameLength];
    size_t length = strlen(directory);
    if (m_EntryCount <= 0 || length > static_cast<size_t>(kZipNameLength) - 2) return 0;
    for (size_t i = 0; i <= length; ++i) prefix[i] = directory[i] == '\\' ? '/' : directory[i];
    if (length > 0 && prefix[length - 1] != '/') {
        prefix[length++] = '/';
        prefix[length] = 0;
    }
    int32_t count = 0;
    for (int32_t i = 0; i < m_EntryCount; ++i) {
        char unpacked[kZipNameLength];
        const char* name = s_PackedNames ? UnpackZipName(unpacked, &m_Entries[i]) : m_Entries[i].m_Name;
        if (!StartsWithFolded(name, prefix, length)) continue;
        ++count;
        if (callback) callback(name + length, false, context);
    }
    return count;
}

int32_t zipFile::zipEnumFiles(const char* directory, EnumCallback callback, void* context) {
    ZipLockGuard lock(s_ZipLock);
    int32_t count = 0;
    for (zipFile* zip = s_ZipFiles; zip; zip = zip->m_Next)
        count += zip->EnumFiles(directory, callback, context);
    return count;
}

bool zipFile::zipSelect(bool zip) {
    if (zip && !s_ZipAvailable) return false;
    if (!s_BaseDevice) return false;
    // Streams only call through a device; none writes to its table.
    s_ReadDevice = zip ? const_cast<FileDevice*>(&ZipDevice.m_Device) : s_BaseDevice;
    s_ZipSelected = zip;
    return true;
}
