/* Character set conversion for the Windows build: the interface of
 * iconv.dll, which is GLib's win_iconv.c (conversions through the Windows
 * code pages) built as a library of its own. Debian has no iconv for MinGW,
 * and GMime and libxml2 need one they can link against. */
#ifndef LVMAPI_ICONV_H
#define LVMAPI_ICONV_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef void *iconv_t;

iconv_t iconv_open(const char *tocode, const char *fromcode);
int iconv_close(iconv_t cd);
size_t iconv(iconv_t cd, char **inbuf, size_t *inbytesleft, char **outbuf,
             size_t *outbytesleft);

#ifdef __cplusplus
}
#endif

#endif
