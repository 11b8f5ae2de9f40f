/* Preloaded into the wine command that starts a program, so that it pays a real disk's flush
 * latency: every fsync and fdatasync of the process waits FLUSH_US microseconds first, then does
 * the real one. With FLUSH_SERIAL=1 the waits take turns, as on a disk that does one flush at a
 * time (SATA, memory cards); without it they overlap, as on an NVMe drive. Each flush appends
 * one line, the process's id, to the file FLUSH_COUNT_FILE names: one write to a file opened for
 * appending is whole however many processes share it, and a line is kept even when a process
 * ends without running its exit handlers. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

static pthread_mutex_t one_at_a_time = PTHREAD_MUTEX_INITIALIZER;

/* A wineserver started by a preloaded wine command would inherit the library; its flushes are
 * none of the program's, so it neither waits nor counts. */
static int in_wineserver(void) {
    return strncmp(program_invocation_short_name, "wineserver", 10) == 0;
}

static void wait_microseconds(long us) {
    struct timespec left = {us / 1000000, us % 1000000 * 1000};
    /* Wine interrupts its threads with signals; a wait cut short goes on for what is left. */
    while (clock_nanosleep(CLOCK_MONOTONIC, 0, &left, &left) == EINTR) continue;
}

static void wait_for_disk(void) {
    const char* us = getenv("FLUSH_US");
    if (!us) return;
    const char* serial = getenv("FLUSH_SERIAL");
    int one_by_one = serial && strcmp(serial, "1") == 0;
    if (one_by_one) pthread_mutex_lock(&one_at_a_time);
    wait_microseconds(atol(us));
    if (one_by_one) pthread_mutex_unlock(&one_at_a_time);
}

static void count_flush(void) {
    const char* path = getenv("FLUSH_COUNT_FILE");
    if (!path) return;
    int file = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (file >= 0) {
        char line[24];
        int length = snprintf(line, sizeof line, "%d\n", (int)getpid());
        write(file, line, (size_t)length);
        close(file);
    }
}

static int slowed(const char* name, int fd) {
    int (*real)(int) = (int (*)(int))dlsym(RTLD_NEXT, name);
    if (!in_wineserver()) {
        wait_for_disk();
        count_flush();
    }
    return real(fd);
}

int fsync(int fd) { return slowed("fsync", fd); }

int fdatasync(int fd) { return slowed("fdatasync", fd); }
