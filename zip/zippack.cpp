#include "zip/zippack.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <new>
#include <system_error>

#include <zlib.h>

namespace {

std::string ReadFailure(const char* path) {
    return std::string("cannot read '") + path + "'" + (errno ? std::string(": ") + strerror(errno) : "");
}

}  // namespace

bool ReadSourceRange(const char* path, uint64_t at, size_t length, bool last, uint8_t* into, std::string* error) {
    std::filebuf file;
    errno = 0;
    if (!file.open(path, std::ios::in | std::ios::binary)) {
        *error = ReadFailure(path);
        return false;
    }
    errno = 0;
    if (at && file.pubseekpos(static_cast<std::streamoff>(at), std::ios::in) == std::streampos(-1)) {
        *error = ReadFailure(path);
        return false;
    }
    errno = 0;
    std::streamsize got = file.sgetn(reinterpret_cast<char*>(into), static_cast<std::streamsize>(length));
    if (got != static_cast<std::streamsize>(length) && errno) {
        *error = ReadFailure(path);
        return false;
    }
    if (got != static_cast<std::streamsize>(length) ||
        (last && file.sgetc() != std::filebuf::traits_type::eof())) {
        *error = std::string("'") + path + "' changed while it was read";
        return false;
    }
    return true;
}

namespace {

// Ends the stream however its deflate ends, a thrown allocation included.
struct DeflateStream {
    z_stream m_Z = {};
    int m_Status;
    explicit DeflateStream(int32_t level)
        : m_Status(deflateInit2(&m_Z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY)) {}
    ~DeflateStream() {
        if (m_Status == Z_OK) deflateEnd(&m_Z);
    }
};

// Raw deflate (no zlib header), as zip members hold it, of data after
// `primed` bytes of dictionary. A piece other than the member's last ends on
// a byte boundary (a sync flush) with no end mark, so that the pieces joined
// are one stream. Z_OK, or zlib's failure (Z_MEM_ERROR when out of memory).
int Deflate(const uint8_t* data, size_t primed, size_t length, bool last, int32_t level,
            std::vector<uint8_t>* out) {
    DeflateStream stream(level);
    z_stream& z = stream.m_Z;
    if (stream.m_Status != Z_OK) return stream.m_Status;
    if (primed && deflateSetDictionary(&z, data, static_cast<uInt>(primed)) != Z_OK) return Z_STREAM_ERROR;
    out->resize(deflateBound(&z, static_cast<uLong>(length)) + 64);
    z.next_in = const_cast<Bytef*>(data + primed);
    z.avail_in = static_cast<uInt>(length);
    for (;;) {
        z.next_out = out->data() + z.total_out;
        z.avail_out = static_cast<uInt>(out->size() - z.total_out);
        int status = deflate(&z, last ? Z_FINISH : Z_SYNC_FLUSH);
        // A flush that had already finished makes no progress the next time.
        bool done = last ? status == Z_STREAM_END
                         : status == Z_BUF_ERROR || (status == Z_OK && z.avail_out > 0);
        if (done) break;
        if (status != Z_OK && status != Z_BUF_ERROR) return status;
        out->resize(out->size() + 64 * 1024);
    }
    out->resize(z.total_out);
    return Z_OK;
}

std::string OutOfMemory(const char* path) { return std::string("out of memory while packing '") + path + "'"; }

// Builds the piece; may throw std::bad_alloc.
bool Pack(const ZipSource& source, const MemberPlan& plan, int32_t piece, int32_t level, uint32_t pieceSize,
          PackedPiece* packed) {
    uint64_t at = static_cast<uint64_t>(piece) * pieceSize;
    size_t length = static_cast<size_t>(std::min<uint64_t>(pieceSize, plan.m_Size - at));
    bool whole = plan.m_Pieces == 1, last = piece + 1 == plan.m_Pieces;
    size_t primed = source.m_Store ? 0 : static_cast<size_t>(std::min<uint64_t>(kDeflateWindow, at));
    std::vector<uint8_t> raw(primed + length);
    if (!ReadSourceRange(source.m_Path, at - primed, raw.size(), last, raw.data(), &packed->m_Error)) return false;
    packed->m_Size = static_cast<uint32_t>(length);
    packed->m_Crc = static_cast<uint32_t>(crc32(0, raw.data() + primed, static_cast<uInt>(length)));
    if (!source.m_Store && (!whole || length > 0)) {
        std::vector<uint8_t> out;
        int status = Deflate(raw.data(), primed, length, last, level, &out);
        if (status != Z_OK) {
            packed->m_Error = status == Z_MEM_ERROR
                                  ? OutOfMemory(source.m_Path)
                                  : std::string("cannot deflate '") + source.m_Path + "': " + zError(status);
            return false;
        }
        packed->m_Deflated = !whole || out.size() < length;
        if (packed->m_Deflated) raw.swap(out);
    }
    packed->m_Data.swap(raw);
    return true;
}

}  // namespace

PackedPiece PackPiece(const ZipSource& source, const MemberPlan& plan, int32_t piece, int32_t level,
                      uint32_t pieceSize) {
    PackedPiece packed;
    try {
        if (!Pack(source, plan, piece, level, pieceSize, &packed)) packed.m_Data.clear();
    } catch (const std::bad_alloc&) {
        packed = PackedPiece();
        packed.m_Error = "out of memory";  // short enough to need no allocation
        try {
            packed.m_Error = OutOfMemory(source.m_Path);
        } catch (const std::bad_alloc&) {
        }
    }
    return packed;
}

PackQueue::PackQueue(const ZipSource* sources, const std::vector<MemberPlan>& plans, int32_t level,
                     uint32_t pieceSize, int32_t window)
    : m_Sources(sources), m_Plans(plans), m_Level(level), m_PieceSize(pieceSize),
      m_Total(plans.empty() ? 0 : plans.back().m_FirstPiece + plans.back().m_Pieces),
      m_Slots(static_cast<size_t>(window)) {}

PackQueue::~PackQueue() {
    {
        std::lock_guard<std::mutex> lock(m_Lock);
        m_Stop = true;
    }
    m_Changed.notify_all();
    for (std::thread& worker : m_Workers) worker.join();
}

// A thread that cannot be made (no memory, no handles) leaves fewer workers.
void PackQueue::Start(int32_t threads) {
    try {
        m_Workers.reserve(static_cast<size_t>(threads));
        for (int32_t t = 0; t < threads; ++t) m_Workers.emplace_back(&PackQueue::Work, this);
    } catch (const std::system_error&) {
    } catch (const std::bad_alloc&) {
    }
}

bool PackQueue::Claim(int64_t* index, int32_t* member, int32_t* piece) {
    if (m_Stop || m_Next >= m_Total) return false;
    while (m_Plans[m_Member].m_FirstPiece + m_Plans[m_Member].m_Pieces <= m_Next) ++m_Member;
    *index = m_Next++;
    *member = m_Member;
    *piece = static_cast<int32_t>(*index - m_Plans[m_Member].m_FirstPiece);
    return true;
}

void PackQueue::Pack(int64_t index, int32_t member, int32_t piece) {
    PackedPiece packed = PackPiece(m_Sources[member], m_Plans[member], piece, m_Level, m_PieceSize);
    std::lock_guard<std::mutex> lock(m_Lock);
    Slot& slot = m_Slots[static_cast<size_t>(index % static_cast<int64_t>(m_Slots.size()))];
    slot.m_Piece = std::move(packed);
    slot.m_Index = index;
    m_Changed.notify_all();
}

void PackQueue::Work() {
    const int64_t window = static_cast<int64_t>(m_Slots.size());
    for (;;) {
        int64_t index = 0;
        int32_t member = 0, piece = 0;
        {
            std::unique_lock<std::mutex> lock(m_Lock);
            m_Changed.wait(lock, [this, window] { return m_Stop || m_Next >= m_Total || m_Next - m_Taken < window; });
            if (!Claim(&index, &member, &piece)) return;
        }
        Pack(index, member, piece);
    }
}

bool PackQueue::Take(int64_t index, bool (*cancelled)(), PackedPiece* piece) {
    Slot& slot = m_Slots[static_cast<size_t>(index % static_cast<int64_t>(m_Slots.size()))];
    std::unique_lock<std::mutex> lock(m_Lock);
    while (slot.m_Index != index) {
        if (cancelled && cancelled()) return false;
        int64_t claimed = 0;
        int32_t member = 0, part = 0;
        if (m_Workers.empty() && Claim(&claimed, &member, &part)) {
            lock.unlock();
            Pack(claimed, member, part);
            lock.lock();
            continue;
        }
        m_Changed.wait_for(lock, std::chrono::milliseconds(50));
    }
    *piece = std::move(slot.m_Piece);
    slot = Slot();
    m_Taken = index + 1;
    m_Changed.notify_all();
    return true;
}
