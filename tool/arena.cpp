#include "tool/arena.h"

#include <cstring>

#include "core/memory.h"

const size_t kBlockSize = 1 << 20;
const size_t kHeader = alignof(std::max_align_t);

Arena::~Arena() {
    while (m_Blocks) {
        void* previous = *static_cast<void**>(m_Blocks);
        operator delete(m_Blocks, "segsorter", __LINE__);
        m_Blocks = previous;
    }
}

// A request larger than a block gets a block of its own size.
bool Arena::NewBlock(size_t size) {
    size_t bytes = kHeader + (size > kBlockSize ? size : kBlockSize);
    void* block = operator new(bytes, "segsorter", __LINE__);
    if (!block) return false;
    *static_cast<void**>(block) = m_Blocks;
    m_Blocks = block;
    m_Free = static_cast<uint8_t*>(block) + kHeader;
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
