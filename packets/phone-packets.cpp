// pelko-packets: the device tool that the host copies to an Android device or emulator.
//
// It does the few things on the device that need exact, race-free system calls: a process's
// identity, reading, listing and atomically replacing files inside an app's data directory
// without ever following a symbolic link, recording the screen with a hard deadline, running a
// program under a time limit, and capturing packets for a bounded time and size.
//
// The file is deliberately close to the system calls and needs nothing but the C library, so
// that the one binary runs on any device of the API level. One thread; the only process-wide
// state is `stopped`, which the signal handler sets and the loops poll.

#include <arpa/inet.h>
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <poll.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

#include <utility>

namespace pelko::packets {
namespace {

// ---------------------------------------------------------------------------------------------
// Exit statuses, texts and limits of the contract with the host.

constexpr int exitSuccess = 0;
constexpr int exitFailure = 1;
constexpr int exitBadArguments = 2;

constexpr const char* versionLine = "pelko-packets/4\n";
constexpr const char* usageText = "usage: pelko-packets seconds max-bytes\n";

constexpr size_t maxRelativePath = 1000;
constexpr unsigned long long maxAppFileRead = 134217728;  // 128 MiB
constexpr size_t maxDirectoryEntries = 10000;
constexpr size_t maxExpectedContent = 1048576;  // 1 MiB
constexpr size_t maxNewContent = 1048576;       // 1 MiB
constexpr size_t copyChunk = 65536;
constexpr size_t compareChunk = 4096;
constexpr size_t maxLabel = 1024;
constexpr const char* labelAttribute = "security.selinux";

constexpr const char* recorderPath = "/system/bin/screenrecord";
constexpr long maxRecordSeconds = 180;
constexpr double recordPoll = 0.05;
constexpr double finalizeWait = 8;
constexpr double superviseLimit = 310;
constexpr double supervisePoll = 0.1;
constexpr double superviseGrace = 0.2;

constexpr long maxCaptureSeconds = 300;
constexpr unsigned long long minCaptureBytes = 1024;
constexpr unsigned long long maxCaptureBytes = 268435456;  // 256 MiB
// A stop is noticed within 250 ms in all: a wait for frames lasts at most 150 ms, and the tail
// of the capture, the frames the kernel still holds when the capture ends, at most 100 ms more.
constexpr int captureWaitMs = 150;
// The kernel's timer hands a partly filled block of the ring over on its first or second tick
// after the block was opened, 50 to 100 ms: a reader waits no longer for a frame that has
// arrived, and while the output is slow the 64 blocks of the ring cover over three seconds of
// light traffic.
constexpr unsigned handOverMs = 50;
constexpr int captureTailMs = 2 * handOverMs;
// No record holds more of a frame than this; the stream's header says so.
constexpr uint32_t captureSnapshotLength = 65535;
// Records written in one call at most: two parts each, within the limit of one write's parts.
constexpr unsigned captureBatch = IOV_MAX / 2;

// ---------------------------------------------------------------------------------------------
// Process-wide state: set by the signal handler, only ever raised, polled by every loop.

volatile sig_atomic_t stopped = 0;

extern "C" void stop_capture(int) {
    stopped = 1;
}

/// The process that started the tool, noted before anything else runs, so that a parent that
/// dies before the kernel is asked to report its death is still noticed.
const pid_t launchingParent = getppid();

// ---------------------------------------------------------------------------------------------
// Small wrappers around the system calls.

/// An owned file descriptor, closed when the owner ends; -1 holds nothing.
class Fd {
  public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) reset(std::exchange(other.fd_, -1));
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { reset(); }

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    /// Closes what is held (the result of close is of no use here) and holds `fd` instead.
    void reset(int fd = -1) {
        if (fd_ >= 0) close(fd_);
        fd_ = fd;
    }
    /// Gives up ownership without closing.
    int release() { return std::exchange(fd_, -1); }

  private:
    int fd_ = -1;
};

/// An owned memory mapping, unmapped when the owner ends; empty when the mapping failed.
class Mapping {
  public:
    Mapping() = default;
    Mapping(size_t size, int protection, int flags, int fd = -1) : size_(size) {
        void* at = mmap(nullptr, size, protection, flags, fd, 0);
        if (at != MAP_FAILED) bytes_ = static_cast<unsigned char*>(at);
    }
    Mapping(const Mapping&) = delete;
    Mapping& operator=(const Mapping&) = delete;
    ~Mapping() {
        if (bytes_ != nullptr) munmap(bytes_, size_);
    }

    unsigned char* bytes() const { return bytes_; }
    bool valid() const { return bytes_ != nullptr; }

  private:
    unsigned char* bytes_ = nullptr;
    size_t size_ = 0;
};

/// Writes all `size` bytes, resuming after interruptions and short writes; false on failure.
bool writeAll(int fd, const void* data, size_t size) {
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = write(fd, bytes, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

/// Writes a whole vector of buffers, resuming after interruptions and short writes.
bool writeAllVector(int fd, iovec* parts, int count) {
    while (count > 0) {
        ssize_t n = writev(fd, parts, count);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        size_t done = static_cast<size_t>(n);
        while (count > 0 && done >= parts->iov_len) {
            done -= parts->iov_len;
            ++parts;
            --count;
        }
        if (count > 0) {
            parts->iov_base = static_cast<char*>(parts->iov_base) + done;
            parts->iov_len -= done;
        }
    }
    return true;
}

/// One read, resumed after interruptions: bytes read, 0 at end, -1 on error.
ssize_t readSome(int fd, void* buffer, size_t size) {
    for (;;) {
        ssize_t n = read(fd, buffer, size);
        if (n < 0 && errno == EINTR) continue;
        return n;
    }
}

/// Reads exactly `size` bytes; false at an early end or on an error.
bool readExactly(int fd, void* buffer, size_t size) {
    char* bytes = static_cast<char*>(buffer);
    while (size > 0) {
        ssize_t n = readSome(fd, bytes, size);
        if (n <= 0) return false;
        bytes += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

void writeText(int fd, const char* text) {
    writeAll(fd, text, strlen(text));
}

/// Reports a failed system call the usual way: prefix, ": ", the system's description.
void printSystemError(const char* prefix, int error = errno) {
    char line[512];
    int length = snprintf(line, sizeof line, "%s: %s\n", prefix, strerror(error));
    if (length < 0) return;
    writeAll(STDERR_FILENO, line,
             static_cast<size_t>(length) < sizeof line ? length : sizeof line - 1);
}

/// Fails the run with a fixed sentence on standard error.
int fail(const char* sentence) {
    writeText(STDERR_FILENO, sentence);
    return exitFailure;
}

/// The monotonic clock in seconds; every deadline uses it, so wall-clock changes do not matter.
double now() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

/// Sleeps for `seconds` of the monotonic clock. A signal does not shorten the pause; the loops
/// that call this look at `stopped` right after it, and their pauses are short.
void pauseFor(double seconds) {
    timespec until{};
    clock_gettime(CLOCK_MONOTONIC, &until);
    long long nanoseconds = until.tv_nsec + static_cast<long long>(seconds * 1e9);
    until.tv_sec += static_cast<time_t>(nanoseconds / 1000000000);
    until.tv_nsec = static_cast<long>(nanoseconds % 1000000000);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
}

bool isEqual(const char* a, const char* b) {
    return strcmp(a, b) == 0;
}

/// A decimal whose trailing characters are ignored (0 when there is no number at all).
long leadingDecimal(const char* text) {
    return strtol(text, nullptr, 10);
}

// ---------------------------------------------------------------------------------------------
// Stop signals and the death of the parent.

/// Makes the interrupt and termination signals, and the death of the parent, raise `stopped`.
/// Interrupted system calls are resumed (SA_RESTART), so a stop never tears a record or
/// shortens a write; the bounded waits (poll, pauses, non-blocking waits) still let the loops
/// see the flag within a quarter of a second.
void installStopHandling() {
    struct sigaction action {};
    action.sa_handler = stop_capture;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    // The request only covers deaths after it; a parent that is already gone would never send
    // the signal, and the tool would outlive its host.
    if (getppid() != launchingParent) stopped = 1;
}

// ---------------------------------------------------------------------------------------------
// --version and --process.

/// Prints the version line.
int printVersion() {
    return writeAll(STDOUT_FILENO, versionLine, strlen(versionLine)) ? exitSuccess : exitFailure;
}

/// Reads up to `capacity - 1` bytes of a small file as text; false when it cannot be read.
bool readSmallFile(const char* path, char* buffer, size_t capacity) {
    Fd file(open(path, O_RDONLY | O_CLOEXEC));
    if (!file.valid()) return false;
    size_t used = 0;
    while (used < capacity - 1) {
        ssize_t n = readSome(file.get(), buffer + used, capacity - 1 - used);
        if (n < 0) return false;
        if (n == 0) break;
        used += static_cast<size_t>(n);
    }
    buffer[used] = '\0';
    return true;
}

/// An unsigned decimal that must make up all of `text`.
bool parseWholeUnsigned(const char* text, unsigned long long& value) {
    if (*text < '0' || *text > '9') return false;
    char* end = nullptr;
    errno = 0;
    value = strtoull(text, &end, 10);
    return errno == 0 && *end == '\0';
}

/// The start time (field 22 of the stat file, clock ticks since boot); false when unreadable.
/// The command name (field 2) may hold spaces and parentheses, so the fields are counted from
/// the last ")".
bool readStartTime(const char* statPath, unsigned long long& startTime) {
    char stat[4096];
    if (!readSmallFile(statPath, stat, sizeof stat)) return false;
    char* nameEnd = strrchr(stat, ')');
    if (nameEnd == nullptr) return false;
    char* field = nameEnd + 1;
    if (*field == ' ') ++field;
    for (int number = 3; number < 22; ++number) {
        field = strchr(field, ' ');
        if (field == nullptr) return false;
        ++field;
    }
    char* fieldEnd = strpbrk(field, " \n");
    if (fieldEnd != nullptr) *fieldEnd = '\0';
    return parseWholeUnsigned(field, startTime);
}

/// The real UID, the first number of the "Uid:" line of the status file.
bool readRealUid(const char* statusPath, unsigned long& uid) {
    FILE* status = fopen(statusPath, "re");
    if (status == nullptr) return false;
    char line[4096];
    bool found = false;
    while (!found && fgets(line, sizeof line, status) != nullptr) {
        if (strncmp(line, "Uid:", 4) != 0) continue;
        char* end = nullptr;
        uid = strtoul(line + 4, &end, 10);
        found = end != line + 4;
        break;
    }
    fclose(status);
    return found;
}

/// Prints the identity of one process incarnation: its real UID and its start time.
int printProcessIdentity(const char* pidText) {
    char* end = nullptr;
    errno = 0;
    long pid = strtol(pidText, &end, 10);
    if (end == pidText || *end != '\0' || errno != 0 || pid < 1) return exitBadArguments;

    char directory[80];
    char statPath[100];
    char statusPath[100];
    snprintf(directory, sizeof directory, "/proc/%ld", pid);
    snprintf(statPath, sizeof statPath, "%s/stat", directory);
    snprintf(statusPath, sizeof statusPath, "%s/status", directory);
    struct stat info {};
    if (stat(directory, &info) != 0) {
        printSystemError("process identity");
        return exitFailure;
    }
    unsigned long long started = 0;
    unsigned long uid = 0;
    if (!readStartTime(statPath, started) || !readRealUid(statusPath, uid)) return exitFailure;

    char line[96];
    int length = snprintf(line, sizeof line, "{\"uid\":%lu,\"started\":\"%llu\"}\n", uid, started);
    return writeAll(STDOUT_FILENO, line, static_cast<size_t>(length)) ? exitSuccess : exitFailure;
}

// ---------------------------------------------------------------------------------------------
// App files: the walk below the app directory, never through a symbolic link.

enum class AppCommand { read, list, write };

constexpr int directoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

/// Where a walk ended: the directory that holds the target and the target's name (empty when
/// the path named no component, for a listing of the app directory itself).
struct WalkEnd {
    int status = exitSuccess;  ///< exitSuccess when `directory` and `name` are usable
    Fd directory;
    const char* name = nullptr;
};

/// Whether one component of `path` (from `start`, `length` bytes) is `word`.
bool componentIs(const char* start, size_t length, const char* word) {
    return length == strlen(word) && memcmp(start, word, length) == 0;
}

/// Opens the app directory, checks its owner and walks `relativePath` below it. Every open is
/// relative to the descriptor of the directory above, so the walk cannot leave the app
/// directory or pass a symbolic link, whatever happens in the file system meanwhile. For a
/// listing the last component is opened as a directory too, and `name` stays empty.
WalkEnd walkAppPath(AppCommand command, const char* directoryPath, const char* uidText,
                    char* relativePath) {
    WalkEnd end;
    if (strlen(relativePath) > maxRelativePath || relativePath[0] == '/') {
        end.status = exitBadArguments;
        return end;
    }
    Fd directory(open(directoryPath, directoryFlags));
    if (!directory.valid()) {
        printSystemError("app directory");
        end.status = exitFailure;
        return end;
    }
    const uint32_t uid = static_cast<uint32_t>(strtoul(uidText, nullptr, 10));
    struct stat info {};
    if (fstat(directory.get(), &info) != 0 || static_cast<uint32_t>(info.st_uid) != uid) {
        end.status = fail("App directory UID mismatch\n");
        return end;
    }

    // Split in place into components; ".." anywhere refuses the whole path before any open.
    char* components[maxRelativePath / 2 + 1];
    size_t count = 0;
    for (char* cursor = relativePath; *cursor != '\0';) {
        char* slash = strchr(cursor, '/');
        size_t length = slash != nullptr ? static_cast<size_t>(slash - cursor) : strlen(cursor);
        if (componentIs(cursor, length, "..")) {
            end.status = exitBadArguments;
            return end;
        }
        char* next = slash != nullptr ? slash + 1 : cursor + length;
        if (slash != nullptr) *slash = '\0';
        if (length > 0 && !componentIs(cursor, length, ".")) components[count++] = cursor;
        cursor = next;
    }
    if (count == 0 && command != AppCommand::list) {
        end.status = exitBadArguments;
        return end;
    }

    const size_t directoriesToOpen = command == AppCommand::list ? count : count - 1;
    for (size_t index = 0; index < directoriesToOpen; ++index) {
        Fd next(openat(directory.get(), components[index], directoryFlags));
        if (!next.valid()) {
            printSystemError("app path (symlinks refused)");
            end.status = exitFailure;
            return end;
        }
        directory = std::move(next);
    }
    end.directory = std::move(directory);
    end.name = command == AppCommand::list ? "" : components[count - 1];
    return end;
}

/// Opens a file of the app read-only without following a symbolic link. O_NONBLOCK keeps a
/// named pipe from holding the open forever; it changes nothing for a regular file.
Fd openAppFile(int directory, const char* name, struct stat& info, bool& isRegular) {
    Fd file(openat(directory, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    isRegular = false;
    if (file.valid() && fstat(file.get(), &info) == 0) isRegular = S_ISREG(info.st_mode);
    return file;
}

/// Copies one regular file of the app to standard output, at most 128 MiB of it.
int readAppFile(WalkEnd walk) {
    struct stat info {};
    bool isRegular = false;
    Fd file = openAppFile(walk.directory.get(), walk.name, info, isRegular);
    walk.directory.reset();
    if (!file.valid()) {
        printSystemError("app file");
        return exitFailure;
    }
    if (!isRegular) {
        printSystemError("app file", S_ISDIR(info.st_mode) ? EISDIR : EINVAL);
        return exitFailure;
    }

    char chunk[copyChunk];
    unsigned long long total = 0;
    for (;;) {
        ssize_t n = readSome(file.get(), chunk, sizeof chunk);
        if (n < 0) return exitFailure;
        if (n == 0) return exitSuccess;
        total += static_cast<unsigned long long>(n);
        if (total > maxAppFileRead) return fail("App file limit\n");
        if (!writeAll(STDOUT_FILENO, chunk, static_cast<size_t>(n))) return exitFailure;
    }
}

/// Writes a name so that it cannot break its line: control bytes, DEL and the backslash become
/// "\xNN"; every other byte, UTF-8 included, passes unchanged.
void writeEscapedName(FILE* out, const char* name) {
    for (const unsigned char* byte = reinterpret_cast<const unsigned char*>(name); *byte; ++byte) {
        if (*byte <= 0x1f || *byte == 0x7f || *byte == '\\')
            fprintf(out, "\\x%02x", *byte);
        else
            fputc(*byte, out);
    }
}

/// Lists one directory of the app, a line per entry, at most 10000 entries.
int listAppDirectory(WalkEnd walk) {
    DIR* listing = fdopendir(walk.directory.get());
    if (listing == nullptr) {
        printSystemError("app path (symlinks refused)");
        return exitFailure;
    }
    walk.directory.release();  // now owned by `listing`
    int status = exitSuccess;
    size_t counted = 0;
    for (;;) {
        errno = 0;
        dirent* entry = readdir(listing);
        if (entry == nullptr) {
            // The end of the directory, or an error: a listing cut short is not complete.
            if (errno != 0) status = exitFailure;
            break;
        }
        if (isEqual(entry->d_name, ".") || isEqual(entry->d_name, "..")) continue;
        if (counted == maxDirectoryEntries) {
            fflush(stdout);
            status = fail("Directory entry limit\n");
            break;
        }
        ++counted;
        struct stat info {};
        if (fstatat(dirfd(listing), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
        const char* type = S_ISDIR(info.st_mode)   ? "directory"
                           : S_ISLNK(info.st_mode) ? "symlink"
                                                   : "file";
        printf("%s\t%lld\t", type, static_cast<long long>(info.st_size));
        writeEscapedName(stdout, entry->d_name);
        fputc('\n', stdout);
    }
    closedir(listing);
    // A listing that did not reach the host is not a success.
    if (fflush(stdout) != 0 || ferror(stdout)) status = exitFailure;
    return status;
}

/// A temporary file beside the target, removed again unless it was renamed onto the target.
class TemporaryFile {
  public:
    TemporaryFile(int directory, const char* name) : directory_(directory) {
        snprintf(name_, sizeof name_, "%s", name);
        fd_.reset(
            openat(directory, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        created_ = fd_.valid();
    }
    ~TemporaryFile() { discard(); }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    bool created() const { return created_; }
    /// Closes and removes the file unless it was renamed onto the target.
    void discard() {
        fd_.reset();
        if (created_ && !renamed_) unlinkat(directory_, name_, 0);
        created_ = false;
    }
    int fd() const { return fd_.get(); }
    /// Flushes the content to storage and closes the file; false when either fails.
    bool flushAndClose() {
        bool flushed = fsync(fd_.get()) == 0;
        return close(fd_.release()) == 0 && flushed;
    }
    /// Moves the file onto `target` in one step; from then on it is no longer ours to remove.
    bool renameOnto(const char* target) {
        renamed_ = renameat(directory_, name_, directory_, target) == 0;
        return renamed_;
    }

  private:
    int directory_;
    char name_[80];
    Fd fd_;
    bool created_ = false;
    bool renamed_ = false;
};

/// Reads a label; its length, 0 when the file has none or the file system keeps none, or -1
/// on any other failure (a label too long for the buffer included).
ssize_t readLabel(int fd, char* label) {
    ssize_t length = fgetxattr(fd, labelAttribute, label, maxLabel);
    if (length >= 0) return length;
    return errno == ENODATA || errno == ENOTSUP ? 0 : -1;
}

/// Gives the temporary file the target's security label. A system without labels (neither file
/// has one) has nothing to keep; a label that differs, or is missing on the new file only, is
/// copied; a target without a label whose new file got one cannot be matched and fails.
bool keepLabel(int target, int temporary) {
    char targetLabel[maxLabel];
    char temporaryLabel[maxLabel];
    ssize_t targetLength = readLabel(target, targetLabel);
    ssize_t temporaryLength = readLabel(temporary, temporaryLabel);
    if (targetLength < 0 || temporaryLength < 0) return false;
    if (targetLength == temporaryLength && memcmp(targetLabel, temporaryLabel, targetLength) == 0)
        return true;
    if (targetLength == 0) return false;
    return fsetxattr(temporary, labelAttribute, targetLabel, static_cast<size_t>(targetLength),
                     0) == 0;
}

/// Copies the rest of standard input, the new content, into the temporary file.
bool copyNewContent(int destination) {
    char chunk[copyChunk];
    size_t total = 0;
    for (;;) {
        ssize_t n = readSome(STDIN_FILENO, chunk, sizeof chunk);
        if (n < 0) return false;
        if (n == 0) return true;
        total += static_cast<size_t>(n);
        if (total > maxNewContent) return false;
        if (!writeAll(destination, chunk, static_cast<size_t>(n))) return false;
    }
}

bool sameTime(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

/// Whether the name still holds the very file that was inspected, untouched since.
bool isUnchanged(const struct stat& before, const struct stat& after, size_t expectedSize) {
    return after.st_dev == before.st_dev && after.st_ino == before.st_ino &&
           sameTime(after.st_mtim, before.st_mtim) && sameTime(after.st_ctim, before.st_ctim) &&
           static_cast<unsigned long long>(after.st_size) == expectedSize;
}

/// Replaces one existing regular file atomically, provided it still holds the content the
/// caller saw. Standard input: 4-byte big-endian N, N bytes of expected content, new content.
int writeAppFile(WalkEnd walk) {
    const int directory = walk.directory.get();
    struct stat before {};
    bool isRegular = false;
    Fd target = openAppFile(directory, walk.name, before, isRegular);
    if (!target.valid() || !isRegular) return fail("Existing regular app file required\n");

    unsigned char lengthBytes[4];
    if (!readExactly(STDIN_FILENO, lengthBytes, sizeof lengthBytes)) return exitFailure;
    const size_t expectedSize = (size_t{lengthBytes[0]} << 24) | (size_t{lengthBytes[1]} << 16) |
                                (size_t{lengthBytes[2]} << 8) | size_t{lengthBytes[3]};
    if (expectedSize > maxExpectedContent ||
        static_cast<unsigned long long>(before.st_size) != expectedSize)
        return fail("App file changed since inspection\n");
    char expected[compareChunk];
    char current[compareChunk];
    for (size_t remaining = expectedSize; remaining > 0;) {
        size_t size = remaining < compareChunk ? remaining : compareChunk;
        if (!readExactly(STDIN_FILENO, expected, size) || !readExactly(target.get(), current, size))
            return exitFailure;
        if (memcmp(expected, current, size) != 0)
            return fail("App file changed since inspection\n");
        remaining -= size;
    }

    unsigned long long random = 0;
    {
        Fd source(open("/dev/urandom", O_RDONLY | O_CLOEXEC));
        if (!source.valid() || !readExactly(source.get(), &random, sizeof random))
            return exitFailure;
    }
    char temporaryName[80];
    snprintf(temporaryName, sizeof temporaryName, ".pelko-edit-%d-%llx", static_cast<int>(getpid()),
             random);
    TemporaryFile temporary(directory, temporaryName);
    if (!temporary.created()) return exitFailure;

    bool ok = copyNewContent(temporary.fd());
    ok = ok && fchown(temporary.fd(), before.st_uid, before.st_gid) == 0;
    ok = ok && fchmod(temporary.fd(), before.st_mode & 0777) == 0;
    ok = ok && keepLabel(target.get(), temporary.fd());
    ok = temporary.flushAndClose() && ok;
    struct stat after {};
    ok = ok && fstatat(directory, walk.name, &after, AT_SYMLINK_NOFOLLOW) == 0 &&
         isUnchanged(before, after, expectedSize);
    if (!ok || !temporary.renameOnto(walk.name)) {
        // The host may look at the directory as soon as it reads the message.
        temporary.discard();
        return fail("App file changed, input exceeded its limit, or atomic replacement failed\n");
    }
    fsync(directory);
    const char* done = "App file replaced atomically\n";
    return writeAll(STDOUT_FILENO, done, strlen(done)) ? exitSuccess : exitFailure;
}

/// Walks to the app file or directory named by argv[2..4] and runs `command` on it.
int runAppCommand(AppCommand command, char** argv) {
    WalkEnd walk = walkAppPath(command, argv[2], argv[3], argv[4]);
    if (walk.status != exitSuccess) return walk.status;
    switch (command) {
        case AppCommand::read:
            return readAppFile(std::move(walk));
        case AppCommand::list:
            return listAppDirectory(std::move(walk));
        case AppCommand::write:
            return writeAppFile(std::move(walk));
    }
    return exitFailure;
}

// ---------------------------------------------------------------------------------------------
// Children in a process group of their own: the screen recorder and the supervised program.

/// Starts `path` with `argv` as the leader of a new process group (set on both sides, so the
/// group exists before either side signals it). The child reports a failed exec as the
/// system error with `execPrefix` when there is one, and exits 1. -1 when no child was made.
pid_t startGroupLeader(const char* path, char* const argv[], const char* execPrefix) {
    // Until the exec the child would still run the tool's stop handler, which only sets a
    // flag: a stop sent to the group in that instant would be lost, and the recorder would
    // record on until it is killed. So the stop signals are held across the fork, and the child
    // takes the usual dispositions before it lets them in; they then end it.
    sigset_t stopSignals;
    sigset_t previousMask;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigprocmask(SIG_BLOCK, &stopSignals, &previousMask);
    pid_t child = fork();
    if (child == 0) {
        signal(SIGINT, SIG_DFL);
        signal(SIGTERM, SIG_DFL);
        sigprocmask(SIG_SETMASK, &previousMask, nullptr);
        setpgid(0, 0);
        // The tool ignores SIGPIPE for itself; the child gets the usual disposition back.
        signal(SIGPIPE, SIG_DFL);
        execv(path, argv);
        if (execPrefix != nullptr) printSystemError(execPrefix);
        _exit(exitFailure);
    }
    sigprocmask(SIG_SETMASK, &previousMask, nullptr);
    if (child > 0) setpgid(child, child);
    return child;
}

/// The status a child's end passes on: its exit status, or 1 when a signal killed it.
int passedStatus(int raw) {
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : exitFailure;
}

/// A non-blocking look at the child: 1 ended (`raw` set), 0 still running, -1 the wait failed.
int childEnded(pid_t child, int& raw) {
    pid_t done = waitpid(child, &raw, WNOHANG);
    if (done == child) return 1;
    return done == 0 ? 0 : -1;
}

/// Waits for the child to end, however long that takes (after a kill it is at once).
void waitForChild(pid_t child) {
    int raw = 0;
    while (waitpid(child, &raw, 0) < 0 && errno == EINTR) {
    }
}

/// Records the screen for `seconds` into `outputPath`, then has the recorder finalise the file
/// within 8 seconds. 0 only for a full recording that finalised; otherwise 1 or the recorder's
/// own status when it ended by itself.
int recordScreen(const char* secondsText, const char* outputPath) {
    const long seconds = leadingDecimal(secondsText);
    if (seconds < 1 || seconds > maxRecordSeconds) return exitBadArguments;
    installStopHandling();

    char* const arguments[] = {const_cast<char*>("screenrecord"), const_cast<char*>("--bit-rate"),
                               const_cast<char*>("4000000"), const_cast<char*>(outputPath),
                               nullptr};
    const pid_t recorder = startGroupLeader(recorderPath, arguments, nullptr);
    if (recorder < 0) return exitFailure;

    int raw = 0;
    if (!stopped) {
        const double deadline = now() + static_cast<double>(seconds);
        while (now() < deadline) {
            int ended = childEnded(recorder, raw);
            if (ended > 0) return passedStatus(raw);
            if (ended < 0) return exitFailure;
            pauseFor(recordPoll);
            if (stopped) break;
        }
    }

    // The recorder finishes and closes the video file on the interrupt.
    const bool cutShort = stopped;
    kill(-recorder, SIGINT);
    const double deadline = now() + finalizeWait;
    while (now() < deadline) {
        int ended = childEnded(recorder, raw);
        if (ended > 0)
            return WIFEXITED(raw) && WEXITSTATUS(raw) == 0 && !cutShort ? exitSuccess : exitFailure;
        if (ended < 0) return exitFailure;
        pauseFor(recordPoll);
    }
    kill(-recorder, SIGKILL);
    waitForChild(recorder);
    return fail("Screen recorder did not finalize before its deadline\n");
}

/// Runs argv[2] with the arguments after it for at most 310 seconds and passes its status on;
/// 1 when it had to be ended from outside.
int superviseProgram(char** argv) {
    installStopHandling();
    const pid_t child = startGroupLeader(argv[2], argv + 2, "exec helper");
    if (child < 0) return exitFailure;

    if (!stopped) {
        const double deadline = now() + superviseLimit;
        while (now() < deadline) {
            int raw = 0;
            int ended = childEnded(child, raw);
            if (ended > 0) return passedStatus(raw);
            if (ended < 0) return exitFailure;
            pauseFor(supervisePoll);
            if (stopped) break;
        }
    }
    kill(-child, SIGTERM);
    pauseFor(superviseGrace);
    kill(-child, SIGKILL);
    waitForChild(child);
    return exitFailure;
}

// ---------------------------------------------------------------------------------------------
// Packet capture in the classic capture-file format (microsecond time stamps, native order).

struct CaptureFileHeader {
    uint32_t magic = 0xa1b2c3d4;
    uint16_t majorVersion = 2;
    uint16_t minorVersion = 4;
    int32_t timeZoneCorrection = 0;
    uint32_t timeStampAccuracy = 0;
    uint32_t snapshotLength = captureSnapshotLength;
    uint32_t linkType = 1;  // Ethernet
};
static_assert(sizeof(CaptureFileHeader) == 24);

struct CaptureRecordHeader {
    uint32_t seconds;
    uint32_t microseconds;
    uint32_t capturedLength;
    uint32_t originalLength;
};
static_assert(sizeof(CaptureRecordHeader) == 16);

/// One frame as the kernel handed it over: its bytes and the wall-clock time of its receipt.
struct ReceivedFrame {
    const unsigned char* bytes;
    uint32_t length;
    timeval received;
};

/// The records of one batch of frames, gathered so that the whole batch, each record's header
/// and frame, goes out in one write; and the running total that the budget is checked against.
class RecordBatch {
  public:
    RecordBatch(unsigned long long written, unsigned long long maxBytes)
        : total_(written), maxBytes_(maxBytes) {}

    /// Adds one frame's record; false, adding nothing, when it would pass the budget.
    bool add(const ReceivedFrame& frame) {
        const unsigned long long recordSize = sizeof(CaptureRecordHeader) + frame.length;
        if (total_ + pending_ + recordSize > maxBytes_) return false;
        headers_[count_] = {static_cast<uint32_t>(frame.received.tv_sec),
                            static_cast<uint32_t>(frame.received.tv_usec), frame.length,
                            frame.length};
        parts_[2 * count_] = {&headers_[count_], sizeof(CaptureRecordHeader)};
        parts_[2 * count_ + 1] = {const_cast<unsigned char*>(frame.bytes), frame.length};
        ++count_;
        pending_ += recordSize;
        return true;
    }
    bool full() const { return count_ == capacity; }
    /// Writes the records added since the last write; false when the output failed.
    bool write() {
        const bool ok = count_ == 0 || writeAllVector(STDOUT_FILENO, parts_, 2 * count_);
        if (ok) total_ += pending_;
        count_ = 0;
        pending_ = 0;
        return ok;
    }

    static constexpr unsigned capacity = captureBatch;

  private:
    unsigned long long total_;
    unsigned long long maxBytes_;
    unsigned long long pending_ = 0;
    int count_ = 0;
    CaptureRecordHeader headers_[capacity];
    iovec parts_[2 * capacity];
};

/// The receive ring that the packet socket shares with the tool. The kernel copies each frame,
/// with the time it received it, into the current block of the ring, and hands the block over
/// when it is full or, partly filled, after `handOverMs` or twice that; the tool writes the
/// block's frames and gives the block back. Blocks go round in order on both sides.
class FrameRing {
  public:
    explicit FrameRing(int socket) : socket_(socket), blocks_(configure(socket)) {}

    /// Whether the socket took the ring and it could be mapped.
    bool valid() const { return blocks_.valid(); }

    /// The block the tool reads next, when the kernel has handed it over; null otherwise.
    const tpacket_block_desc* readyBlock() const {
        const auto* block = blockAt(next_);
        return __atomic_load_n(&block->hdr.bh1.block_status, __ATOMIC_ACQUIRE) & TP_STATUS_USER
                   ? block
                   : nullptr;
    }

    /// Gives the block read last back to the kernel, once its frames are written.
    void release() {
        auto* block = blockAt(next_);
        __atomic_store_n(&block->hdr.bh1.block_status, TP_STATUS_KERNEL, __ATOMIC_RELEASE);
        next_ = (next_ + 1) % blockCount;
    }

    enum class Wait { handedOver, quiet, failed };

    /// Waits up to `milliseconds` for the kernel to hand over a block. `quiet` after a time-out
    /// or an interruption; `failed` when the socket reports an error.
    Wait wait(int milliseconds) const {
        pollfd readable{socket_, POLLIN, 0};
        if (poll(&readable, 1, milliseconds) <= 0) return Wait::quiet;
        return readable.revents & (POLLERR | POLLNVAL) ? Wait::failed : Wait::handedOver;
    }

  private:
    // A block holds at least one frame of any size the socket passes on; the ring, 8 MiB,
    // holds tens of thousands of small frames.
    static constexpr unsigned blockSize = 1 << 17;
    static constexpr unsigned blockCount = 64;

    static Mapping configure(int socket) {
        const int version = TPACKET_V3;
        tpacket_req3 request{};
        request.tp_block_size = blockSize;
        request.tp_block_nr = blockCount;
        request.tp_frame_size = blockSize;
        request.tp_frame_nr = blockCount;
        request.tp_retire_blk_tov = handOverMs;
        if (setsockopt(socket, SOL_PACKET, PACKET_VERSION, &version, sizeof version) != 0 ||
            setsockopt(socket, SOL_PACKET, PACKET_RX_RING, &request, sizeof request) != 0)
            return Mapping();
        return Mapping(size_t{blockSize} * blockCount, PROT_READ | PROT_WRITE, MAP_SHARED, socket);
    }

    tpacket_block_desc* blockAt(unsigned index) const {
        return reinterpret_cast<tpacket_block_desc*>(blocks_.bytes() + size_t{index} * blockSize);
    }

    int socket_;
    Mapping blocks_;
    unsigned next_ = 0;
};

/// The frames of one block handed over by the kernel, in the order it received them.
class BlockFrames {
  public:
    explicit BlockFrames(const tpacket_block_desc* block)
        : block_(reinterpret_cast<const unsigned char*>(block)),
          left_(block->hdr.bh1.num_pkts),
          offset_(block->hdr.bh1.offset_to_first_pkt) {}

    /// Takes the next frame into `frame`; false when the block has no more. Frames longer than
    /// the stream's snapshot length are cut to it.
    bool next(ReceivedFrame& frame) {
        if (left_ == 0) return false;
        const auto* header = reinterpret_cast<const tpacket3_hdr*>(block_ + offset_);
        const uint32_t length = header->tp_snaplen;
        frame.bytes = block_ + offset_ + header->tp_mac;
        frame.length = length < captureSnapshotLength ? length : captureSnapshotLength;
        frame.received.tv_sec = header->tp_sec;
        frame.received.tv_usec = header->tp_nsec / 1000;
        offset_ += header->tp_next_offset;
        --left_;
        return true;
    }

  private:
    const unsigned char* block_;
    uint32_t left_;
    size_t offset_;
};

enum class CaptureEnd { notYet, budgetFull, outputFailed, socketFailed };

/// Writes the frames of `block`, the block the kernel handed over next, one write per batch,
/// and gives the block back once they are out. Stops at the first frame that would pass the
/// budget.
CaptureEnd writeBlock(FrameRing& ring, RecordBatch& batch, const tpacket_block_desc* block) {
    BlockFrames frames(block);
    ReceivedFrame frame{};
    bool fits = true;
    while (fits && frames.next(frame)) {
        fits = batch.add(frame);
        if (batch.full() && !batch.write()) return CaptureEnd::outputFailed;
    }
    if (!batch.write()) return CaptureEnd::outputFailed;
    if (!fits) return CaptureEnd::budgetFull;
    ring.release();
    return CaptureEnd::notYet;
}

/// Milliseconds from now until `deadline` (monotonic seconds), at least 1 and at most `limit`.
int millisecondsUntil(double deadline, int limit) {
    const double left = (deadline - now()) * 1000;
    return left >= limit ? limit : left < 1 ? 1 : static_cast<int>(left);
}

/// Writes the frames of every interface to standard output as a capture stream for `seconds`,
/// never more than `maxBytes` in all. 0 when the time ran out or a stop came; 1 when the
/// budget ran out or a socket or output error ended it.
int capturePackets(const char* secondsText, const char* maxBytesText) {
    const long seconds = leadingDecimal(secondsText);
    const unsigned long long maxBytes = strtoull(maxBytesText, nullptr, 10);
    if (seconds < 1 || seconds > maxCaptureSeconds || maxBytes < minCaptureBytes ||
        maxBytes > maxCaptureBytes)
        return exitBadArguments;
    installStopHandling();

    Fd packets(socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, htons(ETH_P_ALL)));
    if (!packets.valid()) {
        printSystemError("packet socket");
        return exitFailure;
    }
    FrameRing ring(packets.get());
    if (!ring.valid()) {
        printSystemError("packet ring");
        return exitFailure;
    }
    const CaptureFileHeader fileHeader;
    if (!writeAll(STDOUT_FILENO, &fileHeader, sizeof fileHeader)) return exitFailure;

    RecordBatch batch(sizeof fileHeader, maxBytes);
    const double deadline = now() + static_cast<double>(seconds);
    // Every block handed over is written before the next wait, and while blocks keep coming
    // there is no wait at all.
    CaptureEnd end = CaptureEnd::notYet;
    while (end == CaptureEnd::notYet && !stopped && now() < deadline) {
        if (const tpacket_block_desc* block = ring.readyBlock())
            end = writeBlock(ring, batch, block);
        else if (ring.wait(millisecondsUntil(deadline, captureWaitMs)) == FrameRing::Wait::failed)
            end = CaptureEnd::socketFailed;
    }
    // The tail: frames that arrived before the end may still be in the block the kernel is
    // filling, which it hands over within its hand-over time if it holds any. The blocks
    // handed over already are written, then the one handed over next.
    const double tailEnd = now() + captureTailMs / 1000.0;
    bool waited = false;
    while (end == CaptureEnd::notYet && now() < tailEnd) {
        if (const tpacket_block_desc* block = ring.readyBlock()) {
            end = writeBlock(ring, batch, block);
            continue;
        }
        if (waited ||
            ring.wait(millisecondsUntil(tailEnd, captureTailMs)) != FrameRing::Wait::handedOver)
            break;
        waited = true;
    }
    if (end == CaptureEnd::budgetFull) writeText(STDERR_FILENO, "capture size limit\n");
    return end == CaptureEnd::notYet ? exitSuccess : exitFailure;
}

// ---------------------------------------------------------------------------------------------
// The command line.

/// Reports a command line that matches no form.
int usageError() {
    writeText(STDERR_FILENO, usageText);
    return exitBadArguments;
}

struct AppCommandName {
    const char* flag;
    AppCommand command;
};
constexpr AppCommandName appCommands[] = {
    {"--app-read", AppCommand::read},
    {"--app-list", AppCommand::list},
    {"--app-write", AppCommand::write},
};

/// Runs the one command that the arguments name and returns the exit status. The order of the
/// checks is part of the contract: any other word with two arguments is a capture's seconds.
int dispatch(int argc, char** argv) {
    if (argc == 3 && isEqual(argv[1], "--process")) return printProcessIdentity(argv[2]);
    if (argc == 2 && isEqual(argv[1], "--version")) return printVersion();
    if (argc < 2) return usageError();
    for (const AppCommandName& app : appCommands) {
        if (!isEqual(argv[1], app.flag)) continue;
        return argc == 5 ? runAppCommand(app.command, argv) : exitBadArguments;
    }
    if (argc == 4) {
        if (isEqual(argv[1], "--record")) return recordScreen(argv[2], argv[3]);
        if (isEqual(argv[1], "--supervise")) return superviseProgram(argv);
        return usageError();
    }
    if (argc >= 3 && isEqual(argv[1], "--supervise")) return superviseProgram(argv);
    if (argc == 3) return capturePackets(argv[1], argv[2]);
    return usageError();
}

}  // namespace
}  // namespace pelko::packets

int main(int argc, char** argv) {
    // A host that stops reading makes writes fail; that is a run-time failure (exit 1), not a
    // death by signal.
    signal(SIGPIPE, SIG_IGN);
    return pelko::packets::dispatch(argc, argv);
}
