#include "core/memory.h"

#include <cstdlib>

// The source position is accepted so that a tracking allocator can be put in
// here without touching a caller; the plain heap does not use it.
void* operator new(size_t size, const char*, int) noexcept { return malloc(size); }
void* operator new[](size_t size, const char*, int) noexcept { return malloc(size); }
void operator delete(void* block, const char*, int) noexcept { free(block); }
void operator delete[](void* block, const char*, int) noexcept { free(block); }
