#include "zip/segzip/segzip.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <zlib.h>

#include "core/output.h"
#include "core/strings.h"
#include "file/stream.h"

const char kSegzipUsage[] =
    "usage: segzip list [-l] [--names plain|packed|front] [--memory] ARCHIVE [DIRECTORY]\n"
    "       segzip cat  [--names plain|packed|front] [--memory] ARCHIVE MEMBER...\n"
    "       segzip test [--names plain|packed|front] [--memory] ARCHIVE\n"
    "       segzip build [--names-from SORTED] [--store PATTERN]... [--level N] [--align 2048|none]\n"
    "                    SOURCEDIR OUT.zip\n"
    "       segzip layout [--svg OUT.svg] [--seek-ms MS] [--mbps MBPS] ARCHIVE SORTED\n";

// Large reads go straight from the device into the caller's buffer; smaller
// ones would be cut into the stream's 4096-byte pieces.
const int32_t kReadPiece = 256 * 1024;

// ---------------------------------------------------------- arguments

static bool ParseCommand(const char* word, SegzipCommand* command) {
    if (strcmp(word, "list") == 0) *command = kSegzipList;
    else if (strcmp(word, "cat") == 0) *command = kSegzipCat;
    else if (strcmp(word, "test") == 0) *command = kSegzipTest;
    else if (strcmp(word, "build") == 0) *command = kSegzipBuild;
    else if (strcmp(word, "layout") == 0) *command = kSegzipLayout;
    else return false;
    return true;
}

static bool ParseNames(const char* word, ZipNameMode* mode) {
    if (!word) return false;
    if (strcmp(word, "plain") == 0) *mode = kZipNamesPlain;
    else if (strcmp(word, "packed") == 0) *mode = kZipNamesPacked;
    else if (strcmp(word, "front") == 0) *mode = kZipNamesFrontCoded;
    else return false;
    return true;
}

// "--name VALUE" or "--name=VALUE": the value, or null when arg is not the
// option; *missing when it is but has no value.
static const char* OptionValue(const char* name, int argc, char** argv, int* i, bool* missing) {
    size_t length = strlen(name);
    if (strncmp(argv[*i], name, length) != 0) return nullptr;
    if (argv[*i][length] == '=') return argv[*i] + length + 1;
    if (argv[*i][length] != 0) return nullptr;
    *missing = *i + 1 >= argc;
    return *missing ? nullptr : argv[++*i];
}

static bool ParseNumber(const char* text, double low, double high, double* value) {
    char* end = nullptr;
    *value = text ? strtod(text, &end) : 0;
    return text && end != text && *end == 0 && *value >= low && *value <= high;
}

// The options of build and layout; false when arg is none of them or its
// value is wrong.
static bool ParseWriteOption(int argc, char** argv, int* i, SegzipOptions* options) {
    bool missing = false;
    double number = 0;
    const char* value = nullptr;
    if (options->m_Command == kSegzipBuild) {
        if ((value = OptionValue("--names-from", argc, argv, i, &missing))) options->m_NamesFrom = value;
        else if ((value = OptionValue("--store", argc, argv, i, &missing))) options->m_Store.push_back(value);
        else if ((value = OptionValue("--level", argc, argv, i, &missing))) {
            if (!ParseNumber(value, 1, 9, &number) || number != static_cast<int32_t>(number)) return false;
            options->m_Level = static_cast<int32_t>(number);
        } else if ((value = OptionValue("--align", argc, argv, i, &missing))) {
            if (strcmp(value, "2048") != 0 && strcmp(value, "none") != 0) return false;
            options->m_Align = value[0] == 'n' ? 0 : 2048;
        }
    } else if (options->m_Command == kSegzipLayout) {
        if ((value = OptionValue("--svg", argc, argv, i, &missing))) options->m_Svg = value;
        else if ((value = OptionValue("--seek-ms", argc, argv, i, &missing))) {
            if (!ParseNumber(value, 0, 1e6, &options->m_SeekMs)) return false;
        } else if ((value = OptionValue("--mbps", argc, argv, i, &missing))) {
            if (!ParseNumber(value, 1e-3, 1e6, &options->m_Mbps)) return false;
        }
    }
    return value != nullptr && !missing;
}

// The operands are gathered at the front of argv, in their order, so that
// options may stand among them.
static bool ParseOptions(int argc, char** argv, SegzipOptions* options, int32_t* operands) {
    bool optionsEnd = false;
    for (int i = 2; i < argc; ++i) {
        const char* arg = argv[i];
        if (optionsEnd || arg[0] != '-' || arg[1] == 0) argv[(*operands)++] = argv[i];
        else if (strcmp(arg, "--") == 0) optionsEnd = true;
        else if (strcmp(arg, "-l") == 0 && options->m_Command == kSegzipList) options->m_Long = true;
        else if (ParseWriteOption(argc, argv, &i, options)) continue;
        else if (strcmp(arg, "--memory") == 0) options->m_Memory = true;
        else if (strcmp(arg, "--names") == 0) {
            if (!ParseNames(i + 1 < argc ? argv[++i] : nullptr, &options->m_Names)) return false;
        } else if (strncmp(arg, "--names=", 8) == 0) {
            if (!ParseNames(arg + 8, &options->m_Names)) return false;
        } else return false;
    }
    return true;
}

bool ParseSegzipArgs(int argc, char** argv, SegzipOptions* options) {
    *options = SegzipOptions{};
    options->m_Level = 9;
    options->m_Align = 2048;
    options->m_SeekMs = 100;
    options->m_Mbps = 10;
    if (argc < 2 || !ParseCommand(argv[1], &options->m_Command)) return false;
    int32_t operands = 0;
    if (!ParseOptions(argc, argv, options, &operands) || operands < 1) return false;
    options->m_Archive = argv[0];
    options->m_Operands = argv + 1;
    options->m_OperandCount = operands - 1;
    switch (options->m_Command) {
        case kSegzipList: return options->m_OperandCount <= 1;
        case kSegzipCat: return options->m_OperandCount >= 1;
        case kSegzipTest: return options->m_OperandCount == 0;
        case kSegzipBuild:
        case kSegzipLayout: return options->m_OperandCount == 1;
    }
    return false;
}

// ------------------------------------------------------------ mounting

// The whole file in one block, which the mount keeps using until the process
// ends; null, with the reason, when it cannot be had.
static const void* ReadImage(const char* name, uint32_t* size, const char** reason) {
    FILE* file = fopen(name, "rb");
    *reason = "cannot open it";
    if (!file) return nullptr;
    *reason = "cannot read it into memory (archives of 2 GiB or more are not served)";
    void* image = nullptr;
    long length = fseek(file, 0, SEEK_END) == 0 ? ftell(file) : -1;
    if (length >= 0 && length <= INT32_MAX && fseek(file, 0, SEEK_SET) == 0) {
        image = malloc(length ? static_cast<size_t>(length) : 1);
        if (image && fread(image, 1, static_cast<size_t>(length), file) != static_cast<size_t>(length)) {
            free(image);
            image = nullptr;
        }
        *size = static_cast<uint32_t>(length);
    }
    fclose(file);
    return image;
}

static zipFile* MountArchive(const SegzipOptions& options) {
    s_ZipNameMode = options.m_Names;
    if (!options.m_Memory) return zipFile::Mount(options.m_Archive, 0);
    uint32_t size = 0;
    const char* reason = "";
    const void* image = ReadImage(options.m_Archive, &size, &reason);
    if (!image) {
        Errorf("Cannot mount '%s': %s", options.m_Archive, reason);
        return nullptr;
    }
    return zipFile::MountImage(options.m_Archive, image, size, 0);
}

// --------------------------------------------------------------- list

struct ListContext {
    zipFile* m_Zip;
    bool m_Long;
    char m_Prefix[kZipNameLength];  // the directory with its separator, or empty
};

// The sector index only means something for a member the pager can map.
static void PrintLong(const zipEntry* entry, const char* name) {
    if (entry->m_Size == entry->m_CompSize && entry->m_Offset % 2048 == 0)
        printf("%d %d %u %u %s\n", entry->m_Size, entry->m_CompSize, entry->m_Offset,
               entry->m_Offset / 2048, name);
    else
        printf("%d %d %u - %s\n", entry->m_Size, entry->m_CompSize, entry->m_Offset, name);
}

static void ListOne(const char* name, bool, void* context) {
    ListContext* list = static_cast<ListContext*>(context);
    if (!list->m_Long) {
        printf("%s\n", name);
        return;
    }
    char full[2 * kZipNameLength];
    SafeSnprintf(full, sizeof full, "%s%s", list->m_Prefix, name);
    const zipEntry* entry = list->m_Zip->Find(full);
    if (entry) PrintLong(entry, name);
    else Errorf("'%s' is listed but cannot be found", full);
}

static int List(zipFile* zip, const SegzipOptions& options) {
    ListContext list = {zip, options.m_Long, ""};
    const char* directory = options.m_OperandCount ? options.m_Operands[0] : "";
    size_t length = strlen(directory);
    if (length > 0 && length < sizeof list.m_Prefix - 1) {
        bool separated = directory[length - 1] == '/' || directory[length - 1] == '\\';
        SafeSnprintf(list.m_Prefix, sizeof list.m_Prefix, "%s%s", directory, separated ? "" : "/");
    }
    zip->EnumFiles(directory, ListOne, &list);
    return 0;
}

// ---------------------------------------------------------- cat, test

struct MemberRead {
    uint32_t m_Crc;
    int64_t m_Bytes;
    bool m_Failed;
    int m_WriteError;  // errno of the first piece out did not take, else 0
};

// Reads a member through the zip device, handing each piece to out when
// given; stops at the first piece out does not take whole.
static bool ReadMember(const char* name, FILE* out, MemberRead* result) {
    static uint8_t buffer[kReadPiece];
    *result = MemberRead{static_cast<uint32_t>(crc32(0, nullptr, 0)), 0, false, 0};
    Stream* stream = Stream::Open(name, true);
    if (!stream) return false;
    for (;;) {
        int32_t n = stream->Read(buffer, kReadPiece);
        if (n <= 0) {
            result->m_Failed = n < 0;
            break;
        }
        if (out && fwrite(buffer, 1, static_cast<size_t>(n), out) != static_cast<size_t>(n)) {
            result->m_WriteError = errno ? errno : EIO;
            break;
        }
        if (!out) result->m_Crc = static_cast<uint32_t>(crc32(result->m_Crc, buffer, static_cast<uInt>(n)));
        result->m_Bytes += n;
    }
    stream->Close();
    return true;
}

static int Cat(const SegzipOptions& options) {
    int status = 0;
    for (int32_t i = 0; i < options.m_OperandCount; ++i) {
        const char* name = options.m_Operands[i];
        MemberRead read;
        if (!ReadMember(name, stdout, &read)) {
            Errorf("No member '%s' in '%s'", name, options.m_Archive);
            status = 1;
        } else if (read.m_WriteError) {
            Errorf("Cannot write member '%s' to standard output: %s", name, strerror(read.m_WriteError));
            return 1;
        } else if (read.m_Failed) {
            Errorf("Cannot read member '%s' of '%s'", name, options.m_Archive);
            status = 1;
        }
    }
    return fflush(stdout) == 0 ? status : 1;
}

struct TestContext {
    zipFile* m_Zip;
    int32_t m_Members;
    int32_t m_Bad;
    int64_t m_Bytes;
};

// Names come unpacked from the listing and are looked up again, as a caller
// of the library would look them up.
static void TestOne(const char* name, bool, void* context) {
    TestContext* test = static_cast<TestContext*>(context);
    ++test->m_Members;
    const zipEntry* entry = test->m_Zip->Find(name);
    MemberRead read;
    if (!entry || !ReadMember(name, nullptr, &read)) {
        printf("%s: cannot be opened\n", name);
        ++test->m_Bad;
        return;
    }
    test->m_Bytes += read.m_Bytes;
    uint32_t crc = test->m_Zip->CrcOf(entry);
    if (read.m_Failed)
        printf("%s: read failed after %lld bytes\n", name, static_cast<long long>(read.m_Bytes));
    else if (read.m_Bytes != entry->m_Size)
        printf("%s: %lld bytes read, the directory says %d\n", name,
               static_cast<long long>(read.m_Bytes), entry->m_Size);
    else if (read.m_Crc != crc)
        printf("%s: CRC-32 %08x, the directory says %08x\n", name, read.m_Crc, crc);
    else
        return;
    ++test->m_Bad;
}

// A member whose data will not inflate is reported as bad, as any other, and
// the check goes on to the rest.
static int Test(zipFile* zip) {
    s_ZipBadDataFatal = false;
    TestContext test = {zip, 0, 0, 0};
    zip->EnumFiles("", TestOne, &test);
    if (test.m_Bad == 0)
        printf("%d members, %lld bytes: all good\n", test.m_Members, static_cast<long long>(test.m_Bytes));
    else
        printf("%d members, %d bad\n", test.m_Members, test.m_Bad);
    return test.m_Bad == 0 ? 0 : 1;
}

// ----------------------------------------------------------------- run

int RunSegzip(const SegzipOptions& options) {
    if (options.m_Command == kSegzipBuild) return RunBuild(options);
    if (options.m_Command == kSegzipLayout) return RunLayout(options);
    zipFile* zip = MountArchive(options);
    if (!zip) return 1;
    if (options.m_Command == kSegzipList) return List(zip, options);
    // Streams opened from here on are served by the archive.
    if (!zipFile::zipSelect(true)) {
        Errorf("Cannot select the zip device");
        return 1;
    }
    return options.m_Command == kSegzipCat ? Cat(options) : Test(zip);
}
