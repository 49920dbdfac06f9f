// The archive writer's workers: members are cut into pieces of a fixed size,
// each read and deflated on its own, a few pieces per worker ahead of the
// writer, so that memory does not grow with the size of a member.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "zip/zipwriter.h"

struct MemberPlan {
    uint64_t m_Size;
    int64_t m_FirstPiece;  // its first piece's number among all members' pieces
    int32_t m_Pieces;      // 1 for a member of up to one piece, the empty one too
};

struct PackedPiece {
    std::vector<uint8_t> m_Data;  // the bytes as they go into the archive
    uint32_t m_Crc = 0;           // of the source bytes it holds
    uint32_t m_Size = 0;          // source bytes it holds
    // A member of one piece is deflated only when that makes it smaller; the
    // pieces of a longer one are deflated unless it is marked stored, and the
    // writer judges the whole.
    bool m_Deflated = false;
    std::string m_Error;  // why the source could not be packed
};

// Bytes of source before a piece that prime its deflate, so that its matches
// may reach back as far as in one stream.
const uint32_t kDeflateWindow = 32 * 1024;

// Reads `length` bytes of a source at `at`; `last`: the file must end there
// too, since its size was taken before any of it was read. false, with the
// reason, when it cannot be read or has changed.
bool ReadSourceRange(const char* path, uint64_t at, size_t length, bool last, uint8_t* into, std::string* error);

// Reads and packs piece `piece` of a member; never throws.
PackedPiece PackPiece(const ZipSource& source, const MemberPlan& plan, int32_t piece, int32_t level,
                      uint32_t pieceSize);

// Pieces are claimed in order, never more than a window ahead of the writer,
// and handed to it in order.
class PackQueue {
public:
    PackQueue(const ZipSource* sources, const std::vector<MemberPlan>& plans, int32_t level, uint32_t pieceSize,
              int32_t window);
    ~PackQueue();  // stops the workers and waits for them

    // Starts up to `threads` workers; with none, Take packs each piece itself.
    void Start(int32_t threads);
    // Waits for piece `index` (the next one in order) and takes it; false,
    // leaving it, once cancelled() says so (polled while waiting).
    bool Take(int64_t index, bool (*cancelled)(), PackedPiece* piece);

    PackQueue(const PackQueue&) = delete;
    PackQueue& operator=(const PackQueue&) = delete;

private:
    struct Slot {
        PackedPiece m_Piece;
        int64_t m_Index = -1;  // the piece it holds once packed
    };

    void Work();
    // Claims the next piece under the lock: false when none is left.
    bool Claim(int64_t* index, int32_t* member, int32_t* piece);
    void Pack(int64_t index, int32_t member, int32_t piece);

    const ZipSource* m_Sources;
    const std::vector<MemberPlan>& m_Plans;
    int32_t m_Level;
    uint32_t m_PieceSize;
    int64_t m_Total;
    std::vector<Slot> m_Slots;  // piece i in slot i % window
    std::vector<std::thread> m_Workers;
    std::mutex m_Lock;
    std::condition_variable m_Changed;
    int64_t m_Next = 0;   // the next piece to claim
    int32_t m_Member = 0;  // the member that piece belongs to
    int64_t m_Taken = 0;  // pieces the writer has taken
    bool m_Stop = false;
};
