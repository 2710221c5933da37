#!/usr/bin/python3
"""Fetching replies through Microsoft Graph beside the IMAP road, on the same mail.

REPLIES survey replies (default 2,000) among OTHERS other messages (default
5,000) wait in the Inbox of the Graph stand-in and, the same messages, in
the Inbox of the test Dovecot (tests/emailaccess/servers/mail_servers.py
runs both on 127.0.0.1). For each road LVEmailAccess from BUILD_DIR then
  fetches   operation 4 "Corvane Survey": every reply into the exchange file
            (checked: REPLIES of them, every message still unread), and
  files     the file consumed, --acknowledge: every reply into Processed
            (checked: REPLIES there, OTHERS left in the Inbox).
It prints, per road and step, the wall time and the requests the server
saw: for Graph the stand-in's count by kind (search, page, read, move,
batch, ...), for IMAP the commands in Dovecot's raw log by verb.

Usage: bench/graph_fetch_bench.py [BUILD_DIR] [--replies N] [--others N] [--road graph|imap|both]
A build without transport = graph says so and measures the IMAP road only.
Works in a temporary folder that it removes afterwards.
"""

import argparse
import collections
import json
import os
import re
import shutil
import subprocess
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(HERE)
SERVERS = os.path.join(SOURCE, "tests", "emailaccess", "servers", "mail_servers.py")
SURVEY = "{6F1C2A40-3B5D-4C8E-9A71-2D4E5F60A1B2}"
AUTHSERV = "mx.bench.example"


def reply_template():
    """A reply of some 3.6 KB quoting the whole survey, "{n}" its number."""
    quoted = "".join("> %d.  Question number %d of the spring survey, asked of every member?\r\n"
                     ">     Please type in text.\r\n> <answer%d>  </answer%d>\r\n>\r\n" % (q, q, q, q)
                     for q in range(1, 16))
    # The provider confirmed each sender (as the church's own server says in
    # its field), so every reply is believed without the key of a mailing.
    text = ("Authentication-Results: " + AUTHSERV + "; dmarc=pass header.from=example.org\r\n"
            "From: Member {n} <member{n}@example.org>\r\nTo: office@grace.example.org\r\n"
            "Subject: Re: Corvane Survey - Spring Ministry Survey\r\nDate: Mon, 2 Mar 2026 10:00:00 +0000\r\n"
            "Message-ID: <reply{n}@example.org>\r\nIn-Reply-To: <survey{n}@grace.example.org>\r\n"
            "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: 8bit\r\n\r\n"
            "My answers are below.\r\n<answer1>Yes</answer1>\r\n<answer2>{n}</answer2>\r\n"
            "<answer3>We would like more evening services in the summer.</answer3>\r\n\r\n"
            "On Sun, 1 Mar 2026 at 09:00, Grace Fellowship <office@grace.example.org> wrote:\r\n"
            ">         Spring Ministry Survey\r\n>\r\n" + quoted + "> Thank You!\r\n> <SurveyID>" + SURVEY +
            "</SurveyID>\r\n")
    return (text + "\r\n" + "Sent from my phone. " * max(0, (3600 - len(text)) // 20) + "\r\n").encode()


def other_templates(count):
    """Everyday mail of the office, some of it with "Survey" or "Corvane" in it,
    none a reply to a Corvane Survey mailing."""
    kinds = [
        ("Choir practice on Thursday {n}", "Bob <bob{n}@example.org>", "See you at seven."),
        ("Newsletter {n}: the survey of the roof fund", "news@diocese.example.org", "Our survey of the roof..."),
        ("Re: Sunday school rota {n}", "Carol <carol{n}@example.org>", "Corvane can take the 9th."),
        ("Invoice {n} from the organ tuner", "billing@organ.example.org", "Please find the invoice."),
        ("Re: Corvane Strategy - Goal {n}", "Dan <dan{n}@example.org>", "<Status>40</Status>"),
    ]
    share = [count // len(kinds) + (1 if i < count % len(kinds) else 0) for i in range(len(kinds))]
    for (subject, sender, body), n in zip(kinds, share):
        yield n, ("From: %s\r\nTo: office@grace.example.org\r\nSubject: %s\r\nDate: Sun, 1 Mar 2026 08:00:00 +0000\r\n"
                  "Message-ID: <other-%s-{n}@example.org>\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n%s\r\n"
                  % (sender, subject, abs(hash(subject)) % 9999, body)).encode()


class Servers:
    def __init__(self, work):
        self.process = subprocess.Popen(["/usr/bin/python3", SERVERS, "--rawlog"], stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, stderr=open(os.path.join(work, "servers.err"), "w"),
                                        text=True)
        self.info = json.loads(self.process.stdout.readline() or "{}")
        if "graph_port" not in self.info:
            raise SystemExit("the servers did not start: see " + os.path.join(work, "servers.err"))
        self.work = work

    def command(self, line):
        self.process.stdin.write(line + "\n")
        self.process.stdin.flush()
        answer = json.loads(self.process.stdout.readline())
        if not answer.get("ok"):
            raise SystemExit("%s: %s" % (line, answer))
        return answer

    def deliver(self, prefix, folder, template, count):
        path = os.path.join(self.work, "template.eml")
        with open(path, "wb") as f:
            f.write(template)
        self.command("%sdeliver-many %s %s %d" % (prefix, folder, path, count))

    def stop(self):
        self.process.stdin.close()
        self.process.wait(timeout=60)


def install(work, build, name, config):
    folder = os.path.join(work, name)
    os.makedirs(folder)
    shutil.copy(os.path.join(build, "bin", "LVEmailAccess"), folder)
    with open(os.path.join(folder, "LVEmailAccess.conf"), "w") as f:
        f.write(config)
    os.chmod(os.path.join(folder, "LVEmailAccess.conf"), 0o600)
    return folder


def run(folder, *args):
    start = time.monotonic()
    done = subprocess.run([os.path.join(folder, "LVEmailAccess")] + list(args), cwd=folder,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    return time.monotonic() - start, done


def replies_in(path):
    with open(path, "rb") as f:
        return len(re.findall(rb"<Originator\d+>", f.read()))


def rawlog_counts(rawlog):
    """IMAP commands by verb in Dovecot's raw log, which is then emptied."""
    counts = collections.Counter()
    for name in os.listdir(rawlog):
        path = os.path.join(rawlog, name)
        if name.endswith(".in"):
            for line in open(path, "rb").read().decode("latin-1").splitlines():
                m = re.match(r"(?:\d+\.\d+ )?\S+ (UID )?([A-Za-z]+)", line)
                if m and m.group(2).upper() not in ("", "DONE"):
                    counts[(m.group(1) or "") + m.group(2).upper()] += 1
            counts["sessions"] += 1
        os.remove(path)
    return dict(counts)


def step(road, name, seconds, counts, total_key=None):
    requests = counts.get(total_key) if total_key else sum(v for k, v in counts.items() if k != "sessions")
    detail = ", ".join("%s %d" % (k, v) for k, v in sorted(counts.items()) if k != total_key)
    print("%-5s %-6s %8.2f s  %6d requests  (%s)" % (road, name, seconds, requests or 0, detail))


def check(done, what):
    if done.returncode != 0:
        raise SystemExit("%s ended with %d: %s" % (what, done.returncode, done.stderr.strip()))


def graph_road(servers, work, build, replies, others):
    info = servers.info
    token = os.path.join(work, "token.sh")
    with open(token, "w") as f:
        f.write("#!/bin/sh\necho %s\n" % info["graph_token"])
    os.chmod(token, 0o755)
    folder = install(work, build, "graph", (
        "[general]\nsender = Grace Fellowship <office@grace.example.org>\ntransport = graph\n"
        "[graph]\nurl = https://127.0.0.1:%d/v1.0\n[oauth2]\ntoken_command = %s\n[tls]\nca_file = %s\n"
        "[replies]\nauthserv_id = %s\n" % (info["graph_port"], token, info["cert"], AUTHSERV)))
    servers.deliver("graph ", "inbox", reply_template(), replies)
    for count, template in other_templates(others):
        servers.deliver("graph ", "inbox", template, count)
    servers.command("graph stats reset")
    seconds, done = run(folder, "4", os.path.join(folder, "in.tmp"), "Corvane Survey", "0")
    if done.returncode == 78 and "transport" in done.stderr:
        print("graph: this build has no transport = graph (%s); measured the IMAP road only" % done.stderr.strip())
        return
    check(done, "graph: operation 4")
    got = replies_in(os.path.join(folder, "in.tmp"))
    inbox = servers.command("graph messages inbox")["messages"]
    if got != replies or any(m["isRead"] for m in inbox):
        raise SystemExit("graph: fetched %d of %d replies, %d messages marked read"
                         % (got, replies, sum(m["isRead"] for m in inbox)))
    step("graph", "fetch", seconds, servers.command("graph stats reset")["counts"], "requests")
    os.remove(os.path.join(folder, "in.tmp"))
    seconds, done = run(folder, "--acknowledge")
    check(done, "graph: --acknowledge")
    filed = len(servers.command("graph messages Processed")["messages"])
    left = len(servers.command("graph messages inbox")["messages"])
    if (filed, left) != (replies, others):
        raise SystemExit("graph: %d replies filed into Processed, %d messages left in the Inbox" % (filed, left))
    step("graph", "file", seconds, servers.command("graph stats reset")["counts"], "requests")


def imap_road(servers, work, build, replies, others):
    info = servers.info
    folder = install(work, build, "imap", (
        "[general]\nsender = Grace Fellowship <office@grace.example.org>\ntransport = smtp+imap\n"
        "[smtp]\nurl = smtp://127.0.0.1:%d\nuser = church\npassword = secret\n"
        "[imap]\nurl = imaps://127.0.0.1:%d/INBOX\nuser = church\npassword = secret\n[tls]\nca_file = %s\n"
        "[replies]\nauthserv_id = %s\n" % (info["smtp"], info["imaps"], info["cert"], AUTHSERV)))
    servers.deliver("", "INBOX", reply_template(), replies)
    for count, template in other_templates(others):
        servers.deliver("", "INBOX", template, count)
    rawlog = os.path.join(info["home"], "dovecot.rawlog")
    os.makedirs(rawlog, exist_ok=True)
    os.chown(rawlog, info["uid"], info["gid"])
    rawlog_counts(rawlog)
    seconds, done = run(folder, "4", os.path.join(folder, "in.tmp"), "Corvane Survey", "0")
    check(done, "imap: operation 4")
    got = replies_in(os.path.join(folder, "in.tmp"))
    if got != replies:
        raise SystemExit("imap: fetched %d of %d replies" % (got, replies))
    time.sleep(0.5)  # the raw log written out by the sessions that ended
    step("imap", "fetch", seconds, rawlog_counts(rawlog))
    os.remove(os.path.join(folder, "in.tmp"))
    seconds, done = run(folder, "--acknowledge")
    check(done, "imap: --acknowledge")
    processed = os.path.join(info["maildir"], ".Processed")
    filed = sum(len(os.listdir(os.path.join(processed, sub))) for sub in ("new", "cur")
                if os.path.isdir(os.path.join(processed, sub)))
    if filed != replies:
        raise SystemExit("imap: %d of %d replies filed into Processed" % (filed, replies))
    time.sleep(0.5)
    step("imap", "file", seconds, rawlog_counts(rawlog))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build", nargs="?", default=os.path.join(SOURCE, "build"))
    parser.add_argument("--replies", type=int, default=2000)
    parser.add_argument("--others", type=int, default=5000)
    parser.add_argument("--road", choices=("graph", "imap", "both"), default="both")
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    work = tempfile.mkdtemp(prefix="lvmapi-graph-bench-")
    os.chmod(work, 0o755)
    servers = None
    try:
        servers = Servers(work)
        print("%d replies among %d other messages; LVEmailAccess of %s" % (args.replies, args.others, build))
        if args.road in ("graph", "both"):
            graph_road(servers, work, build, args.replies, args.others)
        if args.road in ("imap", "both"):
            imap_road(servers, work, build, args.replies, args.others)
    finally:
        if servers:
            servers.stop()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
