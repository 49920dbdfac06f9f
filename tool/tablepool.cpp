#include "tool/tablepool.h"

#include "tool/resources.h"

int TablePool::SizeClass(size_t bytes) {
    int size = 0;
    while ((size_t(1) << size) < bytes) size++;
    return size;
}

void* TablePool::Obtain(size_t bytes) {
    if (bytes >= kLargeTable) return s_ToolResources->Allocate(bytes);
    FreeTable*& free = m_Free[SizeClass(bytes)];
    if (!free) return m_Arena.Allocate(bytes < sizeof(FreeTable) ? sizeof(FreeTable) : bytes);
    FreeTable* table = free;
    free = table->m_Next;
    return table;
}

void TablePool::Release(void* table, size_t bytes) {
    if (!table) return;
    if (bytes >= kLargeTable) return s_ToolResources->Free(table, bytes);
    FreeTable*& free = m_Free[SizeClass(bytes)];
    free = new (table) FreeTable{free};
}
