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
/* Always reads 16 bytes from key16 and sends all 16 (frame: mode, sector,
 * key16). The buffer must hold 16 bytes whatever the key's length: a 6-byte
 * key passed in a 6-byte buffer is read past its end. */
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
 * for 0xAA over up to 300 reads). out (255); length or code. Through a D6
 * terminal's auxiliary port the plain receiver leaves its acknowledgements
 * to the terminal; the patient receiver always sends its own. */
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

/* ================================================================== */
/* Terminal device layer and PBOC bank-card kernel (plain C names)       */
/*                                                                      */
/* Every kernel entry point is one whole card dialogue: Dev_Open,        */
/* Dev_Card, APDUs through Dc_APDU, Dev_Close (Dc_GenARQC leaves the     */
/* card open for Dc_ARPC_ExeICScript). Results: 0 success; a negative    */
/* device-layer or kernel code below; a card status word that the        */
/* exchange does not accept as a positive SW1 * 256 + SW2 (e.g. 0x6A82). */
/* Not reentrant: configuration and reader state are process-wide; only  */
/* Dc_BreakFindCard may be called from another thread during a call.     */
/* Text outputs are NUL-terminated unless stated; buffers are the        */
/* caller's, of at least the sizes named here.                          */
/* ================================================================== */

/* Device-layer codes. */
#define PAYTERM_E_NO_CARD        (-1)   /* no card; built-in or host APDU failed */
#define PAYTERM_E_NO_INTERFACE   (-9)   /* APDU with no card interface selected */
#define PAYTERM_E_DEVTYPE        (-100) /* device type not supported by the operation */
#define PAYTERM_E_DRV_PATH       (-101)
#define PAYTERM_E_DRV_LOAD       (-102)
#define PAYTERM_E_DRV_SYMBOL     (-103)
#define PAYTERM_E_OPEN           (-111) /* also: types 5/6 without a port in g_icdev */
#define PAYTERM_E_RF_RESET       (-112)

/* Kernel codes. */
#define PAYTERM_E_CARD_DATA      (-300) /* card answer malformed or lacks a mandatory object */
#define PAYTERM_E_NO_TRANSACTION (-301) /* Dc_ARPC_ExeICScript without an open Dc_GenARQC */
#define PAYTERM_E_BAD_INPUT      (-302) /* argument missing or not in the documented form */
#define PAYTERM_E_DECLINED       (-303) /* the card refused the transaction (AAC) */
#define PAYTERM_E_ONLINE         (-304) /* qPBOC: the card asks for online authorisation */
#define PAYTERM_E_RANDOM         (-305) /* the system's random generator failed */
#define PAYTERM_E_ODA_UNSUPPORTED (-310) /* the card offers no such offline authentication */
#define PAYTERM_E_ODA_NO_CAPK    (-311) /* no CA public key for the card's RID and index */
#define PAYTERM_E_ODA_ISSUER     (-312) /* issuer public-key certificate not valid */
#define PAYTERM_E_ODA_ICC        (-313) /* ICC public-key certificate not valid */
#define PAYTERM_E_ODA_SIGNATURE  (-314) /* signed static or dynamic data not valid */

/* Minimum buffer sizes. */
#define PAYTERM_APDU_RESP_MAX   2048  /* Dev_Apdu / Dc_APDU response */
#define PAYTERM_TAGLIST_MAX     32    /* letters taken from a tag list */
#define PAYTERM_CARDINFO_SIZE   16512 /* card-information text */
#define PAYTERM_RECORDS_MAX     4096  /* bytes of AFL record data one call keeps */
#define PAYTERM_CARDREC_SIZE    8256  /* card-record text */
#define PAYTERM_PAN_SIZE        40    /* PAN text */
#define PAYTERM_TRACK_SIZE      512   /* each track text of Wy_GetBankMagInfo */
#define PAYTERM_ICDATA_SIZE     1024  /* IC-data hex text */
#define PAYTERM_TXDETAIL_SIZE   32768 /* transaction-log text */
#define PAYTERM_TXLOG_MAX       30    /* log entries read */

extern "C" {

/* The host's APDU exchange, entry 0 of the table given to Wy_LibMain(3):
 * (device handle, card type, buffer holding the command and receiving
 * the response, command length, buffer size = 1024) -> response length or
 * a negative value. */
typedef int (*PaytermHostExchange)(int icdev, int cardType, unsigned char* buf, int len,
                                   int size);

/* Configuration and reader state, zero at load. g_ICFLAG and g_ICTYPE hold
 * the characters '0'..'3'. For device types 5 and 6 the caller opens the
 * serial line (asyn_open) and stores its descriptor in g_icdev before the
 * first kernel call; 0 or a negative value there means no port. */
PAYTERM_API extern int g_DEVTYPE;
PAYTERM_API extern char g_DEVICE_DRV_PATH[256];
PAYTERM_API extern int g_TERMTYPE;
PAYTERM_API extern int g_PORTTYPE;
PAYTERM_API extern int g_PORTNO;
PAYTERM_API extern int g_PORTBAUD;
PAYTERM_API extern int g_BPTYPE;
PAYTERM_API extern int g_BPPORT;
PAYTERM_API extern int g_ICFLAG;
PAYTERM_API extern int g_ICTYPE;
PAYTERM_API extern int g_icdev;
PAYTERM_API extern int g_FindCardFlag;
PAYTERM_API extern int g_Wy_Flag;
PAYTERM_API extern int g_Wy_type;
PAYTERM_API extern PaytermHostExchange* g_fc;
PAYTERM_API extern char g_work_dir[2048];

/* DevType "1".."7" (else -100); lib_path 1..255 characters (else -101). */
PAYTERM_API int Dc_Select(const char* DevType, const char* lib_path);
/* Stores every value, then checks: -201 TermType (1..5, 56), -202
 * PortType (1..2), -203 PortNo (1..20), -204 PortBaud (9600, 19200,
 * 115200), -206 BpPort ('A', 'B', 'C', 'K'); the last failure wins; -207
 * for IcFlag ('1'..'3') wins over all. 0 when all pass. */
PAYTERM_API int Dc_SetConfig(const char* TermType, const char* PortType, const char* PortNo,
                             const char* PortBaud, const char* BpType, const char* BpPort,
                             const char* IcFlag);

/* Reader operations: 0 or a negative code. Dev_Apdu: resp holds
 * PAYTERM_APDU_RESP_MAX bytes; rlen counts the status word. */
PAYTERM_API int Dev_Open(void);
PAYTERM_API int Dev_Card(void);
PAYTERM_API int Dev_Apdu(unsigned long len, unsigned char* cmd, unsigned long* rlen,
                         unsigned char* resp);
PAYTERM_API int Dev_Close(void);
/* Ends a running contactless poll after its current attempt. 0. */
PAYTERM_API int Dc_BreakFindCard(void);
/* ESC '%' letter through Dc_WriteDev for 'A', 'B', 'C', 'K'; -2 otherwise. */
PAYTERM_API int Dev_Open_BpPort(int icdev, int bpType, int bpPort);
/* Terminal hooks: carry nothing here and return 0 (Dc_WriteTerm behaves
 * as Dc_WriteDev). */
PAYTERM_API int Dc_WriteTerm(const void* data);
PAYTERM_API int Term_Head(void);
PAYTERM_API int Term_Tail(void);
PAYTERM_API int Term_OpenPort(void);
PAYTERM_API int Term_ClosePort(void);
PAYTERM_API int Term_Reset(void);
PAYTERM_API int Term_Set(void);

/* One APDU with status-word handling: 61 xx and 62 xx fetch with GET
 * RESPONSE, 6C xx resends with Le = xx (at most 8 repetitions, then the
 * last status word is returned). cmd must be writable and hold at least 5
 * bytes (it is overwritten by the commands sent); resp holds
 * PAYTERM_APDU_RESP_MAX bytes. 0 (resp = data and SW, *rlen its length),
 * a positive status word, or a negative device code. */
PAYTERM_API int Dc_APDU(unsigned char* cmd, int len, unsigned char* resp, int* rlen);

/* Host mode. op 0: "1.0" into arg (4 bytes); op 1: arg (a string) becomes
 * g_work_dir (at most 2047 characters kept); op 2: g_work_dir into arg
 * (2048 bytes); op 3: arg is the host's function table (entry 0 a
 * PaytermHostExchange); returns the address of g_fc. Others return 0. */
PAYTERM_API long Wy_LibMain(int op, char* arg);

/* INI-style profile value: section and key compared without regard to
 * case, value after the last '=' with white space trimmed; the default
 * when the file, section, key or '=' is missing. At most size - 1
 * characters are written, always terminated. Returns strlen(out). A
 * backslash in the file name is also tried as '/'. */
PAYTERM_API int GetPrivateProfileString(const char* section, const char* key, const char* def,
                                        char* out, int size, const char* file);

/* Trace sink (writes nothing) and its helpers. */
PAYTERM_API void d_printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
PAYTERM_API void d_printf_hex(const unsigned char* buf, int len);
PAYTERM_API void d_printf_hex_note(const char* note, const unsigned char* buf, int len);
PAYTERM_API void d_printf_table(const unsigned char* buf, int len, const char* suffix);
/* 2 * len upper-case hex characters and a NUL into out. */
PAYTERM_API void MyHexA(const unsigned char* in, char* out, int len);
/* len hex characters (either case) into len / 2 bytes: len / 2, or -1 at
 * the first character that is not hex. */
PAYTERM_API int MyAHex(const char* in, unsigned char* out, int len);

/* ------------------------------------------------------------------ */
/* Kernel                                                                */
/* ------------------------------------------------------------------ */

/* Every kernel call starts a new card: nothing read from an earlier card is
 * kept (only the configuration and the last selected RID and AID). Each
 * text output is emptied when the call starts, so a call that fails leaves
 * no data of an earlier card in it; outputs are filled from this card
 * only. */

/* Reads the objects named by the letters A..Y of tagList (others skipped,
 * at most PAYTERM_TAGLIST_MAX taken, -302 beyond): cardInfo
 * (PAYTERM_CARDINFO_SIZE) gets per letter the letter, "%03d" of the
 * value's length and the value ("000" alone when absent); icType gets one
 * character '1' contact or '2' contactless (no NUL); cardRecord
 * (PAYTERM_CARDREC_SIZE) gets "4B5652", the length, AID, AIP, the record
 * data as hex and the interface character. aidList is only traced;
 * unused is not touched. */
PAYTERM_API int Dc_GetICCardInfo(const char* tagList, const char* aidList, char* cardInfo,
                                 char* icType, char* cardRecord, void* unused);
/* Host mode: stores icdev and cardType, reads the PAN into pan
 * (PAYTERM_PAN_SIZE, digits only). The PAN is copied whenever this card
 * gave one (also from the answer of its failed GPO), even when the result
 * is a failure code; otherwise pan is left empty. */
PAYTERM_API int Wy_GetBankAccountNumber(int icdev, int cardType, char* pan);
/* Host mode: track1 gets 9F1F (raw), track2 the track-2 equivalent data
 * (hex text), each PAYTERM_TRACK_SIZE; track3[0] is cleared. */
PAYTERM_API int Wy_GetBankMagInfo(int icdev, int cardType, char* track1, char* track2,
                                  char* track3);
/* Build date "Mmm dd yyyy" (12 bytes), build time "hh:mm:ss" (9 bytes),
 * kernel tag "KVR" with 'K' in the low byte. Returns 0. */
PAYTERM_API int Dc_PbocVersion(char* date, char* time, unsigned int* kernelTag);

/* First authorisation request. txData: letters P (amount), Q (other
 * amount), R (currency), T (type), S (date YYMMDD or YYYYMMDD), U (time
 * hhmmss), each followed by "%03d" and that many digits. cardRecord as
 * above; icData (PAYTERM_ICDATA_SIZE) the IC data list as hex text;
 * icDataLen "%03d" of its length in bytes (4 bytes); cardInfo
 * (PAYTERM_CARDINFO_SIZE) the letters A, E, J, M as Dc_GetICCardInfo
 * gives them; icType one character. On success the card stays powered for
 * Dc_ARPC_ExeICScript. */
PAYTERM_API int Dc_GenARQC(const char* txData, const char* aidList, char* cardRecord,
                           char* icData, char* icDataLen, char* cardInfo, char* icType);
/* Completes the transaction Dc_GenARQC opened. issuerData: hex text of the
 * issuer's objects 91 (ARPC and response code), optional 8A, scripts 71
 * and 72 (at most 1024 bytes). icData / icDataLen receive 9F26, 9F27,
 * 9F36, 9F10 of the second GENERATE AC and, when scripts ran, DF31 (one
 * result byte and the 4-byte script identifier per script). 0 approved
 * (TC), -303 refused (AAC), -301 no open transaction. The reader is
 * closed in every case. */
PAYTERM_API int Dc_ARPC_ExeICScript(const char* issuerData, char* icData, char* icDataLen);
/* Offline plaintext PIN (4..12 digits, else -302): 0, or the card's
 * status word (0x63Cx: x tries left, 0x6983 blocked). */
PAYTERM_API int Dc_VerifyPin(const char* pin);
/* PIN try counter (GET DATA 9F17) into *tries. */
PAYTERM_API int Dc_QueryPinNum(int* tries);
/* Reads like Dc_GetICCardInfo, then offline dynamic data authentication
 * against the CA keys (built-in table and "emv/CAPK.txt"); dynNumber
 * (PAYTERM_ICDATA_SIZE) gets the ICC dynamic number as hex text. 0 or
 * -310..-314. */
PAYTERM_API int Dc_AuthDDA(const char* tagList, const char* aidList, char* cardInfo,
                           char* icType, char* cardRecord, char* dynNumber);
/* Transaction log (PAYTERM_TXDETAIL_SIZE): "%02d" of the entry count,
 * then per entry "%03d" of its text length and the entry as hex text of
 * (tag, length, value) objects in the card's log format; newest first, at
 * most PAYTERM_TXLOG_MAX entries. */
PAYTERM_API int Dc_GetTxDetail(char* detail);
/* qPBOC. balance: 12 digits (13 bytes) of the electronic-cash balance.
 * amount: 1..12 digits in the currency's minor unit. Dc_QpbocDebit: 0
 * approved offline (icData the TC data, balance after the debit), -304
 * online authorisation asked (icData the ARQC data), -303 declined,
 * -310..-314 offline authentication failed. pan: PAYTERM_PAN_SIZE. */
PAYTERM_API int Dc_QpbocBalance(char* balance);
PAYTERM_API int Dc_QpbocDebit(const char* amount, char* balance, char* icData, char* icDataLen);
PAYTERM_API int Dc_QpbocGetCardNo(char* pan);
}

#endif
