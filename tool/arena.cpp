#include "tool/arena.h"

#include <cstring>

#include "tool/resources.h"

const size_t kFirstBlock = 2 << 20;  // one large page
const size_t kLargestBlock = 64 << 20;
const size_t kHeader = 2 * alignof(std::max_align_t);  // the block's header, alignment kept

Arena::~Arena() {
    while (m_Blocks) {
        Block* previous = m_Blocks->m_Previous;
        s_ToolResources->Free(m_Blocks, m_Blocks->m_Bytes);
        m_Blocks = previous;
    }
}

// Each block is twice the last, up to a limit; a request larger than that
// gets a block of its own size.
bool Arena::NewBlock(size_t size) {
    static_assert(sizeof(Block) <= kHeader, "the header must fit");
    size_t bytes = m_Blocks ? m_Blocks->m_Bytes * 2 : kFirstBlock;
    if (bytes > kLargestBlock) bytes = kLargestBlock;
    if (bytes < kHeader + size) bytes = kHeader + size;
    Block* block = static_cast<Block*>(s_ToolResources->Allocate(bytes));
    if (!block) return false;
    *block = Block{m_Blocks, bytes};
    m_Blocks = block;
    m_Free = reinterpret_cast<uint8_t*>(block) + kHeader;
    m_Left = bytes - kHeader;
    return true;
}

void* Arena::Allocate(size_t size, size_t alignment) {
    size_t skip = (alignment - reinterpret_cast<uintptr_t>(m_Free) % alignment) % alignment;
    if (size + skip > m_Left) {
        if (!NewBlock(size)) return nullptr;
        skip = 0;
    }
    void* result = m_Free + skip;
    m_Free += size + skip;
    m_Left -= size + skip;
    return result;
}

char* Arena::Copy(const char* text, size_t length) {
    char* copy = static_cast<char*>(Allocate(length + 1, 1));
    if (!copy) return nullptr;
    memcpy(copy, text, length);
    copy[length] = 0;
    return copy;
}
