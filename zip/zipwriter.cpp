#include "zip/zipwriter.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include <zlib.h>

#include "zip/zippack.h"
#include "zip/ziprecords.h"

namespace {

// The archive file being written. A member that turns out not to shrink is
// written again over its deflated bytes, so the file may hold more than the
// archive until Finish trims it.
class ArchiveOut {
public:
    explicit ArchiveOut(const std::string& name) : m_Name(name), m_Buffer(1 << 20) {}

    bool Create(std::string* error) {
        m_File.pubsetbuf(m_Buffer.data(), static_cast<std::streamsize>(m_Buffer.size()));
        errno = 0;
        if (m_File.open(m_Name, std::ios::out | std::ios::trunc | std::ios::binary)) return true;
        *error = Failure("cannot create");
        return false;
    }

    bool Write(const void* bytes, size_t count, std::string* error) {
        errno = 0;
        std::streamsize n = static_cast<std::streamsize>(count);
        if (count && m_File.sputn(static_cast<const char*>(bytes), n) != n) {
            *error = Failure("cannot write");
            return false;
        }
        m_Offset += count;
        m_End = std::max(m_End, m_Offset);
        return true;
    }

    bool Seek(uint64_t at, std::string* error) {
        errno = 0;
        if (m_File.pubseekpos(static_cast<std::streamoff>(at), std::ios::out) == std::streampos(-1)) {
            *error = Failure("cannot write");
            return false;
        }
        m_Offset = at;
        return true;
    }

    // Closes the file, cut to where the archive ends.
    bool Finish(std::string* error) {
        errno = 0;
        if (!m_File.close()) {
            *error = Failure("cannot write");
            return false;
        }
        std::error_code failure;
        if (m_End > m_Offset) std::filesystem::resize_file(m_Name, m_Offset, failure);
        if (failure) *error = "cannot cut '" + m_Name + "' to its length: " + failure.message();
        return !failure;
    }

    uint64_t Offset() const { return m_Offset; }

private:
    std::string Failure(const char* what) const {
        return std::string(what) + " '" + m_Name + "'" + (errno ? std::string(": ") + strerror(errno) : "");
    }

    std::string m_Name;
    std::vector<char> m_Buffer;  // outlives the file
    std::filebuf m_File;
    uint64_t m_Offset = 0;
    uint64_t m_End = 0;  // the furthest byte written
};

struct Writer {
    ArchiveOut* m_Out;
    PackQueue* m_Queue;
    const ZipWriteOptions& m_Options;
    uint32_t m_Piece;
    std::vector<uint8_t> m_Central;
    std::string* m_Error;
};

std::string TooLarge(const ZipWriteOptions& options, const char* what) {
    return std::string(what) + (options.m_MaxBytes >= 0xFFFFFFFFull
                                    ? " would pass 4 GiB, which needs zip64"
                                    : " would pass " + std::to_string(options.m_MaxBytes) + " bytes");
}

bool Interrupted(const Writer* w) {
    if (!w->m_Options.Cancelled || !w->m_Options.Cancelled()) return false;
    *w->m_Error = "interrupted";
    return true;
}

bool TakePiece(Writer* w, int64_t index, PackedPiece* piece) {
    if (Interrupted(w)) return false;
    if (!w->m_Queue->Take(index, w->m_Options.Cancelled, piece)) {
        *w->m_Error = "interrupted";
        return false;
    }
    if (piece->m_Error.empty()) return true;
    *w->m_Error = piece->m_Error;
    return false;
}

bool WriteHeader(Writer* w, const MemberRecord& record) {
    std::vector<uint8_t> header;
    PutLocalHeader(&header, record);
    return w->m_Out->Write(header.data(), header.size(), w->m_Error);
}

uint16_t Padding(const Writer* w, const ZipSource& source) {
    return ZipPaddingFor(w->m_Out->Offset(), static_cast<uint16_t>(strlen(source.m_Name)), w->m_Options.m_Align);
}

// A member of one piece: packed whole, so the method is known before its
// header is written.
bool WriteWhole(Writer* w, const ZipSource& source, const MemberPlan& plan, MemberRecord* record) {
    PackedPiece piece;
    if (!TakePiece(w, plan.m_FirstPiece, &piece)) return false;
    *record = MemberRecord{source.m_Name, source.m_Time, piece.m_Deflated, piece.m_Crc,
                           static_cast<uint32_t>(piece.m_Data.size()), piece.m_Size, 0};
    if (!piece.m_Deflated) record->m_Padding = Padding(w, source);
    return WriteHeader(w, *record) && w->m_Out->Write(piece.m_Data.data(), piece.m_Data.size(), w->m_Error);
}

// A member whose deflated pieces came to no less than its size goes in
// stored after all, over what was written of it: read again, in pieces.
bool RewriteStored(Writer* w, const ZipSource& source, const MemberPlan& plan, uint64_t headerAt,
                   MemberRecord* record) {
    if (!w->m_Out->Seek(headerAt, w->m_Error)) return false;
    record->m_Deflated = false;
    record->m_CompSize = record->m_Size;
    record->m_Padding = Padding(w, source);
    if (!WriteHeader(w, *record)) return false;
    std::vector<uint8_t> buffer(std::min<uint64_t>(plan.m_Size, w->m_Piece));
    uint32_t crc = 0;
    for (uint64_t at = 0; at < plan.m_Size; at += buffer.size()) {
        size_t length = static_cast<size_t>(std::min<uint64_t>(buffer.size(), plan.m_Size - at));
        if (Interrupted(w) ||
            !ReadSourceRange(source.m_Path, at, length, at + length == plan.m_Size, buffer.data(), w->m_Error) ||
            !w->m_Out->Write(buffer.data(), length, w->m_Error))
            return false;
        crc = static_cast<uint32_t>(crc32(crc, buffer.data(), static_cast<uInt>(length)));
    }
    if (crc == record->m_Crc) return true;
    *w->m_Error = std::string("'") + source.m_Path + "' changed while it was read";
    return false;
}

// A member of several pieces: its header goes out first, its CRC and sizes
// are filled in once all its pieces have been written.
bool WriteStreamed(Writer* w, const ZipSource& source, const MemberPlan& plan, MemberRecord* record) {
    uint64_t headerAt = w->m_Out->Offset();
    *record = MemberRecord{source.m_Name, source.m_Time, !source.m_Store, 0, 0, 0, 0};
    if (source.m_Store) record->m_Padding = Padding(w, source);
    if (!WriteHeader(w, *record)) return false;
    uint64_t packed = 0;
    for (int32_t i = 0; i < plan.m_Pieces; ++i) {
        PackedPiece piece;
        if (!TakePiece(w, plan.m_FirstPiece + i, &piece) ||
            !w->m_Out->Write(piece.m_Data.data(), piece.m_Data.size(), w->m_Error))
            return false;
        record->m_Crc = static_cast<uint32_t>(crc32_combine(record->m_Crc, piece.m_Crc, piece.m_Size));
        packed += piece.m_Data.size();
    }
    record->m_Size = static_cast<uint32_t>(plan.m_Size);
    if (record->m_Deflated && packed >= plan.m_Size) return RewriteStored(w, source, plan, headerAt, record);
    record->m_CompSize = static_cast<uint32_t>(std::min<uint64_t>(packed, 0xFFFFFFFFull));
    uint64_t end = w->m_Out->Offset();
    std::vector<uint8_t> fields;
    PutCrcAndSizes(&fields, record->m_Crc, record->m_CompSize, record->m_Size);
    return w->m_Out->Seek(headerAt + kLocalCrcAt, w->m_Error) &&
           w->m_Out->Write(fields.data(), fields.size(), w->m_Error) && w->m_Out->Seek(end, w->m_Error);
}

bool WriteEnd(Writer* w, int32_t count) {
    uint64_t centralAt = w->m_Out->Offset();
    std::vector<uint8_t> end;
    PutEndRecord(&end, count, static_cast<uint32_t>(w->m_Central.size()), static_cast<uint32_t>(centralAt));
    if (centralAt + w->m_Central.size() + end.size() > w->m_Options.m_MaxBytes) {
        *w->m_Error = TooLarge(w->m_Options, "the central directory");
        return false;
    }
    return w->m_Out->Write(w->m_Central.data(), w->m_Central.size(), w->m_Error) &&
           w->m_Out->Write(end.data(), end.size(), w->m_Error);
}

// Writes each member in order, as its pieces come from the workers; false,
// with the reason, at the first that fails.
bool WriteMembers(Writer* w, const ZipSource* sources, const std::vector<MemberPlan>& plans,
                  ZipWriteResult* result) {
    int32_t count = static_cast<int32_t>(plans.size());
    for (int32_t i = 0; i < count; ++i) {
        uint64_t headerAt = w->m_Out->Offset();
        MemberRecord record;
        bool ok = plans[i].m_Pieces == 1 ? WriteWhole(w, sources[i], plans[i], &record)
                                         : WriteStreamed(w, sources[i], plans[i], &record);
        if (!ok) return false;
        if (w->m_Out->Offset() > w->m_Options.m_MaxBytes) {
            *w->m_Error = TooLarge(w->m_Options, "the archive");
            return false;
        }
        PutCentralEntry(&w->m_Central, record, static_cast<uint32_t>(headerAt));
        ++(record.m_Deflated ? result->m_Deflated : result->m_Stored);
        if (w->m_Options.Progress) w->m_Options.Progress(w->m_Options.m_Context, i + 1, count, w->m_Out->Offset());
    }
    return WriteEnd(w, count);
}

// Every member's size, taken before anything is written, and the pieces it
// is cut into.
bool PlanMembers(const ZipSource* sources, int32_t count, uint32_t piece, std::vector<MemberPlan>* plans,
                 std::string* error) {
    int64_t next = 0;
    for (int32_t i = 0; i < count; ++i) {
        std::error_code failure;
        uint64_t size = std::filesystem::file_size(sources[i].m_Path, failure);
        if (failure) {
            *error = std::string("cannot read '") + sources[i].m_Path + "': " + failure.message();
            return false;
        }
        // The sizes are 32-bit, and all ones marks zip64.
        if (size >= 0xFFFFFFFFull) {
            *error = std::string("'") + sources[i].m_Path + "' is 4 GiB or more, which needs zip64";
            return false;
        }
        int32_t pieces = size <= piece ? 1 : static_cast<int32_t>((size + piece - 1) / piece);
        plans->push_back(MemberPlan{size, next, pieces});
        next += pieces;
    }
    return true;
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

int32_t ThreadCount(const ZipWriteOptions& options) {
    int32_t threads = options.m_Threads > 0 ? options.m_Threads
                                            : static_cast<int32_t>(std::thread::hardware_concurrency());
    return threads < 1 ? 1 : threads;
}

bool PackAndWrite(const std::string& part, const ZipSource* sources, int32_t count, const ZipWriteOptions& options,
                  ZipWriteResult* result, std::string* error) {
    uint32_t piece = std::max<uint32_t>(options.m_Piece, 4096);
    std::vector<MemberPlan> plans;
    if (!PlanMembers(sources, count, piece, &plans, error)) return false;
    ArchiveOut out(part);
    if (!out.Create(error)) return false;
    bool ok = false;
    {
        int32_t threads = ThreadCount(options);
        PackQueue queue(sources, plans, options.m_Level, piece, 4 * threads);
        queue.Start(threads);
        Writer w{&out, &queue, options, piece, {}, error};
        ok = WriteMembers(&w, sources, plans, result);
    }
    // The first failure is the one to tell.
    std::string closing;
    bool closed = out.Finish(&closing);
    if (ok && !closed) *error = closing;
    result->m_Bytes = out.Offset();
    return ok && closed;
}

void RemovePart(const std::string& part) {
    std::error_code ignored;
    std::filesystem::remove(part, ignored);
}

}  // namespace

bool WriteZip(const char* outName, const ZipSource* sources, int32_t count, const ZipWriteOptions& options,
              ZipWriteResult* result, char* reason, size_t reasonSize) {
    *result = ZipWriteResult{0, 0, 0};
    bool ok = false;
    const char* failure = "out of memory";
    try {
        std::string part = std::string(outName) + ".part";
        std::string error;
        ok = CheckSources(sources, count, &error) && PackAndWrite(part, sources, count, options, result, &error);
        std::error_code renamed;
        if (ok) std::filesystem::rename(part, outName, renamed);
        if (renamed) error = "cannot rename '" + part + "' to '" + outName + "': " + renamed.message();
        ok = ok && !renamed;
        if (!ok) RemovePart(part);
        if (!ok && options.Cancelled && options.Cancelled()) error = "interrupted";
        snprintf(reason, reasonSize, "%s", ok ? "" : error.c_str());
        return ok;
    } catch (const std::bad_alloc&) {
        // The part name itself may be what could not be had.
        try {
            RemovePart(std::string(outName) + ".part");
        } catch (const std::bad_alloc&) {
        }
    }
    snprintf(reason, reasonSize, "%s", failure);
    return false;
}
