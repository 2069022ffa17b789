/* Levelled line logger: filters, per-level line formats, colours, hex dump. */
#include "elog_internal.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

static EasyLogger elog;
static char log_buf[ELOG_LINE_BUF_SIZE];
static ElogAssertHook assert_hook;

static const char *const level_text[ELOG_LVL_TOTAL_NUM] = {"A/", "E/", "W/", "I/", "D/", "V/"};
static const char *const level_color[ELOG_LVL_TOTAL_NUM] = {"35;22m", "31;22m", "33;22m",
                                                            "36;22m", "32;22m", "34;22m"};
#define CSI_START "\33["
#define CSI_END "\33[0m"

/* A bad argument: report it, then the caller returns without doing its work. */
static void assert_failed(const char *expr, const char *func, long line)
{
    if (assert_hook)
        assert_hook(expr, func, (size_t)line);
    elog_output(ELOG_LVL_ASSERT, "elog", __FILE__, func, line, "(%s) has assert failed at %s:%ld.",
                expr, func, line);
}

/* A level above ELOG_LVL_VERBOSE is refused without any output; the hook
 * still hears about it. */
static bool level_ok(uint8_t level, const char *func, long line)
{
    if (level <= ELOG_LVL_VERBOSE)
        return true;
    if (assert_hook)
        assert_hook("level <= ELOG_LVL_VERBOSE", func, (size_t)line);
    return false;
}

#define ELOG_CHECK(expr)                               \
    do {                                               \
        if (!(expr)) {                                 \
            assert_failed(#expr, __func__, __LINE__);  \
            return;                                    \
        }                                              \
    } while (0)

ElogErrCode elog_init(void)
{
    if (elog.init_ok)
        return ELOG_NO_ERR;
    ElogErrCode result = elog_port_init();
    if (result != ELOG_NO_ERR)
        return result;
    elog_output_lock_enabled(true);
    elog.output_is_locked_before_enable = false;
    elog.output_is_locked_before_disable = false;
    elog_set_text_color_enabled(false);
    elog_set_filter_lvl(ELOG_LVL_VERBOSE);
    memset(elog.filter.tag_lvl, 0, sizeof(elog.filter.tag_lvl));
    elog.init_ok = true;
    return ELOG_NO_ERR;
}

void elog_deinit(void)
{
    if (!elog.init_ok)
        return;
    elog_port_deinit();
    elog.init_ok = false;
}

void elog_start(void)
{
    if (elog.init_ok)
        elog_set_output_enabled(true);
}

void elog_stop(void)
{
    if (elog.init_ok)
        elog_set_output_enabled(false);
}

void elog_set_output_enabled(bool enabled)
{
    __atomic_store_n(&elog.output_enabled, enabled, __ATOMIC_RELAXED);
}

bool elog_get_output_enabled(void)
{
    return __atomic_load_n(&elog.output_enabled, __ATOMIC_RELAXED);
}

void elog_set_text_color_enabled(bool enabled)
{
    elog.text_color_enabled = enabled;
}

bool elog_get_text_color_enabled(void)
{
    return elog.text_color_enabled;
}

void elog_set_fmt(uint8_t level, size_t set)
{
    if (!level_ok(level, __func__, __LINE__))
        return;
    elog.enabled_fmt_set[level] = set;
}

void elog_set_filter(uint8_t level, const char *tag, const char *keyword)
{
    if (!level_ok(level, __func__, __LINE__))
        return;
    elog_set_filter_lvl(level);
    elog_set_filter_tag(tag);
    elog_set_filter_kw(keyword);
}

void elog_set_filter_lvl(uint8_t level)
{
    if (!level_ok(level, __func__, __LINE__))
        return;
    __atomic_store_n(&elog.filter.level, level, __ATOMIC_RELAXED);
}

static void copy_bounded(char *dst, size_t cap, const char *src)
{
    size_t n = src ? strnlen(src, cap - 1) : 0;
    memcpy(dst, src ? src : "", n);
    dst[n] = '\0';
}

void elog_set_filter_tag(const char *tag)
{
    elog_output_lock();
    copy_bounded(elog.filter.tag, sizeof(elog.filter.tag), tag);
    elog_output_unlock();
}

void elog_set_filter_kw(const char *keyword)
{
    elog_output_lock();
    copy_bounded(elog.filter.keyword, sizeof(elog.filter.keyword), keyword);
    elog_output_unlock();
}

void elog_set_filter_tag_lvl(const char *tag, uint8_t level)
{
    ELOG_CHECK(tag != NULL);
    if (!level_ok(level, __func__, __LINE__))
        return;
    elog_output_lock();
    ElogTagLvlFilter *entry = NULL, *free_entry = NULL;
    for (int i = 0; i < ELOG_FILTER_TAG_LVL_MAX_NUM; i++) {
        ElogTagLvlFilter *f = &elog.filter.tag_lvl[i];
        if (f->tag_use_flag && strncmp(f->tag, tag, ELOG_FILTER_TAG_MAX_LEN) == 0) {
            entry = f;
            break;
        }
        if (!f->tag_use_flag && !free_entry)
            free_entry = f;
    }
    if (entry && level == ELOG_LVL_VERBOSE) {
        memset(entry, 0, sizeof(*entry));
    } else if (entry) {
        entry->level = level;
    } else if (level != ELOG_LVL_VERBOSE && free_entry) {
        copy_bounded(free_entry->tag, sizeof(free_entry->tag), tag);
        free_entry->level = level;
        free_entry->tag_use_flag = true;
    }
    elog_output_unlock();
}

/* Caller holds the output lock. */
static uint8_t tag_level(const char *tag)
{
    for (int i = 0; i < ELOG_FILTER_TAG_LVL_MAX_NUM; i++) {
        const ElogTagLvlFilter *f = &elog.filter.tag_lvl[i];
        if (f->tag_use_flag && strncmp(f->tag, tag, ELOG_FILTER_TAG_MAX_LEN) == 0)
            return f->level;
    }
    return ELOG_LVL_VERBOSE;
}

uint8_t elog_get_filter_tag_lvl(const char *tag)
{
    if (!tag)
        return ELOG_LVL_VERBOSE;
    elog_output_lock();
    uint8_t level = tag_level(tag);
    elog_output_unlock();
    return level;
}

/* The lock flags remember a lock taken while locking was switched the other
 * way, so that switching never leaves the mutex held or released twice. */
void elog_output_lock(void)
{
    if (elog.output_lock_enabled) {
        elog_port_output_lock();
        elog.output_is_locked_before_disable = true;
    } else {
        elog.output_is_locked_before_enable = true;
    }
}

void elog_output_unlock(void)
{
    if (elog.output_lock_enabled) {
        elog.output_is_locked_before_disable = false;
        elog_port_output_unlock();
    } else {
        elog.output_is_locked_before_enable = false;
    }
}

void elog_output_lock_enabled(bool enabled)
{
    if (enabled == elog.output_lock_enabled)
        return;
    elog.output_lock_enabled = enabled;
    if (enabled && elog.output_is_locked_before_enable) {
        elog_port_output_lock();
        elog.output_is_locked_before_disable = true;
        elog.output_is_locked_before_enable = false;
    } else if (!enabled && elog.output_is_locked_before_disable) {
        elog.output_is_locked_before_disable = false;
        elog.output_is_locked_before_enable = true;
        elog_port_output_unlock();
    }
}

void elog_assert_set_hook(ElogAssertHook hook)
{
    assert_hook = hook;
}

/* Appends src at *len, never past the line buffer. */
static void put(size_t *len, const char *src)
{
    *len += elog_strcpy(*len, log_buf + *len, src);
}

/* Builds the prefix of one line for level into log_buf; returns its length. */
static size_t build_prefix(uint8_t level, const char *tag, const char *file, const char *func,
                           long line)
{
    size_t fmt = elog.enabled_fmt_set[level];
    size_t len = 0;

    if (elog.text_color_enabled) {
        put(&len, CSI_START);
        put(&len, level_color[level]);
    }
    if (fmt & ELOG_FMT_LVL)
        put(&len, level_text[level]);
    if (fmt & ELOG_FMT_TAG) {
        put(&len, tag);
        for (size_t n = strlen(tag); n < ELOG_TAG_PAD; n++)
            put(&len, " ");
        put(&len, " ");
    }
    if (fmt & (ELOG_FMT_TIME | ELOG_FMT_P_INFO | ELOG_FMT_T_INFO)) {
        bool first = true;
        put(&len, "[");
        if (fmt & ELOG_FMT_TIME) {
            put(&len, elog_port_get_time());
            first = false;
        }
        if (fmt & ELOG_FMT_P_INFO) {
            if (!first)
                put(&len, " ");
            put(&len, elog_port_get_p_info());
            first = false;
        }
        if (fmt & ELOG_FMT_T_INFO) {
            if (!first)
                put(&len, " ");
            put(&len, elog_port_get_t_info());
        }
        put(&len, "] ");
    }
    if (fmt & (ELOG_FMT_DIR | ELOG_FMT_FUNC | ELOG_FMT_LINE)) {
        put(&len, "(");
        if (fmt & ELOG_FMT_DIR)
            put(&len, file ? file : "");
        if (fmt & ELOG_FMT_FUNC)
            put(&len, ":");
        else if (fmt & ELOG_FMT_LINE)
            put(&len, " ");
        if (fmt & ELOG_FMT_LINE) {
            char num[ELOG_LINE_NUM_MAX_LEN + 1];
            snprintf(num, sizeof(num), "%ld", line);
            put(&len, num);
        }
        if (fmt & ELOG_FMT_FUNC) {
            put(&len, " ");
            put(&len, func ? func : "");
        }
        put(&len, ")");
    }
    return len;
}

void elog_output(uint8_t level, const char *tag, const char *file, const char *func, long line,
                 const char *format, ...)
{
    if (!level_ok(level, __func__, __LINE__))
        return;
    ELOG_CHECK(tag != NULL && format != NULL);
    /* Cheap early exit for the common case of a filtered-out line. */
    if (!elog_get_output_enabled() || level > __atomic_load_n(&elog.filter.level, __ATOMIC_RELAXED))
        return;

    elog_output_lock();
    if (level > elog.filter.level || level > tag_level(tag) || !strstr(tag, elog.filter.tag)) {
        elog_output_unlock();
        return;
    }
    size_t tail = (elog.text_color_enabled ? strlen(CSI_END) : 0) + 1;
    size_t limit = ELOG_LINE_BUF_SIZE - tail; /* room for message; the tail always fits */
    size_t len = build_prefix(level, tag, file, func, line);
    if (len > limit)
        len = limit;

    va_list args;
    va_start(args, format);
    int n = vsnprintf(log_buf + len, limit - len + 1, format, args);
    va_end(args);
    if (n > 0)
        len += ((size_t)n > limit - len) ? limit - len : (size_t)n;
    log_buf[len] = '\0';

    if (elog.filter.keyword[0] && !strstr(log_buf, elog.filter.keyword)) {
        elog_output_unlock();
        return;
    }
    if (elog.text_color_enabled) {
        memcpy(log_buf + len, CSI_END, strlen(CSI_END));
        len += strlen(CSI_END);
    }
    log_buf[len++] = '\n';
    elog_port_output(log_buf, len);
    elog_output_unlock();
}

void elog_raw(const char *format, ...)
{
    ELOG_CHECK(format != NULL);
    if (!elog_get_output_enabled())
        return;
    elog_output_lock();
    va_list args;
    va_start(args, format);
    int n = vsnprintf(log_buf, sizeof(log_buf), format, args);
    va_end(args);
    if (n > 0) {
        size_t len = (size_t)n < sizeof(log_buf) ? (size_t)n : sizeof(log_buf) - 1;
        elog_port_output(log_buf, len);
    }
    elog_output_unlock();
}

void elog_hexdump(const char *name, uint8_t width, const void *buf, size_t size)
{
    ELOG_CHECK(name != NULL && width > 0 && (buf != NULL || size == 0));
    if (!elog_get_output_enabled() ||
        __atomic_load_n(&elog.filter.level, __ATOMIC_RELAXED) < ELOG_LVL_DEBUG)
        return;

    const uint8_t *bytes = buf;
    elog_output_lock();
    if (elog.filter.level < ELOG_LVL_DEBUG || !strstr(name, elog.filter.tag)) {
        elog_output_unlock();
        return;
    }
    for (size_t i = 0; i < size; i += width) {
        char piece[32];
        size_t len = 0;
        snprintf(piece, sizeof(piece), ": %04zX-%04zX: ", i, i + width - 1);
        put(&len, "D/HEX ");
        put(&len, name);
        put(&len, piece);
        for (size_t j = 0; j < width; j++) {
            if (i + j < size) {
                snprintf(piece, sizeof(piece), "%02X ", bytes[i + j]);
                put(&len, piece);
            } else {
                put(&len, "   ");
            }
            if ((j + 1) % 8 == 0)
                put(&len, " ");
        }
        put(&len, "  ");
        for (size_t j = 0; j < width && i + j < size; j++) {
            uint8_t c = bytes[i + j];
            piece[0] = (c >= 0x20 && c <= 0x7E) ? (char)c : '.';
            piece[1] = '\0';
            put(&len, piece);
        }
        if (len > ELOG_LINE_BUF_SIZE - 1)
            len = ELOG_LINE_BUF_SIZE - 1;
        log_buf[len++] = '\n';
        elog_port_output(log_buf, len);
    }
    elog_output_unlock();
}

int8_t elog_find_lvl(const char *log)
{
    if (!log)
        return -1;
    if (strncmp(log, CSI_START, strlen(CSI_START)) == 0) {
        const char *m = strchr(log, 'm');
        if (!m)
            return -1;
        log = m + 1;
    }
    for (int8_t lvl = 0; lvl < ELOG_LVL_TOTAL_NUM; lvl++) {
        if (strncmp(log, level_text[lvl], 2) == 0)
            return lvl;
    }
    return -1;
}

const char *elog_find_tag(const char *log, uint8_t lvl, size_t *tag_len)
{
    if (!log || !tag_len || lvl > ELOG_LVL_VERBOSE || elog_find_lvl(log) != (int8_t)lvl)
        return NULL;
    const char *tag = strstr(log, level_text[lvl]) + 2;
    size_t n = strcspn(tag, " \n");
    if (n == 0)
        return NULL;
    *tag_len = n;
    return tag;
}

size_t elog_strcpy(size_t cur_len, char *dst, const char *src)
{
    if (!dst || !src)
        return 0;
    size_t n = 0;
    while (src[n] && cur_len + n < ELOG_LINE_BUF_SIZE) {
        dst[n] = src[n];
        n++;
    }
    return n;
}

size_t elog_cpyln(char *line, const char *log, size_t len)
{
    if (!line || !log)
        return 0;
    size_t n = 0;
    while (n < len && log[n] != '\n') {
        line[n] = log[n];
        n++;
    }
    return n;
}

void *elog_memcpy(void *dst, const void *src, size_t count)
{
    if (!dst || !src)
        return dst;
    return memcpy(dst, src, count);
}
