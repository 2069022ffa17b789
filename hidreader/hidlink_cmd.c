/* Card, memory-card, Mifare, magnetic-stripe and barcode commands. */
#include "hidlink_internal.h"

#include <stdio.h>
#include <string.h>

#include "elog_internal.h"

static const uint8_t icc_reset_cmd[6] = {0x00, 0x12, 0x00, 0x00, 0x00, 0x00};
static const uint8_t icc_present_cmd[6] = {0x80, 0x17, 0x00, 0x00, 0x01, 0x00};
static const uint8_t icc_power_off_cmd[6] = {0x00, 0x15, 0x00, 0x00, 0x00, 0x00};
static const uint8_t icc_get_card_type_cmd[6] = {0x00, 0x59, 0x00, 0x00, 0x01, 0x00};
static const uint8_t icc_logic_read_cmd[6] = {0x00, 0xB0, 0x00, 0x00, 0x00, 0x00};
static const uint8_t icc_logic_write_cmd[6] = {0x00, 0xD0, 0x00, 0x00, 0x00, 0x00};
static const uint8_t icc_logic_verify_cmd[6] = {0x00, 0x20, 0x00, 0x00, 0x00, 0x00};
static const uint8_t icc_logic_modify_cmd[6] = {0x00, 0x24, 0x00, 0x00, 0x00, 0x00};
static const uint8_t icc_logic_get_try_time_cmd[6] = {0xB0, 0x17, 0x20, 0x20, 0x01, 0x00};
static const uint8_t mifare_reset_cmd[6] = {0x80, 0x11, 0x09, 0x00, 0x00, 0x00};
static const uint8_t mifare_verify_cmd[6] = {0x80, 0x11, 0x02, 0x00, 0x08, 0x00};
static const uint8_t mifare_read_cmd[6] = {0x80, 0x11, 0x03, 0x00, 0x01, 0x00};
static const uint8_t mifare_write_cmd[6] = {0x80, 0x11, 0x04, 0x00, 0x11, 0x00};
static const uint8_t mifare_init_cmd[6] = {0x80, 0x11, 0x05, 0x00, 0x05, 0x00};
static const uint8_t mifare_increase_cmd[6] = {0x80, 0x11, 0x06, 0x00, 0x05, 0x00};
static const uint8_t mifare_decrease_cmd[6] = {0x80, 0x11, 0x07, 0x00, 0x05, 0x00};
static const uint8_t magcard_set_up_mode_cmd[6] = {0x00, 0x19, 0x06, 0x00, 0x00, 0x00};
static const uint8_t magcard_wait_swip_cmd[6] = {0x00, 0x19, 0x20, 0x00, 0x00, 0x00};
static const uint8_t magcard_get_data_cmd[6] = {0x00, 0xB0, 0x00, 0x00, 0x00, 0x00};
static const uint8_t magcard_clear_data_cmd[6] = {0x00, 0x19, 0x21, 0x00, 0x00, 0x00};
static const uint8_t qrcode_start_read_str[6] = {0x00, 0xB0, 0x00, 0x00, 0x00, 0x00};
static const uint8_t qrcode_set_interval_str[6] = {0xB0, 0xD0, 0x00, 0x00, 0x00, 0x00};

#define MEMCARD_BUF 4096
#define MEMCARD_MAX_DATA (MEMCARD_BUF - 5)
#define INTERVAL_MAX 9999

static uint32_t done(const char *func, uint32_t sw)
{
    log_i("%s END SW = 0x%04X", func, sw);
    return sw;
}

/* Input that cannot be sent as asked: nothing goes out. */
static uint32_t refused(const char *func, const char *why)
{
    log_e("%s refused: %s", func, why);
    return done(func, HV_SW_IO_FAILED);
}

/* The card interfaces: user card, ESAM, TSAM, the contactless antenna
 * (0x15: a contactless card is opened with the same reset) and PSAM 1-4. */
static bool nad_is_card_slot(void)
{
    return g_NAD >= NAD_ICCARD && g_NAD <= NAD_PSAM4;
}

uint32_t ICC_reset(void *handle, uint32_t *lenr, uint8_t *resp)
{
    if (!nad_is_card_slot())
        return done(__func__, HV_SW_BAD_NAD);
    return done(__func__,
                apdu_exchange(handle, 5, icc_reset_cmd, lenr, resp, HL_LIMIT_DEFAULT));
}

uint32_t ICC_present(void *handle)
{
    return done(__func__, apdu_exchange_with_nad(handle, NAD_ICCARD, 5, icc_present_cmd, NULL,
                                                 NULL, HL_LIMIT_DEFAULT));
}

uint32_t ICC_power_off(void *handle)
{
    if (!nad_is_card_slot())
        return done(__func__, HV_SW_BAD_NAD);
    return done(__func__,
                apdu_exchange(handle, 5, icc_power_off_cmd, NULL, NULL, HL_LIMIT_DEFAULT));
}

/* One-byte answers: the first byte of a zeroed reply buffer, so a failed
 * exchange gives 0. */
static uint32_t byte_query(void *handle, const uint8_t *cmd, uint8_t *out)
{
    uint8_t reply[HV_REPORT_SIZE] = {0};
    uint32_t len = 0;
    uint32_t sw = hl_exchange_with_nad(handle, NAD_ICCARD, 5, cmd, &len, reply, sizeof(reply),
                                       HL_LIMIT_DEFAULT);
    if (out)
        *out = reply[0];
    return sw;
}

uint32_t ICC_get_card_type(void *handle, uint8_t *type)
{
    return done(__func__, byte_query(handle, icc_get_card_type_cmd, type));
}

uint32_t ICC_logic_get_try_time(void *handle, uint8_t *trytime)
{
    return done(__func__, byte_query(handle, icc_logic_get_try_time_cmd, trytime));
}

uint32_t ICC_logic_read(void *handle, uint32_t offset, uint32_t lenr, uint8_t *resp)
{
    if (offset > 0xFFFF)
        return refused(__func__, "offset above 0xFFFF");
    uint8_t cmd[5];
    uint32_t len = 0;
    memcpy(cmd, icc_logic_read_cmd, 5);
    cmd[2] = (uint8_t)(offset >> 8);
    cmd[3] = (uint8_t)offset;
    cmd[4] = (uint8_t)lenr;
    return done(__func__, hl_exchange_with_nad(handle, NAD_ICCARD, 5, cmd, &len, resp,
                                               resp ? lenr : 0, HL_LIMIT_DEFAULT));
}

/* Memory-card commands carrying data: header, then the data. */
static uint32_t memcard_send(const char *func, void *handle, const uint8_t *header, uint32_t offset,
                             uint32_t lenw, const uint8_t *data)
{
    if (offset > 0xFFFF)
        return refused(func, "offset above 0xFFFF");
    if (lenw > MEMCARD_MAX_DATA)
        return refused(func, "more than 4091 data bytes");
    if (lenw > 0 && !data)
        return refused(func, "no data");
    uint8_t cmd[MEMCARD_BUF];
    memcpy(cmd, header, 5);
    cmd[2] = (uint8_t)(cmd[2] | (offset >> 8));
    cmd[3] = (uint8_t)(cmd[3] | offset);
    cmd[4] = (uint8_t)lenw;
    if (lenw > 0)
        memcpy(cmd + 5, data, lenw);
    return done(func, apdu_exchange_with_nad(handle, NAD_ICCARD, lenw + 5, cmd, NULL, NULL,
                                             HL_LIMIT_DEFAULT));
}

uint32_t ICC_logic_write(void *handle, uint32_t offset, uint32_t lenw, const uint8_t *data)
{
    return memcard_send(__func__, handle, icc_logic_write_cmd, offset, lenw, data);
}

uint32_t ICC_logic_verify(void *handle, uint32_t lenw, const uint8_t *pin)
{
    return memcard_send(__func__, handle, icc_logic_verify_cmd, 0, lenw, pin);
}

uint32_t ICC_logic_modify(void *handle, uint32_t lenw, const uint8_t *pin)
{
    return memcard_send(__func__, handle, icc_logic_modify_cmd, 0, lenw, pin);
}

uint32_t Mifare1_Reset(void *handle, uint32_t *lenr, uint8_t *resp)
{
    return done(__func__, apdu_exchange_with_nad(handle, NAD_RFID, 5, mifare_reset_cmd, lenr, resp,
                                                 HL_LIMIT_DEFAULT));
}

uint32_t Mifare1_Verify(void *handle, uint8_t BlockNum, bool bKeyType, const uint8_t *uKey)
{
    if (!uKey)
        return refused(__func__, "no key");
    uint8_t cmd[13];
    memcpy(cmd, mifare_verify_cmd, 5);
    cmd[5] = bKeyType ? 0x60 : 0x61;
    cmd[6] = BlockNum;
    memcpy(cmd + 7, uKey, 6);
    return done(__func__, apdu_exchange_with_nad(handle, NAD_RFID, sizeof(cmd), cmd, NULL, NULL,
                                                 HL_LIMIT_DEFAULT));
}

#define MIFARE_BLOCK 16

uint32_t Mifare1_Read(void *handle, uint8_t BlockNum, uint8_t *resp)
{
    uint8_t cmd[6];
    uint32_t len = 0;
    memcpy(cmd, mifare_read_cmd, 5);
    cmd[5] = BlockNum;
    return done(__func__, hl_exchange_with_nad(handle, NAD_RFID, sizeof(cmd), cmd, &len, resp,
                                               MIFARE_BLOCK, HL_LIMIT_DEFAULT));
}

uint32_t Mifare1_Write(void *handle, uint8_t BlockNum, const uint8_t *uData)
{
    if (!uData)
        return refused(__func__, "no data");
    uint8_t cmd[6 + MIFARE_BLOCK];
    memcpy(cmd, mifare_write_cmd, 5);
    cmd[5] = BlockNum;
    memcpy(cmd + 6, uData, MIFARE_BLOCK);
    return done(__func__, apdu_exchange_with_nad(handle, NAD_RFID, sizeof(cmd), cmd, NULL, NULL,
                                                 HL_LIMIT_DEFAULT));
}

static uint32_t mifare_value(void *handle, const uint8_t *header, uint8_t block, uint32_t amount)
{
    uint8_t cmd[10];
    memcpy(cmd, header, 5);
    cmd[5] = block;
    cmd[6] = (uint8_t)amount;
    cmd[7] = (uint8_t)(amount >> 8);
    cmd[8] = (uint8_t)(amount >> 16);
    cmd[9] = (uint8_t)(amount >> 24);
    return apdu_exchange_with_nad(handle, NAD_RFID, sizeof(cmd), cmd, NULL, NULL,
                                  HL_LIMIT_DEFAULT);
}

uint32_t Mifare1_InitAmount(void *handle, uint8_t BlockNum, uint32_t uAmount)
{
    return done(__func__, mifare_value(handle, mifare_init_cmd, BlockNum, uAmount));
}

uint32_t Mifare1_IncreaseAmount(void *handle, uint8_t BlockNum, uint32_t uAmount)
{
    return done(__func__, mifare_value(handle, mifare_increase_cmd, BlockNum, uAmount));
}

uint32_t Mifare1_DecreaseAmount(void *handle, uint8_t BlockNum, uint32_t uAmount)
{
    return done(__func__, mifare_value(handle, mifare_decrease_cmd, BlockNum, uAmount));
}

uint32_t Mifare1_Halt(void *handle)
{
    apdu_exchange_with_nad(handle, NAD_RFID, 5, icc_power_off_cmd, NULL, NULL, HL_LIMIT_SHORT);
    return done(__func__, HV_SW_OK);
}

uint32_t Magcard_start_swip(void *handle, uint32_t timeout)
{
    uint8_t cmd[5];
    memcpy(cmd, magcard_set_up_mode_cmd, 5);
    cmd[3] = 0x01;
    uint32_t sw = apdu_exchange_with_nad(handle, NAD_MCARD, 5, cmd, NULL, NULL, HL_LIMIT_DEFAULT);
    if (sw == HV_SW_OK) {
        memcpy(cmd, magcard_wait_swip_cmd, 5);
        cmd[3] = (uint8_t)timeout;
        sw = apdu_exchange_with_nad(handle, NAD_MCARD, 5, cmd, NULL, NULL, hl_wait_limit(timeout));
    }
    return done(__func__, sw);
}

uint32_t Magcard_get_track_data(void *handle, uint8_t track, uint32_t *lenr, uint8_t *resp)
{
    uint8_t cmd[5];
    memcpy(cmd, magcard_get_data_cmd, 5);
    cmd[2] = track;
    return done(__func__, apdu_exchange_with_nad(handle, NAD_MCARD, 5, cmd, lenr, resp,
                                                 HL_LIMIT_DEFAULT));
}

uint32_t Magcard_clear_data(void *handle)
{
    return done(__func__, apdu_exchange_with_nad(handle, NAD_MCARD, 5, magcard_clear_data_cmd, NULL,
                                                 NULL, HL_LIMIT_DEFAULT));
}

uint32_t Barcode_start_scan(void *handle, uint32_t *lenr, uint8_t *resp, uint32_t timeout)
{
    uint8_t cmd[5];
    memcpy(cmd, qrcode_start_read_str, 5);
    cmd[3] = (uint8_t)timeout;
    return done(__func__, apdu_exchange_with_nad(handle, NAD_BARCODE, 5, cmd, lenr, resp,
                                                 hl_wait_limit(timeout)));
}

uint32_t Barcode_set_interval(void *handle, uint32_t interval)
{
    uint8_t cmd[5 + 15];
    if (interval > INTERVAL_MAX)
        interval = INTERVAL_MAX;
    memcpy(cmd, qrcode_set_interval_str, 5);
    /* 14 characters; snprintf's NUL lands in the spare byte and is not sent. */
    snprintf((char *)cmd + 5, 15, "FP-3N010=%04u;", (unsigned)interval);
    return done(__func__, apdu_exchange_with_nad(handle, NAD_BARCODE, 19, cmd, NULL, NULL,
                                                 HL_LIMIT_SHORT));
}
