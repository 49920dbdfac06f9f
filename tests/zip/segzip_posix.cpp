// segzip as a user runs it, on archives written at test time by Python's
// zipfile and Info-ZIP zip: its listings, member bytes, checks and statuses.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstring>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include <zlib.h>

#include "support/run_program.h"
#include "support/temp_dir.h"

namespace {

// Writes into argv[1]: files/ (the members' bytes), iz.zip (Info-ZIP, with
// directory entries and local extra fields unlike the central ones), py.zip
// (Python, one stored member padded to start at byte 4096), bad.zip (py.zip
// with a data byte and a directory CRC altered), inflate.zip (py.zip with two
// deflated members that will not inflate), odd.zip (a name that does not pack) and, per archive, NAME.long: the `list -l` lines the archive's
// own records give.
const char kMakeArchives[] = R"PY(
import os, random, struct, subprocess, sys, zipfile
out = sys.argv[1]
rng = random.Random(11)
words = [bytes(rng.choice(b"abcdefgh ijklmnop") for _ in range(rng.randint(2, 8))) for _ in range(200)]
def text(n):
    data = bytearray()
    while len(data) < n:
        data += rng.choice(words) + (b"\n" if rng.random() < 0.1 else b" ")
    return bytes(data[:n])
files = {
    "Maps/Level1.DAT": text(600000),
    "Maps/sub/a.dat": b"hello\n",
    "Sounds/Noise.RAW": bytes(rng.getrandbits(8) for _ in range(70000)),
    "empty.txt": b"",
    "readme.txt": b"The sample archive.\r\n",
}
tree = os.path.join(out, "files")
def write_tree():
    for name, data in files.items():
        os.makedirs(os.path.dirname(os.path.join(tree, name)), exist_ok=True)
        open(os.path.join(tree, name), "wb").write(data)
write_tree()
subprocess.run(["zip", "-q", "-r", "../iz.zip", "."], cwd=tree, check=True)
files["first.bin"] = text(1000)
files["Aligned.raw"] = text(3000)
files["Data\\Win.txt"] = b"back slash\n"
write_tree()

def key(name):
    return name.lower().replace("\\", "/")
def write_long(archive):
    z = zipfile.ZipFile(os.path.join(out, archive))
    lines = []
    with open(os.path.join(out, archive), "rb") as f:
        for i in z.infolist():
            if i.filename.endswith("/"):
                continue
            f.seek(i.header_offset + 26)
            n, m = struct.unpack("<HH", f.read(4))
            data = i.header_offset + 30 + n + m
            stored = i.compress_type == zipfile.ZIP_STORED
            sector = str(data // 2048) if stored and data % 2048 == 0 else "-"
            lines.append((key(i.filename), f"{i.file_size} {i.compress_size} {data} {sector} {i.filename}\n"))
    open(os.path.join(out, archive + ".long"), "w").write("".join(l for _, l in sorted(lines)))

with zipfile.ZipFile(os.path.join(out, "py.zip"), "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr(zipfile.ZipInfo("first.bin"), files["first.bin"])
    aligned = zipfile.ZipInfo("Aligned.raw")
    pad = 4096 - (z.fp.tell() + 30 + len(aligned.filename) + 4)
    aligned.extra = struct.pack("<HH", 0xD935, pad) + bytes(pad)
    z.writestr(aligned, files["Aligned.raw"])
    for name in ("Maps/Level1.DAT", "Maps/sub/a.dat", "Data\\Win.txt", "readme.txt"):
        z.writestr(name, files[name], zipfile.ZIP_DEFLATED)
    z.writestr("Sounds/Noise.RAW", files["Sounds/Noise.RAW"], zipfile.ZIP_STORED)
    z.writestr("empty.txt", b"", zipfile.ZIP_STORED)
write_long("py.zip")
write_long("iz.zip")

bad = bytearray(open(os.path.join(out, "py.zip"), "rb").read())
z = zipfile.ZipFile(os.path.join(out, "py.zip"))
bad[z.getinfo("first.bin").header_offset + 30 + len("first.bin") + 500] ^= 1
central = z.start_dir
for i in z.infolist():
    if i.filename == "Maps/Level1.DAT":
        bad[central + 16] ^= 0xFF
    central += 46 + len(i.filename) + len(i.extra) + len(i.comment)
open(os.path.join(out, "bad.zip"), "wb").write(bad)

broken = bytearray(open(os.path.join(out, "py.zip"), "rb").read())
for name in ("Maps/Level1.DAT", "readme.txt"):
    at = z.getinfo(name).header_offset
    n, m = struct.unpack_from("<HH", broken, at + 26)
    broken[at + 30 + n + m] = 0x07  # a final block of the reserved type
open(os.path.join(out, "inflate.zip"), "wb").write(broken)

with zipfile.ZipFile(os.path.join(out, "odd.zip"), "w") as z:
    z.writestr("one+two.txt", b"plus\n")
open(os.path.join(out, "notzip.zip"), "w").write("not an archive\n")
)PY";


class Segzip : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_Dir = new TempDir;
        s_Dir->Write("make.py", kMakeArchives);
        std::string command = std::string(PYTHON3_BIN) + " " + s_Dir->Path("make.py") + " " + s_Dir->Path("");
        ASSERT_EQ(system(command.c_str()), 0) << command;
    }
    static void TearDownTestSuite() {
        delete s_Dir;
        s_Dir = nullptr;
    }

    static std::string Path(const std::string& name) { return s_Dir->Path(name); }
    static std::string Member(const std::string& name) { return s_Dir->Read("files/" + name); }

    static RunResult Run(std::vector<std::string> args) {
        args.insert(args.begin(), "segzip");
        return RunProgram(SEGZIP_BIN, args, *s_Dir);
    }

    static TempDir* s_Dir;
};
TempDir* Segzip::s_Dir = nullptr;

std::string Folded(std::string name) {
    for (char& c : name) c = c == '\\' ? '/' : static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return name;
}

// The name of a `list -l` line, after its four numbers.
std::string NameOf(const std::string& line) {
    size_t at = 0;
    for (int field = 0; field < 4; ++field) at = line.find(' ', at) + 1;
    return line.substr(at);
}

// The line of a `list -l` text that ends in name.
std::string LineOf(const std::string& listing, const std::string& name) {
    std::istringstream lines(listing);
    std::string line;
    while (std::getline(lines, line))
        if (NameOf(line) == name) return line + "\n";
    return "";
}

// The names of a `list -l` text, in its order, as the packed modes show them or not.
std::string NamesOf(const std::string& longListing, bool packed) {
    std::istringstream lines(longListing);
    std::string line, names;
    while (std::getline(lines, line)) {
        std::string name = NameOf(line);
        names += (packed ? Folded(name) : name) + "\n";
    }
    return names;
}

TEST_F(Segzip, ListsCatsAndTestsRealArchivesInEveryMode) {
    const char* const kArchives[] = {"iz.zip", "py.zip"};
    const char* const kModes[] = {"plain", "packed", "front"};
    for (const char* archive : kArchives) {
        std::string longListing = s_Dir->Read(std::string(archive) + ".long");
        std::string names = NamesOf(longListing, false);
        std::vector<std::string> members;
        std::string all;
        for (std::istringstream in(names); std::getline(in, members.emplace_back());) all += Member(members.back());
        members.pop_back();
        std::vector<std::string> catAll = {"cat", Path(archive)};
        catAll.insert(catAll.end(), members.begin(), members.end());
        for (const char* mode : kModes) {
            for (bool memory : {false, true}) {
                bool packed = mode != std::string("plain");
                std::vector<std::string> options = {"--names", mode};
                if (memory) options.push_back("--memory");
                SCOPED_TRACE(std::string(archive) + " " + mode + (memory ? " --memory" : ""));
                auto with = [&options](std::vector<std::string> args) {
                    args.insert(args.begin() + 1, options.begin(), options.end());
                    return args;
                };
                RunResult list = Run(with({"list", Path(archive)}));
                EXPECT_EQ(list.m_Status, 0);
                EXPECT_EQ(list.m_Out, NamesOf(longListing, packed));
                RunResult fields = Run(with({"list", "-l", Path(archive)}));
                EXPECT_EQ(NamesOf(fields.m_Out, false), NamesOf(longListing, packed));
                EXPECT_EQ(NamesOf(fields.m_Out, true), NamesOf(longListing, true)) << fields.m_Err;
                if (!packed) {
                    EXPECT_EQ(fields.m_Out, longListing);
                }
                RunResult cat = Run(with(catAll));
                EXPECT_EQ(cat.m_Status, 0);
                EXPECT_TRUE(cat.m_Out == all) << cat.m_Out.size() << " bytes, not " << all.size();
                RunResult test = Run(with({"test", Path(archive)}));
                EXPECT_EQ(test.m_Status, 0);
                EXPECT_EQ(test.m_Out, std::to_string(members.size()) + " members, " +
                                          std::to_string(all.size()) + " bytes: all good\n");
                EXPECT_EQ(list.m_Err + fields.m_Err + cat.m_Err + test.m_Err, "");
            }
        }
    }
}

struct Case {
    const char* m_Label;
    std::vector<std::string> m_Args;  // a leading '@' stands for the scratch folder
    int m_Status;
    std::string m_Out;
    bool m_WholeOut;    // m_Out is all of standard output, or only a part
    std::string m_Err;  // a part of standard error; empty: nothing on it
};

uint32_t Crc(const std::string& bytes) {
    return static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), bytes.size()));
}

std::string Hex(uint32_t value) {
    char hex[9];
    snprintf(hex, sizeof hex, "%08x", value);
    return hex;
}

TEST_F(Segzip, OutputAndStatusOfEachRequest) {
    std::string level1 = Member("Maps/Level1.DAT"), hello = Member("Maps/sub/a.dat");
    std::string first = Member("first.bin"), damaged = first;
    damaged[500] ^= 1;
    std::string subLine = LineOf(s_Dir->Read("iz.zip.long"), "Maps/sub/a.dat");
    subLine.replace(subLine.size() - 1 - strlen("Maps/sub/a.dat"), strlen("Maps/sub/"), "");
    const Case kCases[] = {
        {"the aligned stored member has its sector", {"list", "-l", "@py.zip"}, 0,
         "3000 3000 4096 2 Aligned.raw\n", false, ""},
        {"a directory, either separator, any case", {"list", "@py.zip", "MAPS\\"}, 0,
         "Level1.DAT\nsub/a.dat\n", true, ""},
        {"a directory, packed", {"list", "--names=packed", "@py.zip", "maps/sub"}, 0, "a.dat\n", true, ""},
        {"a directory with fields", {"list", "-l", "@iz.zip", "maps/sub"}, 0, subLine, true, ""},
        {"an empty directory", {"list", "@py.zip", "nowhere"}, 1, "", true, "Nothing under 'nowhere' in '@py.zip'"},
        {"members in the order given", {"cat", "@py.zip", "maps/sub/A.DAT", "MAPS\\LEVEL1.dat", "data/win.txt"},
         0, hello + level1 + "back slash\n", true, ""},
        {"options after the operands", {"cat", "@py.zip", "Maps/sub/a.dat", "--memory", "--names", "front"},
         0, hello, true, ""},
        {"a missing member", {"cat", "@py.zip", "Maps/sub/a.dat", "missing.txt", "Maps/sub/a.dat"}, 1,
         hello + hello, true, "No member 'missing.txt' in '@py.zip'"},
        {"bad members", {"test", "@bad.zip"}, 1,
         "first.bin: CRC-32 " + Hex(Crc(damaged)) + ", the directory says " + Hex(Crc(first)) + "\n" +
             "Maps/Level1.DAT: CRC-32 " + Hex(Crc(level1)) + ", the directory says " +
             Hex(Crc(level1) ^ 0xFF) + "\n" + "8 members, 2 bad\n",
         true, ""},
        {"members that will not inflate, and the rest", {"test", "@inflate.zip"}, 1,
         "Maps/Level1.DAT: read failed after 0 bytes\nreadme.txt: read failed after 0 bytes\n"
         "8 members, 2 bad\n",
         true, "Cannot inflate 'readme.txt' in '@inflate.zip': invalid block type"},
        {"a name that does not pack", {"list", "--names", "packed", "@odd.zip"}, 1, "", true,
         "Cannot mount '@odd.zip': member name 'one+two.txt' cannot be packed"},
        {"the same, plain", {"list", "@odd.zip"}, 0, "one+two.txt\n", true, ""},
        {"not an archive", {"list", "@notzip.zip"}, 1, "", true, "Cannot mount '@notzip.zip': no end record"},
        {"not an archive, in memory", {"test", "--memory", "@notzip.zip"}, 1, "", true,
         "Cannot mount '@notzip.zip': no end record"},
        {"no file", {"cat", "@none.zip", "a"}, 1, "", true, "Cannot mount '@none.zip': cannot open it"},
        {"no file, in memory", {"list", "--memory", "@none.zip"}, 1, "", true,
         "Cannot mount '@none.zip': cannot open it"},
        {"no arguments", {}, 1, "", true, "segzip: no command given"},
        {"no archive", {"list"}, 1, "", true, "segzip list: wants ARCHIVE [DIRECTORY], not 0 operands"},
        {"an unknown command", {"show", "@py.zip"}, 1, "", true, "segzip: unknown command 'show'"},
        {"an unknown name mode", {"list", "--names", "short", "@py.zip"}, 1, "", true,
         "segzip list: --names is plain, packed or front, not 'short'"},
        {"a name mode missing", {"list", "@py.zip", "--names"}, 1, "", true, "segzip list: --names needs a value"},
        {"-l outside list", {"cat", "-l", "@py.zip", "empty.txt"}, 1, "", true, "segzip cat: unknown option '-l'"},
        {"cat without members", {"cat", "@py.zip"}, 1, "", true, "wants ARCHIVE MEMBER..., not 1 operand"},
        {"two directories", {"list", "@py.zip", "a", "b"}, 1, "", true, "not 3 operands"},
        {"test with a member", {"test", "@py.zip", "empty.txt"}, 1, "", true, "segzip test: wants ARCHIVE, not 2"},
        {"standard input as the archive", {"test", "-"}, 1, "", true, "ARCHIVE cannot be '-'"},
    };
    auto expand = [](std::string text) {
        for (size_t at = 0; (at = text.find('@', at)) != std::string::npos; at += Path("").size())
            text.replace(at, 1, Path(""));
        return text;
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.m_Label);
        std::vector<std::string> args;
        for (const std::string& a : c.m_Args) args.push_back(expand(a));
        RunResult run = Run(args);
        EXPECT_EQ(run.m_Status, c.m_Status) << run.m_Err;
        if (c.m_WholeOut) EXPECT_EQ(run.m_Out, c.m_Out);
        else EXPECT_NE(run.m_Out.find(c.m_Out), std::string::npos) << run.m_Out;
        if (c.m_Err.empty()) EXPECT_EQ(run.m_Err, "");
        else EXPECT_NE(run.m_Err.find(expand(c.m_Err)), std::string::npos) << run.m_Err;
    }
}

// Each command's output, build and layout included, sent where no byte can
// be written: none may pass for done, and cat stops at its first lost piece
// (the missing member after it is never looked for).
TEST_F(Segzip, OutputThatCannotBeWrittenFailsTheRun) {
    s_Dir->Write("sorted.txt", "::LOADSEG::(s)\r\n::OPEN::(first.bin)\r\n");
    const std::string kLost = "segzip: standard output was not written whole";
    const std::vector<std::pair<std::vector<std::string>, std::string>> kRuns = {
        {{"list", "@py.zip"}, kLost + ": No space left on device"},
        {{"list", "-l", "@iz.zip"}, kLost},
        {{"cat", "@py.zip", "Maps/Level1.DAT", "missing.txt"},
         "Cannot write member 'Maps/Level1.DAT' to standard output: No space left on device"},
        {{"cat", "@py.zip", "readme.txt"}, kLost},
        {{"test", "@py.zip"}, kLost},
        {{"build", "@files", "@built.zip"}, kLost},
        {{"layout", "@py.zip", "@sorted.txt"}, kLost},
    };
    for (const auto& run : kRuns) {
        std::string command = SEGZIP_BIN;
        for (const std::string& a : run.first) command += " '" + (a[0] == '@' ? Path(a.substr(1)) : a) + "'";
        SCOPED_TRACE(command);
        int status = system((command + " > /dev/full 2> " + Path("err")).c_str());
        std::string err = s_Dir->Read("err");
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
        EXPECT_NE(err.find(run.second), std::string::npos) << err;
        EXPECT_EQ(err.find("No member"), std::string::npos) << err;
    }
}

}  // namespace
