// Whole members through zlib: one inflate call over all of the input, into
// all of the output, so that no window is kept and no call is repeated.
#include "zip/zipinflate.h"

const char* const kWholeInflater = "zlib";

bool InflateWhole(z_stream* z, const uint8_t* in, uint32_t inBytes, uint8_t* out, uint32_t size) {
    z->next_in = const_cast<Bytef*>(in);
    z->avail_in = inBytes;
    z->next_out = out;
    z->avail_out = size;
    bool whole = inflate(z, Z_FINISH) == Z_STREAM_END && z->avail_out == 0;
    z->next_in = nullptr;
    z->avail_in = 0;
    return whole;
}

void ReleaseWholeInflater() {}
