// The Win32 side of the operating-system layer. This is the only file that
// knows it runs on Windows; its POSIX twin answers the same calls.
#if defined(_WIN32)

#include "platform/platform.h"

// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <mmsystem.h>
// clang-format on

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

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

// Positions are signed 32-bit throughout the library, so a seek whose new
// position would not fit is refused and moves nothing: handing back the low
// bits would make a file of 4 GiB and 128 bytes look 128 bytes long.
int32_t FileSeek(int32_t handle, int32_t offset, int32_t origin) {
    LARGE_INTEGER base = {}, target = {};
    if (origin == 1 && !SetFilePointerEx(ToHandle(handle), base, &base, FILE_CURRENT)) return -1;
    if (origin == 2 && !GetFileSizeEx(ToHandle(handle), &base)) return -1;
    if (origin < 0 || origin > 2) return -1;
    target.QuadPart = base.QuadPart + offset;
    if (target.QuadPart < 0 || target.QuadPart > INT32_MAX) return -1;
    if (!SetFilePointerEx(ToHandle(handle), target, nullptr, FILE_BEGIN)) return -1;
    return static_cast<int32_t>(target.QuadPart);
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

// ------------------------------------------------- files served to others

namespace {

// What GetFinalPathNameByHandle puts before a path: "\\?\C:\..." is given
// back as "C:\...", and "\\?\UNC\server\..." as "\\server\...".
void DropLongPathPrefix(char* path) {
    if (strncmp(path, "\\\\?\\UNC\\", 8) == 0)
        memmove(path + 2, path + 8, strlen(path + 8) + 1);
    else if (strncmp(path, "\\\\?\\", 4) == 0)
        memmove(path, path + 4, strlen(path + 4) + 1);
}

const DWORD kNotRegular =
    FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE;

}  // namespace

// Opening for no access at all reads no data and so conflicts with no
// holder's sharing; backup semantics let a directory be opened too.
bool PathResolve(const char* name, char* resolved, size_t size) {
    HANDLE file = CreateFileA(name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD length = GetFinalPathNameByHandleA(file, resolved, static_cast<DWORD>(size),
                                             FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    CloseHandle(file);
    if (length == 0 || length >= size) return false;
    DropLongPathPrefix(resolved);
    return true;
}

// A reparse point as the last part is not followed but refused, and only a
// disk file is kept: a console, pipe or other device opens as something else.
int32_t FileOpenRegular(const char* name, bool readOnly, bool create) {
    DWORD attributes = GetFileAttributesA(name);
    if (attributes == INVALID_FILE_ATTRIBUTES ? !create : (attributes & kNotRegular) != 0)
        return -1;
    DWORD access = readOnly && !create ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
    DWORD share = create ? 0 : (readOnly ? FILE_SHARE_READ : FILE_SHARE_READ | FILE_SHARE_WRITE);
    HANDLE file = CreateFileA(name, access, share, nullptr, create ? CREATE_ALWAYS : OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return -1;
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info) ||
        (info.dwFileAttributes & kNotRegular)) {
        CloseHandle(file);
        return -1;
    }
    return FromHandle(file);
}

// A link's own read-only mark is left alone as well: whether clearing it
// would reach the link or its target is not worth finding out.
bool FileDeleteEntry(const char* name) {
    DWORD attributes = GetFileAttributesA(name);
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    if ((attributes & FILE_ATTRIBUTE_READONLY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        SetFileAttributesA(name, attributes & ~FILE_ATTRIBUTE_READONLY);
    return DeleteFileA(name) != 0;
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

// --------------------------------------------------------------- sockets

namespace {

// Winsock is started once, by the first call that makes a socket, and left
// running until the process ends.
bool SocketsReady() {
    static const bool s_Ready = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return s_Ready;
}

SOCKET ToSocket(SocketHandle socket) {
    return static_cast<SOCKET>(socket);
}

SocketHandle CloseSocketAndFail(SOCKET socket) {
    closesocket(socket);
    return -1;
}

// Sockets are inheritable by default: a started process must not keep a
// connection alive after this one closes it.
SocketHandle Private(SOCKET socket, bool noDelay) {
    if (socket == INVALID_SOCKET) return -1;
    SetHandleInformation(reinterpret_cast<HANDLE>(socket), HANDLE_FLAG_INHERIT, 0);
    BOOL on = TRUE;
    if (noDelay)
        setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    return static_cast<SocketHandle>(socket);
}

bool Ipv4Address(const char* host, int32_t port, sockaddr_in* address) {
    if (!host || port < 0 || port > 65535 || !SocketsReady()) return false;
    memset(address, 0, sizeof *address);
    address->sin_family = AF_INET;
    address->sin_port = htons(static_cast<u_short>(port));
    if (strcmp(host, "localhost") == 0) host = "127.0.0.1";
    return inet_pton(AF_INET, host, &address->sin_addr) == 1;
}

sockaddr* AsAddress(sockaddr_in* address) {
    return reinterpret_cast<sockaddr*>(address);
}

}  // namespace

SocketHandle SocketConnect(const char* host, int32_t port) {
    sockaddr_in address;
    if (!Ipv4Address(host, port, &address) || port == 0) return -1;
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return -1;
    if (connect(s, AsAddress(&address), sizeof address) != 0) return CloseSocketAndFail(s);
    return Private(s, true);
}

// No SO_REUSEADDR: on Windows it would let another program take over a port
// that is in use.
SocketHandle SocketListen(const char* address, int32_t port) {
    sockaddr_in local;
    if (!Ipv4Address(address, port, &local)) return -1;
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return -1;
    if (bind(s, AsAddress(&local), sizeof local) != 0 || listen(s, 16) != 0)
        return CloseSocketAndFail(s);
    return Private(s, false);
}

int32_t SocketPort(SocketHandle socket) {
    sockaddr_in local;
    int size = sizeof local;
    if (getsockname(ToSocket(socket), AsAddress(&local), &size) != 0) return -1;
    return ntohs(local.sin_port);
}

int32_t SocketWait(SocketHandle socket, int32_t timeoutMs) {
    fd_set ready;
    FD_ZERO(&ready);
    FD_SET(ToSocket(socket), &ready);
    timeval timeout = {timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    int count = select(0, &ready, nullptr, nullptr, &timeout);
    return count == SOCKET_ERROR ? -1 : (count > 0 ? 1 : 0);
}

SocketHandle SocketAccept(SocketHandle listener) {
    return Private(accept(ToSocket(listener), nullptr, nullptr), true);
}

int32_t SocketSend(SocketHandle socket, const void* buffer, int32_t count) {
    int sent = send(ToSocket(socket), static_cast<const char*>(buffer), count, 0);
    return sent == SOCKET_ERROR ? -1 : sent;
}

int32_t SocketRecv(SocketHandle socket, void* buffer, int32_t count) {
    int got = recv(ToSocket(socket), static_cast<char*>(buffer), count, 0);
    return got == SOCKET_ERROR ? -1 : got;
}

bool SocketSendTimeout(SocketHandle socket, int32_t timeoutMs) {
    DWORD timeout = static_cast<DWORD>(timeoutMs);
    return setsockopt(ToSocket(socket), SOL_SOCKET, SO_SNDTIMEO,
                      reinterpret_cast<const char*>(&timeout), sizeof timeout) == 0;
}

void SocketShutdown(SocketHandle socket) {
    shutdown(ToSocket(socket), SD_BOTH);
}

void SocketClose(SocketHandle socket) {
    closesocket(ToSocket(socket));
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

namespace {

std::atomic<bool> s_Interrupted{false};

// Runs on a thread of its own, so it only raises the flag.
BOOL WINAPI OnConsoleEvent(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT)
        return FALSE;
    s_Interrupted = true;
    return TRUE;
}

// Quoted so that the started program's argument parser gives back each
// argument unchanged: backslashes only double before a quote.
void AppendQuoted(std::string* line, const char* argument) {
    line->push_back('"');
    size_t slashes = 0;
    for (const char* p = argument; *p; ++p) {
        if (*p == '"') line->append(slashes + 1, '\\');
        slashes = *p == '\\' ? slashes + 1 : 0;
        line->push_back(*p);
    }
    line->append(slashes, '\\');
    line->push_back('"');
}

}  // namespace

bool CatchInterrupt() {
    return SetConsoleCtrlHandler(OnConsoleEvent, TRUE) != 0;
}

bool Interrupted() {
    return s_Interrupted;
}

int64_t ProcessStart(const char* const* argv) {
    std::string line;
    for (const char* const* arg = argv; *arg; ++arg) {
        if (!line.empty()) line.push_back(' ');
        AppendQuoted(&line, *arg);
    }
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    fflush(stdout);
    if (!CreateProcessA(argv[0], &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &started))
        return -1;
    CloseHandle(started.hThread);
    return static_cast<int64_t>(reinterpret_cast<intptr_t>(started.hProcess));
}

int32_t ProcessStop(int64_t process) {
    HANDLE handle = reinterpret_cast<HANDLE>(static_cast<intptr_t>(process));
    if (process <= 0) return -1;
    TerminateProcess(handle, 1);  // fails harmlessly when it has already ended
    DWORD status = 0;
    bool ended =
        WaitForSingleObject(handle, 5000) == WAIT_OBJECT_0 && GetExitCodeProcess(handle, &status);
    CloseHandle(handle);
    return ended ? static_cast<int32_t>(status) : -1;
}

// ------------------------------------------------------------------ time
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

// ---------------------------------------------------------------- memory
void* LargeAllocate(size_t bytes) {
    return VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void LargeFree(void* block, size_t) {
    if (block) VirtualFree(block, 0, MEM_RELEASE);
}

}  // namespace plat

#endif  // defined(_WIN32)
