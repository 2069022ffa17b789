// Qmxtool: the tool unit shared by libtessera and libportico.
//
// Conventions
// - Every buffer is supplied and owned by the caller; sizes below are the
//   minimum the caller must provide. Only tool_gbk_to_utf8 allocates (its
//   *out, released by the caller with free()).
// - Results: 0 (or a count) for success, a negative value for failure.
//   A null pointer argument gives -1 unless said otherwise.
// - Error texts are UTF-8; tool_gbk_to_utf8 appends to the text already in
//   its err buffer, StringToHex writes from the first byte.
// - Reentrant; files (INI, log) are not locked: two writers of the same file
//   are not coordinated.
// - libportico carries the same unit without tool_writelog.
// - C++ linkage: the functions carry decorated (type-encoded) names.
#ifndef QMXTOOL_H
#define QMXTOOL_H

#define QMXTOOL_API __attribute__((visibility("default")))

// GBK <-> UTF-16 tables.
constexpr unsigned short gbk_first_code = 0x8140;    // first GBK code of unicodeTables
constexpr unsigned short gbk_last_code = 0xFE9F;     // last GBK code of unicodeTables
constexpr unsigned short unicode_buf_size = 32096;   // gbk_last_code - gbk_first_code + 1
constexpr unsigned short unicode_first_code = 0x4E00;  // first code point of gbkTables
constexpr unsigned short unicode_last_code = 0x9FA5;   // last code point of gbkTables
constexpr unsigned short gbk_buf_size = 20902;       // unicode_last_code - unicode_first_code + 1

// Entry i: the UTF-16 unit of the two-byte code 0x8140 + i under GBK as
// GB 18030 maps two-byte codes; 0 where the pair is no two-byte code.
extern QMXTOOL_API const unsigned short unicodeTables[unicode_buf_size];
// Entry i: the GBK code (lead byte in the high 8 bits) of U+4E00 + i.
extern QMXTOOL_API const unsigned short gbkTables[gbk_buf_size];

// Reads key of [section] from the INI file path into value (room for 1024
// bytes). Lines beginning "//" or '#' are comments; the key matches as a
// prefix of the line; once [section] is seen every later "k=v" line is a
// candidate. Blanks after '=' and the line end (LF or CRLF) are dropped.
// 0 when found, -1 otherwise (value untouched); prints "fopen: ..." to
// stderr when the file cannot be opened. Sections longer than 61 characters
// are refused (-1).
QMXTOOL_API int GetIniKeyString(char *section, char *key, char *path, char *value);

// Rewrites the first line of key under [section] in path as
// "<key part>= <value>\n", through "<path>.tmp" renamed over path. A missing
// key is not added (the file is rewritten unchanged). Returns rename()'s
// result (0), or -1 when a file cannot be opened, read or written (the
// original stays as it was).
QMXTOOL_API int PutIniKeyString(char *section, char *key, char *value, char *path);

// Appends one line
//   "[TIME:yyyy-mm-dd hh:mm:ss ] | FILE:<file>-<func>-(<line>) | OUT:<msg>\r\n"
// to <dir>/QMXLog/<logName>-yyyy-mm-dd.log (dir empty or null: the directory
// of the running executable). msg is text followed by the further pieces up
// to the first null pointer or empty text. Lines are cut to 1024 bytes (the
// line end kept). 0, or -1 when the file cannot be opened or the path does
// not fit 1024 bytes. Not in libportico.
QMXTOOL_API int tool_writelog(const char *logName, const char *dir, const char *file,
                              const char *func, int line, const char *text, ...);

// Converts the zero-terminated GBK text gbk into at most max UTF-16 units in
// out (no terminator). Bytes up to 0x80 become one unit; a code of
// 0x8140..0xFE9F becomes its table unit (0 if unassigned); other pairs are
// dropped; a lead byte at the end of the text is dropped. Returns the units
// written, or -1 for a null pointer.
QMXTOOL_API int tool_GbkToUnicode(char *gbk, unsigned short *out, int max);

// Converts the zero-terminated UTF-16 text in into at most max GBK bytes in
// out (no terminator). Units up to 0x7F give one byte, U+4E00..U+9FA5 two
// bytes (lead first); others are dropped. Stops before a character that
// does not fit. Returns the bytes written, or -1 for a null pointer.
QMXTOOL_API int tool_UnicodeToGbk(unsigned short *in, char *out, int max);

// Converts len bytes of GBK at gbk to UTF-8. On success *out is a new
// zero-terminated buffer of 2*len+1 bytes (release with free()) and the
// result is the UTF-8 byte count (> 0). Failures append a message to err
// (if not null) and leave *out null: -5 len 0, -1 no memory, -2 converter
// unavailable, -3 invalid or cut GBK input. -1 without message for a null
// gbk or out.
QMXTOOL_API int tool_gbk_to_utf8(unsigned long len, char *gbk, char **out, char *err);

// Appends n bytes of src as upper-case hex ("%02X") to the terminated text
// in dst, whose buffer holds dstSize bytes. -1 and "StringToHex目标字符串长度
// 申请不足!" in err (from its first byte; 45 bytes and the terminator) when
// the text, the hex and the terminator do not fit; dst untouched.
QMXTOOL_API int StringToHex(char *src, int n, char *dst, int dstSize, char *err);

// Converts hexLen hex characters (two per byte) into hexLen/2 bytes at out
// and terminates out at hexLen/2 (out holds hexLen/2 + 1 bytes). A pair
// that is no hex number gives 0. 0, or -1 for a null pointer, a negative
// hexLen or a text shorter than hexLen (out untouched).
QMXTOOL_API int Hextostring(char *hex, char *out, int hexLen);

// Converts len hex characters, four per value, into len/4 16-bit values at
// out. 0, or -1 when len is not a multiple of 4, negative, or longer than
// the text (out untouched).
QMXTOOL_API int tool_HexToShort(char *hex, int len, unsigned short *out);

// Appends len hex characters to the terminated text in out (room for
// strlen(out) + len + 1) with the two halves of every 4-character group
// swapped ("4E2D" -> "2D4E"). 0, or -1 when len is not a multiple of 4,
// negative, or longer than the text (out untouched).
QMXTOOL_API int tool_HexHLSwap(char *hex, int len, char *out);

// Removes leading and trailing blanks and tabs of s in place; returns s.
QMXTOOL_API char *tool_StrTrim(char *s);

// Looks code/key up and copies the UTF-8 name into out (room for 37 bytes).
// mode 1 sex (1 "男", 2 "女"; else -2, out untouched), mode 2 nation 1..56
// (else "其他"), mode 3 three-letter country key, exact and case-sensitive
// (else "其他"); 0 when out was written. Any other mode or a null out: -1,
// out untouched.
QMXTOOL_API int CodeTranslate(int mode, int code, char *key, char *out);

#endif
