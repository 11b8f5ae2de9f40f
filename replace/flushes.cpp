// The flushes of a group's sources, run beside the batch: a disk that takes several at once
// answers them together, and while they wait the batch reads the next files. A thread is made
// when every one is busy, up to a few, and kept to the batch's end: making one costs more than
// a flush.
#include "replace/replace.h"

HANDLE flushes_done;

constexpr int flush_threads = 8;

static HANDLE threads[flush_threads];
static int thread_count;                                // made so far in this batch
static SRWLOCK lock = SRWLOCK_INIT;                     // guards the four below
static CONDITION_VARIABLE work = CONDITION_VARIABLE_INIT;
static std::vector<Unit*> to_flush;                     // units whose source waits for a thread
static size_t unfinished;                               // flushes asked for and not yet returned
static int idle;                                        // threads waiting for a unit
static bool stopping;                                   // the batch has ended: the threads end

// A unit's source is flushed by one thread, and neither read nor closed by the batch until
// flushes_done says that every flush has returned.
static DWORD WINAPI flush_sources(void*) {
    AcquireSRWLockExclusive(&lock);
    for (;;) {
        idle++;
        while (to_flush.empty() && !stopping) SleepConditionVariableSRW(&work, &lock, INFINITE, 0);
        idle--;
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

// One more thread where every one is busy; called with the lock held.
static void add_thread_if_busy() {
    if (idle > 0 || thread_count == flush_threads) return;
    HANDLE thread = CreateThread(nullptr, 64 * 1024, flush_sources, nullptr, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (thread) threads[thread_count++] = thread;
}

// Where no thread can be made, the flush runs in the batch's own.
void flush_beside(Unit* unit) {
    if (!flushes_done) flushes_done = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    AcquireSRWLockExclusive(&lock);
    add_thread_if_busy();
    bool beside = flushes_done && thread_count > 0;
    if (beside) {
        to_flush.push_back(unit);
        if (unfinished++ == 0) ResetEvent(flushes_done);
    }
    ReleaseSRWLockExclusive(&lock);
    if (beside) WakeConditionVariable(&work);
    else unit->flushed = FlushFileBuffers(unit->source);
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
    if (thread_count > 0) WaitForMultipleObjects(DWORD(thread_count), threads, TRUE, INFINITE);
    for (int i = 0; i < thread_count; i++) CloseHandle(threads[i]);
    thread_count = 0;
    stopping = false;
}
