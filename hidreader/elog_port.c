/* Platform layer of the log: output mutex, time and process texts. */
#include "elog_internal.h"

#include <pthread.h>
#include <stdio.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

/* Statically initialised so that locking before elog_init is harmless. */
static pthread_mutex_t output_lock = PTHREAD_MUTEX_INITIALIZER;

ElogErrCode elog_port_init(void)
{
    return elog_file_init();
}

void elog_port_deinit(void)
{
    elog_file_deinit();
}

/* Lines go to the log file only, never to the console. */
void elog_port_output(const char *log, size_t size)
{
    elog_file_write(log, size);
}

void elog_port_output_lock(void)
{
    pthread_mutex_lock(&output_lock);
}

void elog_port_output_unlock(void)
{
    pthread_mutex_unlock(&output_lock);
}

const char *elog_port_get_time(void)
{
    static char text[32];
    time_t now = time(NULL);
    struct tm tm;
    if (!localtime_r(&now, &tm) || strftime(text, sizeof(text), "%Y-%m-%d %T", &tm) == 0)
        text[0] = '\0';
    return text;
}

const char *elog_port_get_p_info(void)
{
    static char text[24];
    snprintf(text, sizeof(text), "pid:%04d", (int)getpid());
    return text;
}

const char *elog_port_get_t_info(void)
{
    static char text[32];
    snprintf(text, sizeof(text), "tid:%04ld", (long)syscall(SYS_gettid));
    return text;
}
