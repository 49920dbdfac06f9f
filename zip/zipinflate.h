// Inflating a whole member in one call, with the fastest inflater the build
// has: a whole-buffer one where the platform offers it, else zlib itself.
// The streaming reads, the seeks and every build without it use zlib.
#pragma once

#include <cstdint>

#include <zlib.h>

// A read takes the one-call road only for members packed within this: their
// packed bytes are held whole, in the input window or a scratch block.
const uint32_t kWholeMemberLimit = 4 << 20;

// Inflates the raw deflate stream in in[0, inBytes) into out, which it must
// fill exactly: true only when the stream ends after exactly size bytes. z is
// the member's fresh stream, for the inflater that needs one; on false the
// caller resets it. Called under the zip layer's lock.
bool InflateWhole(z_stream* z, const uint8_t* in, uint32_t inBytes, uint8_t* out, uint32_t size);
// Frees what the inflater keeps from one call to the next.
void ReleaseWholeInflater();
// "libdeflate" or "zlib": which one this build inflates whole members with.
extern const char* const kWholeInflater;
