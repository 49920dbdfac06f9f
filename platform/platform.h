// The operating system, as the rest of the library sees it. Nothing outside
// platform/ includes a system header that differs between Windows and POSIX;
// everything it needs from the system is one of these calls.
//
// Failure contract, once for all: calls returning a handle, a count or a
// position return -1 on failure; calls returning bool return false; calls
// returning a pointer return null. No call reports through errno.
#pragma once

#include <cstddef>
#include <cstdint>

namespace plat {

// ---------------------------------------------------------------- files
// Handles are non-negative 32-bit values. Sharing follows the local device's
// rules: a read-only open lets others read, a read-write open lets others read
// and write, a created file is held by its creator alone.

// Opens an existing file (never a directory). -1 when missing or held by another.
int32_t FileOpen(const char* name, bool readOnly);
// Creates or truncates a file for reading and writing; a device or a named
// pipe is opened as it is. -1 on failure, and an existing file that another
// holder has open is left untouched.
int32_t FileCreate(const char* name);
// Reads up to count bytes; fewer only at end of file. -1 on failure, with the
// system's error code in *error when error is not null.
int32_t FileRead(int32_t handle, void* buffer, int32_t count, int32_t* error);
// Writes count bytes. -1 on failure.
int32_t FileWrite(int32_t handle, const void* buffer, int32_t count);
// origin: 0 start, 1 current, 2 end. Returns the new position. -1 on failure,
// and for a position below 0 or past 2 GiB - 1, which leaves the position
// where it was (so the end of a file of 2 GiB or more cannot be sought).
int32_t FileSeek(int32_t handle, int32_t offset, int32_t origin);
// 0, or -1 when the handle was not open.
int32_t FileClose(int32_t handle);
// Last-write time of a named file in the system's own unit.
// 1 with *time set; 0 when the file opened but has no time to give; -1 when it
// cannot be opened.
int32_t FileLastWriteTime(const char* name, int64_t* time);
// Orders two such times: 1 when first is later, 0 when equal, -1 when earlier.
int32_t CompareFileTimes(int64_t first, int64_t second);

enum : uint32_t {
    kAttrReadOnly = 0x1,   // as the Windows attribute bits, so both sides agree
    kAttrDirectory = 0x10,
    kAttrNormal = 0x80,
};
// false when the name does not exist.
bool FileGetAttributes(const char* name, uint32_t* attributes);
// Sets the attributes (the bits above); POSIX honours only the read-only bit.
// false on failure.
bool FileSetAttributes(const char* name, uint32_t attributes);
// Removes a file (not a directory). false on failure.
bool FileDelete(const char* name);

typedef void (*DirEntryFn)(const char* name, bool isDirectory, void* context);
// Calls fn for every entry of the directory, "." and ".." included, and returns
// how many there were. -1 when the directory cannot be read.
int32_t DirEnumerate(const char* directory, DirEntryFn fn, void* context);

// ------------------------------------------------- files served to others
// For a program that serves a directory to clients it does not trust.

// The absolute path of an existing file or directory with every symbolic
// link (or other reparse point) on the way resolved, written as the system
// writes it. false when it does not exist or the path does not fit size.
bool PathResolve(const char* name, char* resolved, size_t size);
// FileOpen (create false) or FileCreate (create true), sharing alike, but
// only ever of a regular file: a directory, FIFO, device or symbolic link as
// the last part is refused with -1, and nothing is waited for on the way.
int32_t FileOpenRegular(const char* name, bool readOnly, bool create);
// Removes the entry itself, a read-only file too; a symbolic link is removed,
// never followed, and nothing it leads to changes. false on failure.
bool FileDeleteEntry(const char* name);

// ------------------------------------------------------------ semaphores
struct Sema;
// A private semaphore with maximum count 1. null on failure.
Sema* SemaCreate(int32_t initialCount);
// Waits without time-out. false when the wait failed.
bool SemaWait(Sema* sema);
// Raises the count by one. false when it already stood at 1.
bool SemaSignal(Sema* sema);
void SemaClose(Sema* sema);

// Non-zero id of the calling thread.
uint32_t ThreadId();

// --------------------------------------------------------------- sockets
// Connected TCP streams over IPv4. A SocketHandle holds a POSIX descriptor or
// a Windows SOCKET (pointer-wide); -1 is no socket. Nagle's delay is turned
// off on every connected socket: traffic here is small requests, each waiting
// for its reply.
typedef intptr_t SocketHandle;

// Connects to host ("localhost" or dotted IPv4) at port. -1 on failure.
SocketHandle SocketConnect(const char* host, int32_t port);
// A socket listening on address (dotted IPv4 or "localhost") and port; port 0
// takes any free one (see SocketPort). -1 on failure, such as a port in use.
SocketHandle SocketListen(const char* address, int32_t port);
// The local port a socket is bound to. -1 on failure.
int32_t SocketPort(SocketHandle socket);
// Waits up to timeoutMs for data (or, on a listening socket, a connection)
// to be ready. 1 when ready, 0 on time-out or interruption, -1 on failure.
int32_t SocketWait(SocketHandle socket, int32_t timeoutMs);
// The next connection on a listening socket. -1 on failure.
SocketHandle SocketAccept(SocketHandle listener);
// Bytes moved, at least 1; -1 on failure. A peer that has gone away is a
// failure, never a signal. Recv returns 0 when the peer closed its end.
int32_t SocketSend(SocketHandle socket, const void* buffer, int32_t count);
int32_t SocketRecv(SocketHandle socket, void* buffer, int32_t count);
// A send that can move nothing for timeoutMs fails instead of waiting on.
// false when the system refuses the setting.
bool SocketSendTimeout(SocketHandle socket, int32_t timeoutMs);
// Ends both directions, which wakes any thread blocked on the socket; the
// socket stays allocated until SocketClose.
void SocketShutdown(SocketHandle socket);
void SocketClose(SocketHandle socket);

// --------------------------------------------------------------- console
// Console text attributes use the Windows values (7 grey, 12 bright red, ...).
void ConsoleWriteChar(int c);
void ConsoleFlush();
// Does nothing when standard output is not a terminal or NO_COLOR is set.
void ConsoleSetAttribute(uint16_t attribute);

// -------------------------------------------------------------- debugger
bool DebuggerAttached();
// Text to an attached debugger; nothing otherwise.
void DebuggerText(const char* text);
// Stops in an attached debugger and returns when it resumes. Does nothing
// without one.
void DebugBreak();

// ----------------------------------------------------------- message box
enum : uint32_t {
    kBoxOk = 0x0,
    kBoxAbortRetryIgnore = 0x2,
    kBoxIconError = 0x10,
    kBoxTopmost = 0x40000,
};
enum : int32_t {
    kNoBox = 0,  // nothing was shown
    kIdOk = 1,
    kIdAbort = 3,
    kIdRetry = 4,
    kIdIgnore = 5,
};
// Shows text in a box; caption may be null for the system's default. Returns
// the button pressed, or kNoBox when no box could be shown. A box with only an
// OK button never blocks.
int32_t MessageBox(const char* text, const char* caption, uint32_t style);

// --------------------------------------------------------------- process
// Ends the process at once with status, after flushing standard output.
[[noreturn]] void EndProcess(int status);

// Ctrl-C (and on POSIX SIGTERM and SIGHUP) stops ending the process and
// instead raises a flag that Interrupted() reads. false when the handler
// cannot be set.
bool CatchInterrupt();
bool Interrupted();

// Starts the program argv[0] with the arguments that follow up to a null; it
// shares the caller's console. An id for ProcessStop, or -1 on failure.
int64_t ProcessStart(const char* const* argv);
// Stops a started process and waits for it: on POSIX as Ctrl-C would (and
// outright when it has not ended 5 seconds later), on Windows at once with
// status 1. Returns its exit status, -1 when killed by a signal or unknown.
int32_t ProcessStop(int64_t process);

// ------------------------------------------------------------------ time
// A value that rises at a constant rate, cheap to read: on Windows the low 32
// bits of the processor's time-stamp counter where it has one (x86), on POSIX
// the monotonic clock in microseconds.
uint32_t TickCount();
// false when TickCount cannot be read on this processor.
bool TickCountAvailable();
// TickCount's ticks per second when the system states them, 0 when they must
// be measured (the time-stamp counter's rate is the processor's own).
int64_t TickFrequency();
// High-resolution counter and its ticks per second (never 0).
int64_t PerfCounter();
int64_t PerfFrequency();
void SleepMs(uint32_t ms);
// Milliseconds from an arbitrary start; wraps at 2^32.
uint32_t TimeMs();

// ---------------------------------------------------------------- memory
// Large, long-lived tables straight from the system, which may back them with
// large pages: touching fresh memory page by page is slow. bytes is rounded up
// as the system needs. null on failure.
void* LargeAllocate(size_t bytes);
// Gives back a block from LargeAllocate with the same byte count.
void LargeFree(void* block, size_t bytes);

}  // namespace plat
