/* Message catalogue interface for the Windows build, without catalogues.
 *
 * LvMAPI ships no translations on Windows, and Debian has no gettext for
 * MinGW, so every lookup hands back the text it was given (singular or plural
 * by the count, as the C locale would). GLib and its users compile against
 * these declarations; they carry format_arg so that printf-style calls on a
 * translated string still count as literal formats (GLib builds with
 * -Werror=format-nonliteral). */
#ifndef LVMAPI_LIBINTL_H
#define LVMAPI_LIBINTL_H

#include <locale.h>

/* MinGW's C library has no LC_MESSAGES; this is the value GNU gettext uses
 * there, so code written for it passes the same category. */
#ifndef LC_MESSAGES
#define LC_MESSAGES 1729
#endif

#if defined(__GNUC__)
#define LVMAPI_INTL_FORMAT_ARG(n) __attribute__((__format_arg__(n)))
#else
#define LVMAPI_INTL_FORMAT_ARG(n)
#endif

#if defined(LVMAPI_INTL_BUILDING)
#define LVMAPI_INTL_API __declspec(dllexport)
#else
#define LVMAPI_INTL_API __declspec(dllimport)
#endif

#ifdef __cplusplus
extern "C" {
#endif

LVMAPI_INTL_API char *gettext(const char *msgid) LVMAPI_INTL_FORMAT_ARG(1);
LVMAPI_INTL_API char *dgettext(const char *domain, const char *msgid)
    LVMAPI_INTL_FORMAT_ARG(2);
LVMAPI_INTL_API char *dcgettext(const char *domain, const char *msgid, int category)
    LVMAPI_INTL_FORMAT_ARG(2);
LVMAPI_INTL_API char *ngettext(const char *msgid, const char *msgid_plural, unsigned long n)
    LVMAPI_INTL_FORMAT_ARG(1) LVMAPI_INTL_FORMAT_ARG(2);
LVMAPI_INTL_API char *dngettext(const char *domain, const char *msgid,
                                const char *msgid_plural, unsigned long n)
    LVMAPI_INTL_FORMAT_ARG(2) LVMAPI_INTL_FORMAT_ARG(3);
LVMAPI_INTL_API char *dcngettext(const char *domain, const char *msgid,
                                 const char *msgid_plural, unsigned long n, int category)
    LVMAPI_INTL_FORMAT_ARG(2) LVMAPI_INTL_FORMAT_ARG(3);
LVMAPI_INTL_API char *textdomain(const char *domainname);
LVMAPI_INTL_API char *bindtextdomain(const char *domainname, const char *dirname);
LVMAPI_INTL_API char *bind_textdomain_codeset(const char *domainname, const char *codeset);
LVMAPI_INTL_API wchar_t *wbindtextdomain(const char *domainname, const wchar_t *wdirname);

#ifdef __cplusplus
}
#endif

#endif
