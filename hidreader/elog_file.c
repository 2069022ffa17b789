/* The log file: append under the cross-process lock, rotate past max_size. */
#include "elog_internal.h"

#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#define ROTATE_MAX 100 /* bounds the suffix digits of rotated names */

static FILE *fp;
static bool file_init_ok;
static char file_name[PATH_MAX];
static size_t file_max_size = ELOG_FILE_MAX_SIZE;
static int file_max_rotate = ELOG_FILE_MAX_ROTATE;

ElogErrCode elog_file_init(void)
{
    if (file_init_ok)
        return ELOG_NO_ERR;
    /* Without the semaphore the file is still written, only unlocked
     * between processes. */
    (void)elog_file_port_init();
    const char *name = getenv(ELOG_FILE_NAME_ENV);
    if (!name || !*name)
        name = ELOG_FILE_NAME;
    ElogFileCfg cfg = {(char *)name, ELOG_FILE_MAX_SIZE, ELOG_FILE_MAX_ROTATE};
    elog_file_config(&cfg);
    file_init_ok = true;
    return ELOG_NO_ERR;
}

void elog_file_config(ElogFileCfg *cfg)
{
    if (!cfg || !cfg->name || strlen(cfg->name) >= sizeof(file_name) - 8)
        return;
    elog_file_port_lock();
    if (fp) {
        fclose(fp);
        fp = NULL;
    }
    strcpy(file_name, cfg->name);
    file_max_size = cfg->max_size;
    file_max_rotate = cfg->max_rotate < 0 ? 0 : (cfg->max_rotate > ROTATE_MAX ? ROTATE_MAX
                                                                             : cfg->max_rotate);
    fp = fopen(file_name, "a+");
    elog_file_port_unlock();
}

void elog_file_deinit(void)
{
    elog_file_port_lock();
    if (fp) {
        fclose(fp);
        fp = NULL;
    }
    elog_file_port_unlock();
    elog_file_port_deinit();
    file_init_ok = false;
}

/* Another process may have rotated the file since we opened it: our stream
 * then points at name.0 (or a deleted file). Follow the name, or our lines
 * would land in a rotated copy and push the live file out of the set. */
static void follow_name(void)
{
    struct stat by_name, by_fd;
    if (fp && stat(file_name, &by_name) == 0 && fstat(fileno(fp), &by_fd) == 0 &&
        by_name.st_dev == by_fd.st_dev && by_name.st_ino == by_fd.st_ino)
        return;
    if (fp)
        fclose(fp);
    fp = fopen(file_name, "a+");
}

/* Shifts name -> name.0 -> name.1 ... dropping the oldest; true when every
 * rename worked. The stream is reopened on the new, empty file. */
static bool rotate(void)
{
    char newer[PATH_MAX + 16], older[PATH_MAX + 16];
    bool ok = true;

    fclose(fp);
    fp = NULL;
    for (int n = file_max_rotate - 1; n >= 0; n--) {
        snprintf(newer, sizeof(newer), "%s.%d", file_name, n);
        if (n == 0)
            snprintf(older, sizeof(older), "%s", file_name);
        else
            snprintf(older, sizeof(older), "%s.%d", file_name, n - 1);
        if (access(newer, F_OK) == 0)
            remove(newer);
        if (access(older, F_OK) == 0 && rename(older, newer) != 0) {
            ok = false;
            break;
        }
    }
    /* Keeping no copies still bounds the file: start it afresh. */
    fp = fopen(file_name, file_max_rotate == 0 ? "w+" : "a+");
    return ok;
}

void elog_file_write(const char *log, size_t size)
{
    if (!log || size == 0)
        return;
    elog_file_port_lock();
    follow_name();
    if (fp) {
        struct stat st;
        bool ok = true;
        if (fstat(fileno(fp), &st) == 0 && (size_t)st.st_size > file_max_size)
            ok = rotate();
        if (fp && ok) {
            fwrite(log, 1, size, fp);
            fflush(fp);
        }
    }
    elog_file_port_unlock();
}
