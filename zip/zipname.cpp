// The member-name code: 6 bits a character, a little-endian bit stream of
// codes that ends with code 0, optionally front-coded against the previous
// entry of the directory.
#include <cstring>

#include "core/output.h"
#include "core/strings.h"
#include "zip/zipfile.h"

const char zipNameChars[64] = {
    0,   ' ', '#', '$', '(', ')', '-', '.', '/', '?', '0', '1', '2', '3', '4', '5',
    '6', '7', '8', '9', '_', 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j', 'k',
    'l', 'm', 'n', 'o', 'p', 'q', 'r', 's', 't', 'u', 'v', 'w', 'x', 'y', 'z', '~',
    0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,
};

const int32_t kOutsideCode = 48;
// A front-coded name's first code is at least this.
const int32_t kFrontMarker = 56;

// The code each byte packs to, or -1 for a byte outside the code. '?' is
// left out on purpose: code 9 unpacks to it, but nothing packs to code 9.
struct CodeTable {
    int8_t m_Code[256];
    CodeTable() {
        for (int c = 0; c < 256; ++c) m_Code[c] = -1;
        for (int k = 1; k < 48; ++k) m_Code[static_cast<unsigned char>(zipNameChars[k])] = static_cast<int8_t>(k);
        for (int c = 'A'; c <= 'Z'; ++c) m_Code[c] = m_Code[c + ('a' - 'A')];
        for (int c = 0x80; c <= 0xBF; ++c) m_Code[c] = static_cast<int8_t>(c - 0x80);  // raw codes
        m_Code[0] = 0;
        m_Code[static_cast<unsigned char>('\\')] = m_Code[static_cast<unsigned char>('/')];
        m_Code[static_cast<unsigned char>('?')] = -1;
    }
};

static int32_t CodeOf(unsigned char c) {
    static const CodeTable table;
    return table.m_Code[c];
}

int32_t PackZipName(uint8_t* output, const char* name) {
    uint32_t accumulator = 0;
    int32_t bits = 0, length = 0;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(name);
    for (;; ++p) {
        int32_t code = CodeOf(*p);
        if (code < 0) {
            Warningf("Character %c (%d) in zipfile name (%s)", *p, *p, name);
            code = kOutsideCode;
        }
        accumulator |= static_cast<uint32_t>(code) << bits;
        bits += 6;
        if (bits >= 8) {
            if (output) output[length] = static_cast<uint8_t>(accumulator);
            ++length;
            accumulator >>= 8;
            bits -= 8;
        }
        if (*p == 0) break;
    }
    if (bits != 0) {
        if (output) output[length] = static_cast<uint8_t>(accumulator);
        ++length;
    }
    return length;
}

bool ZipNamePackable(const char* name) {
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(name); *p; ++p)
        if (*p >= 0x80 || CodeOf(*p) < 0) return false;
    return true;
}

// Reads only the bytes the code lies in, so the last code of a name never
// reads past its last byte.
int32_t PackedCode(const uint8_t* packed, int32_t k) {
    int32_t bit = 6 * k;
    int32_t shift = bit & 7;
    uint32_t value = packed[bit >> 3];
    if (shift > 2) value |= static_cast<uint32_t>(packed[(bit >> 3) + 1]) << 8;
    return static_cast<int32_t>((value >> shift) & 63);
}

int32_t PackedNameCompare(const uint8_t* key, const uint8_t* name) {
    for (int32_t k = 0;; ++k) {
        int32_t a = PackedCode(key, k), b = PackedCode(name, k);
        if (a != b || a == 0) return a - b;
    }
}

int32_t ZipNameCompare(const char* key, const char* name) {
    for (;; ++key, ++name) {
        int x = static_cast<unsigned char>(ZipFoldChar(*key));
        int y = static_cast<unsigned char>(ZipFoldChar(*name));
        if (x != y || x == 0) return x - y;
    }
}

static const uint8_t* Packed(const zipEntry* entry) {
    return reinterpret_cast<const uint8_t*>(entry->m_Name);
}

static bool IsFrontCoded(const zipEntry* entry) {
    return s_FrontCoded && PackedCode(Packed(entry), 0) >= kFrontMarker;
}

// Writes the codes of packed from code `first` on into output from character
// `at`, up to the terminator; never past the 256th character.
static void UnpackCodes(char* output, int32_t at, const uint8_t* packed, int32_t first) {
    for (int32_t k = first; at < kZipNameLength - 1; ++k) {
        char c = zipNameChars[PackedCode(packed, k)];
        output[at++] = c;
        if (c == 0) return;
    }
    output[kZipNameLength - 1] = 0;
}

// The first entry of the mounted directory holding entry, which a chain of
// front-coded entries may not walk past; null for an entry of no mounted
// archive.
static const zipEntry* DirectoryStart(const zipEntry* entry) {
    for (const zipFile* zip = s_ZipFiles; zip; zip = zip->m_Next)
        if (entry >= zip->m_Entries && entry < zip->m_Entries + zip->m_EntryCount)
            return zip->m_Entries;
    return nullptr;
}

// The chain is followed back to the entry packed whole, then replayed
// forward, so a long chain costs no stack.
char* UnpackZipName(char* output, const zipEntry* entry) {
    if (!s_PackedNames) return SafeStrncpy(output, entry->m_Name, kZipNameLength);
    const zipEntry* start = entry;
    const zipEntry* first = DirectoryStart(entry);
    while (start != first && IsFrontCoded(start)) --start;
    output[0] = 0;
    UnpackCodes(output, 0, Packed(start), IsFrontCoded(start) ? 2 : 0);
    for (const zipEntry* e = start + 1; e <= entry; ++e) {
        const uint8_t* packed = Packed(e);
        int32_t shared = 0, firstCode = 0;
        if (IsFrontCoded(e)) {
            shared = PackedCode(packed, 0) - kFrontMarker + 8 * (PackedCode(packed, 1) % 32);
            firstCode = 2;
        }
        // A prefix longer than the name before it would expose stale bytes.
        int32_t known = static_cast<int32_t>(strlen(output));
        UnpackCodes(output, shared < known ? shared : known, packed, firstCode);
    }
    return output;
}
