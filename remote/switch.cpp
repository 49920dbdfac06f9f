// The device switch: which operations LocalDevice's backend block holds.
#include "remote/remote.h"

bool s_RemoteEnabled = false;
uint8_t s_CurrentDevice = 0;

// Writes the chosen set even when it is already installed.
bool SwitchDevice(uint8_t id) {
    if (!s_RemoteEnabled) return false;
    if (id == 0)
        RestoreLocalDevice();
    else
        LocalDevice.m_Backend = s_RemoteBackend;
    s_CurrentDevice = id == 0 ? 0 : 1;
    return true;
}

uint8_t GetCurrentDevice() {
    return s_CurrentDevice;
}

const LocalBackend s_RemoteBackend = {
    RemoteIsNewer,  // IsNewer
    RemoteOpen,     // Open
    RemoteCreate,   // Create
    RemoteSeek,     // Seek
    RemoteWrite,    // Write
    RemoteRead,     // Read
    RemoteClose,    // Close
    RemoteDelete,   // Delete
};
