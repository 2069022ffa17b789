/*
 * payterm.h - libpayterm: serial terminal readers.
 *
 * Conventions
 * - Port descriptor: every reader function takes the int returned by an open
 *   function (dc_init, dc_init_name, IC_InitComm, ...) first.
 * - Results: 0 (or a length where stated) for success, a negative code for
 *   failure. dc_ codes: -1 reader status nonzero, -16 framing/unexpected
 *   reply or block, -48 bad APDU or frame size, -49 bad stuffing/trailer/check
 *   (a NAK was sent for a bad check), -64 read failed or timed out, -65 write
 *   failed, -81 T=1 LRC wrong. IC_ codes: -1 write/line failure or wrong
 *   status answer, -b nonzero answer byte or status b (-1..-255), -16
 *   auxiliary port already open, -128 no answer, -131 wrong check or LRC,
 *   -135 bad APDU or card type, -136 contactless exchange failed.
 *   SDANDC: -1 or -status; T10N: -1..-4.
 * - PAYTERM_E_NOT_SUPPORTED is returned by exports whose reader protocol
 *   this library does not know; they touch no argument and send nothing.
 * - Buffers are owned by the caller. A reply buffer documented as "255"
 *   must hold 255 bytes (the largest data field of a dc_/IC_ frame);
 *   chained contactless responses need PAYTERM_PRO_RESP_MAX bytes.
 * - Multi-byte numbers inside frames (times, addresses, values, serial
 *   numbers) travel low byte first.
 * - Threads: protocol state (sequence number, T=1 and contactless block
 *   numbers, auxiliary-terminal mode) is process-wide and unguarded; use
 *   one port from one thread at a time.
 * - Symbols: dc_, IC_ and link helpers are exported under C++ (decorated)
 *   names; the SDANDC and T10N device operations and Dc_WriteDev under
 *   plain C names.
 */
#ifndef PAYTERM_H
#define PAYTERM_H

#define PAYTERM_API __attribute__((visibility("default")))

#define PAYTERM_E_NOT_SUPPORTED (-1000)
#define PAYTERM_PRO_RESP_MAX 1024

/* ------------------------------------------------------------------ */
/* Port handling                                                        */
/* ------------------------------------------------------------------ */

/* Opens a terminal device and sets its line (dc_ baud table: 19200, 38400,
 * 57600, 115200, else 9600). dataBits 7 or 8, parity 'E'/'O'/other none,
 * stopBits 2 or 1. With vmin and vtime both below 65535 the line is raw
 * (values above 255 are clamped). Returns the descriptor or -1. */
PAYTERM_API int asyn_open(const char* path, long baud, int dataBits, int parity,
                          int stopBits, int vmin, int vtime);

/* Port 1..9 opens /dev/ttyS1../dev/ttyS9, any other /dev/ttyS0; 8N1; then
 * asks the version up to three times. Descriptor, -1 open failed, -16 no
 * reader answered. */
PAYTERM_API int dc_init(int port, long baud);
PAYTERM_API int dc_init_name(const char* path, long baud);
PAYTERM_API int dc_exit(int icdev);

/* Opens path at 9600 8N1 and flushes it. When path is not a terminal it is
 * read as a terminal definition file and the auxiliary port of the
 * terminal on standard output is opened instead (-1 not usable, -16 one is
 * already open). */
PAYTERM_API int IC_InitComm(const char* path);
/* Closes; in auxiliary-terminal mode writes CLOSE first. */
PAYTERM_API int IC_ExitComm(int icdev);
/* port 0: //dev//tty1a, 1: //dev//tty2a, 200: auxiliary-terminal mode with
 * the given sequences (OPEN = open1 open3 open2 open4); others -1. */
PAYTERM_API int IC_InitComm_Para(int port, const char* open1, const char* open2,
                                 const char* close, const char* wrBegin,
                                 const char* wrEnd, const char* open3, char prefix,
                                 char suffix, const char* open4);

/* ------------------------------------------------------------------ */
/* dc_ framing                                                           */
/* ------------------------------------------------------------------ */

/* Sends one frame (STX/DLE handshake, stuffed body, DLE ETX). 0 or code. */
PAYTERM_API int send_cmd(int icdev, unsigned char cmd, unsigned char len,
                         const unsigned char* data);
/* Receives one reply; out (255) gets the data. 0 or code. */
PAYTERM_API int receive_cmd(int icdev, unsigned char* out);

/* ------------------------------------------------------------------ */
/* dc_ commands. Reply buffers marked (255) must hold 255 bytes; rlen     */
/* receives the reply data length.                                       */
/* ------------------------------------------------------------------ */

/* High-level Mifare commands: request bytes as the reader takes them
 * (10, 10, 22, 6, 10 and 7 bytes); reply (255). */
PAYTERM_API int dc_HL_decrement(int icdev, const unsigned char* req10, unsigned char* rlen, unsigned char* reply);
PAYTERM_API int dc_HL_increment(int icdev, const unsigned char* req10, unsigned char* rlen, unsigned char* reply);
PAYTERM_API int dc_HL_write(int icdev, const unsigned char* req22, unsigned char* rlen, unsigned char* reply);
PAYTERM_API int dc_HL_read(int icdev, const unsigned char* req6, unsigned char* rlen, unsigned char* reply);
PAYTERM_API int dc_HL_initval(int icdev, const unsigned char* req10, unsigned char* rlen, unsigned char* reply);
PAYTERM_API int dc_HL_authentication(int icdev, const unsigned char* req7);

/* Reader EEPROM: 16-bit offset; length up to 255 (read) / 252 (write). */
PAYTERM_API int srd_alleeprom(int icdev, unsigned short offset, unsigned char length, unsigned char* data);
PAYTERM_API int swr_alleeprom(int icdev, unsigned short offset, unsigned char length, const unsigned char* data);
/* EEPROM-write forms of the display and control settings: 4 raw bytes. */
PAYTERM_API int dc_setbright(int icdev, const unsigned char* data4);
PAYTERM_API int dc_ctl_mode(int icdev, const unsigned char* data4);
PAYTERM_API int dc_disp_mode(int icdev, const unsigned char* data4);
/* Reader clock: 7 bytes as the reader keeps them. */
PAYTERM_API int dc_settime(int icdev, const unsigned char* time7);
PAYTERM_API int dc_gettime(int icdev, unsigned char* time7);

/* Mifare. dc_request sends mode AND 0x81 (once more after a failed
 * reply); tagtype gets the 2-byte card type word. snr values are the
 * 4-byte serial number read low byte first. */
PAYTERM_API int dc_request(int icdev, unsigned char mode, unsigned int* tagtype);
PAYTERM_API int dc_anticoll(int icdev, unsigned char bcnt, unsigned long* snr);
PAYTERM_API int dc_select(int icdev, unsigned long snr, unsigned char* size);
PAYTERM_API int dc_card(int icdev, unsigned char mode, unsigned long* snr);
PAYTERM_API int dc_authentication(int icdev, unsigned char mode, unsigned char secnr);
PAYTERM_API int dc_halt(int icdev);
PAYTERM_API int dc_read(int icdev, unsigned char adr, unsigned char* data16);
PAYTERM_API int dc_write(int icdev, unsigned char adr, const unsigned char* data16);
PAYTERM_API int dc_increment(int icdev, unsigned char adr, unsigned long value);
PAYTERM_API int dc_decrement(int icdev, unsigned char adr, unsigned long value);
PAYTERM_API int dc_decrement_ml(int icdev, unsigned char adr, unsigned long value);
PAYTERM_API int dc_restore(int icdev, unsigned char adr);
PAYTERM_API int dc_transfer(int icdev, unsigned char adr);
/* key16: the 16 key bytes of the reader's key slot. */
PAYTERM_API int dc_load_key(int icdev, unsigned char mode, unsigned char secnr, const unsigned char* key16);
PAYTERM_API int dc_check_write(int icdev, const unsigned char* req22);
PAYTERM_API int dc_anticoll2(int icdev, unsigned char bcnt, unsigned long* snr);
PAYTERM_API int dc_select2(int icdev, unsigned long snr, unsigned char* size);

/* Reader control. dc_reset: RF field off for msec, then on. dc_beep sends
 * the low byte of msec and waits about that many ms before the reply. */
PAYTERM_API int dc_reset(int icdev, unsigned short msec);
PAYTERM_API int dc_get_status(int icdev, unsigned char* status);
PAYTERM_API int dc_set_control_bit(int icdev, unsigned char bit);
PAYTERM_API int dc_clr_control_bit(int icdev, unsigned char bit);
PAYTERM_API int dc_config(int icdev, unsigned char mode, unsigned char baud);
PAYTERM_API int dc_beep(int icdev, unsigned short msec);
PAYTERM_API int dc_light(int icdev, unsigned short state);
PAYTERM_API int dc_disp_str(int icdev, unsigned char len, const unsigned char* data);
PAYTERM_API int dc_high_disp(int icdev, unsigned char len, const unsigned char* data);
/* ver2: the 2-byte version. */
PAYTERM_API int dc_getver(int icdev, unsigned char* ver2);
PAYTERM_API int dc_setbptime(int icdev, unsigned char t);
PAYTERM_API int dc_update(int icdev, unsigned char b1, unsigned char b2);
PAYTERM_API int dc_config_card(int icdev, unsigned char cardtype);
/* Type-B and other contactless commands: raw request, reply (255). */
PAYTERM_API int dc_request_b(int icdev, const unsigned char* req3, unsigned char* rlen, unsigned char* reply);
PAYTERM_API int dc_attrib(int icdev, const unsigned char* req5, unsigned char* rlen, unsigned char* reply);
PAYTERM_API int dc_read_all(int icdev, unsigned char param, unsigned char* rlen, unsigned char* reply);
PAYTERM_API int dc_write_all(int icdev, unsigned char param, unsigned char* rlen, unsigned char* reply);
PAYTERM_API int dc_read_one(int icdev, unsigned char param, unsigned char* rlen, unsigned char* reply);
PAYTERM_API int dc_write_one(int icdev, const unsigned char* req65);

/* Contact CPU cards. dc_cpureset: atr (255), rlen its length; derives T=1
 * from TD1 and restarts the T=1 block numbering. dc_cpuapdu: apdu of 5 to
 * 250 bytes (-48 otherwise, nothing sent); resp (255). */
PAYTERM_API int dc_setcpu(int icdev, unsigned char slot);
PAYTERM_API int dc_setcpupara(int icdev, unsigned char cputype, unsigned char cpupro, unsigned char cpuetu);
PAYTERM_API int dc_cpureset(int icdev, unsigned char* rlen, unsigned char* atr);
PAYTERM_API int dc_cpuapdusource(int icdev, unsigned char slen, const unsigned char* sbuf, unsigned char* rlen, unsigned char* rbuf);
PAYTERM_API int dc_cpuapdu(int icdev, unsigned long slen, const unsigned char* sbuf, unsigned long* rlen, unsigned char* rbuf);
PAYTERM_API int dc_cpudown(int icdev);

/* Contactless ISO/IEC 14443-4 run in the host. dc_pro_reset: ats (255).
 * dc_pro_command: one I-block of up to 251 bytes, resp (255).
 * dc_pro_commandlink: chains in segments of fg - 6 bytes (fg >= 7, else
 * -48); resp PAYTERM_PRO_RESP_MAX bytes. dc_pro_commandsource sends a raw
 * block and returns the card's raw block (255). */
PAYTERM_API int dc_pro_reset(int icdev, unsigned char* rlen, unsigned char* ats);
PAYTERM_API int dc_pro_command(int icdev, unsigned char slen, const unsigned char* sbuf, unsigned char* rlen, unsigned char* rbuf, unsigned char tt);
PAYTERM_API int dc_pro_commandsource(int icdev, unsigned char slen, const unsigned char* sbuf, unsigned char* rlen, unsigned char* rbuf, unsigned char tt);
PAYTERM_API int dc_pro_commandlink(int icdev, unsigned long slen, const unsigned char* sbuf, unsigned long* rlen, unsigned char* rbuf, unsigned char tt, unsigned char fg);
PAYTERM_API int dc_set_autoflag(int icdev, unsigned char flag);

/* Memory cards: 16-bit address; length up to 255 (read) / 252 (write). */
PAYTERM_API int dc_read_4442(int icdev, unsigned short offset, unsigned char length, unsigned char* data);
PAYTERM_API int dc_write_4442(int icdev, unsigned short offset, unsigned char length, const unsigned char* data);
PAYTERM_API int dc_verifypin_4442(int icdev, const unsigned char* pin3);
/* Both return the reader's raw reply (255) with its length. */
PAYTERM_API int dc_readpin_4442(int icdev, unsigned char* rlen, unsigned char* reply);
PAYTERM_API int dc_readpincount_4442(int icdev, unsigned char* rlen, unsigned char* reply);
PAYTERM_API int dc_changepin_4442(int icdev, const unsigned char* pin3);
PAYTERM_API int dc_read_24c(int icdev, unsigned short offset, unsigned char length, unsigned char* data);
PAYTERM_API int dc_write_24c(int icdev, unsigned short offset, unsigned char length, const unsigned char* data);
PAYTERM_API int dc_read_24c64(int icdev, unsigned short offset, unsigned char length, unsigned char* data);
PAYTERM_API int dc_write_24c64(int icdev, unsigned short offset, unsigned char length, const unsigned char* data);
PAYTERM_API int dc_read_4428(int icdev, unsigned short offset, unsigned char length, unsigned char* data);
PAYTERM_API int dc_write_4428(int icdev, unsigned short offset, unsigned char length, const unsigned char* data);
PAYTERM_API int dc_verifypin_4428(int icdev, const unsigned char* pin2);
PAYTERM_API int dc_readpin_4428(int icdev, unsigned char* rlen, unsigned char* reply);
PAYTERM_API int dc_readpincount_4428(int icdev, unsigned char* rlen, unsigned char* reply);
PAYTERM_API int dc_changepin_4428(int icdev, const unsigned char* pin2);

/* Hex twins: byte arguments and results as upper-case hex text (NUL
 * terminated on output; output text buffers twice the byte size plus 1).
 * Input text that is not hex gives -48 before anything is sent. */
PAYTERM_API int dc_read_hex(int icdev, unsigned char adr, char* hex33);
PAYTERM_API int dc_write_hex(int icdev, unsigned char adr, const char* hex32);
PAYTERM_API int dc_load_key_hex(int icdev, unsigned char mode, unsigned char secnr, const char* hex32);
PAYTERM_API int dc_card_hex(int icdev, unsigned char mode, char* snrhex9);
PAYTERM_API int dc_cpureset_hex(int icdev, unsigned char* rlen, char* atrhex);
PAYTERM_API int dc_cpuapdu_hex(int icdev, unsigned long slen, const char* sbufhex, unsigned long* rlen, char* rbufhex);
PAYTERM_API int dc_cpuapdusource_hex(int icdev, unsigned char slen, const char* sbufhex, unsigned char* rlen, char* rbufhex);
PAYTERM_API int dc_pro_reset_hex(int icdev, unsigned char* rlen, char* atshex);
PAYTERM_API int dc_pro_command_hex(int icdev, unsigned char slen, const char* sbufhex, unsigned char* rlen, char* rbufhex, unsigned char tt);
PAYTERM_API int dc_pro_commandsource_hex(int icdev, unsigned char slen, const char* sbufhex, unsigned char* rlen, char* rbufhex, unsigned char tt);
PAYTERM_API int dc_pro_commandlink_hex(int icdev, unsigned long slen, const char* sbufhex, unsigned long* rlen, char* rbufhex, unsigned char tt, unsigned char fg);
PAYTERM_API int srd_alleeprom_hex(int icdev, unsigned short offset, unsigned char length, char* datahex);
PAYTERM_API int swr_alleeprom_hex(int icdev, unsigned short offset, unsigned char length, const char* datahex);
PAYTERM_API int dc_read_4442_hex(int icdev, unsigned short offset, unsigned char length, char* datahex);
PAYTERM_API int dc_write_4442_hex(int icdev, unsigned short offset, unsigned char length, const char* datahex);
PAYTERM_API int dc_read_24c_hex(int icdev, unsigned short offset, unsigned char length, char* datahex);
PAYTERM_API int dc_write_24c_hex(int icdev, unsigned short offset, unsigned char length, const char* datahex);
PAYTERM_API int dc_read_24c64_hex(int icdev, unsigned short offset, unsigned char length, char* datahex);
PAYTERM_API int dc_write_24c64_hex(int icdev, unsigned short offset, unsigned char length, const char* datahex);
PAYTERM_API int dc_read_4428_hex(int icdev, unsigned short offset, unsigned char length, char* datahex);
PAYTERM_API int dc_write_4428_hex(int icdev, unsigned short offset, unsigned char length, const char* datahex);
PAYTERM_API int dc_gettime_hex(int icdev, char* timehex15);
PAYTERM_API int dc_settime_hex(int icdev, const char* timehex14);
PAYTERM_API int dc_getverhex(int icdev, char* verhex5);

/* ------------------------------------------------------------------ */
/* IC_ framing: frame = L, command, parameters (L counts the bytes      */
/* before the check byte, itself included; 2 <= L).                     */
/* ------------------------------------------------------------------ */

/* Flushes input (not in auxiliary mode), sends, receives patiently.
 * out (255). Returns the reply length or a code. */
PAYTERM_API int IC_DATACOMM(int icdev, const unsigned char* frame, unsigned char* out);
PAYTERM_API int IC_SEND(int icdev, const unsigned char* frame);
/* Plain receiver (first byte must be 0xAA) and patient receiver (waits
 * for 0xAA over up to 300 reads). out (255); length or code. */
PAYTERM_API int IC_RECEIVE(int icdev, unsigned char* out);
PAYTERM_API int IC_RECEIVE1(int icdev, unsigned char* out);
/* 0 card present, 1 no card, -1 otherwise. */
PAYTERM_API int IC_Status(int icdev);

/* IC_ commands. Results 0 unless stated. */
PAYTERM_API int IC_CpuReset(int icdev, unsigned char* rlen, unsigned char* atr);
PAYTERM_API int IC_CpuApduSource(int icdev, unsigned char slen, const unsigned char* sbuf, unsigned char* rlen, unsigned char* rbuf);
/* apdu of 5 to 247 bytes (-135 otherwise); T=1 when the reset said so. */
PAYTERM_API int IC_CpuApdu(int icdev, unsigned char slen, const unsigned char* sbuf, unsigned char* rlen, unsigned char* rbuf);
PAYTERM_API int IC_CpuSetProtocol(int icdev, unsigned char protocol);
PAYTERM_API int IC_Read(int icdev, unsigned short offset, unsigned char len, unsigned char* data);
PAYTERM_API int IC_Read_Float(int icdev, unsigned short offset, float* value);
PAYTERM_API int IC_Read_Int(int icdev, unsigned short offset, int* value);
PAYTERM_API int IC_ReadProtection(int icdev, unsigned short offset, unsigned char len, unsigned char* data);
PAYTERM_API int IC_ReadWithProtection(int icdev, unsigned short offset, unsigned char len, unsigned char* data);
PAYTERM_API int IC_Write_All(int icdev, unsigned short offset, unsigned char len, const unsigned char* data);
PAYTERM_API int IC_Write(int icdev, unsigned short offset, unsigned char len, const unsigned char* data);
PAYTERM_API int IC_Write_Float(int icdev, unsigned short offset, float value);
PAYTERM_API int IC_Write_Int(int icdev, unsigned short offset, int value);
PAYTERM_API int IC_CheckPass_SLE4442(int icdev, const unsigned char* pin3);
/* Returns the error counter (0..255) or a code. */
PAYTERM_API int IC_ReadCount_SLE4442(int icdev);
/* Send-only. IC_InitType refuses 0xFE (-135); IC_Down and IC_Beep pause
 * about 2 s after sending. */
PAYTERM_API int IC_InitType(int icdev, unsigned char cardtype);
PAYTERM_API int IC_Down(int icdev);
PAYTERM_API int IC_Pushout(int icdev);
PAYTERM_API int IC_Beep(int icdev, unsigned char b1, unsigned char b2);
PAYTERM_API int IC_Request(int icdev, unsigned char mode, unsigned int* tagtype);
PAYTERM_API int IC_Anticoll(int icdev, unsigned char bcnt, unsigned long* snr);
PAYTERM_API int IC_Select(int icdev, unsigned long snr, unsigned char* size);
PAYTERM_API int IC_Card(int icdev, unsigned char mode, unsigned long* snr);
PAYTERM_API int IC_Authentication(int icdev, unsigned char mode, unsigned char secnr);
PAYTERM_API int IC_Authentication_Passaddr(int icdev, unsigned char mode, unsigned char block, const unsigned char* key6);
PAYTERM_API int IC_Halt(int icdev);
PAYTERM_API int IC_ReadMifare(int icdev, unsigned char adr, unsigned char* data16);
PAYTERM_API int IC_WriteMifare(int icdev, unsigned char adr, const unsigned char* data16);
/* Value blocks in the Mifare value-block layout. */
PAYTERM_API int IC_Read_Value(int icdev, unsigned char adr, long* value);
PAYTERM_API int IC_Init_Value(int icdev, unsigned char adr, long value);
PAYTERM_API int IC_Increment(int icdev, unsigned char adr, unsigned long value);
PAYTERM_API int IC_Decrement(int icdev, unsigned char adr, unsigned long value);
PAYTERM_API int IC_Restore(int icdev, unsigned char adr);
PAYTERM_API int IC_Transfer(int icdev, unsigned char adr);
PAYTERM_API int IC_Load_Key(int icdev, unsigned char mode, unsigned char secnr, const unsigned char* key6);
PAYTERM_API int IC_ResetMifare(int icdev, unsigned short msec);
PAYTERM_API int IC_Config_Card(int icdev, unsigned char cardtype);
PAYTERM_API int IC_ResetDevice(int icdev);
PAYTERM_API int IC_ReadReaderSnr(int icdev, unsigned char* snr16);
/* Raw transparent exchange: sbuf up to 251 bytes, rbuf (255). */
PAYTERM_API int IC_Pro_Commandsource(int icdev, unsigned char slen, const unsigned char* sbuf, unsigned char* rlen, unsigned char* rbuf, unsigned char tt);
/* RATS E0 50; ats (255). */
PAYTERM_API int IC_Pro_Reset(int icdev, unsigned char* rlen, unsigned char* ats);
/* Segments of fg - 4 bytes (fg >= 5); rbuf PAYTERM_PRO_RESP_MAX bytes;
 * every failure -136. */
PAYTERM_API int IC_Pro_Commandlink(int icdev, unsigned long slen, const unsigned char* sbuf, unsigned long* rlen, unsigned char* rbuf, unsigned char tt, unsigned char fg);

/* Stripe, PIN-pad and MCU commands: their reader protocol is not known to
 * this library; all return PAYTERM_E_NOT_SUPPORTED. */
PAYTERM_API int IC_ReadMagCard(int icdev, unsigned char* track2, unsigned char* track3);
PAYTERM_API int IC_PosBeep(int icdev, unsigned char times);
PAYTERM_API int DEV_CommandMcu(int icdev, const unsigned char* cmd, int len, unsigned char* resp, int* rlen);
PAYTERM_API int SendDevCmd(int icdev, const unsigned char* cmd, int len);

/* ------------------------------------------------------------------ */
/* D6 and D8 wrappers: one to one calls of the IC_ and dc_ functions.    */
/* Dc_D6_IC_InitComm opens port 0..3 as /dev/ttyS0..3, else /dev/tty1a.  */
/* ------------------------------------------------------------------ */
PAYTERM_API int Dc_D6_IC_InitComm(int port);
PAYTERM_API int Dc_D6_IC_ExitComm(int icdev);
PAYTERM_API int Dc_D6_IC_Status(int icdev);
PAYTERM_API int Dc_D6_IC_InitType(int icdev, unsigned char cardtype);
PAYTERM_API int Dc_D6_IC_CpuReset(int icdev, unsigned char* rlen, unsigned char* atr);
PAYTERM_API int Dc_D6_IC_CpuApdu(int icdev, unsigned char slen, const unsigned char* sbuf, unsigned char* rlen, unsigned char* rbuf);
PAYTERM_API int Dc_D6_IC_Card(int icdev, unsigned char mode, unsigned long* snr);
PAYTERM_API int Dc_D6_IC_ResetMifare(int icdev, unsigned short msec);
PAYTERM_API int Dc_D6_IC_Pro_Reset(int icdev, unsigned char* rlen, unsigned char* ats);
PAYTERM_API int Dc_D6_IC_Pro_Commandlink(int icdev, unsigned long slen, const unsigned char* sbuf, unsigned long* rlen, unsigned char* rbuf, unsigned char tt, unsigned char fg);
PAYTERM_API int Dc_D6_IC_Beep(int icdev, unsigned char b1, unsigned char b2);
PAYTERM_API int Dc_D8_dc_init(int port, long baud);
PAYTERM_API int Dc_D8_dc_exit(int icdev);
PAYTERM_API int Dc_D8_dc_beep(int icdev, unsigned short msec);
PAYTERM_API int Dc_D8_dc_reset(int icdev, unsigned short msec);
PAYTERM_API int Dc_D8_dc_card(int icdev, unsigned char mode, unsigned long* snr);
PAYTERM_API int Dc_D8_dc_config_card(int icdev, unsigned char cardtype);
PAYTERM_API int Dc_D8_dc_setcpu(int icdev, unsigned char slot);
PAYTERM_API int Dc_D8_dc_setcpupara(int icdev, unsigned char cputype, unsigned char cpupro, unsigned char cpuetu);
PAYTERM_API int Dc_D8_dc_cpureset(int icdev, unsigned char* rlen, unsigned char* atr);
PAYTERM_API int Dc_D8_dc_cpuapdu(int icdev, unsigned long slen, const unsigned char* sbuf, unsigned long* rlen, unsigned char* rbuf);
PAYTERM_API int Dc_D8_dc_pro_reset(int icdev, unsigned char* rlen, unsigned char* ats);
PAYTERM_API int Dc_D8_dc_pro_command(int icdev, unsigned char slen, const unsigned char* sbuf, unsigned char* rlen, unsigned char* rbuf, unsigned char tt);
PAYTERM_API int Dc_D8_dc_pro_commandlink(int icdev, unsigned long slen, const unsigned char* sbuf, unsigned long* rlen, unsigned char* rbuf, unsigned char tt, unsigned char fg);

/* ------------------------------------------------------------------ */
/* SDANDC link ("D&C" hex frames)                                        */
/* ------------------------------------------------------------------ */

/* Total seconds one ComRead may wait (5 at load). */
PAYTERM_API extern int g_TIMEOUT_ALL_ComRead;

/* One request and reply: n data bytes (0..2042); out gets the reply data
 * (2048 bytes suffice), outLen their count. 0, -status or -1. */
PAYTERM_API int DC_command(int fd, unsigned char cmd, const unsigned char* data, int n,
                           unsigned char* out, int* outLen);
/* Writes a prepared frame of len characters (must be 11..4096 and start
 * "D&C") and reads the reply text into reply (4096) with its length. */
PAYTERM_API int DC_communication(int fd, const char* frame, int len, char* reply, int* replyLen);
/* Reads until n bytes or g_TIMEOUT_ALL_ComRead seconds; returns the count. */
PAYTERM_API int ComRead(int fd, unsigned char* buf, int n);
/* Writes n bytes; n or -1. */
PAYTERM_API int ComWrite(int fd, const unsigned char* buf, int n);

/* 2n upper-case hex characters (no NUL); returns 2n. */
PAYTERM_API int StdCharsToHexChars(const unsigned char* in, char* out, int n);
/* 2n hex characters (either case) to n bytes; n, or 0 on a non-hex char. */
PAYTERM_API int HexCharsToStdChars(const char* in, unsigned char* out, int n);

/* ------------------------------------------------------------------ */
/* T10N terminal link and the device operations (plain names)            */
/* ------------------------------------------------------------------ */
extern "C" {
/* Terminal write hook: writes the NUL-terminated data to the terminal
 * channel when one is set (see README), else accepts it. 0 or -1. */
PAYTERM_API int Dc_WriteDev(const void* data);

/* STX, ASCII-nibble length, payload, XOR, ETX through Dc_WriteDev;
 * payload up to 2000 bytes (-1 beyond). */
PAYTERM_API int Dc_T10N_PackAndWriteData(const unsigned char* payload, int n);
/* Reads one reply from the terminal channel: out (2048) gets the data
 * after the 2-byte status, status (2) the status. 0, -1 nothing, -2 no
 * length, -3 no body, -4 length mismatch. */
PAYTERM_API int Dc_T10N_ReadData(unsigned char* out, int* outLen, unsigned char* status, int tries);
/* Contact / RF power-up: atr (2048) and its length. */
PAYTERM_API int Dc_T10N_IC_PowerUp(unsigned char p1, unsigned char p2, unsigned char slot,
                                   unsigned char* atr, int* atrLen);
PAYTERM_API int Dc_T10N_RF_PowerUp(unsigned char p1, unsigned char p2, unsigned char* ats,
                                   int* atsLen);
PAYTERM_API int Dc_T10N_IC_PowerDown(unsigned char slot);
PAYTERM_API int Dc_T10N_RF_PowerDown(unsigned char slot);
/* Lc data bytes follow when lc is nonzero, else the le byte. resp (2048). */
PAYTERM_API int Dc_T10N_APDU(unsigned char slot, unsigned char cla, unsigned char ins,
                             unsigned char p1, unsigned char p2, unsigned char lc,
                             const unsigned char* data, unsigned char le,
                             unsigned char* resp, int* rlen);

/* SDANDC device operations: 0 or -1. Reply buffers 2048 bytes. */
PAYTERM_API int SDANDC_Device_Reset(int fd);
PAYTERM_API int SDANDC_Device_CardConfig(int fd, unsigned char cardType);
PAYTERM_API int SDANDC_Device_SetCpu(int fd, unsigned char slot);
PAYTERM_API int SDANDC_Device_CpuReset(int fd, unsigned char cardType, unsigned char baud,
                                       unsigned char volt, unsigned long* rlen,
                                       unsigned char* atr);
PAYTERM_API int SDANDC_Device_Cpuapdu(int fd, unsigned char slot, unsigned long slen,
                                      const unsigned char* sbuf, unsigned long* rlen,
                                      unsigned char* rbuf);
PAYTERM_API int SDANDC_Device_FindCard(int fd, unsigned long* len, unsigned char* snr);
PAYTERM_API int SDANDC_Device_CardReset(int fd, unsigned long* rlen, unsigned char* ats);
PAYTERM_API int SDANDC_Device_CardApdu(int fd, unsigned long slen, const unsigned char* sbuf,
                                       unsigned long* rlen, unsigned char* rbuf,
                                       unsigned char tt, unsigned char fg);
}

#endif
