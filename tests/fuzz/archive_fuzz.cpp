// Arbitrary bytes mounted as an archive: from an image in memory and through
// a device, in every name mode. Whatever a mount accepts must be served whole
// and safely: every member listed, opened, read at once and in pieces,
// seeked, paged, and its handle given back; image and device mounts agree;
// and every member that a plain reader finds clean reads back exactly the
// bytes that reader gives, with no fatal stop.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/output.h"
#include "data/param.h"
#include "platform/platform.h"
#include "support/capture_system.h"
#include "support/memory_device.h"
#include "support/plain_zip.h"
#include "zip/zipfile.h"

namespace {

const uint32_t kReadLimit = 1 << 20;  // bytes read of one member: a deflate bomb stays cheap
const uint32_t kPageHandle = 77;
const uint32_t kPage = 2048;
const size_t kDirectoriesListed = 8;
const char kArchiveName[] = "fuzz.zip";

CaptureSystem* s_Capture;

void Check(bool ok, const char* what, const std::string& name = "") {
    if (ok) return;
    fprintf(stderr, "archive_fuzz: %s [%s] (mode %d)\n", what, name.c_str(), int(s_ZipNameMode));
    abort();
}

// ------------------------------------------------------- what is known

// The plain reader's view of the input.
struct Input {
    const uint8_t* m_Bytes;
    size_t m_Size;
    bool m_Read;      // the plain reader found a directory
    bool m_Strong;    // ...and the mount must have taken the same one
    PlainArchive m_Plain;
    // Each folded name with its members, in central-directory order.
    std::map<std::string, std::vector<const PlainMember*>> m_Named;
};

// One mounted entry as the plain reader has it.
struct Reference {
    const PlainMember* m_Member = nullptr;
    bool m_Clean = false;
    std::string m_Bytes;
};

// What a mount served, to hold mounts of the same bytes against each other.
struct Served {
    bool m_Accepted = false;
    std::vector<std::string> m_Folded;  // the root listing, folded
    std::vector<uint32_t> m_Fields;     // offset, size, stored size, CRC of every entry
};

bool IsDirectory(const std::string& name) {
    return !name.empty() && (name.back() == '/' || name.back() == '\\');
}

size_t FatalStops() { return s_Capture->m_EndStatuses.size(); }

void ForgetFatalStops() {
    s_Quitting = false;
    s_Aborted = false;
}

// ------------------------------------------------------------ listing

void Collect(const char* name, bool isDirectory, void* context) {
    Check(!isDirectory, "a listing reports a directory", name);
    static_cast<std::vector<std::string>*>(context)->push_back(name);
}

std::vector<std::string> List(const std::string& directory) {
    std::vector<std::string> names;
    int32_t count = zipFile::zipEnumFiles(directory.c_str(), Collect, &names);
    Check(count == int32_t(names.size()), "listing count", directory);
    Check(zipFile::zipEnumFiles(directory.c_str(), nullptr, nullptr) == count, "counting listing", directory);
    return names;
}

// Plain mode lists the recorded text; the packed modes hold folded codes.
std::string ListedText(const PlainMember& m) {
    return s_ZipNameMode == kZipNamesPlain ? m.m_Name : PlainFold(m.m_Name);
}

// The first member of each folded name, which is the one the mount serves,
// in folded order.
std::vector<const PlainMember*> FirstOfEachName(const Input& in) {
    std::vector<const PlainMember*> firsts;
    for (const auto& named : in.m_Named)
        if (!IsDirectory(named.second.front()->m_Name)) firsts.push_back(named.second.front());
    return firsts;
}

// The root listing: every entry once, in ascending folded order, and with
// the same directory the plain reader found the very same names.
void CheckRootListing(const zipFile* zip, const std::vector<std::string>& listed, const Input& in) {
    Check(int32_t(listed.size()) == zip->m_EntryCount, "root listing misses entries");
    for (size_t i = 1; i < listed.size(); ++i)
        Check(PlainFold(listed[i - 1]) < PlainFold(listed[i]), "listing out of order", listed[i]);
    if (!in.m_Strong) return;
    std::vector<const PlainMember*> firsts = FirstOfEachName(in);
    Check(firsts.size() == listed.size(), "the mount serves another set of members");
    for (size_t i = 0; i < listed.size(); ++i)
        Check(listed[i] == ListedText(*firsts[i]), "listed name differs", listed[i]);
}

// Directories of the listed names. One that would end in a separator (the
// names hold "//") is left out: given with its separator, a directory lists
// what lies under it, so that spelling names the shorter one.
std::vector<std::string> Directories(const std::vector<std::string>& listed) {
    std::vector<std::string> directories;
    for (const std::string& name : listed) {
        std::string folded = PlainFold(name);
        for (size_t slash = folded.find('/'); slash != std::string::npos && directories.size() < kDirectoriesListed;
             slash = folded.find('/', slash + 1))
            if (slash > 0 && folded[slash - 1] != '/' && std::find(directories.begin(), directories.end(), name.substr(0, slash)) == directories.end())
                directories.push_back(name.substr(0, slash));
    }
    return directories;
}

std::string Shouted(const std::string& text) {
    std::string out = text;
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (c == '/') c = '\\';
    }
    return out;
}

// A directory lists what the root listing holds under it, however it is
// spelt: with or without its separator, in either case, with either slash.
void CheckDirectoryListings(const std::vector<std::string>& listed) {
    for (const std::string& directory : Directories(listed)) {
        std::string prefix = PlainFold(directory) + "/";
        std::vector<std::string> expected;
        for (const std::string& name : listed)
            if (PlainFold(name).compare(0, prefix.size(), prefix) == 0) expected.push_back(name.substr(prefix.size()));
        for (const std::string& spelling : {directory, directory + "/", Shouted(directory), Shouted(directory) + "\\"})
            Check(List(spelling) == expected, "directory listing", spelling);
    }
}

// ------------------------------------------------------ plain matching

const std::vector<const PlainMember*>* Named(const std::string& name, const Input& in) {
    auto it = in.m_Named.find(PlainFold(name));
    return it == in.m_Named.end() ? nullptr : &it->second;
}

// A deflated member as long packed as unpacked is held one byte longer, so
// that equal sizes keep meaning stored.
uint32_t HeldCompSize(const PlainMember* m) {
    return m->m_CompSize + (m->m_Method == 8 && m->m_CompSize == m->m_Size ? 1 : 0);
}

const PlainMember* StrongMatch(const zipEntry& e, const std::string& name, const Input& in) {
    const std::vector<const PlainMember*>* named = Named(name, in);
    Check(named != nullptr, "served member not in the directory", name);
    const PlainMember* m = named->front();
    Check(m->m_Located && e.m_Offset == m->m_DataOffset, "data offset differs", name);
    Check(uint32_t(e.m_Size) == m->m_Size && uint32_t(e.m_CompSize) == HeldCompSize(m), "sizes differ", name);
    Check(!(m->m_Flags & 1), "an encrypted member is served", name);
    Check(m->m_Method == 0 || m->m_Method == 8, "a member of another method is served", name);
    Check((m->m_Method == 0) == (e.m_Size == e.m_CompSize), "stored and deflated told apart wrongly", name);
    return m;
}

// Without the same directory only a member that both read alike can count.
const PlainMember* WeakMatch(const zipEntry& e, const std::string& name, const Input& in) {
    const std::vector<const PlainMember*>* named = Named(name, in);
    if (!named || named->size() != 1) return nullptr;
    const PlainMember* p = named->front();
    bool alike = p->m_Located && p->m_DataOffset == e.m_Offset && p->m_Size == uint32_t(e.m_Size) &&
                 HeldCompSize(p) == uint32_t(e.m_CompSize);
    return alike ? p : nullptr;
}

Reference ReferenceFor(const zipFile* zip, int32_t i, const std::string& name, const Input& in) {
    const zipEntry& e = zip->m_Entries[i];
    Reference ref;
    if (!in.m_Read) return ref;
    ref.m_Member = in.m_Strong ? StrongMatch(e, name, in) : WeakMatch(e, name, in);
    if (!ref.m_Member) return ref;
    if (in.m_Strong) Check(zip->CrcOf(&e) == ref.m_Member->m_Crc, "CRC differs", name);
    ref.m_Clean = ReadPlainMember(in.m_Bytes, in.m_Size, *ref.m_Member, kReadLimit, &ref.m_Bytes);
    return ref;
}

// ------------------------------------------------------------ reading

// One member under test, read through two handles at once.
struct Session {
    const zipEntry* m_Entry;
    std::string m_Name;
    int32_t m_Handle;
    std::string m_Whole;  // what one read from the start delivered
    bool m_Complete;      // m_Whole holds all the member gives
    size_t m_StopsBefore;

    bool Steady() const { return FatalStops() == m_StopsBefore; }
    bool Stored() const { return m_Entry->m_Size == m_Entry->m_CompSize; }
};

// Read into a buffer of exactly count bytes, so a write past it is caught.
std::string ReadSome(int32_t handle, int32_t count) {
    std::unique_ptr<char[]> buffer(new char[count > 0 ? count : 1]);
    int32_t got = zipFile::zipRead(handle, buffer.get(), count);
    Check(got >= 0 && got <= count, "read count out of range");
    return std::string(buffer.get(), got);
}

int32_t OpenChecked(const zipFile* zip, int32_t i, const std::string& key) {
    int32_t h = zipFile::zipOpen(key.c_str(), 1);
    Check(h >= 0 && h < maxZipHandles, "a listed member does not open", key);
    Check(s_ZipHandles[h].m_Entry == &zip->m_Entries[i], "a key opens another member", key);
    Check(zipFile::zipSize(h) == zip->m_Entries[i].m_Size, "size slot", key);
    return h;
}

void ReadWhole(Session* s, const Reference& ref) {
    uint32_t size = uint32_t(s->m_Entry->m_Size);
    s->m_Complete = size <= kReadLimit;
    int32_t count = int32_t(s->m_Complete ? size : kReadLimit);
    s->m_Whole = ReadSome(s->m_Handle, count);
    if (!ref.m_Clean) return;
    Check(s->Steady(), "fatal stop reading a clean member", s->m_Name);
    Check(s->m_Whole == ref.m_Bytes.substr(0, count), "clean member reads back other bytes", s->m_Name);
}

// Two handles on the member, read alternately in uneven pieces, must each
// give the same bytes as the single read did.
void ReadInPieces(const zipFile* zip, int32_t i, Session* s) {
    static const int32_t kPieces[] = {1, 7, 4095, 4096, 4097, 10000, 65536};
    int32_t second = OpenChecked(zip, i, s->m_Name);
    int32_t handles[2] = {s->m_Handle, second};
    std::string got[2];
    Check(zipFile::zipSeek(s->m_Handle, 0, 0) == 0, "seek to the start", s->m_Name);
    bool more[2] = {true, true};
    for (int step = 0; more[0] || more[1]; ++step) {
        int k = step % 2;
        if (!more[k]) continue;
        std::string piece = ReadSome(handles[k], kPieces[(step / 2 + i) % 7]);
        got[k] += piece;
        more[k] = !piece.empty() && got[k].size() < s->m_Whole.size();
    }
    Check(zipFile::zipClose(second) == 0, "close", s->m_Name);
    if (!s->Steady()) return;
    // A member past the read limit is compared as far as the single read went.
    for (std::string& bytes : got) {
        if (!s->m_Complete) bytes.resize(std::min(bytes.size(), s->m_Whole.size()));
        Check(bytes == s->m_Whole, "pieces differ from one read", s->m_Name);
    }
}

// ------------------------------------------------------------- seeks

struct SeekCase {
    int32_t m_Offset;
    int32_t m_Origin;
};

// Where a seek must land: stored members anywhere in [0, 2^31), deflated
// ones within the member and no further than its stream reaches.
int64_t Landing(const Session& s, int64_t position, const SeekCase& c) {
    if (c.m_Origin < 0 || c.m_Origin > 2) return -1;
    int64_t size = s.m_Entry->m_Size;
    int64_t base = c.m_Origin == 0 ? 0 : c.m_Origin == 1 ? position : size;
    int64_t target = base + c.m_Offset;
    if (s.Stored()) return target < 0 ? 0 : target > INT32_MAX ? INT32_MAX : target;
    uint32_t unsignedTarget = static_cast<uint32_t>(target);
    if (unsignedTarget > size) unsignedTarget = static_cast<uint32_t>(size);
    return std::min<int64_t>(unsignedTarget, int64_t(s.m_Whole.size()));
}

std::vector<SeekCase> SeekCases(int32_t size) {
    return {{size / 2, 0}, {-1, 0}, {size + 10, 0}, {INT32_MIN, 0}, {INT32_MAX, 0}, {0, 0},
            {size / 3, 1}, {-(size / 4), 1}, {5, 1}, {-5, 1}, {INT32_MIN, 1}, {INT32_MAX, 1},
            {-10, 2}, {10, 2}, {0, 2}, {-size, 2}, {INT32_MIN, 2}, {3, 3}, {0, -1}};
}

// After every seek a short read shows where the member really is.
void CheckSeeks(Session* s) {
    int64_t position = 0;
    Check(zipFile::zipSeek(s->m_Handle, 0, 0) == 0, "seek to the start", s->m_Name);
    for (const SeekCase& c : SeekCases(s->m_Entry->m_Size)) {
        int32_t result = zipFile::zipSeek(s->m_Handle, c.m_Offset, c.m_Origin);
        std::string bytes = ReadSome(s->m_Handle, 64);
        if (!s->Steady()) return;
        int64_t landing = Landing(*s, position, c);
        Check(result == landing, "seek result", s->m_Name);
        if (landing >= 0) position = landing;
        size_t at = size_t(position) < s->m_Whole.size() ? size_t(position) : s->m_Whole.size();
        Check(bytes == s->m_Whole.substr(at, 64), "bytes after a seek", s->m_Name);
        position += int64_t(bytes.size());
    }
}

// ------------------------------------------------------------- paging

void CheckPaging(const zipEntry& e, const std::string& name) {
    zipEntry location = {};
    uint32_t page = 0;
    bool onBoundary = e.m_Offset % kPage == 0;
    bool deflated = e.m_Size != e.m_CompSize;
    size_t boxes = s_Capture->m_Boxes.size();
    if (onBoundary && deflated) s_Capture->m_BoxAnswers.push_back(plat::kIdRetry);
    bool paged = zipFile::zipPaging(name.c_str(), &location, &page);
    Check(s_Capture->m_Boxes.size() == boxes + (onBoundary && deflated), "paging's assertion", name);
    Check(paged == onBoundary, "paging result", name);
    if (!paged) return;
    Check(location.m_Offset == e.m_Offset / kPage && location.m_Size == e.m_Size &&
              location.m_CompSize == e.m_CompSize && page == kPageHandle,
          "paged location", name);
    if (onBoundary && deflated) s_Capture->m_BoxAnswers.push_back(plat::kIdRetry);
    Check(!zipFile::zipPaging(name.c_str(), &location, nullptr), "paging without a page handle", name);
}

// ------------------------------------------------------------ a member

void ExpectAllHandlesFree() {
    for (const zipHandle& h : s_ZipHandles) Check(h.m_Entry == nullptr, "a handle is left taken");
}

void CheckOpens(const zipFile* zip, int32_t i, const std::string& name) {
    int32_t h = OpenChecked(zip, i, Shouted(name));
    Check(zipFile::zipClose(h) == 0, "close", name);
    Check(zipFile::zipClose(h) == -1, "a second close", name);
}

// The zip layer's message for a short archive read. Matched as the end of a
// whole message, since a member name may hold the same text.
bool ShortReadReported() {
    const std::string text = "Error reading zipfile from host, was fileserver reset?\n";
    for (const std::string& line : s_Capture->m_DebuggerLines)
        if (line.size() >= text.size() && line.compare(line.size() - text.size(), text.size(), text) == 0)
            return true;
    return false;
}

// A member's local header is read at its first open, or when a tool asks
// where it lies: one the plain reader cannot place in front of the central
// directory is refused then, and its archive serves the others.
bool Placeable(const PlainMember& m, const zipEntry& e, const Input& in) {
    uint32_t dir = in.m_Plain.m_DirectoryOffset, slack = e.m_Size != e.m_CompSize;
    return m.m_Located && m.m_LocalHeader <= dir && dir - m.m_LocalHeader >= 30 && m.m_DataOffset <= dir &&
           uint32_t(e.m_CompSize) <= dir + slack - m.m_DataOffset;
}

// Odd members are placed by their first open, even ones by asking.
bool CheckPlaced(zipFile* zip, int32_t i, const std::string& name, const Input& in) {
    zipEntry& e = zip->m_Entries[i];
    int32_t h = i % 2 ? zipFile::zipOpen(name.c_str(), 1) : -1;
    bool placed = i % 2 ? h >= 0 : zip->Locate(&e);
    if (h >= 0) zipFile::zipClose(h);
    const std::vector<const PlainMember*>* named = Named(name, in);
    if (in.m_Strong && named) Check(placed == Placeable(*named->front(), e, in), "placed unlike its local header", name);
    if (placed) return true;
    Check(zipFile::zipOpen(name.c_str(), 1) == -1, "a member that cannot be placed opens", name);
    ExpectAllHandlesFree();
    s_Capture->m_Console.clear();
    return false;
}

void CheckMember(zipFile* zip, int32_t i, const std::string& name, const Input& in) {
    if (!CheckPlaced(zip, i, name, in)) return;
    Reference ref = ReferenceFor(zip, i, name, in);
    CheckOpens(zip, i, name);
    Session s = {&zip->m_Entries[i], name, OpenChecked(zip, i, name), "", false, FatalStops()};
    ReadWhole(&s, ref);
    ReadInPieces(zip, i, &s);
    if (s.m_Complete) CheckSeeks(&s);
    Check(!ref.m_Clean || s.Steady(), "fatal stop on a clean member", name);
    Check(zipFile::zipClose(s.m_Handle) == 0, "close", name);
    CheckPaging(zip->m_Entries[i], name);
    Check(!ShortReadReported(), "read outside the archive", name);
    ForgetFatalStops();
    s_Capture->m_Console.clear();
}

// ------------------------------------------------------------- mounts

zipFile* MountAs(bool onDevice, const uint8_t* image, const Input& in) {
    if (onDevice) {
        s_MemoryFs.Reset();
        s_MemoryFs.m_Files[kArchiveName].assign(in.m_Bytes, in.m_Bytes + in.m_Size);
        return zipFile::Mount(kArchiveName, kPageHandle, const_cast<FileDevice*>(&MemoryDevice));
    }
    return zipFile::MountImage(kArchiveName, image, uint32_t(in.m_Size), kPageHandle);
}

Served Serve(bool onDevice, const uint8_t* image, const Input& in) {
    Served served;
    zipFile* zip = MountAs(onDevice, image, in);
    Check((zip != nullptr) == (zipFile::MountError()[0] == 0), "mount error text");
    if (!zip) return served;
    served.m_Accepted = true;
    std::vector<std::string> listed = List("");
    CheckRootListing(zip, listed, in);
    CheckDirectoryListings(listed);
    for (int32_t i = 0; i < zip->m_EntryCount; ++i) {
        CheckMember(zip, i, listed[i], in);
        const zipEntry& e = zip->m_Entries[i];
        served.m_Fields.insert(served.m_Fields.end(), {e.m_Offset, uint32_t(e.m_Size), uint32_t(e.m_CompSize), zip->CrcOf(&e)});
        served.m_Folded.push_back(PlainFold(listed[i]));
    }
    ExpectAllHandlesFree();
    return served;
}

bool SameService(const Served& a, const Served& b) {
    return a.m_Accepted == b.m_Accepted && a.m_Folded == b.m_Folded && a.m_Fields == b.m_Fields;
}

void Unmount() {
    zipFile::UnmountAll();
    s_Capture->m_Console.clear();
    s_Capture->m_EndStatuses.clear();
    s_Capture->m_Boxes.clear();
    s_Capture->m_BoxAnswers.clear();
    // Refusals are errors, coloured and mirrored to the debugger: dropped
    // too, or a long run grows without end.
    s_Capture->m_DebuggerLines.clear();
    s_Capture->m_Attributes.clear();
    s_Capture->m_FlushesAtAttribute.clear();
    ForgetFatalStops();
}

// The packed modes refuse names they cannot pack, and serve the rest as
// plain mode does.
void CheckModes(const Input& in, const uint8_t* image) {
    Served plain;
    for (ZipNameMode mode : {kZipNamesPlain, kZipNamesPacked, kZipNamesFrontCoded}) {
        s_ZipNameMode = mode;
        Served fromImage = Serve(false, image, in);
        Unmount();
        Served fromDevice = Serve(true, image, in);
        Unmount();
        Check(SameService(fromImage, fromDevice), "image and device mounts differ");
        if (mode == kZipNamesPlain) plain = fromImage;
        else if (fromImage.m_Accepted) Check(SameService(fromImage, plain), "a packed mode serves otherwise");
    }
    s_ZipNameMode = kZipNamesPlain;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    s_Capture = new CaptureSystem;  // kept for the whole run: nothing reaches the console
    assertquery.m_Value = 1;        // assertions ask, and the box answers come from the target
    s_ZipLoadLog = true;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > INT32_MAX) return 0;
    // Exactly the input's size, so a read past the image is caught.
    std::unique_ptr<uint8_t[]> image(new uint8_t[size ? size : 1]);
    memcpy(image.get(), data, size);
    Input in = {image.get(), size, false, false, {}, {}};
    in.m_Read = ReadPlainZip(in.m_Bytes, size, &in.m_Plain);
    in.m_Strong = in.m_Read && !in.m_Plain.m_Zip64Seen;
    for (const PlainMember& m : in.m_Plain.m_Members) in.m_Named[PlainFold(m.m_Name)].push_back(&m);
    CheckModes(in, image.get());
    return 0;
}
