// Memory for the tool's index tables, which double as they fill. Tables
// below a large page are carved from the pool's own blocks, which the system
// may back with large pages, so that thousands of small tables do not each
// fault in page by page; a table an index has grown out of waits on a list of
// its size for the next index that reaches that size. Larger tables come
// straight from the system and go straight back.
#pragma once

#include <cstddef>

#include "tool/arena.h"

class TablePool {
public:
    TablePool() = default;
    // bytes is a power of two. Null when memory is exhausted.
    void* Obtain(size_t bytes);
    // Takes back a table from Obtain with the same byte count.
    void Release(void* table, size_t bytes);

    TablePool(const TablePool&) = delete;
    TablePool& operator=(const TablePool&) = delete;

private:
    static const size_t kLargeTable = 2 << 20;
    static const int kSizes = 22;  // 1 byte up to kLargeTable / 2

    struct FreeTable {
        FreeTable* m_Next;
    };
    static int SizeClass(size_t bytes);

    Arena m_Arena;
    FreeTable* m_Free[kSizes] = {};
};
