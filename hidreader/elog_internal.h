/* Internal state and helpers of the driver log. */
#ifndef HIDLINK_ELOG_INTERNAL_H
#define HIDLINK_ELOG_INTERNAL_H

#include "hidlink.h"

#ifdef __cplusplus
extern "C" {
#endif

#define ELOG_HIDDEN __attribute__((visibility("hidden")))

/* Defaults of the log file; HIDLINK_LOG_FILE overrides the name. */
#define ELOG_FILE_NAME "/tmp/hidlink.log"
#define ELOG_FILE_MAX_SIZE (1024 * 1024)
#define ELOG_FILE_MAX_ROTATE 5
#define ELOG_FILE_NAME_ENV "HIDLINK_LOG_FILE"

/* Key and permissions of the semaphore shared by every process using the log. */
#define ELOG_SEM_KEY 0x19910612
#define ELOG_SEM_PERM 0666

#define ELOG_TAG_PAD 15
#define ELOG_LINE_NUM_MAX_LEN 4

typedef struct {
    uint8_t level;
    char tag[ELOG_FILTER_TAG_MAX_LEN + 1];
    bool tag_use_flag;
} ElogTagLvlFilter;

typedef struct {
    uint8_t level;
    char tag[ELOG_FILTER_TAG_MAX_LEN + 1];
    char keyword[ELOG_FILTER_KW_MAX_LEN + 1];
    ElogTagLvlFilter tag_lvl[ELOG_FILTER_TAG_LVL_MAX_NUM];
} ElogFilter;

typedef struct {
    ElogFilter filter;
    size_t enabled_fmt_set[ELOG_LVL_TOTAL_NUM];
    bool init_ok;
    bool output_enabled;
    bool output_lock_enabled;
    bool output_is_locked_before_enable;
    bool output_is_locked_before_disable;
    bool text_color_enabled;
} EasyLogger;

/* The driver's own lines, tag "hidlink". */
#define HL_LOG_TAG "hidlink"
#define HL_LOG(lvl, ...) elog_output((lvl), HL_LOG_TAG, __FILE__, __func__, __LINE__, __VA_ARGS__)
#define log_a(...) HL_LOG(ELOG_LVL_ASSERT, __VA_ARGS__)
#define log_e(...) HL_LOG(ELOG_LVL_ERROR, __VA_ARGS__)
#define log_w(...) HL_LOG(ELOG_LVL_WARN, __VA_ARGS__)
#define log_i(...) HL_LOG(ELOG_LVL_INFO, __VA_ARGS__)
#define log_d(...) HL_LOG(ELOG_LVL_DEBUG, __VA_ARGS__)
#define log_v(...) HL_LOG(ELOG_LVL_VERBOSE, __VA_ARGS__)

#ifdef __cplusplus
}
#endif

#endif
