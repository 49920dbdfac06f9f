// Zip archives mounted into the process: their directories, the member-name
// code, and the device that serves members to streams.
//
// Threads: any thread may call the zip layer (ZipDevice's slots, Mount,
// MountImage, UnmountAll); each call holds one lock for its whole length, so
// calls from two threads run one after the other and each gets its own
// member's bytes. Streams opened through a file mapper are another matter:
// the mapper switches process-wide devices around each call, so they are
// used from one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>

#include <zlib.h>

#include "file/device.h"

// One member. In plain mode m_Name is terminated text; in the packed modes it
// is a bit stream of 6-bit codes (see PackZipName).
struct zipEntry {
    const char* m_Name;
    // The member's first data byte in the archive; 0 until its local header
    // has been read (see zipFile::Locate), since data never starts at 0.
    uint32_t m_Offset;
    int32_t m_Size;      // unpacked length
    // Stored length; equal to m_Size exactly when stored. A deflated member
    // as long packed as unpacked is held one byte longer: its reads take the
    // byte after its data, which inflate never consumes.
    int32_t m_CompSize;
};

const int maxZipHandles = 16;
// Names, lookup keys and listing directories fit 256 characters with their
// terminator.
const int kZipNameLength = 256;

// The device behind ZipDevice's slots, plus the entry the raw reads call when
// the archive device comes up short.
struct ZipFileDevice {
    FileDevice m_Device;
    void (*ReadFailed)();
};

enum ZipNameMode : int32_t { kZipNamesPlain = 0, kZipNamesPacked = 1, kZipNamesFrontCoded = 2 };

class zipFile {
public:
    zipFile* m_Next;
    // The archive's handle on m_Device, or the address of its image in
    // memory when m_Device is null; wide enough for an address.
    intptr_t m_Handle;
    uint32_t m_PageHandle;
    zipEntry* m_Entries;
    int32_t m_EntryCount;
    uint32_t m_FilePos;
    // The device the archive file is read through: &m_OwnDevice, or null for
    // an archive held as an image in memory.
    FileDevice* m_Device;
    // The device the archive file was opened on, as it was at that moment.
    // LocalDevice forwards each call to whichever backend (the local disk or
    // the file host) is installed when the call is made, and a handle means
    // something only to the one that gave it: the archive keeps that one's
    // functions, so its reads reach them whatever is switched later and
    // whatever numbers other devices hand out.
    FileDevice m_OwnDevice;
    // Kept beside the entries, in the same order, so that members can be
    // checked against the archive's own directory.
    uint32_t* m_Crcs;
    // Each entry's local header offset, in the same order.
    uint32_t* m_Headers;
    // Where the central directory starts: no member's data lies past it.
    uint32_t m_DataEnd;
    // Bytes of this record and of the one block holding the entries, the
    // CRCs, the local header offsets and the names.
    size_t m_DirectoryBytes;
    char m_ArchiveName[kZipNameLength];

    zipEntry* Find(const char* name);
    int32_t EnumFiles(const char* directory, EnumCallback callback, void* context);
    int32_t Open(const char* name);
    uint32_t SeekRaw(uint32_t position);
    int32_t ReadRaw(void* buffer, int32_t count);
    // The archive's recorded CRC-32 of a member of this archive.
    uint32_t CrcOf(const zipEntry* entry) const { return m_Crcs[entry - m_Entries]; }
    // Reads the member's local header, once, to place its data (m_Offset).
    // false, with the reason in *reason when given, when the header is not
    // there or places the data outside the archive; the member cannot be
    // served then, though the others can.
    bool Locate(zipEntry* entry, const char** reason = nullptr);

    // Mounting. The archive file is opened read-only on device (the current
    // read device when null) and stays open; an image must stay valid for
    // the life of the process. Both return null after reporting
    // "Cannot mount '<name>': <reason>" on the error channel; nothing is
    // mounted or kept then.
    static zipFile* Mount(const char* name, uint32_t pageHandle, FileDevice* device = nullptr);
    static zipFile* MountImage(const char* label, const void* image, uint32_t size,
                               uint32_t pageHandle);
    // Why the last mount was refused; empty after a mount that succeeded.
    static const char* MountError();
    // Closes every archive file and frees every directory, and puts the zip
    // layer back as it starts (handles free, name mode unread). For tests and
    // tools that mount more than once; no member may be open.
    static void UnmountAll();

    // ZipDevice's slots.
    static int32_t zipOpen(const char* name, uint8_t readOnly);
    static int32_t zipCreate(const char* name);
    static int32_t zipRead(int32_t handle, void* buffer, int32_t count);
    static int32_t zipWrite(int32_t handle, const void* buffer, int32_t count);
    static int32_t zipSeek(int32_t handle, int32_t offset, int32_t origin);
    static int32_t zipClose(int32_t handle);
    static int32_t zipEnumFiles(const char* directory, EnumCallback callback, void* context);
    static int32_t zipSize(int32_t handle);
    static bool zipPaging(const char* name, zipEntry* location, uint32_t* pageHandle);
    static void zipReadFailed();
    static bool zipSelect(bool zip);
};

// One open member; s_ZipHandles[i] is ZipDevice's handle i.
struct zipHandle {
    zipFile* m_File;
    zipEntry* m_Entry;  // null marks a free entry
    uint32_t m_Pos;
    uint32_t m_CompPos;
    z_stream m_ZStream;
    // The archive bytes [m_InStart, m_InStart + m_InLength) of m_InFile, held
    // in this handle's input window: the local header read at open brings
    // the member's first bytes with it, and packed input is fetched a window
    // at a time rather than a small piece a read.
    zipFile* m_InFile;
    uint32_t m_InStart;
    uint32_t m_InLength;

    int32_t Read(void* buffer, int32_t count);
    int32_t Seek(int32_t offset, int32_t origin);
};

extern zipHandle s_ZipHandles[maxZipHandles];
extern const ZipFileDevice ZipDevice;

extern zipFile* s_ZipFiles;
extern zipFile* s_CurrentZip;
extern bool s_PackedNames;
extern bool s_FrontCoded;
extern bool s_ZipAvailable;
extern FileDevice* s_BaseDevice;
extern bool s_ZipSelected;
extern bool s_ZipLoadLog;
// A member whose data will not inflate ends the process with the fatal stop,
// after naming itself, unless this is false: then that read fails with -1, so
// that a checker can report the member and go on to the next.
extern bool s_ZipBadDataFatal;
extern const char zipNameChars[64];

// The name mode the first mount puts every directory in; later mounts follow
// the mode already in force, since lookups use one mode for all archives.
extern ZipNameMode s_ZipNameMode;
// "plain", "packed" or "front", as the programs' --names option spells them;
// false for any other word.
bool ParseZipNameMode(const char* word, ZipNameMode* mode);

int32_t PackZipName(uint8_t* output, const char* name);
char* UnpackZipName(char* output, const zipEntry* entry);
int32_t ZipNameCompare(const char* key, const char* name);
// A name character as every lookup sees it: ASCII letters lowered, '\\' as '/'.
inline char ZipFoldChar(char c) {
    if (c >= 'A' && c <= 'Z') return static_cast<char>(c + ('a' - 'A'));
    return c == '\\' ? '/' : c;
}
int32_t PackedNameCompare(const uint8_t* key, const uint8_t* name);
// Code k of a packed name.
int32_t PackedCode(const uint8_t* packed, int32_t k);
// True when every character of name has a code of its own, so that it packs
// without a warning and unpacks to the same text up to case and separators.
bool ZipNamePackable(const char* name);
