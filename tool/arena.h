// Bump allocation for the tool's model: millions of small records that all
// live exactly as long as one run, so they are carved from large blocks and
// released together. Blocks come straight from the system (which may back
// them with large pages) and double in size as the model grows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>

class Arena {
public:
    Arena() = default;
    ~Arena();
    // Null when memory is exhausted. alignment is a power of two.
    void* Allocate(size_t size, size_t alignment = alignof(std::max_align_t));
    // A T made from args (value-initialised without); null when memory is
    // exhausted.
    template <typename T, typename... Args>
    T* New(Args&&... args) {
        void* block = Allocate(sizeof(T), alignof(T));
        return block ? new (block) T(std::forward<Args>(args)...) : nullptr;
    }
    // A terminated copy of length bytes of text; null when memory is exhausted.
    char* Copy(const char* text, size_t length);

    Arena(const Arena&) = delete;
    Arena& operator=(const Arena&) = delete;

private:
    bool NewBlock(size_t size);

    struct Block {
        Block* m_Previous;
        size_t m_Bytes;
    };
    Block* m_Blocks = nullptr;
    uint8_t* m_Free = nullptr;
    size_t m_Left = 0;
};
