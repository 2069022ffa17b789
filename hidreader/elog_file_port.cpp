// Cross-process lock of the log file: one System V semaphore shared by every
// process that loads the driver, plus a mutex for the threads of this one.
#include <sys/ipc.h>
#include <sys/sem.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <mutex>

#include "elog_internal.h"

namespace {

union semun {
  int val;
  struct semid_ds *buf;
  unsigned short *array;
};

// A holder that never lets go (stopped or hung process) must not stop our
// logging for good: after this long we write without the lock.
constexpr time_t kSemWaitLimitS = 5;

// The semaphore outlives every process (it is never removed); this process
// only keeps its id, and whether it holds it now. The system undoes a hold
// of a process that dies (SEM_UNDO). Both are used under g_fileMutex.
std::mutex g_fileMutex;
int g_semId = -1;
bool g_semHeld;

}  // namespace

ElogErrCode elog_file_port_init(void) {
  int id = semget(ELOG_SEM_KEY, 1, IPC_CREAT | IPC_EXCL | ELOG_SEM_PERM);
  if (id >= 0) {
    // The first operation (value 0 -> 1) marks the semaphore ready for the
    // others; it is made without undo so it survives this process.
    semun arg{};
    arg.val = 0;
    sembuf up = {0, 1, 0};
    if (semctl(id, 0, SETVAL, arg) == -1 || semop(id, &up, 1) == -1) return ELOG_ERR;
    g_semId = id;
    return ELOG_NO_ERR;
  }
  if (errno != EEXIST) return ELOG_ERR;
  id = semget(ELOG_SEM_KEY, 1, ELOG_SEM_PERM);
  if (id < 0) return ELOG_ERR;
  for (int i = 0; i < 10; i++) {
    semid_ds ds{};
    semun arg{};
    arg.buf = &ds;
    if (semctl(id, 0, IPC_STAT, arg) == -1) return ELOG_ERR;
    if (ds.sem_otime != 0) {
      g_semId = id;
      return ELOG_NO_ERR;
    }
    usleep(10 * 1000);
  }
  return ELOG_ERR;
}

void elog_file_port_lock(void) {
  g_fileMutex.lock();
  g_semHeld = false;
  if (g_semId < 0) return;
  sembuf down = {0, -1, SEM_UNDO};
  timespec limit = {kSemWaitLimitS, 0};
  int rc;
  do {
    rc = semtimedop(g_semId, &down, 1, &limit);
  } while (rc == -1 && errno == EINTR);
  g_semHeld = rc == 0;
}

void elog_file_port_unlock(void) {
  if (g_semHeld) {
    sembuf up = {0, 1, SEM_UNDO};
    while (semop(g_semId, &up, 1) == -1 && errno == EINTR) {
    }
    g_semHeld = false;
  }
  g_fileMutex.unlock();
}

// The semaphore is left in the system for the other processes.
void elog_file_port_deinit(void) {
  std::lock_guard<std::mutex> lock(g_fileMutex);
  g_semId = -1;
}
