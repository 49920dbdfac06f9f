// What the tool takes from the system besides files: large blocks for its
// model, its read-ahead ring and its output, and the thread that reads ahead.
// It all goes through one swappable table, so that a test can run the tool
// short of memory or of threads.
#pragma once

#include <cstddef>
#include <thread>

struct ToolResources {
    // Straight from the system, which may back the block with large pages.
    // Null when memory is exhausted.
    void* (*Allocate)(size_t bytes);
    // Gives back a block from Allocate with the same byte count.
    void (*Free)(void* block, size_t bytes);
    // Starts run(context) on *thread. False, with *thread untouched, when no
    // thread can be made.
    bool (*StartThread)(std::thread* thread, void (*run)(void*), void* context);
};

extern const ToolResources s_SystemResources;
extern const ToolResources* s_ToolResources;
