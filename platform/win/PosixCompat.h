#pragma once

// The few POSIX names the layers above use for files, errors and Ctrl-C, given their
// Windows meaning. Included before every source of the Windows build (the toolchain's
// -include), so that the same code builds for Linux and Windows without conditionals.

#ifdef _WIN32

#include <direct.h>
#include <errno.h>
#include <fcntl.h>
#include <io.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#ifdef __cplusplus
extern "C" {
#endif

// Descriptors are never inherited by a child (no fork/exec here): these flags have nothing to
// do on Windows. Files are opened in binary mode.
#ifndef O_CLOEXEC
#define O_CLOEXEC 0
#endif

// Like mingw's own ftruncate -> ftruncate64 for 64-bit offsets. (Not in the window's sources:
// Qt's headers refuse a macro of that name, and the window truncates no files.)
#if defined(_FILE_OFFSET_BITS) && _FILE_OFFSET_BITS == 64 && !defined(truncate) && \
    !defined(QT_CORE_LIB)
#define truncate truncate64
#endif

// chmod cannot take the right to read from the file's owner on Windows: as for root on
// Linux, a file's mode never keeps this user from reading it.
static inline unsigned geteuid(void) {
    return 0;
}

static inline int fsync(int fd) {
    return _commit(fd);
}

static inline char* mkdtemp(char* pattern) {
    if (_mktemp_s(pattern, strlen(pattern) + 1) != 0 || _mkdir(pattern) != 0) return NULL;
    return pattern;
}

// Signals Windows never raises (a closed pipe is a failed write there, a closed console
// a console event); sigaction refuses them, so catching them changes nothing.
#ifndef SIGHUP
#define SIGHUP 1
#endif
#ifndef SIGPIPE
#define SIGPIPE 13
#endif

// sigaction over the C runtime's signal(), whose handler is reset on delivery: the installed
// handler goes through a trampoline that installs itself again first. Only SIGINT is used.
typedef int sigset_t;
struct sigaction {
    void (*sa_handler)(int);
    sigset_t sa_mask;
    int sa_flags;
};
static inline int sigemptyset(sigset_t* set) {
    *set = 0;
    return 0;
}
void zembra_sigaction_trampoline(int signalNumber);
int sigaction(int signalNumber, const struct sigaction* action, struct sigaction* previous);

#ifdef __cplusplus
}
#endif

#endif  // _WIN32
