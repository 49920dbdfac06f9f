// The file mapper: a table of path prefixes that decides, per file, whether a
// stream's device calls reach the local disk or the remote host, and whether
// a mounted archive serves them. While s_FileMapper is set, every device call
// a stream makes is bracketed by the operations below, and the zip layer
// brackets its reads of an archive file with inner ones. Outside the brackets
// the previous device and archive selection are always back.
//
// The operations are virtual so that another mapper (a recording one, in
// tests) can stand in.
#pragma once

#include <cstddef>
#include <cstdint>

#include "data/assetpath.h"

const int FNAME_LENGTH = 300;
const int kMappedHandles = 8;

// One row. The prefix's last character picks the kind of match, letter case
// ignored: a '\' or '/' matches names (or names past the asset path) that
// begin with the prefix, a '*' names that begin with what precedes it, and
// anything else only the whole name (or the whole name past the asset path).
struct FileMapEntry {
    char m_Prefix[FNAME_LENGTH];
    uint8_t m_DeviceId;  // for SwitchDevice: 0 local, other remote
    uint8_t m_UseZip;    // for zipFile::zipSelect: 0 plain files, other archives
};

// A handle opened through a matching row, with the selection it belongs to.
struct MappedHandle {
    int32_t m_Handle;  // -1 marks a free slot
    uint8_t m_DeviceId;
    uint8_t m_UseZip;
};

class FileMapper {
public:
    // Ready, with no rows: every bracket only counts.
    FileMapper();
    virtual ~FileMapper() = default;

    // Opening brackets. inner is true only for a call a device makes on behalf
    // of a bracketed outer call (the zip layer reading its archive file).
    //
    // true: an archive is selected, and the device must be handed the name
    // past its first strlen(m_SavedPath) characters.
    virtual bool SelectByName(const char* filename, bool inner);
    // true: the handle was found and its selection made current.
    virtual bool EnterHandle(int32_t handle, bool inner);

    // Closing brackets. FinishOpen follows every Open or Create, failed ones
    // included; true when a row had matched. Only a stream's handle (inner
    // false) is remembered: a file a device opens for itself through inner
    // brackets (an archive the zip layer mounts) is read through the device it
    // was opened on, which that device keeps.
    virtual bool FinishOpen(int32_t handle, bool inner);
    virtual void Leave(bool inner);
    virtual void LeaveAndForget(int32_t handle, bool inner);

    // The asset path, held while a name that selected an archive is opened
    // (the asset path itself is empty meanwhile); empty otherwise.
    char m_SavedPath[kAssetPathSize];
    FileMapEntry* m_Entries;
    int32_t m_NumEntries;
    // A row matched at the last SelectByName, not yet finished.
    bool m_Mapped;
    uint8_t m_OuterDevice, m_InnerDevice;
    uint8_t m_OuterZip, m_InnerZip;
    MappedHandle m_Handles[kMappedHandles];
    // The remembered handles: up at each one remembered, down at its
    // forgetting. While 8 or more (every slot taken), no row matches a
    // stream's name.
    int32_t m_OpenCount;
    // Bracket nesting depth; 0 between top-level device calls.
    int32_t m_RefCount;

private:
    bool PassOpening(bool inner);
    bool PassClosing(bool inner);
    void Restore(bool inner);
    const FileMapEntry* Match(const char* filename, size_t length, bool inner) const;
    MappedHandle* Find(int32_t handle);
    void Remember(int32_t handle);
};

extern FileMapper* s_FileMapper;

// A ready mapper over a copy of count rows, searched in order. Null, with an
// error message, when a prefix is empty or fills its field unterminated, or
// when memory runs out.
FileMapper* NewFileMapper(const FileMapEntry* rows, int32_t count);
// Frees a mapper from NewFileMapper; it must not be installed.
void DeleteFileMapper(FileMapper* mapper);

// Makes mapper the installed one. false, with an error message, while another
// is installed.
bool InstallFileMapper(FileMapper* mapper);
// Takes the installed mapper out, so that streams reach their devices without
// brackets again. Refused (false, with an error message, the mapper stays)
// inside a bracket or while a handle opened through a row is remembered: its
// later calls would reach whatever device happened to be current.
bool RemoveFileMapper();

// Reads a row written PREFIX=local, PREFIX=remote, PREFIX=local,zip or
// PREFIX=remote,zip (the prefix runs to the last '='). false, with an error
// message, for any other text.
bool ParseFileMapRow(const char* text, FileMapEntry* row);
