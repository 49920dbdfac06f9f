// Reading an archive's own records: the end record and the central directory
// at mount, each member's local header when the member is first opened.
// Internal to the zip layer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>

#include "core/memory.h"
#include "file/device.h"
#include "platform/platform.h"
#include "zip/zipfile.h"

// The open members and each archive's file position are shared by every
// thread: each call into the zip layer (a device slot, a mount, an unmount)
// holds this lock for its whole length, so calls from two threads run one
// after the other. Recursive: a fatal stop inside a call
// closes the streams, members among them, on the same thread.
extern std::recursive_mutex s_ZipLock;
typedef std::lock_guard<std::recursive_mutex> ZipLockGuard;

// Raw blocks from the positioned allocator (null when the heap is exhausted),
// and their release through the matching delete, which is free() beneath.
template <typename T>
T* ZipAllocate(size_t count, int line) {
    return static_cast<T*>(operator new(count * sizeof(T), "zip", line));
}
inline void ZipRelease(void* block) { operator delete(block, "zip", 0); }

// The large blocks of a mount (the central directory, the member records and
// names, the directory it builds) come straight from the system, which may
// back them with large pages: faulting fresh 4 KB pages in one by one was
// most of the time of mounting a large archive.
template <typename T>
T* MountAllocate(size_t count) {
    return static_cast<T*>(plat::LargeAllocate(count * sizeof(T)));
}
template <typename T>
void MountRelease(T* block, size_t count) {
    plat::LargeFree(block, count * sizeof(T));
}

// The archive being mounted, read through a device or out of an image.
struct ArchiveSource {
    const char* m_Name;
    FileDevice* m_Device;  // null for an image
    int32_t m_Handle;
    const uint8_t* m_Image;
    uint32_t m_Size;
};

// Reads count bytes at offset; false when they are not all in the archive or
// the device fails.
bool ReadArchive(ArchiveSource* source, uint32_t offset, void* buffer, uint32_t count);

// What the mount keeps of one member before the directory is built.
struct MountMember {
    const char* m_Text;      // the name, terminated
    const char* m_Folded;    // the same, ASCII letters lowered and '\\' as '/'
    uint32_t m_LocalHeader;  // offset of the local header
    int32_t m_Size;
    int32_t m_CompSize;
    uint32_t m_Crc;
    int32_t m_Order;  // place in the central directory
    bool m_Deflated;
};

// The central directory, read into memory and checked record by record.
struct CentralDirectory {
    uint8_t* m_Bytes;
    uint32_t m_Offset;
    uint32_t m_Size;
    int32_t m_Records;
};

// Room for the reason a mount is refused.
const uint32_t kMountReasonLength = 320;

// Each returns false, with the reason in reason[kMountReasonLength], when the
// archive cannot be served.
bool FindCentralDirectory(ArchiveSource* source, CentralDirectory* cd, char* reason);
// Fills members (room for cd->m_Records), their names and the folded names
// (room for cd->m_Size bytes each); *count is how many members, directories
// left out.
bool ReadMembers(const CentralDirectory* cd, bool packed, MountMember* members, char* names,
                 char* folded, int32_t* count, char* reason);

const uint32_t kLocalHeaderSize = 30;
// A local header of kLocalHeaderSize bytes at headerAt fits in front of
// dataEnd, the central directory's offset.
bool HeaderInside(uint32_t headerAt, uint32_t dataEnd);
// Where the data of the member behind header begins (*data); null, or the
// reason the member cannot be served.
const char* PlaceData(const uint8_t* header, uint32_t headerAt, const zipEntry* entry, uint32_t dataEnd,
                      uint32_t* data);
