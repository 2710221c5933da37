#!/usr/bin/python3
"""A survey to 300 members through a submission server that answers as the
providers do at their limits: what each member received, LvMAPI's exit status
and the seconds until it returned, the lines of LvMAPI.log, and when the last
message went out.

Episodes (the provider's window scaled down to 30 messages per 6 s, so that a
run takes a minute instead of ten):
  microsoft-rate     Microsoft 365's "421 4.4.2" beyond 30 a window, connection closed;
                     the account paced at 30 per 6 s; command 2 run again mid-way,
                     and the background sender killed with SIGKILL mid-way
  microsoft-threads  its "432 4.3.2" at the end of DATA, connection kept; the
                     account paced faster than the server allows (40 per 6 s), so
                     the server's answer, not the pace, holds it back
  google-daily       Google's multi-line "550-5.4.5 Daily user sending limit
                     exceeded" after 100 messages; the account on Google's
                     trial preset (500 a day)
  cut-after-data     the connection cut after the server took message 150
                     but before its "250"

Usage: bench/mailing_episodes.py [BUILD_DIR] [EPISODE ...]
The servers are the tests' (tests/emailaccess/servers/mail_servers.py). Each
episode works in a new temporary program folder that is removed afterwards.
"""

import collections
import json
import os
import shutil
import sqlite3
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(HERE)
SURVEY = "{6F1C2A40-3B5D-4C8E-9A71-2D4E5F60A1B2}"
MEMBERS = 300
DRAIN_LIMIT_S = 240

EPISODES = {
    # name: (server command before the run, [smtp] lines, what else happens)
    "microsoft-rate": ("smtp-provider-window microsoft-rate 30 6", "pace = 30 per 6\n", ("rerun", "kill")),
    "microsoft-threads": ("smtp-provider-window microsoft-threads 30 6", "pace = 40 per 6\n", ()),
    "google-daily": ("smtp-provider-window google-daily 100 86400", "pace = google-trial\n", ("rerun",)),
    "cut-after-data": ("smtp-cut-after-data 149", "", ()),
}


class Servers:
    def __init__(self):
        self.process = subprocess.Popen(
            ["/usr/bin/python3", os.path.join(SOURCE, "tests/emailaccess/servers/mail_servers.py")],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        self.info = json.loads(self.process.stdout.readline())

    def command(self, line):
        self.process.stdin.write(line + "\n")
        self.process.stdin.flush()
        answer = json.loads(self.process.stdout.readline())
        if not answer.get("ok"):
            raise RuntimeError(line + ": " + answer.get("error", "?"))
        return answer

    def stop(self):
        self.process.stdin.close()
        self.process.wait(timeout=30)


def demo_install(build, prefix):
    """A new temporary program folder: the two programs and the demo database."""
    folder = tempfile.mkdtemp(prefix=prefix)
    for name in ("LvMAPI", "LVEmailAccess", "libTarnbase.so"):
        shutil.copy2(os.path.join(build, "bin", name), folder)
    db = sqlite3.connect(os.path.join(folder, "church.db"))
    for script in ("schema.sql", "demo.sql"):
        with open(os.path.join(SOURCE, "db", script)) as f:
            db.executescript(f.read())
    db.commit()
    db.close()
    return folder


def write_settings(folder, text):
    path = os.path.join(folder, "LVEmailAccess.conf")
    with open(path, "w") as f:
        f.write(text)
    os.chmod(path, 0o600)


def program_folder(build, servers, smtp_lines, prefix):
    folder = demo_install(build, "lvm-episode-")
    db = sqlite3.connect(os.path.join(folder, "church.db"))
    db.execute("DELETE FROM SurveyPersonXRef WHERE SurveyID = ?", (SURVEY,))
    db.execute("DELETE FROM SurveyOtherEmail WHERE SurveyID = ?", (SURVEY,))
    for n in range(1, MEMBERS + 1):
        person = "{E0000000-0000-4000-8000-%012d}" % n
        db.execute("INSERT INTO Person (PersonID, FirstName, LastName, Email) VALUES (?, ?, ?, ?)",
                   (person, "Member", str(n), "%s%03d@example.org" % (prefix, n)))
        db.execute("INSERT INTO SurveyPersonXRef (SurveyID, PersonId) VALUES (?, ?)", (SURVEY, person))
    db.commit()
    db.close()
    info = servers.info
    conf = ("[general]\nsender = Grace Fellowship <office@grace.example.org>\ntransport = smtp+imap\n"
            "[smtp]\nurl = smtp://127.0.0.1:%d\nuser = %s\npassword = %s\n%s"
            "[imap]\nurl = imap://127.0.0.1:%d/INBOX\nuser = %s\npassword = %s\n"
            "[tls]\nca_file = %s\n[network]\ntimeout_seconds = 10\n"
            % (info["smtp"], info["user"], info["password"], smtp_lines, info["imap"], info["user"],
               info["password"], info["cert"]))
    write_settings(folder, conf)
    return folder


def queued(folder):
    return sum(len(os.listdir(os.path.join(folder, "Mail/Queue", sub)))
               for sub in ("new", "cur") if os.path.isdir(os.path.join(folder, "Mail/Queue", sub)))


def senders(folder):
    """The background senders working for this folder."""
    found = []
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                args = f.read().split(b"\0")
        except OSError:
            continue
        if args and args[0].decode(errors="replace").startswith(folder) and b"--send-queued" in args:
            found.append(int(pid))
    return found


def lvmapi(folder):
    started = time.monotonic()
    run = subprocess.run([os.path.join(folder, "LvMAPI"), "church.db", "2", SURVEY], cwd=folder,
                         stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True, env=dict(os.environ, TZ="UTC"))
    seconds = time.monotonic() - started
    if not os.path.exists(os.path.join(folder, "LvMAPI.log")):
        raise RuntimeError("LvMAPI wrote no run log (exit %d): %s" % (run.returncode, run.stderr))
    with open(os.path.join(folder, "LvMAPI.log"), encoding="utf-8", errors="replace") as f:
        lines = [line.rstrip() for line in f]
    # What the mailing told, from the exchange file on (not the 300 "Found:" lines).
    start = next((i for i, line in enumerate(lines) if line.startswith("Creating output file")), len(lines))
    told = [line for line in lines[start + 1:] if line]
    return run.returncode, seconds, told


def copies(servers, prefix):
    counts = collections.Counter(r for r in servers.command("stats")["recipients"] if r.startswith(prefix))
    return counts


def episode(build, servers, name, index):
    command, smtp_lines, extras = EPISODES[name]
    prefix = "e%d-m" % index
    folder = program_folder(build, servers, smtp_lines, prefix)
    try:
        servers.command(command)
        status, seconds, told = lvmapi(folder)
        started = time.monotonic()
        print("\n## %s\nLvMAPI command 2: exit %d after %.1f s; %d sent at once, %d queued"
              % (name, status, seconds, sum(copies(servers, prefix).values()), queued(folder)))
        for line in told:
            print("    | " + line)
        if "rerun" in extras:
            status, seconds, told = lvmapi(folder)
            print("command 2 again at once: exit %d after %.1f s" % (status, seconds))
            for line in told:
                print("    | " + line)
        if "kill" in extras:
            deadline = time.monotonic() + 30
            while time.monotonic() < deadline and sum(copies(servers, prefix).values()) < 120:
                time.sleep(0.2)
            pids = senders(folder)
            for pid in pids:
                os.kill(pid, 9)
            print("background sender killed with SIGKILL at %d delivered: %s"
                  % (sum(copies(servers, prefix).values()), pids or "none running"))
            subprocess.run([os.path.join(folder, "LVEmailAccess"), "--send-queued"], cwd=folder,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        last_change, seen = time.monotonic(), -1
        while time.monotonic() - started < DRAIN_LIMIT_S:
            total = sum(copies(servers, prefix).values())
            if total != seen:
                seen, last_change = total, time.monotonic()
            if queued(folder) == 0 and not senders(folder):
                break
            time.sleep(0.5)
        counts = copies(servers, prefix)
        histogram = collections.Counter(counts.get("%s%03d@example.org" % (prefix, n), 0) for n in range(1, MEMBERS + 1))
        print("copies per member: %s; last message %.1f s after LvMAPI returned; %d still queued"
              % (", ".join("%d copies: %d" % (k, v) for k, v in sorted(histogram.items())),
                 last_change - started, queued(folder)))
    finally:
        servers.command("smtp-provider off 0")
        for pid in senders(folder):
            os.kill(pid, 9)
        shutil.rmtree(folder, ignore_errors=True)


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(SOURCE, "build"))
    names = sys.argv[2:] or list(EPISODES)
    servers = Servers()
    try:
        for index, name in enumerate(names, 1):
            episode(build, servers, name, index)
    finally:
        servers.stop()


if __name__ == "__main__":
    main()
