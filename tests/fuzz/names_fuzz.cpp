// The member-name code over arbitrary bytes, held against a plain model: the
// code of every character, the packed length, the order of both comparisons,
// and front-coded directories whose prefix lengths and chains come from the
// input (each name still ends with its terminating code, as a mount writes
// it). Every packed name lives in a block of exactly its length and every
// unpacked name in one of exactly 256 characters, so a byte read or written
// past either is caught.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "support/capture_system.h"
#include "support/plain_zip.h"
#include "zip/zipfile.h"

namespace {

CaptureSystem* s_Capture;

void Check(bool ok, const char* what) {
    if (ok) return;
    fprintf(stderr, "names_fuzz: %s\n", what);
    abort();
}

int Sign(int32_t x) { return (x > 0) - (x < 0); }

// ------------------------------------------------------------ the model

const char kTable[] = " #$()-./?0123456789_abcdefghijklmnopqrstuvwxyz~";

// The code a byte packs to; '?' has a code to unpack to but none to pack from.
int32_t ModelCode(unsigned char c) {
    if (c == 0) return 0;
    if (c >= 0x80 && c <= 0xBF) return c - 0x80;
    if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c - 'A' + 'a');
    if (c == '\\') c = '/';
    const char* at = c == '?' ? nullptr : strchr(kTable, c);
    return at ? static_cast<int32_t>(at - kTable) + 1 : 48;
}

char ModelChar(int32_t code) { return code >= 1 && code <= 47 ? kTable[code - 1] : 0; }

// Inside the name code: every character packs to a code of its own.
bool InsideCode(const std::string& text) {
    for (unsigned char c : text)
        if (c >= 0x80 || ModelCode(c) == 48) return false;
    return true;
}

// Codes as the packed form holds them: 6 bits each, little-endian.
std::vector<uint8_t> BitPack(const std::vector<int32_t>& codes) {
    std::vector<uint8_t> out((6 * codes.size() + 7) / 8, 0);
    for (size_t k = 0; k < codes.size(); ++k)
        for (int b = 0; b < 6; ++b)
            if (codes[k] >> b & 1) out[(6 * k + b) / 8] |= static_cast<uint8_t>(1 << ((6 * k + b) % 8));
    return out;
}

// ------------------------------------------------------- single names

// Text as the zip layer sees it: up to its first NUL.
std::string Text(FuzzedDataProvider& in, size_t most) {
    return in.ConsumeRandomLengthString(most).c_str();
}

// The packed name in a block of exactly its length.
std::unique_ptr<uint8_t[]> Pack(const std::string& name, int32_t* length) {
    *length = PackZipName(nullptr, name.c_str());
    std::unique_ptr<uint8_t[]> out(new uint8_t[*length]);
    Check(PackZipName(out.get(), name.c_str()) == *length, "the two packings differ in length");
    return out;
}

void CheckPacking(const std::string& name) {
    int32_t length = 0;
    std::unique_ptr<uint8_t[]> packed = Pack(name, &length);
    Check(length == static_cast<int32_t>((6 * (name.size() + 1) + 7) / 8), "packed length");
    for (size_t k = 0; k <= name.size(); ++k)
        Check(PackedCode(packed.get(), static_cast<int32_t>(k)) ==
                  ModelCode(static_cast<unsigned char>(name.c_str()[k])), "a character's code");
    Check(PackedNameCompare(packed.get(), packed.get()) == 0, "a packed name against itself");
}

// Names inside the code order alike as text, as codes and as folded bytes.
void CheckOrder(const std::string& a, const std::string& b) {
    int expected = Sign(PlainFold(a).compare(PlainFold(b)));
    Check(Sign(ZipNameCompare(a.c_str(), b.c_str())) == expected, "text comparison");
    Check(Sign(ZipNameCompare(b.c_str(), a.c_str())) == -expected, "text comparison reversed");
    if (!InsideCode(a) || !InsideCode(b) || a.size() >= 256 || b.size() >= 256) return;
    int32_t la = 0, lb = 0;
    std::unique_ptr<uint8_t[]> pa = Pack(a, &la), pb = Pack(b, &lb);
    Check(Sign(PackedNameCompare(pa.get(), pb.get())) == expected, "code comparison");
}

// ---------------------------------------------------- a whole directory

// One entry of a directory: its packed bytes and the name the model unpacks.
struct ModelEntry {
    std::vector<uint8_t> m_Packed;
    std::string m_Name;
};

// Mounted in the given mode for the length of one input.
struct FakeArchive {
    std::vector<ModelEntry> m_Model;
    std::vector<zipEntry> m_Entries;
    zipFile m_Zip{};

    FakeArchive(bool frontCoded) {
        s_PackedNames = true;
        s_FrontCoded = frontCoded;
    }
    void Mount() {
        for (const ModelEntry& e : m_Model)
            m_Entries.push_back({reinterpret_cast<const char*>(e.m_Packed.data()), 0, 0, 0});
        m_Zip.m_Entries = m_Entries.data();
        m_Zip.m_EntryCount = static_cast<int32_t>(m_Entries.size());
        s_ZipFiles = &m_Zip;
    }
    ~FakeArchive() {
        s_ZipFiles = nullptr;
        s_PackedNames = s_FrontCoded = false;
    }
};

// The rest of a name from the input: mostly table characters, now and then a
// code that unpacks to the terminator early. Always ends with code 0.
std::vector<int32_t> RestCodes(FuzzedDataProvider& in, std::string* text) {
    std::vector<int32_t> codes;
    size_t length = in.ConsumeIntegralInRange<size_t>(0, 300);
    bool ended = false;
    for (size_t i = 0; i < length && in.remaining_bytes() > 0; ++i) {
        int32_t code = in.ConsumeIntegralInRange<int32_t>(1, 63);
        codes.push_back(code);
        if (ModelChar(code) == 0) ended = true;
        if (!ended) *text += ModelChar(code);
    }
    codes.push_back(0);
    return codes;
}

// What unpacking must give: the shared part of the name before (never more
// than it has), then the rest, cut to 255 characters.
ModelEntry MakeEntry(FuzzedDataProvider& in, const std::string& previous) {
    ModelEntry e;
    std::string rest;
    std::vector<int32_t> codes;
    if (in.ConsumeBool()) {
        int32_t shared = in.ConsumeIntegralInRange<int32_t>(0, 255);
        codes = {56 + shared % 8, shared / 8 + (in.ConsumeBool() ? 32 : 0)};
        e.m_Name = previous.substr(0, static_cast<size_t>(shared));
    }
    std::vector<int32_t> tail = RestCodes(in, &rest);
    // A whole name's first code is below the marker, or it would be read as one.
    if (codes.empty() && tail[0] >= 56) {
        tail[0] -= 8;  // still a code that ends the name at once
    }
    codes.insert(codes.end(), tail.begin(), tail.end());
    e.m_Packed = BitPack(codes);
    e.m_Name = (e.m_Name + rest).substr(0, kZipNameLength - 1);
    return e;
}

void CheckUnpacking(const FakeArchive& archive) {
    for (size_t i = 0; i < archive.m_Model.size(); ++i) {
        std::unique_ptr<char[]> out(new char[kZipNameLength]);
        UnpackZipName(out.get(), &archive.m_Entries[i]);
        Check(out.get() == archive.m_Model[i].m_Name, "unpacked name");
    }
}

bool StrictlySorted(const std::vector<ModelEntry>& model) {
    for (size_t i = 1; i < model.size(); ++i)
        if (PlainFold(model[i - 1].m_Name).compare(PlainFold(model[i].m_Name)) >= 0) return false;
    return true;
}

// A sorted directory finds every name, and the root lists every name whole.
void CheckLookups(FakeArchive& archive) {
    std::vector<std::string> listed;
    int32_t count = archive.m_Zip.EnumFiles("", [](const char* name, bool, void* context) {
        static_cast<std::vector<std::string>*>(context)->push_back(name);
    }, &listed);
    Check(count == archive.m_Zip.m_EntryCount && listed.size() == archive.m_Model.size(), "listing");
    for (size_t i = 0; i < listed.size(); ++i) Check(listed[i] == archive.m_Model[i].m_Name, "listed name");
    if (!StrictlySorted(archive.m_Model)) return;
    for (size_t i = 0; i < archive.m_Model.size(); ++i)
        Check(archive.m_Zip.Find(archive.m_Model[i].m_Name.c_str()) == &archive.m_Entries[i], "lookup");
}

void CheckFrontCoded(FuzzedDataProvider& in) {
    FakeArchive archive(true);
    size_t count = in.ConsumeIntegralInRange<size_t>(1, 40);
    for (size_t i = 0; i < count && in.remaining_bytes() > 0; ++i)
        archive.m_Model.push_back(MakeEntry(in, i ? archive.m_Model.back().m_Name : std::string()));
    if (archive.m_Model.empty()) return;
    archive.Mount();
    CheckUnpacking(archive);
    CheckLookups(archive);
}

// Packed mode: names from the input, packed by the code under test, sorted by
// the model; every one found, and unpacked to its folded text.
void CheckPackedDirectory(FuzzedDataProvider& in) {
    FakeArchive archive(false);
    std::vector<std::string> names;
    while (names.size() < 24 && in.remaining_bytes() > 0) {
        std::string name = Text(in, 255);
        if (InsideCode(name)) names.push_back(PlainFold(name));
    }
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    for (const std::string& name : names) {
        int32_t length = 0;
        std::unique_ptr<uint8_t[]> packed = Pack(name, &length);
        archive.m_Model.push_back({std::vector<uint8_t>(packed.get(), packed.get() + length), name});
    }
    if (archive.m_Model.empty()) return;
    archive.Mount();
    CheckUnpacking(archive);
    CheckLookups(archive);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    s_Capture = new CaptureSystem;  // kept for the whole run: warnings go nowhere
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    s_Capture->m_Console.clear();
    s_Capture->m_DebuggerLines.clear();
    s_Capture->m_Attributes.clear();
    s_Capture->m_FlushesAtAttribute.clear();
    switch (in.ConsumeIntegralInRange<int>(0, 2)) {
        case 0: {
            std::string a = Text(in, 400), b = Text(in, 400);
            CheckPacking(a);
            CheckPacking(b);
            CheckOrder(a, b);
            break;
        }
        case 1: CheckFrontCoded(in); break;
        default: CheckPackedDirectory(in); break;
    }
    return 0;
}
