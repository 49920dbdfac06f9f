// Each open member's input window: the archive bytes a handle has read ahead
// of its reader, and the local header read that places a member's data when
// it is first opened. Internal to the zip layer; every call is made under
// s_ZipLock.
#pragma once

#include <cstdint>

#include "zip/zipfile.h"

// Large enough that inflate works on long runs of input and that a small
// member comes in with its header in one device read; 16 of them are 1 MB.
const uint32_t kZipInputWindow = 64 * 1024;

// The archive bytes from at, up to want of them (*have says how many): out
// of the window when it holds at, else after reading up to a window's worth
// from at. An image's bytes are handed out in place.
const uint8_t* WindowAt(zipHandle* h, uint32_t at, uint32_t want, uint32_t* have);
// All count bytes from at (count at most kZipInputWindow), read again from
// at when the window does not hold them all.
const uint8_t* WindowSpan(zipHandle* h, uint32_t at, uint32_t count);
// Copies what the window already holds of [at, at + count) when it starts at
// at, without reading; returns how many bytes it copied.
uint32_t TakeFromWindow(const zipHandle* h, uint32_t at, void* buffer, uint32_t count);
// Places the data of h's member, reading its local header through the window
// together with the member's first bytes; null, or why it cannot be served.
const char* LocateOpened(zipHandle* h);
// Every window forgets what it holds: the archives are going away.
void ForgetWindows();
// All comp packed bytes of h's member, from its first: in the window when
// they fit, else in a scratch block kept for the next whole read (null when
// it cannot be had); an image's in place.
const uint8_t* PackedMember(zipHandle* h, uint32_t comp);
