// Every allocation of the library names its source position. Blocks come from
// the C heap and go back with free(); null when the heap is exhausted.
#pragma once

#include <cstddef>
#include <cstdint>

void* operator new(size_t size, const char* file, int line) noexcept;
void* operator new[](size_t size, const char* file, int line) noexcept;
// Releases a block from the allocation above (the same as free()); a
// new-expression also calls it if a constructor throws, which none here does.
void operator delete(void* block, const char* file, int line) noexcept;
void operator delete[](void* block, const char* file, int line) noexcept;

#define NEW new (__FILE__, __LINE__)

// Temporary-allocation nesting: a process-wide bracket, at most 8 deep, around
// allocations that an allocator may treat as short-lived. The two state words
// say which arena is current; the plain heap has one arena, so they select
// nothing here and are only saved, cleared and restored.
const int kMaxTemporaryNesting = 8;
extern int32_t s_Temporary;
extern uintptr_t s_AllocState[2];
extern uintptr_t s_AllocStateStack[2][kMaxTemporaryNesting];

void BeginTemporary();
void EndTemporary();
