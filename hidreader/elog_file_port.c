/* Cross-process lock of the log file: one System V semaphore shared by every
 * process that loads the driver, plus a mutex for the threads of this one. */
#include "elog_internal.h"

#include <errno.h>
#include <pthread.h>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <time.h>
#include <unistd.h>

union semun {
    int val;
    struct semid_ds *buf;
    unsigned short *array;
};

static pthread_mutex_t file_lock = PTHREAD_MUTEX_INITIALIZER;
static int sem_id = -1;
static bool sem_held;

/* A holder that never lets go (stopped or hung process) must not stop our
 * logging for good: after this long we write without the lock. */
#define SEM_WAIT_LIMIT_S 5

ElogErrCode elog_file_port_init(void)
{
    int id = semget(ELOG_SEM_KEY, 1, IPC_CREAT | IPC_EXCL | ELOG_SEM_PERM);
    if (id >= 0) {
        /* The first operation (value 0 -> 1) marks the semaphore ready for the
         * others; it is made without undo so it survives this process. */
        union semun arg = {.val = 0};
        struct sembuf up = {0, 1, 0};
        if (semctl(id, 0, SETVAL, arg) == -1 || semop(id, &up, 1) == -1)
            return ELOG_ERR;
        sem_id = id;
        return ELOG_NO_ERR;
    }
    if (errno != EEXIST)
        return ELOG_ERR;
    id = semget(ELOG_SEM_KEY, 1, ELOG_SEM_PERM);
    if (id < 0)
        return ELOG_ERR;
    for (int i = 0; i < 10; i++) {
        struct semid_ds ds;
        union semun arg = {.buf = &ds};
        if (semctl(id, 0, IPC_STAT, arg) == -1)
            return ELOG_ERR;
        if (ds.sem_otime != 0) {
            sem_id = id;
            return ELOG_NO_ERR;
        }
        usleep(10 * 1000);
    }
    return ELOG_ERR;
}

void elog_file_port_lock(void)
{
    pthread_mutex_lock(&file_lock);
    sem_held = false;
    if (sem_id < 0)
        return;
    struct sembuf down = {0, -1, SEM_UNDO};
    struct timespec limit = {SEM_WAIT_LIMIT_S, 0};
    int rc;
    do {
        rc = semtimedop(sem_id, &down, 1, &limit);
    } while (rc == -1 && errno == EINTR);
    sem_held = (rc == 0);
}

void elog_file_port_unlock(void)
{
    if (sem_held) {
        struct sembuf up = {0, 1, SEM_UNDO};
        while (semop(sem_id, &up, 1) == -1 && errno == EINTR)
            ;
        sem_held = false;
    }
    pthread_mutex_unlock(&file_lock);
}

/* The semaphore is left in the system for the other processes. */
void elog_file_port_deinit(void)
{
    pthread_mutex_lock(&file_lock);
    sem_id = -1;
    pthread_mutex_unlock(&file_lock);
}
