/* See libintl.h: lookups answer with the caller's own text. What a program
 * sets (its text domain, catalogue folders, codesets) is remembered and
 * reported back, because callers such as GLib test the answers of
 * textdomain() and bind_textdomain_codeset() to decide what works. */
#define LVMAPI_INTL_BUILDING 1
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "libintl.h"

static char *current_domain;

/* The settings live for the whole process, as they do with GNU gettext;
 * there is no call to give them back. */
static char *remember(char **slot, const char *value)
{
    char *copy = strdup(value);
    if (copy == NULL)
        return NULL;
    free(*slot);
    *slot = copy;
    return copy;
}

char *gettext(const char *msgid)
{
    return (char *)msgid;
}

char *dgettext(const char *domain, const char *msgid)
{
    (void)domain;
    return (char *)msgid;
}

char *dcgettext(const char *domain, const char *msgid, int category)
{
    (void)domain;
    (void)category;
    return (char *)msgid;
}

char *ngettext(const char *msgid, const char *msgid_plural, unsigned long n)
{
    return (char *)(n == 1 ? msgid : msgid_plural);
}

char *dngettext(const char *domain, const char *msgid, const char *msgid_plural,
                unsigned long n)
{
    (void)domain;
    return ngettext(msgid, msgid_plural, n);
}

char *dcngettext(const char *domain, const char *msgid, const char *msgid_plural,
                 unsigned long n, int category)
{
    (void)domain;
    (void)category;
    return ngettext(msgid, msgid_plural, n);
}

char *textdomain(const char *domainname)
{
    if (domainname == NULL)
        return current_domain != NULL ? current_domain : (char *)"messages";
    if (*domainname == '\0')
        domainname = "messages";
    return remember(&current_domain, domainname);
}

/* One folder and one codeset per domain would need a table; the programs
 * this serves bind a single domain, so the last binding is what is kept. */
static char *bound_dir;
static char *bound_codeset;
static wchar_t *bound_wdir;

char *bindtextdomain(const char *domainname, const char *dirname)
{
    if (domainname == NULL || *domainname == '\0')
        return NULL;
    if (dirname == NULL)
        return bound_dir;
    return remember(&bound_dir, dirname);
}

char *bind_textdomain_codeset(const char *domainname, const char *codeset)
{
    if (domainname == NULL || *domainname == '\0')
        return NULL;
    if (codeset == NULL)
        return bound_codeset;
    return remember(&bound_codeset, codeset);
}

wchar_t *wbindtextdomain(const char *domainname, const wchar_t *wdirname)
{
    wchar_t *copy;
    if (domainname == NULL || *domainname == '\0')
        return NULL;
    if (wdirname == NULL)
        return bound_wdir;
    copy = wcsdup(wdirname);
    if (copy == NULL)
        return NULL;
    free(bound_wdir);
    bound_wdir = copy;
    return copy;
}
