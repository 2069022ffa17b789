/* Resident ID card: the SAM dialogue of the ID-card module and the JSON text. */
#include "hidlink_internal.h"

#include <cJSON.h>
#include <stdlib.h>
#include <string.h>

#include "elog_internal.h"

/* SAM frames: AA AA AA 96 69, length (2, big-endian), command, parameter,
 * XOR checksum of length..parameter; one 00 follows. */
static const uint8_t icc_reset_cmd[6] = {0x00, 0x12, 0x00, 0x00, 0x00, 0x00};
static const uint8_t idcard_sn_template[12] = {0xAA, 0xAA, 0xAA, 0x96, 0x69, 0x00,
                                               0x03, 0x12, 0xFF, 0xEE, 0x00, 0x00};
static const uint8_t idcard_seek_str[12] = {0xAA, 0xAA, 0xAA, 0x96, 0x69, 0x00,
                                            0x03, 0x20, 0x01, 0x22, 0x00, 0x00};
static const uint8_t idcard_select_str[12] = {0xAA, 0xAA, 0xAA, 0x96, 0x69, 0x00,
                                              0x03, 0x20, 0x02, 0x21, 0x00, 0x00};
static const uint8_t idcard_read_str[12] = {0xAA, 0xAA, 0xAA, 0x96, 0x69, 0x00,
                                            0x03, 0x30, 0x01, 0x32, 0x00, 0x00};

#define SAM_FRAME_SENT 11
#define SAM_SW3 9          /* offset of SW3 in a reply frame */
#define SAM_DATA 10        /* offset of the data in a reply frame */
#define REPLY_BUF 4096
#define WORK_BUF 4096

#define SAM_LIMIT_READ 5000

void idcard_cal_checksum(uint8_t *cmd, size_t cmd_len)
{
    if (!cmd || cmd_len < 7)
        return;
    uint8_t x = 0;
    for (size_t i = 5; i <= cmd_len - 2; i++)
        x ^= cmd[i];
    cmd[cmd_len - 1] = x;
}

/* One SAM step: the exchange must succeed and the frame carry sw3. */
static bool sam_step(void *handle, const uint8_t *frame, int limit, uint8_t sw3, uint8_t *reply,
                     uint32_t *len)
{
    *len = 0;
    uint32_t sw = hl_exchange(handle, SAM_FRAME_SENT, frame, len, reply, REPLY_BUF, limit);
    /* A frame too short to hold SW3 fails instead of reading stale bytes. */
    return sw == HV_SW_OK && *len > SAM_SW3 && reply[SAM_SW3] == sw3;
}

uint32_t Idcard_read_information(void *handle, uint32_t *lenr, uint8_t *resp)
{
    if (!lenr || !resp) {
        log_i("%s RET = 0x%04X", __func__, HV_SW_BAD_RESPONSE);
        return HV_SW_BAD_RESPONSE;
    }
    uint8_t reply[REPLY_BUF] = {0};
    uint32_t len = 0;
    uint32_t result = HV_SW_IO_FAILED;
    HV_set_nad(handle, NAD_IDCARD);

    if (hl_exchange(handle, 5, icc_reset_cmd, &len, reply, REPLY_BUF, HL_LIMIT_SHORT) != HV_SW_OK) {
        log_i("%s RET = 0x%04X", __func__, HV_SW_NO_IDCARD_MODULE);
        return HV_SW_NO_IDCARD_MODULE;
    }

    uint8_t sn_frame[12];
    memcpy(sn_frame, idcard_sn_template, sizeof(sn_frame));
    idcard_cal_checksum(sn_frame, SAM_FRAME_SENT);

    if (sam_step(handle, sn_frame, HL_LIMIT_SHORT, 0x90, reply, &len) &&
        sam_step(handle, idcard_seek_str, HL_LIMIT_DEFAULT, 0x9F, reply, &len) &&
        sam_step(handle, idcard_select_str, HL_LIMIT_DEFAULT, 0x90, reply, &len) &&
        sam_step(handle, idcard_read_str, SAM_LIMIT_READ, 0x90, reply, &len) &&
        len > SAM_DATA &&
        Idcard_decode(len - SAM_DATA - 1, reply + SAM_DATA, lenr, resp, HV_IDCARD_JSON_SIZE) == 0) {
        result = HV_SW_OK;
        log_i("%s END SW = 0x%04X", __func__, result);
    } else {
        log_i("%s RET = 0x%04X", __func__, result);
    }
    return result;
}

static const char *const sex_names[] = {"未知", "男", "女", "未说明"};

/* Row n for codes 0..56; codes 97 and 98 use rows 57 and 58. */
static const char *const NationTable[59] = {
    "  ",       "汉族",     "蒙古族",   "回族",     "藏族",     "维吾尔族", "苗族",
    "彝族",     "壮族",     "布依族",   "朝鲜族",   "满族",     "侗族",     "瑶族",
    "白族",     "土家族",   "哈尼族",   "哈萨克族", "傣族",     "黎族",     "傈僳族",
    "佤族",     "畲族",     "高山族",   "拉祜族",   "水族",     "东乡族",   "纳西族",
    "景颇族",   "柯尔克孜族", "土族",   "达斡尔族", "仫佬族",   "羌族",     "布朗族",
    "撒拉族",   "毛难族",   "仡佬族",   "锡伯族",   "阿昌族",   "普米族",   "塔吉克族",
    "怒族",     "乌孜别克族", "俄罗斯族", "鄂温克族", "崩龙族", "保安族",   "裕固族",
    "京族",     "塔塔尔族", "独龙族",   "鄂伦春族", "赫哲族",   "门巴族",   "珞巴族",
    "基诺族",   "其他",     "外国血统中国人士",
};

static const char *sex_name(const char *code)
{
    switch (code[0]) {
    case '0': return sex_names[0];
    case '1': return sex_names[1];
    case '2': return sex_names[2];
    case '9': return sex_names[3];
    default: return "";
    }
}

static const char *nation_name(const char *code)
{
    if (code[0] < '0' || code[0] > '9')
        return "";
    int value = code[0] - '0';
    if (code[1] >= '0' && code[1] <= '9')
        value = value * 10 + (code[1] - '0');
    if (value <= 56)
        return NationTable[value];
    if (value == 97)
        return NationTable[57];
    if (value == 98)
        return NationTable[58];
    return "";
}

enum { F_NAME, F_SEX, F_NATION, F_BIRTH, F_ADDRESS, F_ID, F_DEPT, F_START, F_END, F_COUNT };

static const struct {
    const char *key;
    size_t offset;
    size_t size;
    bool trim;
} fields[F_COUNT] = {
    {"name", 0, 30, true},        {"sex", 30, 2, false},        {"nations", 32, 4, false},
    {"birthday", 36, 16, false},  {"address", 52, 70, true},    {"id_num", 122, 36, false},
    {"department", 158, 30, true}, {"startDate", 188, 16, false}, {"endDate", 204, 16, false},
};

#define FIELD_MAX 70

int Idcard_decode(uint32_t len, const uint8_t *data, uint32_t *lenr, uint8_t *resp,
                  size_t resp_cap)
{
    if (!data || !lenr || !resp)
        return -1;
    size_t text_len = 0, photo_len = 0;
    if (len >= 4) {
        text_len = ((size_t)data[0] << 8) | data[1];
        photo_len = ((size_t)data[2] << 8) | data[3];
    }
    /* Lengths pointing past the reply give empty members. */
    bool text_ok = len >= 4 && 4 + text_len <= len;
    bool photo_ok = text_ok && 4 + text_len + photo_len <= len;
    const uint8_t *text = data + 4;

    cJSON *root = cJSON_CreateObject();
    char *photo = base64_encode(photo_ok ? text + text_len : NULL, photo_ok ? photo_len : 0);
    char *work = malloc(WORK_BUF);
    int rc = -1;
    if (!root || !photo || !work)
        goto out;
    cJSON_AddStringToObject(root, "ImgBase64", photo);

    for (int f = 0; f < F_COUNT; f++) {
        char field[FIELD_MAX + 2];
        const char *value = "";
        /* The field plus a UCS-2 NUL, so the converted text ends with one.
         * The work buffer is cleared per field: a failed conversion must not
         * show the previous field's text. */
        memset(work, 0, WORK_BUF);
        if (text_ok && fields[f].offset + fields[f].size <= text_len) {
            memset(field, 0, sizeof(field));
            memcpy(field, text + fields[f].offset, fields[f].size);
            wstring2string(field, fields[f].size + 2, work, WORK_BUF);
            value = work;
            if (f == F_SEX)
                value = sex_name(work);
            else if (f == F_NATION)
                value = nation_name(work);
            else if (fields[f].trim)
                value = killblank(work);
        }
        if (!cJSON_AddStringToObject(root, fields[f].key, value))
            goto out;
    }

    char *printed = cJSON_PrintUnformatted(root);
    if (printed) {
        size_t n = strlen(printed);
        if (n < resp_cap) {
            memcpy(resp, printed, n + 1);
            *lenr = (uint32_t)n;
            rc = 0;
        }
        cJSON_free(printed);
    }
out:
    cJSON_Delete(root);
    free(photo);
    free(work);
    return rc;
}
