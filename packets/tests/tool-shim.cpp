// Test hooks preloaded into the tool (LD_PRELOAD) to reach moments that no signal or file
// from outside can hit reliably. Each hook acts only when its variable is set, and otherwise
// passes the call straight to the kernel.
//
// PELKO_SHIM_ORPHAN=<file>: when the tool asks for its parent-death signal, it waits until the
// file exists and then kills its parent, so that the parent is already gone by the time the
// request is made.
// PELKO_SHIM_STOP_BEFORE_EXEC: a child of the tool that is about to start its program sends
// the interrupt signal to the tool and lingers for a second first, so the tool's stop reaches
// the child before its program runs.
// PELKO_SHIM_READDIR_FAILS_AFTER=<n>: reading a directory fails with an I/O error after n
// entries.
// PELKO_SHIM_COUNT_TEMPORARIES=<folder>: before each write to standard error, a line
// "temporary files: N" tells how many ".pelko-edit-" files the folder holds at that moment.
#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" int prctl(int option, ...) {
    va_list arguments;
    va_start(arguments, option);
    unsigned long values[4];
    for (unsigned long& value : values) value = va_arg(arguments, unsigned long);
    va_end(arguments);
    const char* go = option == PR_SET_PDEATHSIG ? getenv("PELKO_SHIM_ORPHAN") : nullptr;
    if (go != nullptr) {
        while (access(go, F_OK) != 0) usleep(1000);
        unsetenv("PELKO_SHIM_ORPHAN");  // the tool's own children are left alone
        const pid_t parent = getppid();
        kill(parent, SIGKILL);
        while (getppid() == parent) usleep(1000);
    }
    return static_cast<int>(syscall(SYS_prctl, option, values[0], values[1], values[2], values[3]));
}

extern "C" int execv(const char* path, char* const argv[]) {
    if (getenv("PELKO_SHIM_STOP_BEFORE_EXEC") != nullptr) {
        kill(getppid(), SIGINT);
        sleep(1);
    }
    return static_cast<int>(syscall(SYS_execve, path, argv, environ));
}

extern "C" dirent* readdir(DIR* listing) {
    static const auto next = reinterpret_cast<dirent* (*)(DIR*)>(dlsym(RTLD_NEXT, "readdir"));
    static long entriesLeft = [] {
        const char* limit = getenv("PELKO_SHIM_READDIR_FAILS_AFTER");
        return limit != nullptr ? atol(limit) : -1;
    }();
    if (entriesLeft == 0) {
        errno = EIO;
        return nullptr;
    }
    if (entriesLeft > 0) --entriesLeft;
    return next(listing);
}

extern "C" ssize_t write(int fd, const void* data, size_t size) {
    const char* folder = fd == STDERR_FILENO ? getenv("PELKO_SHIM_COUNT_TEMPORARIES") : nullptr;
    if (folder != nullptr) {
        int count = 0;
        if (DIR* listing = opendir(folder)) {
            while (dirent* entry = readdir(listing))
                count += strncmp(entry->d_name, ".pelko-edit-", 12) == 0;
            closedir(listing);
        }
        char line[64];
        const int length = snprintf(line, sizeof line, "temporary files: %d\n", count);
        syscall(SYS_write, fd, line, static_cast<size_t>(length));
    }
    return syscall(SYS_write, fd, data, size);
}
