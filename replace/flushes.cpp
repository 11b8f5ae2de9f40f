// The flushes of a group's sources, run beside the batch: a disk that takes several at once
// answers them together, and while they wait the batch reads the next files. The threads are
// made at the first flush of a batch and kept to its end: making one costs more than a flush.
#include "replace/replace.h"

HANDLE flushes_done;

constexpr int flush_threads = 8;

static HANDLE threads[flush_threads];
static SRWLOCK lock = SRWLOCK_INIT;                    // guards the three below
static CONDITION_VARIABLE work = CONDITION_VARIABLE_INIT;
static std::vector<Unit*> to_flush;                     // units whose source waits for a thread
static size_t unfinished;                               // flushes asked for and not yet returned
static bool stopping;                                   // the batch has ended: the threads end

// A unit's source is flushed by one thread, and neither read nor closed by the batch until
// flushes_done says that every flush has returned.
static DWORD WINAPI flush_sources(void*) {
    AcquireSRWLockExclusive(&lock);
    for (;;) {
        while (to_flush.empty() && !stopping) SleepConditionVariableSRW(&work, &lock, INFINITE, 0);
        if (to_flush.empty()) break;
        Unit* unit = to_flush.back();
        to_flush.pop_back();
        ReleaseSRWLockExclusive(&lock);
        bool flushed = FlushFileBuffers(unit->source);
        AcquireSRWLockExclusive(&lock);
        unit->flushed = flushed;
        if (--unfinished == 0) SetEvent(flushes_done);
    }
    ReleaseSRWLockExclusive(&lock);
    return 0;
}

// Where no thread can be made, the flush runs in the batch's own.
static bool start_threads() {
    if (!flushes_done) flushes_done = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    for (HANDLE& thread : threads)
        if (!thread) thread = CreateThread(nullptr, 64 * 1024, flush_sources, nullptr, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    return flushes_done && threads[0];
}

void flush_beside(Unit* unit) {
    if (!start_threads()) {
        unit->flushed = FlushFileBuffers(unit->source);
        return;
    }
    AcquireSRWLockExclusive(&lock);
    to_flush.push_back(unit);
    if (unfinished++ == 0) ResetEvent(flushes_done);
    ReleaseSRWLockExclusive(&lock);
    WakeConditionVariable(&work);
}

void wait_for_flushes_blocking() {
    if (flushes_done) WaitForSingleObject(flushes_done, INFINITE);
}

void stop_flushing() {
    wait_for_flushes_blocking();
    AcquireSRWLockExclusive(&lock);
    stopping = true;
    ReleaseSRWLockExclusive(&lock);
    WakeAllConditionVariable(&work);
    for (HANDLE& thread : threads) {
        if (!thread) continue;
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
        thread = nullptr;
    }
    stopping = false;
}
