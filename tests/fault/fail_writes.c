// Preloaded into Wine: a write to one file fails with a full disk as soon as it would take the
// file past FAIL_WRITES_AFTER bytes, as when a disk fills up part-way through copying over a
// source: the first failing write still puts the bytes that fit.
//   FAIL_WRITES_PATH   the Unix path of the file
//   FAIL_WRITES_AFTER  bytes that may reach it before the first failure
//   FAIL_WRITES_MODE   "once": the write after the cut one fails too, later ones go through;
//                      "always": every later write fails
//   FAIL_WRITES_NOTE   a file that gets one line per failed write
//   FAIL_WRITES_AT     "tail": a write at an offset past the start (a longer copy's tail at the
//                      source's old end) fails, and every write after it; "start": that one
//                      goes through, and the write at the start fails, and every one after it
//   FAIL_WRITES_SWAP   a file renamed over the path at the first failed write, as an editor's
//                      save puts another file there
//   FAIL_WRITES_TIMES  "1": putting times on the file fails, as a share that refuses them
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

static long long written;  // bytes that reached the file
static int failures;       // writes failed so far

static void note(const char* what, size_t n) {
    FILE* notes = getenv("FAIL_WRITES_NOTE") ? fopen(getenv("FAIL_WRITES_NOTE"), "a") : NULL;
    if (notes) fprintf(notes, what, n), fclose(notes);
}

static int aims_at_path(int fd) {
    const char* path = getenv("FAIL_WRITES_PATH");
    char link[64], target[4096];
    if (!path) return 0;
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t n = readlink(link, target, sizeof target - 1);
    if (n < 0) return 0;
    target[n] = '\0';
    return strcmp(target, path) == 0;
}

// How many of n bytes may reach fd: all, none, or the part that still fits (a disk filling up
// takes the part that fits and reports the short count; the next write fails); -1 for none.
static ssize_t allowed(int fd, size_t n) {
    if (!aims_at_path(fd)) return (ssize_t)n;
    const char* mode = getenv("FAIL_WRITES_MODE");
    int once = mode && strcmp(mode, "once") == 0;
    const char* after = getenv("FAIL_WRITES_AFTER");
    long long limit = atoll(after ? after : "0");
    if (failures == 0 ? written + (long long)n <= limit : once && failures >= 2) return (ssize_t)n;
    failures++;
    note("write of %zu bytes failed\n", n);
    errno = ENOSPC;
    // Swapped at once: the failed write puts nothing, and the file swapped in takes every later
    // write, the program's second try first.
    if (failures == 1 && getenv("FAIL_WRITES_SWAP") && rename(getenv("FAIL_WRITES_SWAP"), getenv("FAIL_WRITES_PATH")) == 0) {
        failures = 2;
        return -1;
    }
    return failures == 1 && written < limit ? (ssize_t)(limit - written) : -1;
}

static int positioned_write_fails(off_t offset) {
    static int past_start;  // the write at a later offset was met
    const char* mode = getenv("FAIL_WRITES_AT");
    if (!mode) return 0;
    if (past_start) return 1;
    if (offset == 0) return 0;
    past_start = 1;
    return strcmp(mode, "tail") == 0;
}

// A write at `at`, or at the file's position for a plain one (at < 0).
static ssize_t write_or_fail(int fd, const void* data, size_t n, off_t at) {
    static ssize_t (*real_write)(int, const void*, size_t);
    static ssize_t (*real_pwrite)(int, const void*, size_t, off_t);
    if (!real_write) real_write = (ssize_t (*)(int, const void*, size_t))dlsym(RTLD_NEXT, "write");
    if (!real_pwrite) real_pwrite = (ssize_t (*)(int, const void*, size_t, off_t))dlsym(RTLD_NEXT, "pwrite");
    if (aims_at_path(fd) && positioned_write_fails(at >= 0 ? at : lseek(fd, 0, SEEK_CUR))) {
        errno = EIO;
        return -1;
    }
    ssize_t room = allowed(fd, n);
    if (room < 0) return -1;
    ssize_t done = at >= 0 ? real_pwrite(fd, data, (size_t)room, at) : real_write(fd, data, (size_t)room);
    if (done > 0 && aims_at_path(fd)) written += done;
    return done;
}

ssize_t write(int fd, const void* data, size_t n) { return write_or_fail(fd, data, n, -1); }

ssize_t pwrite(int fd, const void* data, size_t n, off_t at) { return write_or_fail(fd, data, n, at); }

ssize_t pwrite64(int fd, const void* data, size_t n, off_t at) { return pwrite(fd, data, n, at); }

static int times_refused(int fd) {
    const char* refuse = getenv("FAIL_WRITES_TIMES");
    if (!refuse || strcmp(refuse, "1") != 0 || !aims_at_path(fd)) return 0;
    note("times refused\n", 0);
    errno = EPERM;
    return 1;
}

int futimens(int fd, const struct timespec times[2]) {
    static int (*real)(int, const struct timespec[2]);
    if (!real) real = (int (*)(int, const struct timespec[2]))dlsym(RTLD_NEXT, "futimens");
    return times_refused(fd) ? -1 : real(fd, times);
}

int utimensat(int dir, const char* path, const struct timespec times[2], int flags) {
    static int (*real)(int, const char*, const struct timespec[2], int);
    if (!real) real = (int (*)(int, const char*, const struct timespec[2], int))dlsym(RTLD_NEXT, "utimensat");
    return path == NULL && times_refused(dir) ? -1 : real(dir, path, times, flags);
}
