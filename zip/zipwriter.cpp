#include "zip/zipwriter.h"

#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <zlib.h>

namespace {

// One member as a worker left it for the writer.
struct PackedMember {
    std::vector<uint8_t> m_Data;  // the bytes as they go into the archive
    uint32_t m_Crc = 0;
    uint32_t m_Size = 0;
    bool m_Deflated = false;
    bool m_Done = false;
    std::string m_Error;  // why the source could not be packed
};

// Workers claim members in order but stay within a window of the writer, so
// that memory holds a few members per core, not the whole tree.
struct PackJob {
    const ZipSource* m_Sources;
    int32_t m_Count;
    int32_t m_Level;
    int32_t m_Window;
    std::vector<PackedMember> m_Members;
    std::mutex m_Lock;
    std::condition_variable m_Changed;
    int32_t m_Next = 0;
    int32_t m_Taken = 0;  // members the writer has finished with
    bool m_Stop = false;
};

bool ReadWhole(const char* path, std::vector<uint8_t>* data, std::string* error) {
    FILE* file = fopen(path, "rb");
    bool ok = file && fseek(file, 0, SEEK_END) == 0;
    long length = ok ? ftell(file) : -1;
    // Members and their offsets are 32-bit without zip64.
    ok = ok && length >= 0 && static_cast<uint64_t>(length) < 0xFFFFFFFFull &&
         fseek(file, 0, SEEK_SET) == 0;
    if (ok) {
        data->resize(static_cast<size_t>(length));
        ok = fread(data->data(), 1, data->size(), file) == data->size();
    }
    if (!ok) *error = std::string("cannot read '") + path + "'" + (errno ? std::string(": ") + strerror(errno) : "");
    if (file) fclose(file);
    return ok;
}

// Raw deflate (no zlib header), as zip members hold it; false when it would
// not be smaller than the data.
bool Deflate(const std::vector<uint8_t>& data, int32_t level, std::vector<uint8_t>* out) {
    z_stream z = {};
    if (data.empty() || deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return false;
    out->resize(deflateBound(&z, static_cast<uLong>(data.size())));
    z.next_in = const_cast<Bytef*>(data.data());
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = out->data();
    z.avail_out = static_cast<uInt>(out->size());
    bool finished = deflate(&z, Z_FINISH) == Z_STREAM_END;
    out->resize(z.total_out);
    deflateEnd(&z);
    return finished && out->size() < data.size();
}

void Pack(const ZipSource& source, int32_t level, PackedMember* member) {
    std::vector<uint8_t> data;
    errno = 0;
    if (!ReadWhole(source.m_Path, &data, &member->m_Error)) return;
    member->m_Size = static_cast<uint32_t>(data.size());
    member->m_Crc = static_cast<uint32_t>(crc32(0, data.data(), static_cast<uInt>(data.size())));
    std::vector<uint8_t> packed;
    member->m_Deflated = !source.m_Store && Deflate(data, level, &packed);
    member->m_Data.swap(member->m_Deflated ? packed : data);
}

void Work(PackJob* job) {
    for (;;) {
        std::unique_lock<std::mutex> lock(job->m_Lock);
        job->m_Changed.wait(lock, [job] {
            return job->m_Stop || job->m_Next >= job->m_Count || job->m_Next - job->m_Taken < job->m_Window;
        });
        if (job->m_Stop || job->m_Next >= job->m_Count) return;
        int32_t index = job->m_Next++;
        lock.unlock();
        PackedMember done;
        Pack(job->m_Sources[index], job->m_Level, &done);
        done.m_Done = true;
        lock.lock();
        job->m_Members[index] = std::move(done);
        job->m_Changed.notify_all();
    }
}

// ------------------------------------------------------------ records

void Put16(std::vector<uint8_t>* out, uint32_t value) {
    out->push_back(static_cast<uint8_t>(value));
    out->push_back(static_cast<uint8_t>(value >> 8));
}

void Put32(std::vector<uint8_t>* out, uint32_t value) {
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

// The MS-DOS time and date the headers hold, in local time; earlier than 1980
// is 1980.
uint32_t DosTime(int64_t seconds) {
    time_t t = static_cast<time_t>(seconds);
    const tm* local = localtime(&t);
    if (!local || local->tm_year < 80) return 0x00210000;  // 1980-01-01 00:00
    uint32_t date = ((local->tm_year - 80) << 9) | ((local->tm_mon + 1) << 5) | local->tm_mday;
    uint32_t time = (local->tm_hour << 11) | (local->tm_min << 5) | (local->tm_sec / 2);
    return (date << 16) | time;
}

// What the local header and the central record share, from "version needed"
// to the extra field's length.
struct MemberFields {
    uint16_t m_Method;
    uint32_t m_DosTime;
    uint32_t m_Crc;
    uint32_t m_CompSize;
    uint32_t m_Size;
    uint16_t m_NameLength;
};

void PutFields(std::vector<uint8_t>* out, const MemberFields& f, uint16_t extraLength) {
    Put16(out, 20);  // version needed: 2.0, deflate
    Put16(out, 0);   // flags
    Put16(out, f.m_Method);
    Put32(out, f.m_DosTime);
    Put32(out, f.m_Crc);
    Put32(out, f.m_CompSize);
    Put32(out, f.m_Size);
    Put16(out, f.m_NameLength);
    Put16(out, extraLength);
}

// Padding for a stored member goes in the local extra field as one record of
// its own kind (0xD935), so that readers which walk the field see it whole.
uint16_t PaddingFor(uint64_t headerAt, uint16_t nameLength, uint32_t align) {
    if (align <= 1) return 0;
    uint64_t dataAt = headerAt + 30 + nameLength + 4;
    return static_cast<uint16_t>(4 + (align - dataAt % align) % align);
}

struct ArchiveFile {
    FILE* m_File;
    uint64_t m_Offset;
    std::vector<uint8_t> m_Central;
};

bool Put(ArchiveFile* archive, const void* bytes, size_t count) {
    archive->m_Offset += count;
    return count == 0 || fwrite(bytes, 1, count, archive->m_File) == count;
}

bool WriteMember(ArchiveFile* archive, const ZipSource& source, const PackedMember& member,
                 uint32_t align) {
    uint16_t nameLength = static_cast<uint16_t>(strlen(source.m_Name));
    MemberFields fields = {static_cast<uint16_t>(member.m_Deflated ? 8 : 0), DosTime(source.m_Time),
                           member.m_Crc, static_cast<uint32_t>(member.m_Data.size()), member.m_Size,
                           nameLength};
    uint16_t extra = member.m_Deflated ? 0 : PaddingFor(archive->m_Offset, nameLength, align);
    uint32_t headerAt = static_cast<uint32_t>(archive->m_Offset);
    std::vector<uint8_t> header;
    Put32(&header, 0x04034b50);
    PutFields(&header, fields, extra);
    header.insert(header.end(), source.m_Name, source.m_Name + nameLength);
    if (extra) {
        Put16(&header, 0xD935);
        Put16(&header, extra - 4u);
        header.resize(header.size() + extra - 4, 0);
    }
    std::vector<uint8_t>& central = archive->m_Central;
    Put32(&central, 0x02014b50);
    Put16(&central, 20);  // made by: 2.0, MS-DOS attributes
    PutFields(&central, fields, 0);
    Put16(&central, 0);  // comment length
    Put16(&central, 0);  // disk
    Put16(&central, 0);  // internal attributes
    Put32(&central, 0);  // external attributes
    Put32(&central, headerAt);
    central.insert(central.end(), source.m_Name, source.m_Name + nameLength);
    return Put(archive, header.data(), header.size()) &&
           Put(archive, member.m_Data.data(), member.m_Data.size());
}

bool WriteEnd(ArchiveFile* archive, int32_t count) {
    std::vector<uint8_t> end;
    Put32(&end, 0x06054b50);
    Put16(&end, 0);  // this disk
    Put16(&end, 0);  // the directory's disk
    Put16(&end, static_cast<uint32_t>(count));
    Put16(&end, static_cast<uint32_t>(count));
    Put32(&end, static_cast<uint32_t>(archive->m_Central.size()));
    Put32(&end, static_cast<uint32_t>(archive->m_Offset));
    Put16(&end, 0);  // comment length
    uint64_t endAt = archive->m_Offset + archive->m_Central.size();
    return endAt <= 0xFFFFFFFFull && Put(archive, archive->m_Central.data(), archive->m_Central.size()) &&
           Put(archive, end.data(), end.size());
}

// Takes each member from the workers in order and writes it; false, with the
// reason, at the first that fails.
bool WriteMembers(PackJob* job, ArchiveFile* archive, const ZipWriteOptions& options,
                  ZipWriteResult* result, std::string* error) {
    for (int32_t i = 0; i < job->m_Count; ++i) {
        PackedMember member;
        {
            std::unique_lock<std::mutex> lock(job->m_Lock);
            job->m_Changed.wait(lock, [job, i] { return job->m_Members[i].m_Done; });
            member = std::move(job->m_Members[i]);
            job->m_Members[i] = PackedMember();
            job->m_Taken = i + 1;
            job->m_Changed.notify_all();
        }
        if (!member.m_Error.empty()) {
            *error = member.m_Error;
            return false;
        }
        if (!WriteMember(archive, job->m_Sources[i], member, options.m_Align)) return false;
        if (archive->m_Offset > 0xFFFFFFFFull) {
            *error = "the archive would reach 4 GiB, which needs zip64";
            return false;
        }
        ++(member.m_Deflated ? result->m_Deflated : result->m_Stored);
        if (options.Progress) options.Progress(options.m_Context, i + 1, job->m_Count, archive->m_Offset);
    }
    return WriteEnd(archive, job->m_Count);
}

bool CheckSources(const ZipSource* sources, int32_t count, std::string* error) {
    if (count > kZipMaxMembers) {
        *error = "more than 65535 members need zip64";
        return false;
    }
    for (int32_t i = 0; i < count; ++i) {
        if (strlen(sources[i].m_Name) > 255 || sources[i].m_Name[0] == 0) {
            *error = std::string("member name '") + sources[i].m_Name + "' is empty or longer than 255 characters";
            return false;
        }
    }
    return true;
}

bool PackAndWrite(const char* partName, const ZipSource* sources, int32_t count,
                  const ZipWriteOptions& options, ZipWriteResult* result, std::string* error) {
    ArchiveFile archive = {fopen(partName, "wb"), 0, {}};
    if (!archive.m_File) {
        *error = std::string("cannot create '") + partName + "': " + strerror(errno);
        return false;
    }
    std::vector<char> buffer(1 << 20);  // outlives the file
    setvbuf(archive.m_File, buffer.data(), _IOFBF, buffer.size());
    int32_t threads = options.m_Threads > 0 ? options.m_Threads
                                            : static_cast<int32_t>(std::thread::hardware_concurrency());
    threads = threads < 1 ? 1 : threads;
    PackJob job;
    job.m_Sources = sources;
    job.m_Count = count;
    job.m_Level = options.m_Level;
    job.m_Window = 4 * threads;
    job.m_Members.resize(static_cast<size_t>(count));
    std::vector<std::thread> workers;
    for (int32_t t = 0; t < threads; ++t) workers.emplace_back(Work, &job);
    bool ok = WriteMembers(&job, &archive, options, result, error);
    {
        std::lock_guard<std::mutex> lock(job.m_Lock);
        job.m_Stop = true;
        job.m_Changed.notify_all();
    }
    for (std::thread& worker : workers) worker.join();
    ok = fflush(archive.m_File) == 0 && ok;
    ok = fclose(archive.m_File) == 0 && ok;
    if (!ok && error->empty()) *error = std::string("cannot write '") + partName + "': " + strerror(errno);
    result->m_Bytes = archive.m_Offset;
    return ok;
}

}  // namespace

bool WriteZip(const char* outName, const ZipSource* sources, int32_t count,
              const ZipWriteOptions& options, ZipWriteResult* result, char* reason,
              size_t reasonSize) {
    *result = ZipWriteResult{0, 0, 0};
    std::string part = std::string(outName) + ".part";
    std::string error;
    bool ok = CheckSources(sources, count, &error) &&
              PackAndWrite(part.c_str(), sources, count, options, result, &error);
    std::error_code failure;
    if (ok) {
        std::filesystem::rename(part, outName, failure);
        if (failure) error = std::string("cannot rename '") + part + "' to '" + outName + "': " + failure.message();
        ok = !failure;
    }
    if (!ok) {
        std::filesystem::remove(part, failure);
        snprintf(reason, reasonSize, "%s", error.c_str());
    }
    return ok;
}
