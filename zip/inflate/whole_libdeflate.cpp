// Whole members through the whole-buffer inflater: it needs all input and all
// output at once, which a whole-member read has, and is faster than zlib at
// it. One decompressor serves every read, under the zip layer's lock.
#include <libdeflate.h>

#include "zip/zipinflate.h"

const char* const kWholeInflater = "libdeflate";

static libdeflate_decompressor* s_Decompressor;

// Given the exact size and no place for the actual one, it succeeds only when
// the stream fills out exactly.
bool InflateWhole(z_stream*, const uint8_t* in, uint32_t inBytes, uint8_t* out, uint32_t size) {
    if (!s_Decompressor) s_Decompressor = libdeflate_alloc_decompressor();
    return s_Decompressor &&
           libdeflate_deflate_decompress(s_Decompressor, in, inBytes, out, size, nullptr) == LIBDEFLATE_SUCCESS;
}

void ReleaseWholeInflater() {
    libdeflate_free_decompressor(s_Decompressor);
    s_Decompressor = nullptr;
}
