#include "zip/segzip/segzip.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <zlib.h>

#include "core/output.h"
#include "core/strings.h"
#include "file/stream.h"

// Large reads go straight from the device into the caller's buffer; smaller
// ones would be cut into the stream's 4096-byte pieces.
const int32_t kReadPiece = 1024 * 1024;

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
    int32_t m_Listed;
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
    ++list->m_Listed;
    if (!list->m_Long) {
        printf("%s\n", name);
        return;
    }
    char full[2 * kZipNameLength];
    SafeSnprintf(full, sizeof full, "%s%s", list->m_Prefix, name);
    zipEntry* entry = list->m_Zip->Find(full);
    const char* why = nullptr;
    if (!entry) Errorf("'%s' is listed but cannot be found", full);
    else if (!list->m_Zip->Locate(entry, &why)) Errorf("Cannot open '%s' in '%s': %s", full, list->m_Zip->m_ArchiveName, why);
    else PrintLong(entry, name);
}

// A listing with nothing in it fails, as a name that matches nothing does:
// the directory was probably misspelt.
static int List(zipFile* zip, const SegzipOptions& options) {
    ListContext list = {zip, options.m_Long, "", 0};
    const char* directory = options.m_OperandCount ? options.m_Operands[0] : "";
    size_t length = strlen(directory);
    if (length > 0 && length < sizeof list.m_Prefix - 1) {
        bool separated = directory[length - 1] == '/' || directory[length - 1] == '\\';
        SafeSnprintf(list.m_Prefix, sizeof list.m_Prefix, "%s%s", directory, separated ? "" : "/");
    }
    zip->EnumFiles(directory, ListOne, &list);
    if (list.m_Listed > 0) return 0;
    if (*directory) Errorf("Nothing under '%s' in '%s'", directory, options.m_Archive);
    else Errorf("No members in '%s'", options.m_Archive);
    return 1;
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
