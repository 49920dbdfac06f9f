// The POSIX side of the operating-system layer. This is the only file that
// knows it runs on POSIX; its Win32 twin answers the same calls.
#if !defined(_WIN32)

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <new>

#include "platform/platform.h"

#if defined(__linux__)
#include <sys/syscall.h>
#else
#include <atomic>
#endif

extern char** environ;

namespace plat {

// ---------------------------------------------------------------- files
// Windows decides sharing when a file is opened; here flock on the open file
// description stands in for it. Readers and writers take a shared lock, a
// creator an exclusive one, and neither waits: a conflict is a failed open.

namespace {

int32_t CloseAndFail(int fd) {
    close(fd);
    return -1;
}

bool IsDirectory(int fd) {
    struct stat st;
    return fstat(fd, &st) == 0 && S_ISDIR(st.st_mode);
}

bool TryLock(int fd, int operation) {
    return flock(fd, operation | LOCK_NB) == 0;
}

int32_t ReadFailed(int code, int32_t* error) {
    if (error) *error = code;
    return -1;
}

}  // namespace

int32_t FileOpen(const char* name, bool readOnly) {
    int fd = open(name, (readOnly ? O_RDONLY : O_RDWR) | O_CLOEXEC);
    if (fd < 0) return -1;
    // A directory opens read-only here, but never as a file on Windows.
    if (IsDirectory(fd) || !TryLock(fd, LOCK_SH)) return CloseAndFail(fd);
    return fd;
}

int32_t FileCreate(const char* name) {
    // No O_TRUNC: the content may only go once the exclusive lock proves that
    // nobody else has the file open. Only a regular file is truncated: the
    // system refuses for a device such as /dev/null or a named pipe, which is
    // written as it is, as Windows does with NUL.
    int fd = open(name, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return -1;
    struct stat st;
    if (!TryLock(fd, LOCK_EX) || fstat(fd, &st) != 0) return CloseAndFail(fd);
    if (S_ISREG(st.st_mode) && ftruncate(fd, 0) != 0) return CloseAndFail(fd);
    return fd;
}

int32_t FileRead(int32_t handle, void* buffer, int32_t count, int32_t* error) {
    if (count < 0) return ReadFailed(EINVAL, error);
    char* bytes = static_cast<char*>(buffer);
    int32_t done = 0;
    while (done < count) {
        ssize_t got = read(handle, bytes + done, static_cast<size_t>(count - done));
        if (got == 0) break;
        if (got > 0)
            done += static_cast<int32_t>(got);
        else if (errno != EINTR)
            return ReadFailed(errno, error);
    }
    return done;
}

int32_t FileWrite(int32_t handle, const void* buffer, int32_t count) {
    if (count < 0) return -1;
    const char* bytes = static_cast<const char*>(buffer);
    int32_t done = 0;
    while (done < count) {
        ssize_t put = write(handle, bytes + done, static_cast<size_t>(count - done));
        if (put > 0)
            done += static_cast<int32_t>(put);
        else if (put == 0 || errno != EINTR)
            return -1;
    }
    return done;
}

// Positions are signed 32-bit throughout the library, so a seek whose new
// position would not fit is refused and moves nothing: handing back the low
// bits would make a file of 4 GiB and 128 bytes look 128 bytes long.
int32_t FileSeek(int32_t handle, int32_t offset, int32_t origin) {
    struct stat st;
    off_t base = 0;
    if (origin == 1) base = lseek(handle, 0, SEEK_CUR);
    else if (origin == 2) base = fstat(handle, &st) == 0 ? st.st_size : -1;
    else if (origin != 0) return -1;
    if (base < 0) return -1;
    int64_t target = static_cast<int64_t>(base) + offset;
    if (target < 0 || target > INT32_MAX) return -1;
    return lseek(handle, static_cast<off_t>(target), SEEK_SET) < 0 ? -1 : static_cast<int32_t>(target);
}

int32_t FileClose(int32_t handle) {
    // On Linux the descriptor is gone even when close reports EINTR; retrying
    // could close a descriptor another thread has just been given.
    if (close(handle) == 0 || errno == EINTR) return 0;
    return -1;
}

int32_t FileLastWriteTime(const char* name, int64_t* time) {
    struct stat st;
    if (stat(name, &st) != 0) return -1;
    if (time) *time = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return 1;
}

int32_t CompareFileTimes(int64_t first, int64_t second) {
    return (first > second) - (first < second);
}

bool FileGetAttributes(const char* name, uint32_t* attributes) {
    struct stat st;
    if (stat(name, &st) != 0) return false;
    uint32_t found = 0;
    if (S_ISDIR(st.st_mode)) found |= kAttrDirectory;
    if (!(st.st_mode & S_IWUSR)) found |= kAttrReadOnly;
    if (attributes) *attributes = found ? found : kAttrNormal;
    return true;
}

bool FileSetAttributes(const char* name, uint32_t attributes) {
    struct stat st;
    if (stat(name, &st) != 0) return false;
    // Read-only means nobody may write; lifting it gives writing back to the
    // owner only, never to group or others who did not have it.
    mode_t mode = st.st_mode & 07777;
    mode = (attributes & kAttrReadOnly) ? (mode & ~mode_t(0222)) : (mode | S_IWUSR);
    return chmod(name, mode) == 0;
}

bool FileDelete(const char* name) {
    return unlink(name) == 0;
}

namespace {

// Symbolic links are not directories, whichever way the answer is found, so
// a walk over the tree cannot be led round a loop.
bool EntryIsDirectory(DIR* dir, const dirent* entry) {
    if (entry->d_type != DT_UNKNOWN) return entry->d_type == DT_DIR;
    struct stat st;
    if (fstatat(dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
    return S_ISDIR(st.st_mode);
}

}  // namespace

int32_t DirEnumerate(const char* directory, DirEntryFn fn, void* context) {
    DIR* dir = opendir(directory);
    if (!dir) return -1;
    int32_t count = 0;
    errno = 0;
    for (dirent* entry = readdir(dir); entry; entry = readdir(dir), ++count) {
        if (fn) fn(entry->d_name, EntryIsDirectory(dir, entry), context);
        errno = 0;
    }
    bool failed = errno != 0;
    closedir(dir);
    return failed ? -1 : count;
}

// ------------------------------------------------- files served to others

bool PathResolve(const char* name, char* resolved, size_t size) {
    char* real = realpath(name, nullptr);
    if (!real) return false;
    size_t length = strlen(real);
    bool fits = length < size;
    if (fits) memcpy(resolved, real, length + 1);
    free(real);
    return fits;
}

// The entry is looked at before it is opened, so that a device or FIFO is not
// even opened (which can wait, or act); O_NOFOLLOW and O_NONBLOCK keep one put
// there in between from leading elsewhere or blocking, and fstat checks what
// was opened. O_NONBLOCK means nothing to a regular file; it is cleared anyway.
int32_t FileOpenRegular(const char* name, bool readOnly, bool create) {
    struct stat st;
    if (lstat(name, &st) == 0 ? !S_ISREG(st.st_mode) : !create) return -1;
    int flags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;
    flags |= create ? O_RDWR | O_CREAT : (readOnly ? O_RDONLY : O_RDWR);
    int fd = open(name, flags, 0666);
    if (fd < 0) return -1;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return CloseAndFail(fd);
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (!TryLock(fd, create ? LOCK_EX : LOCK_SH)) return CloseAndFail(fd);
    if (create && ftruncate(fd, 0) != 0) return CloseAndFail(fd);
    return fd;
}

// Removing an entry needs no write permission on it here, so a read-only
// file goes without its mode being touched.
bool FileDeleteEntry(const char* name) {
    return unlink(name) == 0;
}

// ------------------------------------------------------------ semaphores
struct Sema {
    std::mutex mutex;
    std::condition_variable raised;
    int32_t count;
};

Sema* SemaCreate(int32_t initialCount) {
    if (initialCount < 0 || initialCount > 1) return nullptr;
    Sema* sema = new (std::nothrow) Sema;
    if (sema) sema->count = initialCount;
    return sema;
}

bool SemaWait(Sema* sema) {
    if (!sema) return false;
    std::unique_lock<std::mutex> lock(sema->mutex);
    sema->raised.wait(lock, [sema] { return sema->count > 0; });
    sema->count = 0;
    return true;
}

bool SemaSignal(Sema* sema) {
    if (!sema) return false;
    {
        std::lock_guard<std::mutex> lock(sema->mutex);
        if (sema->count > 0) return false;
        sema->count = 1;
    }
    sema->raised.notify_one();
    return true;
}

void SemaClose(Sema* sema) {
    delete sema;
}

#if defined(__linux__)
uint32_t ThreadId() {
    return static_cast<uint32_t>(syscall(SYS_gettid));
}
#else
// Without a kernel thread id, number the threads as they first ask.
uint32_t ThreadId() {
    static std::atomic<uint32_t> s_Next{1};
    thread_local uint32_t t_Id = s_Next.fetch_add(1);
    return t_Id;
}
#endif

// --------------------------------------------------------------- sockets

namespace {

bool Ipv4Address(const char* host, int32_t port, sockaddr_in* address) {
    if (!host || port < 0 || port > 65535) return false;
    memset(address, 0, sizeof *address);
    address->sin_family = AF_INET;
    address->sin_port = htons(static_cast<uint16_t>(port));
    if (strcmp(host, "localhost") == 0) host = "127.0.0.1";
    return inet_pton(AF_INET, host, &address->sin_addr) == 1;
}

sockaddr* AsAddress(sockaddr_in* address) {
    return reinterpret_cast<sockaddr*>(address);
}

int NoDelay(int fd) {
    int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return fd;
}

}  // namespace

SocketHandle SocketConnect(const char* host, int32_t port) {
    sockaddr_in address;
    if (!Ipv4Address(host, port, &address) || port == 0) return -1;
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (connect(fd, AsAddress(&address), sizeof address) != 0) return CloseAndFail(fd);
    return NoDelay(fd);
}

// SO_REUSEADDR only lets a restarted host take its port back from
// connections still in TIME_WAIT; it never shares a live listener's port.
SocketHandle SocketListen(const char* address, int32_t port) {
    sockaddr_in local;
    if (!Ipv4Address(address, port, &local)) return -1;
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (bind(fd, AsAddress(&local), sizeof local) != 0 || listen(fd, 16) != 0)
        return CloseAndFail(fd);
    return fd;
}

int32_t SocketPort(SocketHandle socket) {
    sockaddr_in local;
    socklen_t size = sizeof local;
    if (getsockname(static_cast<int>(socket), AsAddress(&local), &size) != 0) return -1;
    return ntohs(local.sin_port);
}

int32_t SocketWait(SocketHandle socket, int32_t timeoutMs) {
    pollfd entry = {static_cast<int>(socket), POLLIN, 0};
    int ready = poll(&entry, 1, timeoutMs);
    if (ready < 0) return errno == EINTR ? 0 : -1;
    return ready;
}

SocketHandle SocketAccept(SocketHandle listener) {
    int fd = accept4(static_cast<int>(listener), nullptr, nullptr, SOCK_CLOEXEC);
    return fd < 0 ? -1 : NoDelay(fd);
}

int32_t SocketSend(SocketHandle socket, const void* buffer, int32_t count) {
    for (;;) {
        ssize_t sent = send(static_cast<int>(socket), buffer, count, MSG_NOSIGNAL);
        if (sent >= 0) return static_cast<int32_t>(sent);
        if (errno != EINTR) return -1;
    }
}

int32_t SocketRecv(SocketHandle socket, void* buffer, int32_t count) {
    for (;;) {
        ssize_t got = recv(static_cast<int>(socket), buffer, count, 0);
        if (got >= 0) return static_cast<int32_t>(got);
        if (errno != EINTR) return -1;
    }
}

bool SocketSendTimeout(SocketHandle socket, int32_t timeoutMs) {
    timeval timeout = {static_cast<time_t>(timeoutMs / 1000),
                       static_cast<suseconds_t>(timeoutMs % 1000) * 1000};
    return setsockopt(static_cast<int>(socket), SOL_SOCKET, SO_SNDTIMEO, &timeout,
                      sizeof timeout) == 0;
}

void SocketShutdown(SocketHandle socket) {
    shutdown(static_cast<int>(socket), SHUT_RDWR);
}

void SocketClose(SocketHandle socket) {
    close(static_cast<int>(socket));
}

// --------------------------------------------------------------- console
void ConsoleWriteChar(int c) {
    putchar(c);
}

void ConsoleFlush() {
    fflush(stdout);
}

namespace {

// The bright Windows console colours have exact ANSI counterparts; the rest
// are not used by the library and are left alone.
const char* AnsiSequence(uint16_t attribute) {
    switch (attribute) {
        case 7:
            return "\x1b[0m";
        case 9:
            return "\x1b[94m";
        case 10:
            return "\x1b[92m";
        case 11:
            return "\x1b[96m";
        case 12:
            return "\x1b[91m";
        case 13:
            return "\x1b[95m";
        case 14:
            return "\x1b[93m";
        case 15:
            return "\x1b[97m";
        default:
            return nullptr;
    }
}

// NO_COLOR counts as set whatever its value, even empty (no-color.org).
bool ColourWanted() {
    return isatty(STDOUT_FILENO) && getenv("NO_COLOR") == nullptr;
}

}  // namespace

void ConsoleSetAttribute(uint16_t attribute) {
    if (!ColourWanted()) return;
    const char* sequence = AnsiSequence(attribute);
    if (!sequence) return;
    fflush(stdout);
    fputs(sequence, stdout);
}

// -------------------------------------------------------------- debugger
bool DebuggerAttached() {
    FILE* status = fopen("/proc/self/status", "re");
    if (!status) return false;
    char line[256];
    long tracer = 0;
    while (fgets(line, sizeof line, status)) {
        if (strncmp(line, "TracerPid:", 10) == 0) tracer = strtol(line + 10, nullptr, 10);
    }
    fclose(status);
    return tracer != 0;
}

void DebuggerText(const char* text) {
    if (DebuggerAttached()) fputs(text, stderr);
}

void DebugBreak() {
    if (DebuggerAttached()) raise(SIGTRAP);
}

// ----------------------------------------------------------- message box
// Only a question needs an answer, and only a person at a terminal can give
// one; everything else is left to whatever the caller already printed.

namespace {

// The first non-blank character of the next line, 0 for a blank line, EOF when
// the input ended (or failed) before anything was typed.
int ReadAnswer() {
    int first = 0;
    for (int c = getchar(); c != '\n'; c = getchar()) {
        if (c == EOF) return first ? first : EOF;
        if (!first && !isspace(c)) first = c;
    }
    return first;
}

int32_t AskAbortRetryIgnore(const char* text, const char* caption) {
    fprintf(stderr, "\n%s\n%s\n", caption ? caption : "Error", text ? text : "");
    for (;;) {
        fputs("[A]bort, [R]etry, [I]gnore? ", stderr);
        fflush(stderr);
        int answer = ReadAnswer();
        if (answer == EOF) return kIdAbort;
        switch (tolower(answer)) {
            case 'a':
                return kIdAbort;
            case 'r':
                return kIdRetry;
            case 'i':
                return kIdIgnore;
        }
    }
}

}  // namespace

int32_t MessageBox(const char* text, const char* caption, uint32_t style) {
    if ((style & 0xF) != kBoxAbortRetryIgnore) return kNoBox;
    if (!isatty(STDIN_FILENO) || !isatty(STDERR_FILENO)) return kNoBox;
    return AskAbortRetryIgnore(text, caption);
}

// --------------------------------------------------------------- process
void EndProcess(int status) {
    fflush(stdout);
    fflush(stderr);
    _Exit(status);
}

namespace {

volatile sig_atomic_t s_Interrupted = 0;

void OnInterrupt(int) {
    s_Interrupted = 1;
}

}  // namespace

// No SA_RESTART: a blocking call in progress returns, so its caller can look.
bool CatchInterrupt() {
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    // A closed terminal (SIGHUP) stops a run as Ctrl-C does.
    return sigaction(SIGINT, &action, nullptr) == 0 && sigaction(SIGTERM, &action, nullptr) == 0 &&
           sigaction(SIGHUP, &action, nullptr) == 0;
}

bool Interrupted() {
    return s_Interrupted != 0;
}

int64_t ProcessStart(const char* const* argv) {
    pid_t pid = 0;
    fflush(stdout);
    // posix_spawn takes char* const*, but never writes through it.
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, const_cast<char* const*>(argv), environ) != 0)
        return -1;
    return pid;
}

namespace {

// The exit status once the process has ended within timeoutMs, -1 when
// killed by a signal, -2 while it is still running.
int32_t WaitExit(pid_t pid, int32_t timeoutMs) {
    for (int32_t waited = 0;; waited += 10) {
        int status = 0;
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done < 0) return -1;
        if (done == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (waited >= timeoutMs) return -2;
        SleepMs(10);
    }
}

}  // namespace

int32_t ProcessStop(int64_t process) {
    pid_t pid = static_cast<pid_t>(process);
    if (process <= 0 || kill(pid, SIGINT) != 0) return -1;
    int32_t status = WaitExit(pid, 5000);
    if (status != -2) return status;
    kill(pid, SIGKILL);
    WaitExit(pid, 5000);
    return -1;
}

// ------------------------------------------------------------------ time

int64_t PerfCounter() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

int64_t PerfFrequency() {
    return 1000000000;
}

void SleepMs(uint32_t ms) {
    timespec left = {static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000};
    // A signal handler must not cut the sleep short.
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

uint32_t TimeMs() {
    return static_cast<uint32_t>(PerfCounter() / 1000000);
}

// Microseconds: a known rate needs no measuring at start-up, and 32 bits of
// them time an interval of up to 71 minutes.
uint32_t TickCount() {
    return static_cast<uint32_t>(PerfCounter() / 1000);
}

int64_t TickFrequency() {
    return 1000000;
}

bool TickCountAvailable() {
    return true;
}

// ---------------------------------------------------------------- memory
// A large page backs only a 2 MB range that starts on a 2 MB boundary, which
// mmap does not promise: a block of 2 MB or more is carved from a larger
// mapping at such a boundary, the ends given back.
void* LargeAllocate(size_t bytes) {
    const size_t kLargePage = 2 << 20;
    size_t extra = bytes >= kLargePage ? kLargePage : 0;
    void* mapping = mmap(nullptr, bytes + extra, PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapping == MAP_FAILED) return nullptr;
    uintptr_t start = reinterpret_cast<uintptr_t>(mapping);
    uintptr_t aligned = extra ? (start + kLargePage - 1) & ~uintptr_t(kLargePage - 1) : start;
    if (aligned > start) munmap(mapping, aligned - start);
    if (extra > aligned - start)
        munmap(reinterpret_cast<void*>(aligned + bytes), extra - (aligned - start));
    void* block = reinterpret_cast<void*>(aligned);
#if defined(MADV_HUGEPAGE)
    madvise(block, bytes, MADV_HUGEPAGE);  // a hint: without large pages all still works
#endif
    return block;
}

void LargeFree(void* block, size_t bytes) {
    if (block) munmap(block, bytes);
}

}  // namespace plat

#endif  // !defined(_WIN32)
