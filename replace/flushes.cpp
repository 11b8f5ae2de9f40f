// The flushes of a group's sources, run beside the batch: a disk that takes several at once
// answers them together, and while they wait the batch reads the next files. So does the tag of
// a large copy while the copy is written. A thread is made when every one is busy, up to a few,
// and kept to the batch's end: making one costs more than a flush.
#include "replace/replace.h"

HANDLE flushes_done;

constexpr int flush_threads = 8;

static HANDLE threads[flush_threads];
static int thread_count;                                // made so far in this batch
static SRWLOCK lock = SRWLOCK_INIT;                     // guards the four below
static CONDITION_VARIABLE work = CONDITION_VARIABLE_INIT;
// A unit's source to flush, or its copy, in the WorkBuffer, to tag.
struct Job {
    Unit* unit;
    bool tag;
};

static std::vector<Job> jobs;                           // waiting for a thread
static size_t unfinished;                               // jobs asked for and not yet done
static int idle;                                        // threads waiting for a unit
static bool stopping;                                   // the batch has ended: the threads end

static void run(const Job& job) {
    if (job.tag) job.unit->tagged = tag_copy(&job.unit->record, work_buffer.data);
    else job.unit->flushed = FlushFileBuffers(job.unit->source);
}

// A unit is worked on by one thread, and neither read nor closed by the batch until
// flushes_done says that every job is done.
static DWORD WINAPI work_beside(void*) {
    AcquireSRWLockExclusive(&lock);
    for (;;) {
        idle++;
        while (jobs.empty() && !stopping) SleepConditionVariableSRW(&work, &lock, INFINITE, 0);
        idle--;
        if (jobs.empty()) break;
        Job job = jobs.back();
        jobs.pop_back();
        ReleaseSRWLockExclusive(&lock);
        run(job);
        AcquireSRWLockExclusive(&lock);
        if (--unfinished == 0) SetEvent(flushes_done);
    }
    ReleaseSRWLockExclusive(&lock);
    return 0;
}

// One more thread where every one is busy; called with the lock held.
static void add_thread_if_busy() {
    if (idle > 0 || thread_count == flush_threads) return;
    HANDLE thread =
        CreateThread(nullptr, 64 * 1024, work_beside, nullptr, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (thread) threads[thread_count++] = thread;
}

// Where no thread can be made, the job runs in the batch's own.
static void beside(const Job& job) {
    if (!flushes_done) flushes_done = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    AcquireSRWLockExclusive(&lock);
    add_thread_if_busy();
    bool queued = flushes_done && thread_count > 0;
    if (queued) {
        jobs.push_back(job);
        if (unfinished++ == 0) ResetEvent(flushes_done);
    }
    ReleaseSRWLockExclusive(&lock);
    if (queued) WakeConditionVariable(&work);
    else run(job);
}

void flush_beside(Unit* unit) { beside({unit, false}); }

void tag_beside(Unit* unit) { beside({unit, true}); }

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
