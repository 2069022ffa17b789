/* Text helpers: blank trimming, hex text, UCS-2LE to UTF-8. */
#include "hidlink_internal.h"

#include <errno.h>
#include <iconv.h>
#include <stdio.h>
#include <string.h>

char *killblank(char *str)
{
    if (!str)
        return NULL;
    while (*str == ' ')
        str++;
    if (*str == '\0')
        return str;
    char *end = str + strlen(str) - 1;
    while (end > str && *end == ' ')
        end--;
    end[1] = '\0';
    return str;
}

static int hex_value(char c)
{
    if (c >= 'a' && c <= 'f')
        c = (char)(c - 'a' + 'A');
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

uint8_t *CHexToBin(uint8_t *bin, const char *asc, uint32_t len)
{
    if (!asc || !bin)
        return NULL;
    for (uint32_t i = 0; i < len; i++) {
        int v = hex_value(asc[i]);
        if (v < 0)
            break;
        if (i % 2 == 0)
            bin[i / 2] = (uint8_t)(v << 4);
        else
            bin[i / 2] |= (uint8_t)v;
    }
    bin[len / 2] = 0;
    return bin;
}

char *BinToCHex(char *asc, const uint8_t *bin, uint32_t len)
{
    static const char digits[] = "0123456789ABCDEF";
    if (!asc || !bin)
        return NULL;
    for (uint32_t i = 0; i < len; i++) {
        asc[2 * i] = digits[bin[i] >> 4];
        asc[2 * i + 1] = digits[bin[i] & 0x0F];
    }
    asc[2 * (size_t)len] = '\0';
    return asc;
}

int wstring2string(const char *a_szSrc, size_t a_nSrcSize, char *a_szDest, size_t a_nDestSize)
{
    if (!a_szSrc || !a_szDest || a_nDestSize == 0)
        return -1;
    iconv_t cd = iconv_open("UTF-8", "UTF-16LE");
    if (cd == (iconv_t)-1) {
        printf("iconv_open WCHAR_T->UTF8 error %s %d\n", strerror(errno), errno);
        return -1;
    }
    char *in = (char *)a_szSrc;
    char *out = a_szDest;
    size_t in_left = a_nSrcSize;
    size_t out_left = a_nDestSize - 1; /* keeps a NUL at the end in every case */
    size_t rc = iconv(cd, &in, &in_left, &out, &out_left);
    int err = errno;
    *out = '\0';
    iconv_close(cd);
    if (rc == (size_t)-1) {
        printf("iconv WCHAR_T->UTF8 error %s %d\n", strerror(err), err);
        return -1;
    }
    return (int)rc;
}
