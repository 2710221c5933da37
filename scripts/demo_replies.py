#!/usr/bin/python3
"""Turns some of the messages LvMAPI sent into the Outbox into the replies
people would send back, delivered into the Inbox (both Maildir folders).

Used by the demo: answers typed between the tags of a survey, one reply
written on a phone as HTML only, one out-of-office robot, one reply quoting
the whole survey with "> ", and one goal status reply.
"""
import email
import email.policy
import email.utils
import os
import re
import socket
import sys
import time
from email.message import EmailMessage

mail = sys.argv[1] if len(sys.argv) > 1 else "build/bin/Mail"
outbox = os.path.join(mail, "Outbox", "new")
inbox = os.path.join(mail, "Inbox")
# A delivery agent such as Dovecot's keeps a new Maildir to its owner.
os.makedirs(inbox, mode=0o700, exist_ok=True)
for sub in ("tmp", "new", "cur"):
    os.makedirs(os.path.join(inbox, sub), mode=0o700, exist_ok=True)

counter = 0


def deliver(msg):
    """Maildir delivery: write into tmp/, then rename into new/."""
    global counter
    counter += 1
    name = "%d.M%dP%dQ%d.%s" % (time.time(), time.time_ns() % 1000000, os.getpid(), counter, socket.gethostname())
    tmp = os.path.join(inbox, "tmp", name)
    with open(os.open(tmp, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600), "wb") as f:
        f.write(msg.as_bytes(policy=email.policy.SMTP))
    os.rename(tmp, os.path.join(inbox, "new", name))


def reply_to(original, body, html=None, extra_headers=None):
    msg = EmailMessage()
    name, addr = email.utils.parseaddr(original["To"])
    msg["From"] = email.utils.formataddr((name, addr))
    msg["To"] = original["From"]
    msg["Subject"] = "Re: " + original["Subject"]
    msg["Date"] = email.utils.formatdate(localtime=True)
    msg["Message-ID"] = email.utils.make_msgid(domain="example.org")
    # As mail programs answer: the message answered named in both fields,
    # which is how the mail-access program knows the reply comes from the
    # person it was sent to.
    if original["Message-ID"]:
        msg["In-Reply-To"] = original["Message-ID"]
        msg["References"] = original["Message-ID"]
    for key, value in (extra_headers or {}).items():
        msg[key] = value
    if html is not None:
        msg.set_content(html, subtype="html")
    else:
        msg.set_content(body)
    deliver(msg)


def answer(text, answers):
    for number, value in answers.items():
        text = text.replace("<answer%d>  </answer%d>" % (number, number), "<answer%d>%s</answer%d>" % (number, value, number))
    return text


sent = []
for name in sorted(os.listdir(outbox)):
    with open(os.path.join(outbox, name), "rb") as f:
        msg = email.message_from_binary_file(f, policy=email.policy.default)
    sent.append((msg, msg.get_body(preferencelist=("plain",)).get_content()))

by_recipient = {}
for msg, text in sent:
    by_recipient.setdefault((email.utils.parseaddr(msg["To"])[1], msg["Subject"]), (msg, text))

made = 0
for (addr, subject), (msg, text) in by_recipient.items():
    if subject.startswith("Corvane Survey"):
        if addr == "ann.lee@example.org":
            reply_to(msg, "Here are my answers, thank you for asking!\n\n" +
                     answer(text, {1: "true", 2: "yes", 3: "9", 4: "25%", 5: "6", 6: "b"}))
        elif addr == "rob.obrien@example.org":
            # A phone mail app: HTML only, the tags typed as text.
            body = answer(text, {1: "false", 2: "no", 3: "7", 5: "2", 6: "a"})
            html = ("<html><body><div dir=\"auto\">Sent from my phone - Rob O'Brien</div><br>" +
                    "<br>".join(line.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")
                                for line in body.splitlines()) + "</body></html>")
            reply_to(msg, None, html=html)
        elif addr == "maria.santos@example.org":
            reply_to(msg, "I am away until Monday with limited access to e-mail.\nMaria",
                     extra_headers={"Auto-Submitted": "auto-replied", "X-Autoreply": "yes"})
        elif addr == "david.kim@example.org":
            quoted = "\n".join("> " + line for line in answer(text, {1: "true", 2: "yes", 3: "10", 4: "0%", 5: "12", 6: "d"}).splitlines())
            reply_to(msg, "Done! See below.\n\nOn Monday, Grace Fellowship wrote:\n" + quoted)
        else:
            continue
        made += 1
    elif subject.startswith("Corvane Strategy") and "Launch a monthly community meal" in subject:
        body = text.replace("<Status> </Status>", "<Status> 40 </Status>").replace(
            "<Comment> </Comment>", "<Comment> Menu agreed with the cooks; the first meal is booked. Couldn't be happier! </Comment>")
        reply_to(msg, "Quick update below.\n\n" + body)
        made += 1

print("%d replies delivered into %s" % (made, os.path.join(inbox, "new")))
