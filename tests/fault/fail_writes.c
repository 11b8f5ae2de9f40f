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
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <unistd.h>

static long long written;  // bytes that reached the file
static int failures;       // writes failed so far

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
    FILE* note = getenv("FAIL_WRITES_NOTE") ? fopen(getenv("FAIL_WRITES_NOTE"), "a") : NULL;
    if (note) fprintf(note, "write of %zu bytes failed\n", n), fclose(note);
    errno = ENOSPC;
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
