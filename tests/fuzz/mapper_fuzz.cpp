// Random prefix tables, asset paths and bracket sequences through the file
// mapper, held against a plain model: a list of rows tried in order, eight
// remembered handles with the selection each was opened under, and the
// selection each acting bracket must give back. After every call the device
// id, the backend block, the zip selection, the read device, the asset path,
// the held copy of it and the mapper's counts must be what the model says,
// and exactly the assertions the model expects must have fired.
//
// Inputs are read front to back, one byte per choice, so that seeds can be
// written by hand. The first byte picks the environment and the mode: well
// nested brackets as the stream and zip layers make them (every closing
// bracket is also held to the selection seen before its opening), or any
// order at all.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "core/output.h"
#include "data/assetpath.h"
#include "file/filemapper.h"
#include "file/stream.h"
#include "remote/remote.h"
#include "support/capture_system.h"
#include "zip/zipfile.h"

namespace {

void Check(bool ok, const char* what) {
    if (ok) return;
    fprintf(stderr, "mapper_fuzz: %s\n", what);
    abort();
}

class Input {
public:
    Input(const uint8_t* data, size_t size) : m_Data(data), m_Size(size) {}
    bool Empty() const { return m_Pos >= m_Size; }
    uint8_t Byte() { return m_Pos < m_Size ? m_Data[m_Pos++] : 0; }
    int Range(int low, int high) { return low + Byte() % (high - low + 1); }
    bool Bool() { return Byte() & 1; }

private:
    const uint8_t* m_Data;
    size_t m_Size;
    size_t m_Pos = 0;
};

// Letters of both cases, the neighbours of 'A'..'Z' and 'a'..'z' (which must
// not fold), both separators, the asterisk, and two bytes past ASCII that a
// locale-aware fold would change.
const char kAlphabet[] = "abzAZq@[`{\\/*.:0_\xC4\xE4";
const int kAlphabetSize = sizeof kAlphabet - 1;

std::string Text(Input& in, int length) {
    std::string text;
    for (int i = 0; i < length; ++i) text += kAlphabet[in.Byte() % kAlphabetSize];
    return text;
}

// ------------------------------------------------------- the environment

struct Selection {
    uint8_t m_Device;
    bool m_Zip;
    bool operator==(const Selection& o) const { return m_Device == o.m_Device && m_Zip == o.m_Zip; }
};

struct Environment {
    bool m_Remote;        // SwitchDevice acts
    bool m_ZipAvailable;  // an archive is mounted
    bool m_HasBase;       // the device zipSelect(false) goes back to
};

// Never called: only its address is compared.
FileDevice s_Base = {};

Environment s_Env;

// What the process-wide switches show, checked for agreement among
// themselves: the backend block follows the device id, the read device the
// zip selection, and nothing touches the write device.
Selection Observe() {
    Selection now = {GetCurrentDevice(), s_ZipSelected};
    Check(now.m_Device <= 1, "device id is 0 or 1");
    bool remoteOps = LocalDevice.m_Backend.Open == s_RemoteBackend.Open;
    Check(remoteOps == (now.m_Device == 1), "backend block follows the device id");
    FileDevice* base = s_Env.m_HasBase ? &s_Base : &LocalDevice.m_Device;
    Check(s_ReadDevice == (now.m_Zip ? &ZipDevice.m_Device : base), "read device follows the zip selection");
    Check(s_WriteDevice == &LocalDevice.m_Device, "write device untouched");
    return now;
}

// ------------------------------------------------------------ the model

// What datAssetManager::SetPath leaves: at most 255 characters, '/' made '\',
// ending in '\' (a full buffer gives up its last character for it).
std::string NormalAsset(const std::string& path) {
    std::string s = path.substr(0, kAssetPathSize - 1);
    if (s.empty()) return s;
    std::replace(s.begin(), s.end(), '/', '\\');
    if (s.back() != '\\') {
        if (s.size() > size_t(kAssetPathSize - 2)) s.resize(kAssetPathSize - 2);
        s += '\\';
    }
    return s;
}

std::string Folded(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

bool HasPrefix(const std::string& text, const std::string& prefix) {
    return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

struct PlainRow {
    std::string m_Prefix;
    uint8_t m_Device, m_Zip;
};

struct PlainSlot {
    int32_t m_Handle = -1;
    uint8_t m_Device = 0;
    bool m_Zip = false;
};

struct Plain {
    std::vector<PlainRow> m_Rows;
    Selection m_Now = {0, false};
    Selection m_Saved[2] = {};  // [inner]: what the acting opening bracket found
    std::string m_Asset, m_Held;
    bool m_Mapped = false;
    int32_t m_Depth = 0;
    PlainSlot m_Slots[kMappedHandles];
    std::vector<std::string> m_Asserts;  // expected from the call under way

    int32_t Remembered() const {
        int32_t n = 0;
        for (const PlainSlot& s : m_Slots) n += s.m_Handle != -1;
        return n;
    }
};

Plain s_Plain;

void PlainSwitch(uint8_t id) {
    if (s_Env.m_Remote) s_Plain.m_Now.m_Device = id != 0;
}

void PlainZip(bool zip) {
    if ((zip && !s_Env.m_ZipAvailable) || !s_Env.m_HasBase) return;
    s_Plain.m_Now.m_Zip = zip;
}

void PlainSetPath(const std::string& path) { s_Plain.m_Asset = NormalAsset(path); }

// A bracket nested in an acting outer one only counts; inner ones always act.
bool PlainOpens(bool inner) {
    Plain& p = s_Plain;
    if (p.m_Depth < 0) p.m_Asserts.push_back("m_RefCount >= 0");
    bool acts = (p.m_Depth++ == 0 || inner) && !p.m_Rows.empty();
    if (acts) p.m_Saved[inner] = p.m_Now;
    return acts;
}

bool PlainCloses(bool inner) {
    Plain& p = s_Plain;
    if (p.m_Depth <= 0) p.m_Asserts.push_back("m_RefCount > 0");
    return (--p.m_Depth == 0 || inner) && !p.m_Rows.empty();
}

void PlainRestore(bool inner) {
    PlainSwitch(s_Plain.m_Saved[inner].m_Device);
    PlainZip(s_Plain.m_Saved[inner].m_Zip);
}

bool RowTakes(const std::string& prefix, const std::string& name, const std::string& rest) {
    char last = prefix.back();
    if (last == '\\' || last == '/') return HasPrefix(name, prefix) || HasPrefix(rest, prefix);
    if (last == '*') return HasPrefix(name, prefix.substr(0, prefix.size() - 1));
    return name == prefix || rest == prefix;
}

// Eight remembered streams keep a stream's name from every row, never a
// device's own file's.
const PlainRow* PlainMatch(const std::string& name, bool inner) {
    if (name.size() >= size_t(FNAME_LENGTH)) return nullptr;
    if (!inner && s_Plain.Remembered() >= kMappedHandles) return nullptr;
    std::string folded = Folded(name);
    std::string rest = folded.substr(std::min(s_Plain.m_Asset.size(), folded.size()));
    for (const PlainRow& row : s_Plain.m_Rows)
        if (RowTakes(Folded(row.m_Prefix), folded, rest)) return &row;
    return nullptr;
}

bool PlainSelect(const std::string& name, bool inner) {
    Plain& p = s_Plain;
    if (name.size() >= size_t(FNAME_LENGTH)) p.m_Asserts.push_back("strlen(filename) < FNAME_LENGTH");
    if (!PlainOpens(inner)) return false;
    p.m_Held.clear();
    const PlainRow* row = PlainMatch(name, inner);
    p.m_Mapped = row != nullptr;
    if (!row) return false;
    PlainZip(!inner && row->m_Zip != 0);
    PlainSwitch(row->m_Device);
    if (!p.m_Now.m_Zip) return false;
    p.m_Held = p.m_Asset;
    PlainSetPath("");
    return true;
}

// The first slot holding the handle, whichever bracket asks.
int PlainFind(int32_t handle) {
    if (handle < 0) return -1;
    for (int k = 0; k < kMappedHandles; ++k)
        if (s_Plain.m_Slots[k].m_Handle == handle) return k;
    return -1;
}

// Only streams' handles are remembered, in the first free slot: a file a
// device opens for itself (an archive) keeps its own device.
void PlainRemember(int32_t handle, bool inner) {
    if (handle < 0 || inner) return;
    for (PlainSlot& s : s_Plain.m_Slots) {
        if (s.m_Handle != -1) continue;
        s = {handle, s_Plain.m_Now.m_Device, s_Plain.m_Now.m_Zip};
        return;
    }
}

bool PlainFinish(int32_t handle, bool inner) {
    Plain& p = s_Plain;
    if (!p.m_Held.empty()) {
        PlainSetPath(p.m_Held);
        p.m_Held.clear();
    }
    if (!PlainCloses(inner)) return false;
    bool mapped = p.m_Mapped;
    if (mapped) PlainRemember(handle, inner);
    p.m_Mapped = false;
    PlainRestore(inner);
    return mapped;
}

bool PlainEnter(int32_t handle, bool inner) {
    if (!PlainOpens(inner)) return false;
    int k = PlainFind(handle);
    if (k < 0) return false;
    PlainZip(!inner && s_Plain.m_Slots[k].m_Zip);
    PlainSwitch(s_Plain.m_Slots[k].m_Device);
    return true;
}

void PlainLeave(bool inner) {
    if (PlainCloses(inner)) PlainRestore(inner);
}

void PlainForget(int32_t handle, bool inner) {
    if (!PlainCloses(inner)) return;
    int k = PlainFind(handle);
    if (k >= 0) s_Plain.m_Slots[k] = PlainSlot();
    PlainRestore(inner);
}

// ------------------------------------------------------- the comparison

FileMapper* s_Mapper;
CaptureSystem* s_Capture;

// The expressions of the assertions reported since the last call began.
std::vector<std::string> FiredAsserts() {
    std::vector<std::string> fired;
    const std::string& text = s_Capture->m_Console;
    for (size_t at = text.find("Assert("); at != std::string::npos; at = text.find("Assert(", at + 1)) {
        size_t end = text.find(") failed in [", at);
        Check(end != std::string::npos, "assertion line form");
        fired.push_back(text.substr(at + 7, end - at - 7));
    }
    return fired;
}

void BeginCall() {
    s_Capture->m_Console.clear();
    s_Aborted = s_Quitting = false;
    s_Plain.m_Asserts.clear();
}

void DumpSlots() {
    for (int k = 0; k < kMappedHandles; ++k) {
        const MappedHandle& real = s_Mapper->m_Handles[k];
        const PlainSlot& plain = s_Plain.m_Slots[k];
        fprintf(stderr, "slot %d: mapper %d@%d%s, model %d@%d%s\n", k, real.m_Handle, real.m_DeviceId,
                real.m_UseZip ? "z" : "", plain.m_Handle, plain.m_Device, plain.m_Zip ? "z" : "");
    }
}

void CompareSlots() {
    for (int k = 0; k < kMappedHandles; ++k) {
        const MappedHandle& real = s_Mapper->m_Handles[k];
        const PlainSlot& plain = s_Plain.m_Slots[k];
        bool same = real.m_Handle == plain.m_Handle &&
                    (plain.m_Handle == -1 ||
                     (real.m_DeviceId == plain.m_Device && (real.m_UseZip != 0) == plain.m_Zip));
        if (same) continue;
        DumpSlots();
        Check(false, "remembered handles, with their device and zip selection");
    }
}

// The fatal stop reports once until it is reset, so a call shows only its
// first assertion.
void CheckAsserts() {
    std::vector<std::string> fired = FiredAsserts(), expected = s_Plain.m_Asserts;
    if (expected.size() > 1) expected.resize(1);
    if (fired == expected) return;
    for (const std::string& a : fired) fprintf(stderr, "fired: %s\n", a.c_str());
    for (const std::string& a : s_Plain.m_Asserts) fprintf(stderr, "expected: %s\n", a.c_str());
    fprintf(stderr, "console: %s\n", s_Capture->m_Console.c_str());
    Check(false, "assertions fired");
}

void EndCall() {
    const Plain& p = s_Plain;
    CheckAsserts();
    Check(Observe() == p.m_Now, "device and zip selection");
    Check(p.m_Asset == s_AssetPath, "asset path");
    Check(p.m_Held == s_Mapper->m_SavedPath, "held asset path (the name offset)");
    Check(p.m_Mapped == s_Mapper->m_Mapped, "m_Mapped");
    Check(p.m_Depth == s_Mapper->m_RefCount, "m_RefCount");
    Check(p.Remembered() == s_Mapper->m_OpenCount, "m_OpenCount");
    CompareSlots();
}

// A name in a buffer of its own exact size, so that a read past its end is
// caught; unterminated names are cut at FNAME_LENGTH bytes.
bool Select(const std::string& name, bool inner, bool terminated = true) {
    std::unique_ptr<char[]> buffer(new char[name.size() + terminated]);
    memcpy(buffer.get(), name.data(), name.size());
    if (terminated) buffer[name.size()] = 0;
    BeginCall();
    bool real = s_Mapper->SelectByName(buffer.get(), inner);
    Check(real == PlainSelect(name, inner), "SelectByName result");
    EndCall();
    return real;
}

bool Finish(int32_t handle, bool inner) {
    BeginCall();
    bool real = s_Mapper->FinishOpen(handle, inner);
    Check(real == PlainFinish(handle, inner), "FinishOpen result");
    EndCall();
    return real;
}

bool Enter(int32_t handle, bool inner) {
    BeginCall();
    bool real = s_Mapper->EnterHandle(handle, inner);
    Check(real == PlainEnter(handle, inner), "EnterHandle result");
    EndCall();
    return real;
}

void Leave(bool inner) {
    BeginCall();
    s_Mapper->Leave(inner);
    PlainLeave(inner);
    EndCall();
}

void Forget(int32_t handle, bool inner) {
    BeginCall();
    s_Mapper->LeaveAndForget(handle, inner);
    PlainForget(handle, inner);
    EndCall();
}

void SetPath(const std::string& path) {
    BeginCall();
    datAssetManager::SetPath(path.c_str());
    PlainSetPath(path);
    EndCall();
}

// The program (or an outer device call that moved on) changes the selection
// itself; the next acting closing bracket must still put back its own.
void Switch(uint8_t device, bool zip) {
    BeginCall();
    SwitchDevice(device);
    zipFile::zipSelect(zip);
    PlainSwitch(device);
    PlainZip(zip);
    EndCall();
}

// Refused inside a bracket or while a handle is remembered; otherwise the
// mapper goes out and straight back in.
void TryRemove() {
    bool expected = s_Plain.m_Depth == 0 && s_Plain.Remembered() == 0;
    Check(RemoveFileMapper() == expected, "RemoveFileMapper result");
    Check((s_FileMapper == nullptr) == expected, "installed mapper after removal");
    if (expected) Check(InstallFileMapper(s_Mapper), "reinstall");
}

// ------------------------------------------------------ building inputs

std::string RowPrefix(Input& in) {
    if (s_Plain.m_Rows.empty()) return Text(in, 3);
    std::string p = s_Plain.m_Rows[in.Byte() % s_Plain.m_Rows.size()].m_Prefix;
    if (p.back() == '*') p.pop_back();
    return p;
}

// Some letters flipped in case, sometimes one separator turned into the other.
std::string Mutated(Input& in, std::string name) {
    uint8_t how = in.Byte();
    for (size_t i = 0; i < name.size(); ++i) {
        char& c = name[i];
        bool flip = (how & 1) && (i * 7 + how) % 3 == 0;
        if (flip && c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
        else if (flip && c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    }
    size_t sep = name.find_first_of("\\/");
    if ((how & 2) && sep != std::string::npos) name[sep] = name[sep] == '/' ? '\\' : '/';
    return name;
}

std::string Name(Input& in) {
    std::string name;
    switch (in.Range(0, 5)) {
        case 0: name = Text(in, in.Range(0, 40)); break;
        case 1: name = RowPrefix(in) + Text(in, in.Range(0, 8)); break;
        case 2: name = s_Plain.m_Asset + RowPrefix(in) + Text(in, in.Range(0, 8)); break;
        case 3: name = std::string(s_Plain.m_Asset.size(), 'x') + RowPrefix(in) + Text(in, in.Range(0, 4)); break;
        case 4: name = RowPrefix(in); name.resize(280 + in.Range(0, 140), 'q'); break;
        case 5: name = RowPrefix(in); name.resize(FNAME_LENGTH - 1 + in.Range(0, 1), 'q'); break;
    }
    return Mutated(in, name);
}

int32_t Handle(Input& in) {
    int pick = in.Range(0, 23);
    if (pick < 8) return pick;
    if (pick < 16) return s_Plain.m_Slots[pick - 8].m_Handle;
    const int32_t odd[] = {-1, -2, INT32_MIN, INT32_MAX};
    if (pick < 20) return odd[pick - 16];
    return 100 + pick;
}

// Paths from empty to past the buffer, with separators of both kinds.
std::string AssetText(Input& in) {
    switch (in.Range(0, 3)) {
        case 0: return "";
        case 1: return Text(in, in.Range(1, 12));
        case 2: return std::string(250 + in.Range(0, 50), 'p') + Text(in, 3);
        default: return "c:/Root\\" + Text(in, in.Range(0, 4));
    }
}

// ------------------------------------------- well nested, as the layers do

// Whether the whole input nests its brackets as the layers do; the same
// shapes inside a disordered input only meet the model.
bool s_WellNested;

// The selection and asset path before an opening bracket; an acting one must
// give back exactly these at its closing bracket.
struct Frame {
    bool m_Acts;
    Selection m_Before;
    std::string m_Asset;

    void Closed() const {
        if (!m_Acts || !s_WellNested) return;
        Check(Observe() == m_Before, "closing bracket restores the selection before its opening");
        Check(m_Asset == s_AssetPath, "closing bracket leaves the asset path as it found it");
    }
};

Frame Opening(bool inner, int depth) {
    return {(depth == 0 || inner) && !s_Plain.m_Rows.empty(), Observe(), s_AssetPath};
}

void Bracket(Input& in, int depth);

// The zip layer's reads of an archive file inside a stream's device call.
void InnerRead(Input& in, int depth, bool moveOn) {
    int32_t handle = Handle(in);
    Frame frame = Opening(true, depth);
    Enter(handle, true);
    if (moveOn) Switch(in.Byte(), in.Bool());
    Leave(true);
    frame.Closed();
}

void Body(Input& in, int depth) {
    for (int n = in.Range(0, 3); n > 0 && !in.Empty(); --n) {
        switch (in.Range(0, 3)) {
            case 0: InnerRead(in, depth + 1, false); break;
            case 1: depth < 2 ? Bracket(in, depth + 1) : InnerRead(in, depth + 1, false); break;
            case 2: Switch(in.Byte(), in.Bool()); break;
            case 3: InnerRead(in, depth + 1, true); break;
        }
    }
}

// A stream's open, call or close; nested, an open hook's stream call.
void Bracket(Input& in, int depth) {
    int kind = in.Range(0, 2);
    int32_t handle = Handle(in);
    std::string name = kind == 0 ? Name(in) : "";
    Frame frame = Opening(false, depth);
    if (kind == 0) {
        Select(name, false);
        Body(in, depth);
        Finish(in.Bool() ? -1 : handle, false);
    } else {
        Enter(handle, false);
        Body(in, depth);
        kind == 1 ? Leave(false) : Forget(handle, false);
    }
    frame.Closed();
}

// The zip layer's mount and unmount of an archive file.
void Archive(Input& in, bool mount) {
    int32_t handle = Handle(in);
    std::string name = mount ? Name(in) : "";
    Frame frame = Opening(true, 0);
    if (mount) {
        Select(name, true);
        Finish(in.Bool() ? -1 : handle, true);
    } else {
        Enter(handle, true);
        Forget(handle, true);
    }
    frame.Closed();
}

void WellNested(Input& in) {
    switch (in.Range(0, 7)) {
        case 0: case 1: case 2: Bracket(in, 0); break;
        case 3: Archive(in, true); break;
        case 4: Archive(in, false); break;
        case 5: SetPath(AssetText(in)); break;
        case 6: Switch(in.Byte(), in.Bool()); break;
        case 7: TryRemove(); break;
    }
    if (s_WellNested)
        Check(s_Plain.m_Depth == 0 && !s_Plain.m_Mapped && s_Plain.m_Held.empty(), "top level between calls");
}

// Any call in any order, the gate's assertions included.
void AnyOrder(Input& in) {
    bool inner = in.Bool();
    switch (in.Range(0, 11)) {
        case 0: { std::string name = Name(in); Select(name, inner); break; }
        case 1: Finish(Handle(in), inner); break;
        case 2: Enter(Handle(in), inner); break;
        case 3: Leave(inner); break;
        case 4: Forget(Handle(in), inner); break;
        case 5: SetPath(AssetText(in)); break;
        case 6: Switch(in.Byte(), in.Bool()); break;
        case 7: Select(std::string(FNAME_LENGTH, kAlphabet[in.Byte() % kAlphabetSize]), inner, false); break;
        case 8: TryRemove(); break;
        default: WellNested(in); break;
    }
}

// ------------------------------------------------------- making a mapper

// Row kinds: ends in '\', '/', '*', plain, too long for its field, empty.
FileMapEntry MakeRow(Input& in) {
    FileMapEntry row;
    memset(row.m_Prefix, 'g', sizeof row.m_Prefix);  // nothing past the terminator counts
    int kind = in.Range(0, 5);
    row.m_DeviceId = in.Byte();
    row.m_UseZip = in.Byte();
    std::string prefix = Text(in, in.Range(0, 24));
    if (kind == 3 && !prefix.empty() && strchr("\\/*", prefix.back())) prefix.back() = 'x';
    if (kind < 3) prefix += "\\/*"[kind];
    if (kind == 4) prefix.resize(FNAME_LENGTH - 2 + in.Range(0, 3), 'L');
    if (kind == 5) prefix.clear();
    size_t kept = std::min(prefix.size(), sizeof row.m_Prefix);
    memcpy(row.m_Prefix, prefix.data(), kept);
    if (kept < sizeof row.m_Prefix) row.m_Prefix[kept] = 0;
    return row;
}

bool Usable(const FileMapEntry& row) {
    size_t n = strnlen(row.m_Prefix, sizeof row.m_Prefix);
    return n > 0 && n < sizeof row.m_Prefix;
}

// A table with an empty or unterminated prefix is refused, naming the first
// such row; the mapper is then made of the usable rows.
FileMapper* MakeMapper(Input& in) {
    std::vector<FileMapEntry> rows;
    for (int n = in.Range(0, 6); n > 0; --n) rows.push_back(MakeRow(in));
    auto bad = std::find_if(rows.begin(), rows.end(), [](const FileMapEntry& r) { return !Usable(r); });
    if (bad != rows.end()) {
        s_Capture->m_Console.clear();
        Check(NewFileMapper(rows.data(), int32_t(rows.size())) == nullptr, "bad row refused");
        std::string row = "row " + std::to_string(bad - rows.begin() + 1) + " has ";
        Check(s_Capture->m_Console.find(row + (bad->m_Prefix[0] ? "an unterminated" : "an empty")) !=
                  std::string::npos, "refusal names the row");
        rows.erase(std::remove_if(rows.begin(), rows.end(), [](const FileMapEntry& r) { return !Usable(r); }),
                   rows.end());
    }
    for (const FileMapEntry& r : rows) s_Plain.m_Rows.push_back({r.m_Prefix, r.m_DeviceId, r.m_UseZip});
    FileMapper* mapper = NewFileMapper(rows.data(), int32_t(rows.size()));
    Check(mapper != nullptr, "usable rows accepted");
    return mapper;
}

void SetUp(Input& in, uint8_t flags) {
    s_Env = {(flags & 1) != 0, (flags & 2) != 0, (flags & 4) != 0};
    s_RemoteEnabled = s_Env.m_Remote;
    s_ZipAvailable = s_Env.m_ZipAvailable;
    s_BaseDevice = s_Env.m_HasBase ? &s_Base : nullptr;
    s_Plain = Plain();
    s_Mapper = MakeMapper(in);
    Check(InstallFileMapper(s_Mapper), "install");
    Check(!InstallFileMapper(s_Mapper), "a second install is refused");
    Switch(0, false);
    Switch((flags >> 5) & 1, (flags >> 6) & 1);
    SetPath(AssetText(in));
}

// Closes what is open: the nesting back to 0, then every remembered handle,
// as its stream would close it.
void CloseEverything() {
    while (s_Plain.m_Depth > 0) Leave(false);
    while (s_Plain.m_Depth < 0) Enter(-1, false);
    // Each close forgets one slot with that number, though with numbers
    // repeated not necessarily the one picked here.
    while (s_Plain.Remembered() > 0) {
        const PlainSlot* slot = s_Plain.m_Slots;
        while (slot->m_Handle == -1) ++slot;
        PlainSlot open = *slot;
        Enter(open.m_Handle, false);
        Forget(open.m_Handle, false);
    }
    Check(s_Mapper->m_RefCount == 0 && s_Mapper->m_OpenCount == 0, "counts back to 0");
    Check(RemoveFileMapper() && s_FileMapper == nullptr, "removed at the end");
    DeleteFileMapper(s_Mapper);
    s_Mapper = nullptr;
}

void PutBack() {
    s_RemoteEnabled = true;
    SwitchDevice(0);
    s_RemoteEnabled = false;
    s_ZipSelected = s_ZipAvailable = false;
    s_BaseDevice = nullptr;
    s_ReadDevice = s_WriteDevice = &LocalDevice.m_Device;
    datAssetManager::SetPath("");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CaptureSystem capture;
    capture.m_DebuggerResumes = true;
    s_Capture = &capture;
    Input in(data, size);
    uint8_t flags = in.Byte();
    s_WellNested = (flags & 8) == 0;
    SetUp(in, flags);
    for (int ops = 0; ops < 2000 && !in.Empty(); ++ops) s_WellNested ? WellNested(in) : AnyOrder(in);
    CloseEverything();
    PutBack();
    s_Capture = nullptr;
    return 0;
}
