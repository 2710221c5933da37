/* Links against every library of the Windows prefix and uses each the way
 * LvMAPI does, under Wine. Every check compares with a value known in
 * advance; any mismatch makes the exit status non-zero.
 * windows_deps.sh --check runs it with only the DLLs of runtime-dlls.txt
 * beside it, so a DLL missing from that list shows here too. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <curl/curl.h>
#include <gmime/gmime.h>
#include <iconv.h>
#include <libical/ical.h>
#include <libintl.h>
#include <libxml/HTMLparser.h>
#include <libxml/parser.h>
#include <libxml/xpath.h>
#include <sqlite3.h>

static int passes, failures;

static void check(int ok, const char *what, const char *got)
{
    printf("%s: %s%s%s\n", ok ? "ok" : "FAILED", what, got ? " -> " : "", got ? got : "");
    if (ok)
        passes++;
    else
        failures++;
}

static void check_str(const char *what, const char *got, const char *want)
{
    check(got != NULL && strcmp(got, want) == 0, what, got ? got : "(null)");
}

/* The database layer: an in-memory database, Debian's FTS5 and JSON. */
static int sum_cb(void *out, int n, char **values, char **names)
{
    (void)n;
    (void)names;
    snprintf(out, 64, "%s", values[0] ? values[0] : "(null)");
    return 0;
}

static void test_sqlite(void)
{
    sqlite3 *db = NULL;
    char got[64] = "";
    char *err = NULL;
    check_str("sqlite version", sqlite3_libversion(), "3.40.1");
    if (sqlite3_open(":memory:", &db) != SQLITE_OK) {
        check(0, "sqlite open :memory:", sqlite3_errmsg(db));
        return;
    }
    int rc = sqlite3_exec(db,
                          "CREATE TABLE gifts(amount INTEGER);"
                          "INSERT INTO gifts VALUES (20), (22);"
                          "SELECT sum(amount) FROM gifts;",
                          sum_cb, got, &err);
    check(rc == SQLITE_OK && strcmp(got, "42") == 0, "sqlite sum of a table", err ? err : got);
    sqlite3_free(err);
    err = NULL;
    got[0] = '\0';
    rc = sqlite3_exec(db,
                      "CREATE VIRTUAL TABLE notes USING fts5(body);"
                      "INSERT INTO notes VALUES ('choir rehearsal moved'), ('bazaar on friday');"
                      "SELECT count(*) FROM notes WHERE notes MATCH 'rehearsal';",
                      sum_cb, got, &err);
    check(rc == SQLITE_OK && strcmp(got, "1") == 0, "sqlite fts5 match", err ? err : got);
    sqlite3_free(err);
    err = NULL;
    got[0] = '\0';
    rc = sqlite3_exec(db, "SELECT json_extract('{\"a\":[1,2,3]}', '$.a[2]');", sum_cb, got, &err);
    check(rc == SQLITE_OK && strcmp(got, "3") == 0, "sqlite json_extract", err ? err : got);
    sqlite3_free(err);
    sqlite3_close(db);
}

/* iconv.dll on its own: Latin-1 to UTF-8. */
static void test_iconv(void)
{
    char in[] = "Gr\xfc\xdf" "e";
    char out[32] = "";
    char *inp = in, *outp = out;
    size_t inleft = strlen(in), outleft = sizeof out - 1;
    iconv_t cd = iconv_open("UTF-8", "ISO-8859-1");
    if (cd == (iconv_t)-1) {
        check(0, "iconv_open UTF-8 from ISO-8859-1", NULL);
        return;
    }
    size_t n = iconv(cd, &inp, &inleft, &outp, &outleft);
    iconv_close(cd);
    *outp = '\0';
    check(n != (size_t)-1 && inleft == 0 && strcmp(out, "Gr\xc3\xbc\xc3\x9f" "e") == 0,
          "iconv Latin-1 to UTF-8", out);
}

/* GLib (with PCRE2 behind GRegex) and the message-catalogue stand-in. */
static void test_glib(void)
{
    check(g_regex_match_simple("^[a-z.]+@[a-z]+\\.org$", "secretary@parish.org", 0, 0),
          "glib regex (pcre2) matches", NULL);
    check(!g_regex_match_simple("^[a-z]+$", "Secretary", 0, 0), "glib regex rejects", NULL);
    gchar *utf8 = g_convert("Gr\xfc\xdf" "e", -1, "UTF-8", "ISO-8859-1", NULL, NULL, NULL);
    check_str("glib g_convert Latin-1", utf8, "Gr\xc3\xbc\xc3\x9f" "e");
    g_free(utf8);
    check_str("intl ngettext plural", ngettext("one reply", "%lu replies", 2), "%lu replies");
    check_str("intl ngettext singular", ngettext("one reply", "%lu replies", 1), "one reply");
    check_str("intl textdomain", textdomain("lvmapi"), "lvmapi");
    check_str("intl textdomain query", textdomain(NULL), "lvmapi");
}

static const char message[] =
    "From: Parish Office <office@example.org>\r\n"
    "To: member@example.org\r\n"
    "Subject: =?iso-8859-1?q?Gr=FC=DFe_aus_der_Gemeinde?=\r\n"
    "Message-ID: <4711@example.org>\r\n"
    "MIME-Version: 1.0\r\n"
    "Content-Type: text/plain; charset=iso-8859-1\r\n"
    "Content-Transfer-Encoding: quoted-printable\r\n"
    "\r\n"
    "Sch=F6ne Gr=FC=DFe\r\n";

static void test_gmime(void)
{
    g_mime_init();
    GMimeStream *stream = g_mime_stream_mem_new_with_buffer(message, sizeof message - 1);
    GMimeParser *parser = g_mime_parser_new_with_stream(stream);
    GMimeMessage *msg = g_mime_parser_construct_message(parser, NULL);
    g_object_unref(parser);
    g_object_unref(stream);
    if (msg == NULL) {
        check(0, "gmime parses a message", NULL);
        return;
    }
    check_str("gmime Subject (RFC 2047, Latin-1)", g_mime_message_get_subject(msg),
              "Gr\xc3\xbc\xc3\x9f" "e aus der Gemeinde");
    check_str("gmime Message-ID", g_mime_message_get_message_id(msg), "4711@example.org");
    InternetAddressList *from = g_mime_message_get_from(msg);
    InternetAddress *addr = internet_address_list_length(from) == 1
                                ? internet_address_list_get_address(from, 0)
                                : NULL;
    check_str("gmime From address",
              addr ? internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(addr)) : NULL,
              "office@example.org");
    GMimeObject *body = g_mime_message_get_body(msg);
    gchar *text = NULL;
    if (GMIME_IS_TEXT_PART(body))
        text = g_mime_text_part_get_text(GMIME_TEXT_PART(body));
    if (text)
        g_strchomp(text);
    check_str("gmime body, decoded to UTF-8", text, "Sch\xc3\xb6ne Gr\xc3\xbc\xc3\x9f" "e");
    g_free(text);
    g_object_unref(msg);
}

static const char calendar[] =
    "BEGIN:VCALENDAR\r\n"
    "VERSION:2.0\r\n"
    "PRODID:-//LvMAPI//smoke//EN\r\n"
    "BEGIN:VTODO\r\n"
    "UID:todo-1@example.org\r\n"
    "SUMMARY:Call the organist\r\n"
    "DUE;TZID=Europe/Berlin:20240301T120000\r\n"
    "STATUS:NEEDS-ACTION\r\n"
    "END:VTODO\r\n"
    "END:VCALENDAR\r\n";

static void check_utc(const char *what, struct icaltimetype local, icaltimezone *zone,
                      int want_hour)
{
    local.zone = zone;
    struct icaltimetype utc = icaltime_convert_to_zone(local, icaltimezone_get_utc_timezone());
    check(utc.hour == want_hour && utc.minute == 0, what, icaltime_as_ical_string(utc));
}

static void test_libical(void)
{
    icalcomponent *cal = icalparser_parse_string(calendar);
    icalcomponent *todo = cal ? icalcomponent_get_first_component(cal, ICAL_VTODO_COMPONENT)
                              : NULL;
    if (todo == NULL) {
        check(0, "libical parses a VTODO", NULL);
        return;
    }
    check_str("libical VTODO summary", icalcomponent_get_summary(todo), "Call the organist");
    check(icalcomponent_get_status(todo) == ICAL_STATUS_NEEDSACTION, "libical VTODO status", NULL);
    /* The zone comes from the shipped zoneinfo (libical's built-in data);
     * summer and winter time differ only if its rules were read. */
    icaltimezone *berlin = icaltimezone_get_builtin_timezone("Europe/Berlin");
    check(berlin != NULL, "libical built-in zone Europe/Berlin", NULL);
    if (berlin != NULL) {
        struct icaltimetype due = icalcomponent_get_due(todo);
        check_utc("libical DUE 12:00 Berlin in March is 11:00 UTC", due, berlin, 11);
        due.month = 7;
        check_utc("libical 12:00 Berlin in July is 10:00 UTC", due, berlin, 10);
    }
    icalcomponent_free(cal);
}

static void test_libxml2(void)
{
    /* The declared Latin-1 goes through iconv into libxml2's UTF-8. */
    static const char xml[] =
        "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>"
        "<survey><q id=\"1\">Caf\xe9</q><q id=\"2\">Tee</q></survey>";
    xmlDocPtr doc = xmlReadMemory(xml, sizeof xml - 1, "survey.xml", NULL, XML_PARSE_NONET);
    if (doc == NULL) {
        check(0, "libxml2 parses XML", NULL);
        return;
    }
    xmlXPathContextPtr ctx = xmlXPathNewContext(doc);
    xmlXPathObjectPtr res = xmlXPathEvalExpression(BAD_CAST "string(/survey/q[@id='1'])", ctx);
    check_str("libxml2 XPath on Latin-1 XML", res ? (const char *)res->stringval : NULL,
              "Caf\xc3\xa9");
    xmlXPathFreeObject(res);
    res = xmlXPathEvalExpression(BAD_CAST "count(/survey/q)", ctx);
    check(res != NULL && res->floatval == 2.0, "libxml2 XPath count", NULL);
    xmlXPathFreeObject(res);
    xmlXPathFreeContext(ctx);
    xmlFreeDoc(doc);

    static const char html[] = "<html><body><p>Hello <b>world</b><p>second</body>";
    htmlDocPtr hdoc = htmlReadMemory(html, sizeof html - 1, "mail.html", "UTF-8",
                                     HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET);
    xmlChar *text = hdoc ? xmlNodeGetContent(xmlDocGetRootElement(hdoc)) : NULL;
    check_str("libxml2 HTML text of unclosed paragraphs", (const char *)text, "Hello worldsecond");
    xmlFree(text);
    xmlFreeDoc(hdoc);
}

static void test_curl(void)
{
    check(curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK, "curl global init", NULL);
    const curl_version_info_data *info = curl_version_info(CURLVERSION_NOW);
    printf("curl %s, TLS %s, zlib %s\n", info->version, info->ssl_version ? info->ssl_version : "none",
           info->libz_version ? info->libz_version : "none");
    check_str("curl version", info->version, "7.88.1");
    check(info->ssl_version != NULL && strstr(info->ssl_version, "Schannel") != NULL,
          "curl TLS backend is Schannel", info->ssl_version);
    check((info->features & CURL_VERSION_SSL) != 0, "curl has TLS", NULL);
    check(info->libz_version != NULL, "curl has zlib", info->libz_version);
    static const char *const wanted[] = {"smtp", "smtps", "imap", "imaps"};
    char protocols[512] = "";
    for (const char *const *p = info->protocols; *p; p++) {
        strncat(protocols, *p, sizeof protocols - strlen(protocols) - 2);
        strcat(protocols, " ");
    }
    printf("curl protocols: %s\n", protocols);
    for (size_t i = 0; i < sizeof wanted / sizeof *wanted; i++) {
        int found = 0;
        for (const char *const *p = info->protocols; *p; p++)
            found |= strcmp(*p, wanted[i]) == 0;
        check(found, "curl protocol", wanted[i]);
    }
    CURL *easy = curl_easy_init();
    check(easy != NULL, "curl easy handle", NULL);
    curl_easy_cleanup(easy);
    curl_global_cleanup();
}

int main(void)
{
    test_sqlite();
    test_iconv();
    test_glib();
    test_gmime();
    test_libical();
    test_libxml2();
    test_curl();
    printf("smoke: %d passed, %d failed\n", passes, failures);
    return failures == 0 && passes > 0 ? 0 : 1;
}
