#include "core/memory.h"

#include <cstdlib>

#include "core/assert.h"

// The source position is accepted so that a tracking allocator can be put in
// here without touching a caller; the plain heap does not use it.
void* operator new(size_t size, const char*, int) noexcept { return malloc(size); }
void* operator new[](size_t size, const char*, int) noexcept { return malloc(size); }
void operator delete(void* block, const char*, int) noexcept { free(block); }
void operator delete[](void* block, const char*, int) noexcept { free(block); }

int32_t s_Temporary = 0;
uintptr_t s_AllocState[2] = {0, 0};
uintptr_t s_AllocStateStack[2][kMaxTemporaryNesting];

void BeginTemporary() {
    if (!Verify(s_Temporary < 8)) return;
    for (int word = 0; word < 2; ++word) {
        s_AllocStateStack[word][s_Temporary] = s_AllocState[word];
        s_AllocState[word] = 0;
    }
    s_Temporary++;
}

void EndTemporary() {
    if (!Verify(s_Temporary)) return;
    s_Temporary--;
    for (int word = 0; word < 2; ++word) s_AllocState[word] = s_AllocStateStack[word][s_Temporary];
}
