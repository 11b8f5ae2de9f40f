// Preloaded into Wine: a write to one file fails with a full disk as soon as it would take the
// file past FAIL_WRITES_AFTER bytes, as when a disk fills up part-way through copying over a
// source.
//   FAIL_WRITES_PATH   the Unix path of the file
//   FAIL_WRITES_AFTER  bytes that may reach it before the first failure
//   FAIL_WRITES_MODE   "once": later writes go through; "always": every later write fails
//   FAIL_WRITES_NOTE   a file that gets one line per failed write
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

// Whether a write of n bytes to fd goes through.
static int allowed(int fd, size_t n) {
    if (!aims_at_path(fd)) return 1;
    const char* mode = getenv("FAIL_WRITES_MODE");
    int once = mode && strcmp(mode, "once") == 0;
    const char* after = getenv("FAIL_WRITES_AFTER");
    if (failures == 0 ? written + (long long)n <= atoll(after ? after : "0") : once) return 1;
    failures++;
    FILE* note = getenv("FAIL_WRITES_NOTE") ? fopen(getenv("FAIL_WRITES_NOTE"), "a") : NULL;
    if (note) fprintf(note, "write of %zu bytes failed\n", n), fclose(note);
    errno = ENOSPC;
    return 0;
}

ssize_t write(int fd, const void* data, size_t n) {
    static ssize_t (*real)(int, const void*, size_t);
    if (!real) real = (ssize_t (*)(int, const void*, size_t))dlsym(RTLD_NEXT, "write");
    if (!allowed(fd, n)) return -1;
    ssize_t done = real(fd, data, n);
    if (done > 0 && aims_at_path(fd)) written += done;
    return done;
}

ssize_t pwrite(int fd, const void* data, size_t n, off_t at) {
    static ssize_t (*real)(int, const void*, size_t, off_t);
    if (!real) real = (ssize_t (*)(int, const void*, size_t, off_t))dlsym(RTLD_NEXT, "pwrite");
    if (!allowed(fd, n)) return -1;
    ssize_t done = real(fd, data, n, at);
    if (done > 0 && aims_at_path(fd)) written += done;
    return done;
}

ssize_t pwrite64(int fd, const void* data, size_t n, off_t at) { return pwrite(fd, data, n, at); }
