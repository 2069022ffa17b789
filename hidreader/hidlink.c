/* Reader table, open/close, node address, the exchange and reader commands. */
#include "hidlink_internal.h"

#include <ctype.h>
#include <errno.h>
#include <hidapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "elog_internal.h"

__HVRD_DEVICE g_hid_devices[HV_MAX_DEVICES];
uint8_t g_NAD = NAD_ICCARD;

/* Printed from this hidden copy so that another library's LIB_INFO cannot
 * take the place of ours in the banner. */
static const char lib_banner[] = "libhidlink.so v1.4.5 build (" __DATE__ " " __TIME__ ")";
const char *LIB_INFO = lib_banner;

static bool g_log_init_flag;

#define NAME_MAX_LEN 63

static const uint8_t get_version_cmd[6] = {0x00, 0x19, 0x00, 0x00, 0x00, 0x00};
static const uint8_t get_SN_cmd[6] = {0x00, 0x19, 0x01, 0x01, 0x14, 0x00};
static const uint8_t erase_SN_cmd[6] = {0x00, 0x19, 0x01, 0xEE, 0x02, 0x00};
static const uint8_t set_SN_cmd[6] = {0x00, 0x19, 0x01, 0x02, 0x00, 0x00};
static const uint8_t beep_cmd[6] = {0xB0, 0xF2, 0x00, 0x00, 0x00, 0x00};
static const uint8_t led_control_cmd[6] = {0xB0, 0x17, 0x00, 0x23, 0x00, 0x00};

void hidlink_elog_init(void)
{
    if (g_log_init_flag)
        return;
    g_log_init_flag = true;
    setvbuf(stdout, NULL, _IONBF, 0);
    elog_init();
    elog_set_fmt(ELOG_LVL_ASSERT, ELOG_FMT_ALL);
    for (uint8_t lvl = ELOG_LVL_ERROR; lvl <= ELOG_LVL_DEBUG; lvl++)
        elog_set_fmt(lvl, ELOG_FMT_LVL | ELOG_FMT_TAG | ELOG_FMT_TIME);
    elog_set_fmt(ELOG_LVL_VERBOSE, ELOG_FMT_ALL & ~ELOG_FMT_FUNC);
    elog_set_text_color_enabled(true);
    elog_start();
    elog_set_filter_lvl(ELOG_LVL_ERROR);
    elog_raw("\n%s\n\n", lib_banner);
}

__attribute__((constructor)) void hidlink_init(void)
{
    hidlink_elog_init();
    for (int i = 1; i < HV_MAX_DEVICES; i++)
        memset(&g_hid_devices[i], 0, sizeof(g_hid_devices[i]));
}

/* Open readers are left to the process exit. */
__attribute__((destructor)) void hidlink_fini(void)
{
    if (g_log_init_flag) {
        g_log_init_flag = false;
        elog_stop();
    }
}

/* The slot a handle names, or NULL: only the addresses of slots 1..9 are
 * handles, so a stray pointer is refused instead of dereferenced. */
static phvrd_device_t slot_of(void *handle)
{
    uintptr_t p = (uintptr_t)handle;
    uintptr_t first = (uintptr_t)&g_hid_devices[1];
    uintptr_t last = (uintptr_t)&g_hid_devices[HV_MAX_DEVICES - 1];
    if (!handle || handle == HV_INVALID_HANDLE || p < first || p > last ||
        (p - first) % sizeof(__HVRD_DEVICE) != 0)
        return NULL;
    return (phvrd_device_t)handle;
}

static void clear_slot(phvrd_device_t slot)
{
    slot->is_exist = false;
    slot->is_open = false;
    memset(slot->path, 0, sizeof(slot->path));
    if (slot->dev) {
        hid_close((hid_device *)slot->dev);
        slot->dev = NULL;
    }
}

static bool path_listed(const struct hid_device_info *list, const char *path)
{
    for (; list; list = list->next) {
        if (list->interface_number == HL_INTERFACE && list->path && strcmp(list->path, path) == 0)
            return true;
    }
    return false;
}

static phvrd_device_t slot_with_path(const char *path)
{
    for (int i = 1; i < HV_MAX_DEVICES; i++) {
        if (g_hid_devices[i].is_exist && strcmp(g_hid_devices[i].path, path) == 0)
            return &g_hid_devices[i];
    }
    return NULL;
}

/* Frees the slots of readers that are gone and registers new ones. */
static void enumerate_readers(void)
{
    struct hid_device_info *list = hid_enumerate(HL_VENDOR_ID, HL_PRODUCT_ID);

    for (int i = 1; i < HV_MAX_DEVICES; i++) {
        if (g_hid_devices[i].is_exist && !path_listed(list, g_hid_devices[i].path)) {
            log_i("reader %d gone: %s", i, g_hid_devices[i].path);
            clear_slot(&g_hid_devices[i]);
        }
    }
    for (const struct hid_device_info *e = list; e; e = e->next) {
        if (e->interface_number != HL_INTERFACE || !e->path || slot_with_path(e->path))
            continue;
        /* A cut path would open another device, or none. */
        if (strlen(e->path) >= sizeof(g_hid_devices[0].path)) {
            log_e("reader path too long, ignored: %.127s...", e->path);
            continue;
        }
        for (int i = 1; i < HV_MAX_DEVICES; i++) {
            if (!g_hid_devices[i].is_exist) {
                g_hid_devices[i].is_exist = true;
                memset(g_hid_devices[i].path, 0, sizeof(g_hid_devices[i].path));
                strcpy(g_hid_devices[i].path, e->path);
                break;
            }
        }
    }
    hid_free_enumeration(list);
}

/* Slot number for a name "hid"/"hidN"; -1 when the name is refused. */
static int slot_number(const char *name)
{
    size_t len = strlen(name);
    if (len == 3) {
        for (int i = 1; i < HV_MAX_DEVICES; i++) {
            if (g_hid_devices[i].is_exist)
                return i;
        }
        return 1;
    }
    char lower[NAME_MAX_LEN + 1] = {0};
    for (size_t i = 0; i < len; i++)
        lower[i] = (char)tolower((unsigned char)name[i]);
    char *end;
    errno = 0;
    long n = strtol(lower + 3, &end, 10);
    if (end == lower + 3)
        return 1;
    if (n > HV_MAX_DEVICES - 1 || n <= 0) {
        log_e("END HANDLE = %d", -1);
        return -1;
    }
    return (int)n;
}

void *HV_open(const char *name, uint32_t param1, const char *param2)
{
    (void)param1;
    (void)param2;
    if (!name || (strncmp(name, "hid", 3) != 0 && strncmp(name, "HID", 3) != 0))
        return HV_INVALID_HANDLE;
    if (strnlen(name, NAME_MAX_LEN + 1) > NAME_MAX_LEN) {
        log_e("%s name longer than %d characters", __func__, NAME_MAX_LEN);
        return HV_INVALID_HANDLE;
    }

    enumerate_readers();
    int n = slot_number(name);
    if (n < 0)
        return HV_INVALID_HANDLE;
    phvrd_device_t slot = &g_hid_devices[n];
    if (!slot->is_exist) {
        log_i("%s no reader in slot %d", __func__, n);
        return HV_INVALID_HANDLE;
    }
    /* A slot whose open failed (the reader was held by another program) is
     * tried again, so the reader becomes usable once it is let go; a slot
     * open on a device keeps it. */
    if (!slot->is_open || !slot->dev) {
        slot->is_open = true;
        slot->dev = hid_open_path(slot->path);
        if (!slot->dev)
            log_e("%s cannot open %s", __func__, slot->path);
    }
    log_i("%s END HANDLE = slot %d", __func__, n);
    return slot;
}

uint32_t HV_close(void *handle)
{
    phvrd_device_t slot = slot_of(handle);
    uint32_t sw = HV_SW_BAD_HANDLE;
    if (slot && slot->is_exist && slot->dev) {
        hid_close((hid_device *)slot->dev);
        slot->dev = NULL;
        slot->is_open = false;
        sw = HV_SW_OK;
    }
    log_i("%s END SW = 0x%04X", __func__, sw);
    return sw;
}

void HV_clear(void *handle)
{
    (void)handle;
}

uint32_t HV_get_hid_path(void *handle, uint32_t *lenr, uint8_t *resp)
{
    phvrd_device_t slot = slot_of(handle);
    uint32_t sw;
    if (!slot) {
        sw = HV_SW_BAD_HANDLE;
    } else if (!lenr || !resp) {
        sw = HV_SW_BAD_RESPONSE;
    } else {
        size_t n = strnlen(slot->path, sizeof(slot->path) - 1);
        memcpy(resp, slot->path, n);
        resp[n] = 0;
        *lenr = (uint32_t)n;
        sw = HV_SW_OK;
    }
    log_i("%s END SW = 0x%04X", __func__, sw);
    return sw;
}

/* Appends the UTF-8 form of c if it fits in cap (NUL excluded). */
static size_t put_utf8(uint8_t *out, size_t at, size_t cap, uint32_t c)
{
    uint8_t b[4];
    size_t n;
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        c = 0xFFFD;
    if (c < 0x80) {
        b[0] = (uint8_t)c;
        n = 1;
    } else if (c < 0x800) {
        b[0] = (uint8_t)(0xC0 | (c >> 6));
        b[1] = (uint8_t)(0x80 | (c & 0x3F));
        n = 2;
    } else if (c < 0x10000) {
        b[0] = (uint8_t)(0xE0 | (c >> 12));
        b[1] = (uint8_t)(0x80 | ((c >> 6) & 0x3F));
        b[2] = (uint8_t)(0x80 | (c & 0x3F));
        n = 3;
    } else {
        b[0] = (uint8_t)(0xF0 | (c >> 18));
        b[1] = (uint8_t)(0x80 | ((c >> 12) & 0x3F));
        b[2] = (uint8_t)(0x80 | ((c >> 6) & 0x3F));
        b[3] = (uint8_t)(0x80 | (c & 0x3F));
        n = 4;
    }
    if (at + n > cap)
        return 0;
    memcpy(out + at, b, n);
    return n;
}

#define SERIAL_TEXT_MAX 255

uint32_t HV_get_hid_serial_number(void *handle, uint32_t *lenr, uint8_t *resp)
{
    phvrd_device_t slot = slot_of(handle);
    uint32_t sw;
    wchar_t wide[128];
    if (!slot || !slot->is_exist || !slot->dev) {
        sw = HV_SW_BAD_HANDLE;
    } else if (!lenr || !resp) {
        sw = HV_SW_BAD_RESPONSE;
    } else if (hid_get_serial_number_string((hid_device *)slot->dev, wide, 128) != 0) {
        sw = HV_SW_IO_FAILED;
    } else {
        size_t len = 0;
        wide[127] = L'\0';
        for (size_t i = 0; wide[i]; i++) {
            size_t n = put_utf8(resp, len, SERIAL_TEXT_MAX, (uint32_t)wide[i]);
            if (n == 0)
                break;
            len += n;
        }
        resp[len] = 0;
        *lenr = (uint32_t)len;
        sw = HV_SW_OK;
    }
    log_i("%s END SW = 0x%04X", __func__, sw);
    return sw;
}

void HV_set_nad(void *handle, uint8_t nad)
{
    (void)handle;
    g_NAD = hl_nad_alias(nad);
}

void HV_set_debug_level(debug_level_e level)
{
    if ((unsigned)level > ELOG_LVL_VERBOSE)
        return;
    elog_set_filter_lvl((uint8_t)level);
}

uint32_t hl_exchange(void *handle, uint32_t in_len, const uint8_t *in_data, uint32_t *out_len,
                     uint8_t *out_data, size_t out_cap, int timeout)
{
    phvrd_device_t slot = slot_of(handle);
    if (!slot)
        return HV_SW_BAD_HANDLE;
    void *dev = slot->dev;
    log_d("apdu_exchange ==> HANDLE <0x%08x> NAD <0x%02X>", (unsigned)(uintptr_t)dev, g_NAD);
    if (in_data)
        elog_hexdump("transmit", 16, in_data, in_len);

    int stale = hl_drain_input(dev);
    if (stale > 0)
        log_w("discarded %d stale report(s)", stale);
    if (transmit(dev, g_NAD, in_data, in_len) != 0)
        return HV_SW_IO_FAILED;

    uint8_t buf[HV_MAX_RESPONSE];
    uint32_t len = 0;
    if (receive(dev, g_NAD, buf, &len, timeout) != 0)
        return HV_SW_IO_FAILED;
    elog_hexdump("receive ", 16, buf, len);

    if (len < 2)
        return HV_SW_BAD_RESPONSE;
    uint32_t data_len = len - 2;
    if (data_len > 0 && (!out_data || !out_len))
        return HV_SW_BAD_RESPONSE;
    if (data_len > out_cap) {
        log_e("reply of %u bytes does not fit %zu", data_len, out_cap);
        return HV_SW_BAD_RESPONSE;
    }
    if (out_data && data_len > 0)
        memcpy(out_data, buf, data_len);
    if (out_len)
        *out_len = data_len;
    return ((uint32_t)buf[len - 2] << 8) | buf[len - 1];
}

uint32_t hl_exchange_with_nad(void *handle, uint8_t nad, uint32_t in_len, const uint8_t *in_data,
                              uint32_t *out_len, uint8_t *out_data, size_t out_cap, int timeout)
{
    uint8_t saved = g_NAD;
    HV_set_nad(handle, nad);
    uint32_t sw = hl_exchange(handle, in_len, in_data, out_len, out_data, out_cap, timeout);
    HV_set_nad(handle, saved);
    return sw;
}

uint32_t apdu_exchange(void *handle, uint32_t in_len, const uint8_t *in_data, uint32_t *out_len,
                       uint8_t *out_data, int timeout)
{
    return hl_exchange(handle, in_len, in_data, out_len, out_data, HV_MAX_REPLY_DATA, timeout);
}

uint32_t apdu_exchange_with_nad(void *handle, uint8_t nad, uint32_t in_len, const uint8_t *in_data,
                                uint32_t *out_len, uint8_t *out_data, int timeout)
{
    return hl_exchange_with_nad(handle, nad, in_len, in_data, out_len, out_data,
                                HV_MAX_REPLY_DATA, timeout);
}

int hl_wait_limit(uint32_t seconds)
{
    uint64_t ms = (uint64_t)seconds * 1000u + 500u;
    return ms > 0x7FFFFFFF ? 0x7FFFFFFF : (int)ms;
}

int hl_command_limit(uint8_t nad, uint32_t len, const uint8_t *cmd)
{
    if (!cmd || len < 5)
        return HL_LIMIT_DEFAULT;
    uint8_t t = cmd[3];
    int waits = 0;
    if (nad == NAD_SYSTEM)
        waits = cmd[0] == 0x00 && cmd[1] == 0xF9 && cmd[2] == 0x08; /* keypad */
    else if (nad == NAD_MCARD)
        waits = cmd[0] == 0x00 && cmd[1] == 0x19 && cmd[2] == 0x20; /* stripe trigger */
    else if (nad == NAD_BARCODE)
        waits = (cmd[0] == 0xB0 || cmd[0] == 0x00) && cmd[1] == 0xB0 && cmd[2] == 0x00; /* scan */
    if (!waits)
        return HL_LIMIT_DEFAULT;
    int limit = hl_wait_limit(t);
    return limit > HL_LIMIT_DEFAULT ? limit : HL_LIMIT_DEFAULT;
}

uint32_t ICC_apdu_exchange(void *handle, uint32_t in_len, const uint8_t *in_data, uint32_t *out_len,
                           uint8_t *out_data)
{
    uint32_t sw = apdu_exchange(handle, in_len, in_data, out_len, out_data,
                                hl_command_limit(g_NAD, in_len, in_data));
    log_i("%s END SW = 0x%04X", __func__, sw);
    return sw;
}

uint32_t HV_command_exchange(void *handle, uint32_t in_len, const uint8_t *in_data,
                             uint32_t *out_len, uint8_t *out_data)
{
    uint32_t sw = apdu_exchange(handle, in_len, in_data, out_len, out_data,
                                hl_command_limit(g_NAD, in_len, in_data));
    log_i("%s END SW = 0x%04X", __func__, sw);
    return sw;
}

uint32_t HV_command_exchange_with_nad(void *handle, uint8_t nad, uint32_t in_len,
                                      const uint8_t *in_data, uint32_t *out_len, uint8_t *out_data)
{
    uint32_t sw = apdu_exchange_with_nad(handle, nad, in_len, in_data, out_len, out_data,
                                         hl_command_limit(hl_nad_alias(nad), in_len, in_data));
    log_i("%s END SW = 0x%04X", __func__, sw);
    return sw;
}

uint32_t HV_get_application_version(void *handle, uint32_t *lenr, uint8_t *resp)
{
    uint32_t sw = apdu_exchange_with_nad(handle, NAD_SYSTEM, 5, get_version_cmd, lenr, resp,
                                         HL_LIMIT_DEFAULT);
    log_i("%s END SW = 0x%04X", __func__, sw);
    return sw;
}

uint32_t HV_get_serial_number(void *handle, uint32_t *lenr, uint8_t *resp)
{
    uint32_t sw =
        apdu_exchange_with_nad(handle, NAD_SYSTEM, 5, get_SN_cmd, lenr, resp, HL_LIMIT_DEFAULT);
    log_i("%s END SW = 0x%04X", __func__, sw);
    return sw;
}

#define SERIAL_MAX_LEN (HV_REPORT_SIZE - 5)

uint32_t HV_set_serial_number(void *handle, uint32_t len, const uint8_t *comm)
{
    uint32_t sw;
    if (len > SERIAL_MAX_LEN || (len > 0 && !comm)) {
        log_e("%s serial number of %u bytes refused", __func__, len);
        sw = HV_SW_IO_FAILED;
    } else {
        sw = apdu_exchange_with_nad(handle, NAD_SYSTEM, 5, erase_SN_cmd, NULL, NULL,
                                    HL_LIMIT_DEFAULT);
        if (sw == HV_SW_OK) {
            uint8_t cmd[HV_REPORT_SIZE] = {0};
            uint32_t rlen = 0;
            memcpy(cmd, set_SN_cmd, 5);
            cmd[4] = (uint8_t)len;
            if (len > 0)
                memcpy(cmd + 5, comm, len);
            sw = apdu_exchange_with_nad(handle, NAD_SYSTEM, len + 5, cmd, &rlen, NULL,
                                        HL_LIMIT_DEFAULT);
        }
    }
    log_i("%s END SW = 0x%04X", __func__, sw);
    return sw;
}

void HV_beep(void *handle, uint32_t delta)
{
    uint8_t cmd[5];
    memcpy(cmd, beep_cmd, 5);
    cmd[2] = (uint8_t)(delta >> 8);
    cmd[3] = (uint8_t)delta;
    apdu_exchange_with_nad(handle, NAD_SYSTEM, 5, cmd, NULL, NULL, HL_LIMIT_DEFAULT);
}

void HV_led_control(void *handle, uint8_t data)
{
    uint8_t cmd[6];
    memcpy(cmd, led_control_cmd, 5);
    cmd[5] = data;
    apdu_exchange_with_nad(handle, NAD_SYSTEM, 6, cmd, NULL, NULL, HL_LIMIT_DEFAULT);
}

const char *get_error_message(uint32_t sw)
{
    return sw == 0x6FF0 ? "没有卡片插入" : "未知错误";
}

void HV_format_error_message(uint32_t sw, uint32_t *lenr, uint8_t *resp)
{
    if (!lenr || !resp)
        return;
    const char *text = get_error_message(sw);
    size_t n = strlen(text);
    memcpy(resp, text, n + 1);
    *lenr = (uint32_t)n;
}
