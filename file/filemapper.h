// The file mapper's bracket operations, as the stream layer calls them. While
// s_FileMapper is set, every device call a stream makes is bracketed by them.
// They are virtual so that another mapper (a recording one, in tests) can
// stand in.
#pragma once

#include <cstdint>

const int FNAME_LENGTH = 300;

class FileMapper {
public:
    virtual ~FileMapper() = default;
    virtual bool SelectByName(const char* name, bool inner) = 0;
    virtual bool FinishOpen(int32_t handle, bool inner) = 0;
    virtual bool EnterHandle(int32_t handle, bool inner) = 0;
    virtual void Leave(bool inner) = 0;
    virtual void LeaveAndForget(int32_t handle, bool inner) = 0;

    // The asset path saved while an archive is selected; the stream skips this
    // many leading characters of the name it hands to the device.
    char m_SavedPath[256] = {};
};

extern FileMapper* s_FileMapper;
