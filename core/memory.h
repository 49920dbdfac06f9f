// Every allocation of the library names its source position. Blocks come from
// the C heap and go back with free(); null when the heap is exhausted.
#pragma once

#include <cstddef>

void* operator new(size_t size, const char* file, int line) noexcept;
void* operator new[](size_t size, const char* file, int line) noexcept;
// Only reached if a constructor throws, which nothing here does.
void operator delete(void* block, const char* file, int line) noexcept;
void operator delete[](void* block, const char* file, int line) noexcept;

#define NEW new (__FILE__, __LINE__)
