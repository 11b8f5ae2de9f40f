// Preloaded into Wine: brinq.exe is killed (SIGKILL) at the n-th event of the kinds asked for,
// as Task Manager, a logoff or a crash would end it at any instant of a replacement.
//   KILL_SOURCES  the Unix folder whose files are sources (any depth)
//   KILL_EVENTS   the kinds that count, comma-separated:
//                   source   a write into a source
//                   temp     a write into the temporary file: the copy, then its record
//                   waiting  a write into a waiting replacement's record
//                   flush    a flush to disk of any of those files
//                   times    the times put back on a source
//   KILL_AT       the event that kills, 1 for the first; 0 only counts
//   KILL_HOW      "before" (the default) or "after" the event; for writes also "half": the
//                 pages of the first half reach the file, as a kill cuts a write between pages
//   KILL_NOTE     a file that gets one line per event counted: its number, kind, bytes, the
//                 process, and the file it touched (source, temp or waiting)
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

static const char temp_name[] = "/xtmp_7x91x4vnq.xxxx";
static const char waiting_name[] = "/xtmp_7x91x4vnq.p";
// brinq.exe flushes its sources on several threads: the events are counted one at a time.
static pthread_mutex_t counting = PTHREAD_MUTEX_INITIALIZER;
static long events;           // events of the asked kinds so far
static __thread int inside;   // the preload's own calls are not events

static int ends_with(const char* text, const char* end) {
    size_t n = strlen(text), m = strlen(end);
    return n >= m && strcmp(text + n - m, end) == 0;
}

static int fd_path(int fd, char* path, size_t size) {
    char link[64];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t n = readlink(link, path, size - 1);
    if (n < 0) return 0;
    path[n] = '\0';
    return 1;
}

// Only brinq.exe itself: Wine's own processes inherit the preload too.
static int in_brinq(void) {
    static int known = -1;
    if (known >= 0) return known;
    char line[4096];
    FILE* f = fopen("/proc/self/cmdline", "rb");
    size_t n = f ? fread(line, 1, sizeof line - 1, f) : 0;
    if (f) fclose(f);
    line[n] = '\0';
    // The arguments are NUL-separated; the program's name is among the first.
    known = 0;
    for (size_t i = 0; i + 9 <= n && !known; i++) known = memcmp(line + i, "brinq.exe", 9) == 0;
    return known;
}

static int asked(const char* kind) {
    const char* kinds = getenv("KILL_EVENTS");
    if (!kinds || !in_brinq()) return 0;
    size_t n = strlen(kind);
    for (const char* p = strstr(kinds, kind); p; p = strstr(p + 1, kind))
        if ((p == kinds || p[-1] == ',') && (p[n] == ',' || p[n] == '\0')) return 1;
    return 0;
}

// Which of the files a replacement touches fd is: source, temp, waiting, or none.
static const char* file_of_fd(int fd) {
    char path[4096];
    const char* sources = getenv("KILL_SOURCES");
    if (!fd_path(fd, path, sizeof path)) return NULL;
    if (ends_with(path, temp_name)) return "temp";
    const char* name = strrchr(path, '/');
    if (name && strncmp(name, waiting_name, strlen(waiting_name)) == 0) return "waiting";
    if (sources && strncmp(path, sources, strlen(sources)) == 0 && path[strlen(sources)] == '/') return "source";
    return NULL;
}

// Whether this event of `kind` on `file` is the one that kills; every event asked for is noted.
static int is_the_one(const char* kind, const char* file, size_t bytes) {
    if (inside || !kind || !file || !asked(kind)) return 0;
    inside = 1;
    pthread_mutex_lock(&counting);
    long event = ++events;
    const char* note = getenv("KILL_NOTE");
    FILE* f = note ? fopen(note, "a") : NULL;
    if (f) fprintf(f, "%ld %s %zu %d %s\n", event, kind, bytes, getpid(), file), fclose(f);
    pthread_mutex_unlock(&counting);
    inside = 0;
    const char* at = getenv("KILL_AT");
    return at && atol(at) == event;
}

static void die(void) { kill(getpid(), SIGKILL); }

static const char* how(void) {
    const char* h = getenv("KILL_HOW");
    return h ? h : "before";
}

static ssize_t written_then_killed(int fd, const void* data, size_t n, off_t at, int positioned,
                                   ssize_t (*plain)(int, const void*, size_t),
                                   ssize_t (*at_offset)(int, const void*, size_t, off_t)) {
    const char* file = file_of_fd(fd);
    int one = is_the_one(file, file, n);
    if (one && strcmp(how(), "before") == 0) die();
    size_t part = n;
    if (one && strcmp(how(), "half") == 0) {
        off_t start = positioned ? at : lseek(fd, 0, SEEK_CUR), end = (start + (off_t)n / 2) & ~(off_t)4095;
        part = end > start ? (size_t)(end - start) : 0;
    }
    ssize_t done = positioned ? at_offset(fd, data, part, at) : plain(fd, data, part);
    if (one) die();
    return done;
}

static ssize_t (*real_write)(int, const void*, size_t);
static ssize_t (*real_pwrite)(int, const void*, size_t, off_t);

static void bind(void) {
    if (!real_write) real_write = (ssize_t (*)(int, const void*, size_t))dlsym(RTLD_NEXT, "write");
    if (!real_pwrite) real_pwrite = (ssize_t (*)(int, const void*, size_t, off_t))dlsym(RTLD_NEXT, "pwrite");
}

ssize_t write(int fd, const void* data, size_t n) {
    bind();
    return written_then_killed(fd, data, n, 0, 0, real_write, real_pwrite);
}

ssize_t pwrite(int fd, const void* data, size_t n, off_t at) {
    bind();
    return written_then_killed(fd, data, n, at, 1, real_write, real_pwrite);
}

ssize_t pwrite64(int fd, const void* data, size_t n, off_t at) { return pwrite(fd, data, n, at); }

// A flush, or the times put back on a source: killed before or after it.
static void at_event(const char* kind, int fd, int done) {
    static __thread int one;  // decided before the event, acted on after it when asked so
    const char* file = file_of_fd(fd);
    if (!file || (strcmp(kind, "times") == 0 && strcmp(file, "source") != 0)) return;
    if (!done) one = is_the_one(kind, file, 0);
    if (one && done == (strcmp(how(), "before") != 0)) die();
}

#define AROUND(kind, fd, call)     \
    at_event(kind, fd, 0);         \
    int result = call;             \
    at_event(kind, fd, 1);         \
    return result;

int futimens(int fd, const struct timespec times[2]) {
    static int (*real)(int, const struct timespec[2]);
    if (!real) real = (int (*)(int, const struct timespec[2]))dlsym(RTLD_NEXT, "futimens");
    AROUND("times", fd, real(fd, times))
}

int utimensat(int dir, const char* path, const struct timespec times[2], int flags) {
    static int (*real)(int, const char*, const struct timespec[2], int);
    if (!real) real = (int (*)(int, const char*, const struct timespec[2], int))dlsym(RTLD_NEXT, "utimensat");
    const void* named = path;  // NULL: the times of the open file dir
    if (named != NULL) return real(dir, path, times, flags);
    AROUND("times", dir, real(dir, path, times, flags))
}

int fsync(int fd) {
    static int (*real)(int);
    if (!real) real = (int (*)(int))dlsym(RTLD_NEXT, "fsync");
    AROUND("flush", fd, real(fd))
}

int fdatasync(int fd) {
    static int (*real)(int);
    if (!real) real = (int (*)(int))dlsym(RTLD_NEXT, "fdatasync");
    AROUND("flush", fd, real(fd))
}
