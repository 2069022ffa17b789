// Cost of one driver log line written to its file, and of the cross-process
// lock around it. The library takes its System V semaphore around every
// file write and offers no switch for it (elog_output_lock_enabled turns off
// only the in-process output lock), so the lock's share is measured on its
// own: the same down/up pair (SEM_UNDO) on a private semaphore. A line
// without the lock costs the first figure less the third.
#include <benchmark/benchmark.h>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <unistd.h>

#include <cstdlib>

#include "hidlink.h"

namespace {

void BM_LogLine(benchmark::State &state)
{
    elog_output_lock_enabled(true);
    for (auto _ : state)
        elog_output(ELOG_LVL_ERROR, "bench", "f", "fn", 1, "exchange %d answered %04X in %d ms", 42, 0x9000, 3);
}

void BM_LogLineWithoutOutputLock(benchmark::State &state)
{
    elog_output_lock_enabled(false);
    for (auto _ : state)
        elog_output(ELOG_LVL_ERROR, "bench", "f", "fn", 1, "exchange %d answered %04X in %d ms", 42, 0x9000, 3);
    elog_output_lock_enabled(true);
}

void BM_SemaphorePair(benchmark::State &state)
{
    int id = semget(IPC_PRIVATE, 1, IPC_CREAT | 0600);
    if (id < 0) {
        state.SkipWithError("semget");
        return;
    }
    struct sembuf up0 = {0, 1, 0};
    semop(id, &up0, 1);
    struct sembuf down = {0, -1, SEM_UNDO}, up = {0, 1, SEM_UNDO};
    struct timespec limit = {5, 0};
    for (auto _ : state) {
        semtimedop(id, &down, 1, &limit);
        semop(id, &up, 1);
    }
    semctl(id, 0, IPC_RMID);
}

}  // namespace

BENCHMARK(BM_LogLine)->Unit(benchmark::kNanosecond);
BENCHMARK(BM_LogLineWithoutOutputLock)->Unit(benchmark::kNanosecond);
BENCHMARK(BM_SemaphorePair)->Unit(benchmark::kNanosecond);
BENCHMARK_MAIN();
