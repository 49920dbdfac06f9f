// The Win32 side of the operating-system layer. This is the only file that
// knows it runs on Windows; its POSIX twin answers the same calls.
#if defined(_WIN32)

#include "platform/platform.h"

// clang-format off
#include <windows.h>
#include <mmsystem.h>
// clang-format on

#include <cpuid.h>
#include <x86intrin.h>

#include <cstdio>
#include <cstdlib>

// windows.h defines these as macros for its own functions.
#undef MessageBox
#undef DebugBreak

namespace plat {

// ---------------------------------------------------------------- files
// Kernel handles are 32-bit values even in 64-bit processes, so they travel
// as the library's signed 32-bit handles and come back unchanged.

namespace {

int32_t FromHandle(HANDLE handle) {
    if (handle == INVALID_HANDLE_VALUE) return -1;
    return static_cast<int32_t>(reinterpret_cast<intptr_t>(handle));
}

HANDLE ToHandle(int32_t handle) {
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(handle));
}

HANDLE OpenExisting(const char* name, DWORD access, DWORD share) {
    return CreateFileA(name, access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

}  // namespace

int32_t FileOpen(const char* name, bool readOnly) {
    if (readOnly) return FromHandle(OpenExisting(name, GENERIC_READ, FILE_SHARE_READ));
    return FromHandle(OpenExisting(name, GENERIC_READ | GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE));
}

int32_t FileCreate(const char* name) {
    return FromHandle(CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
}

int32_t FileRead(int32_t handle, void* buffer, int32_t count, int32_t* error) {
    DWORD got = 0;
    if (count >= 0 && ReadFile(ToHandle(handle), buffer, count, &got, nullptr))
        return static_cast<int32_t>(got);
    if (error) *error = count < 0 ? ERROR_INVALID_PARAMETER : static_cast<int32_t>(GetLastError());
    return -1;
}

int32_t FileWrite(int32_t handle, const void* buffer, int32_t count) {
    DWORD put = 0;
    if (count < 0 || !WriteFile(ToHandle(handle), buffer, count, &put, nullptr)) return -1;
    return static_cast<int32_t>(put);
}

// No high part is passed, so positions are 32-bit; 0xFFFFFFFF is failure.
int32_t FileSeek(int32_t handle, int32_t offset, int32_t origin) {
    if (origin < 0 || origin > 2) return -1;
    DWORD position = SetFilePointer(ToHandle(handle), offset, nullptr, origin);
    return static_cast<int32_t>(position);
}

int32_t FileClose(int32_t handle) {
    return CloseHandle(ToHandle(handle)) ? 0 : -1;
}

int32_t FileLastWriteTime(const char* name, int64_t* time) {
    HANDLE file = OpenExisting(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
    if (file == INVALID_HANDLE_VALUE) return -1;
    FILETIME written;
    BOOL ok = GetFileTime(file, nullptr, nullptr, &written);
    CloseHandle(file);
    if (!ok) return 0;
    if (time)
        *time = static_cast<int64_t>((static_cast<uint64_t>(written.dwHighDateTime) << 32) |
                                     written.dwLowDateTime);
    return 1;
}

int32_t CompareFileTimes(int64_t first, int64_t second) {
    FILETIME a = {static_cast<DWORD>(first), static_cast<DWORD>(first >> 32)};
    FILETIME b = {static_cast<DWORD>(second), static_cast<DWORD>(second >> 32)};
    return CompareFileTime(&a, &b);
}

bool FileGetAttributes(const char* name, uint32_t* attributes) {
    DWORD found = GetFileAttributesA(name);
    if (found == INVALID_FILE_ATTRIBUTES) return false;
    if (attributes) *attributes = found;
    return true;
}

bool FileSetAttributes(const char* name, uint32_t attributes) {
    return SetFileAttributesA(name, attributes) != 0;
}

bool FileDelete(const char* name) {
    return DeleteFileA(name) != 0;
}

int32_t DirEnumerate(const char* directory, DirEntryFn fn, void* context) {
    char pattern[MAX_PATH + 4];
    snprintf(pattern, sizeof pattern, "%s\\*", directory);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) return -1;
    int32_t count = 0;
    do {
        ++count;
        if (fn) fn(found.cFileName, (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0,
                   context);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return count;
}

// ------------------------------------------------------------ semaphores
// A Sema is the kernel semaphore's handle itself.

Sema* SemaCreate(int32_t initialCount) {
    if (initialCount < 0 || initialCount > 1) return nullptr;
    return reinterpret_cast<Sema*>(CreateSemaphoreA(nullptr, initialCount, 1, nullptr));
}

bool SemaWait(Sema* sema) {
    return sema && WaitForSingleObject(reinterpret_cast<HANDLE>(sema), INFINITE) == WAIT_OBJECT_0;
}

// Fails with "too many posts" at the maximum count.
bool SemaSignal(Sema* sema) {
    return sema && ReleaseSemaphore(reinterpret_cast<HANDLE>(sema), 1, nullptr) != 0;
}

void SemaClose(Sema* sema) {
    if (sema) CloseHandle(reinterpret_cast<HANDLE>(sema));
}

uint32_t ThreadId() {
    return GetCurrentThreadId();
}

// --------------------------------------------------------------- console
void ConsoleWriteChar(int c) {
    putchar(c);
}

void ConsoleFlush() {
    fflush(stdout);
}

// Fails harmlessly when standard output is not a console.
void ConsoleSetAttribute(uint16_t attribute) {
    if (getenv("NO_COLOR")) return;
    SetConsoleTextAttribute(GetStdHandle(STD_OUTPUT_HANDLE), attribute);
}

// -------------------------------------------------------------- debugger
bool DebuggerAttached() {
    return IsDebuggerPresent() != 0;
}

void DebuggerText(const char* text) {
    OutputDebugStringA(text);
}

// Without a debugger the break would be an unhandled exception.
void DebugBreak() {
    if (IsDebuggerPresent()) ::DebugBreak();
}

// ----------------------------------------------------------- message box
int32_t MessageBox(const char* text, const char* caption, uint32_t style) {
    return MessageBoxA(nullptr, text, caption, style);
}

// --------------------------------------------------------------- process
void EndProcess(int status) {
    fflush(stdout);
    fflush(stderr);
    _exit(status);
}

// ------------------------------------------------------------------ time
uint32_t TickCount() {
    return static_cast<uint32_t>(__rdtsc());
}

// CPUID leaf 1, EDX: the processor has a time-stamp counter.
const unsigned kCpuidTimeStampCounter = 1u << 4;

bool TickCountAvailable() {
    unsigned eax, ebx, ecx, edx;
    return __get_cpuid(1, &eax, &ebx, &ecx, &edx) && (edx & kCpuidTimeStampCounter);
}

int64_t PerfCounter() {
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return counter.QuadPart;
}

int64_t PerfFrequency() {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart;
}

void SleepMs(uint32_t ms) {
    Sleep(ms);
}

uint32_t TimeMs() {
    return timeGetTime();
}

}  // namespace plat

#endif  // defined(_WIN32)
