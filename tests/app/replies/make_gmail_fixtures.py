#!/usr/bin/python3
"""Makes the Gmail reply fixtures of this folder (gmail_*.eml).

No Gmail account can be reached from the build machine, so these are built,
not captured: the message LvMAPI sent is taken from a mutt fixture beside
this script (its quoted original, quote marks removed), and the reply is
written in the shape Gmail gives its replies: multipart/alternative with a
text/plain part wrapped at 76 columns (quoted lines too, "> " before each)
and a text/html part that keeps every typed line whole (<div dir="ltr"> on
the web, <div dir="auto"> on Android, the original in a
<blockquote class="gmail_quote"> with a <br> per line), both
quoted-printable, UTF-8, Gmail's header order and boundary style.

    make_gmail_fixtures.py      (writes gmail_web_goal.eml, gmail_android_survey.eml)
"""

import hashlib
import html
import os
import quopri
import re
import textwrap

HERE = os.path.dirname(os.path.abspath(__file__))


def original(fixture):
    """Headers of the mutt reply, and the sent message it quotes."""
    text = open(os.path.join(HERE, fixture), encoding="utf-8").read()
    head, body = text.split("\n\n", 1)
    headers = dict(line.split(": ", 1) for line in head.splitlines() if ": " in line)
    quoted = [line for line in body.splitlines() if line.startswith(">")]
    return headers, [re.sub(r"^> ?", "", line) for line in quoted]


def wrap(line, prefix=""):
    """Gmail's wrapping of the text part: at 76 columns, between words."""
    if not line.strip():
        return [prefix.rstrip()]
    return [prefix + part for part in textwrap.wrap(line, 76 - len(prefix), break_long_words=False,
                                                    break_on_hyphens=False, expand_tabs=False,
                                                    replace_whitespace=False, drop_whitespace=True)]


def html_line(line):
    # Runs of blanks survive as &nbsp; as Gmail writes them.
    return re.sub(r"  ", " &nbsp;", html.escape(line, quote=False))


def qp(text):
    return quopri.encodestring(text.replace("\n", "\r\n").encode("utf-8")).decode("ascii").replace("\r\n", "\n")


def reply(name, sender, headers, sent, typed, inline, div, attribution, message_id, date):
    """`typed`: lines typed above the quote; `inline`: {form line: typed line}
    replaced inside the quote, as when the person types into the quoted form."""
    sent = [inline.get(line, line) for line in sent]
    plain = []
    for line in typed:
        plain += wrap(line)
    plain += ["", attribution, ""]
    for line in sent:
        plain += wrap(line, "> ")
    # The web's editor nests a <div> per line in its own; Android's writes one <div dir="auto"> each.
    inner = "<div>" if div == "ltr" else '<div dir="%s">' % div
    top = "".join(inner + (html_line(line) if line else "<br>") + "</div>" for line in typed)
    attr = html.escape(attribution, quote=False).replace(
        "&lt;lvmapi@localhost&gt;", '&lt;<a href="mailto:lvmapi@localhost">lvmapi@localhost</a>&gt;')
    quote = "<br>".join(html_line(line) for line in sent)
    body_html = ('<div dir="%s">%s</div><br><div class="gmail_quote"><div dir="ltr" class="gmail_attr">%s<br></div>'
                 '<blockquote class="gmail_quote" style="margin:0px 0px 0px 0.8ex;border-left:1px solid '
                 'rgb(204,204,204);padding-left:1ex">%s<br></blockquote></div>\n' % (div, top, attr, quote))
    boundary = "000000000000" + hashlib.md5(name.encode()).hexdigest()[:16]
    subject = headers["Subject"]
    message = (
        "MIME-Version: 1.0\n"
        "References: %s\nIn-Reply-To: %s\n"
        "From: %s\nDate: %s\nMessage-ID: <%s@mail.gmail.com>\n"
        "Subject: %s\nTo: LvMAPI <lvmapi@localhost>\n"
        'Content-Type: multipart/alternative; boundary="%s"\n\n'
        "--%s\nContent-Type: text/plain; charset=\"UTF-8\"\nContent-Transfer-Encoding: quoted-printable\n\n%s\n"
        "--%s\nContent-Type: text/html; charset=\"UTF-8\"\nContent-Transfer-Encoding: quoted-printable\n\n%s\n"
        "--%s--\n"
        % (headers["In-Reply-To"], headers["In-Reply-To"], sender, date, message_id, subject, boundary,
           boundary, qp("\n".join(plain) + "\n"), boundary, qp(body_html), boundary))
    with open(os.path.join(HERE, name), "w", encoding="ascii", newline="\r\n") as f:
        f.write(message)


goal_headers, goal = original("goal_quoted_unchanged.eml")
reply("gmail_web_goal.eml", "Grace Wanjiru Mwangi <grace.mwangi@gmail.com>", goal_headers, goal,
      ["Here is where the prayer walk stands.", "", "Grace"],
      {"<Status> </Status>": "<Status> 40 </Status>",
       "<Comment> </Comment>": "<Comment> Six of us walked the streets around the church in November, and "
                               "the neighbours we met couldn't have been kinder or happier to see us! </Comment>"},
      "ltr", "On Tue, Dec 8, 2026 at 2:08\u202fPM LvMAPI <lvmapi@localhost> wrote:",
      "CAGm9QwUu3T5v8NJz0cH2k7b1yXrLqPj4D6eFsA0tWmR", "Wed, 9 Dec 2026 19:42:11 +0000")

survey_headers, survey = original("survey_quoted_unchanged.eml")
reply("gmail_android_survey.eml", "David Kim <david.kim.grace@gmail.com>", survey_headers, survey,
      ["<answer1> true </answer1>", "<answer2> yes </answer2>", "<answer3> 8 </answer3>",
       "<answer4> About a quarter, though in the summer it is closer to half because of the holiday club "
       "</answer4>", "<answer5> 3 </answer5>", "<answer6> b </answer6>"],
      {}, "auto", "On Tue, Dec 8, 2026, 14:08 LvMAPI <lvmapi@localhost> wrote:",
      "CAKx2ZrV0b7Q9hLmT4sWc1pE8nJ3yG6uF5dA2oRkH7i", "Wed, 9 Dec 2026 08:15:42 +0000")
