#!/usr/bin/python3
"""The Windows build's programs against real mail servers, under Wine.

The same Dovecot and SMTP submission server the Linux tests start run on
127.0.0.1 (tests/emailaccess/servers/mail_servers.py). A copy of the Windows
release, with LVEmailAccess.conf pointing at them and trusting their test
certificate through [tls] ca_file (Windows' own TLS verifies it), sends the
demo survey with LvMAPI.exe command 2; the messages the server received are
turned into people's replies and delivered into the IMAP inbox, and
LvMAPI.exe command 4 fetches and stores them. Twice: STARTTLS for sending
and implicit TLS for fetching, then the other way round. Last, a
certificate the settings do not trust is refused and nothing is sent.

    /usr/bin/python3 tests/windows/mail_servers_test.py BUILD_WINDOWS
"""
import json
import os
import shutil
import sqlite3
import subprocess
import sys
import tempfile

source = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
build = os.path.abspath(sys.argv[1])
run = os.path.join(build, "wine-run")
survey = "{6F1C2A40-3B5D-4C8E-9A71-2D4E5F60A1B2}"


def fail(text):
    print("FAIL: " + text, file=sys.stderr)
    sys.exit(1)


def windows_path(path):
    """A Linux path as the Windows programs see it under Wine (drive Z:)."""
    return "Z:" + path.replace("/", "\\")


def config(servers, smtp_scheme, imap_scheme, ca_file):
    smtp_port = servers["smtps"] if smtp_scheme == "smtps" else servers["smtp"]
    imap_port = servers["imaps"] if imap_scheme == "imaps" else servers["imap"]
    return ("[general]\nsender = Grace Fellowship <office@grace.example.org>\ntransport = smtp+imap\n"
            "[smtp]\nurl = %s://127.0.0.1:%d\nuser = %s\npassword = %s\n"
            "[imap]\nurl = %s://127.0.0.1:%d/INBOX\nuser = %s\npassword = %s\n"
            "[tls]\nca_file = %s\n[network]\ntimeout_seconds = 10\nretries = 0\n"
            % (smtp_scheme, smtp_port, servers["user"], servers["password"],
               imap_scheme, imap_port, servers["user"], servers["password"], windows_path(ca_file)))


def install(folder, servers, smtp_scheme, imap_scheme, ca_file):
    """A copy of the release with a fresh demo database and these settings."""
    shutil.copytree(os.path.join(build, "bin"), folder,
                    ignore=shutil.ignore_patterns("*.db", "*.log", "*.tmp", "Mail", "Tasks", "LVEmailAccess.*[!e]"))
    db = os.path.join(folder, "demo.db")
    with sqlite3.connect(db) as c:
        for part in ("schema.sql", "demo.sql"):
            with open(os.path.join(source, "db", part)) as f:
                c.executescript(f.read())
    with open(os.path.join(folder, "LVEmailAccess.conf"), "w") as f:
        f.write(config(servers, smtp_scheme, imap_scheme, ca_file))
    os.chmod(os.path.join(folder, "LVEmailAccess.conf"), 0o600)
    return db


def windows_program(*command):
    """Runs a Windows program under Wine; its exit status and standard error.
    The output goes through files: a Wine service that a program starts on
    its first network use inherits its streams and outlives it, and would
    keep a pipe open for ever."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        done = subprocess.run([run] + list(command), stdin=subprocess.DEVNULL, stdout=out, stderr=err, timeout=300)
        err.seek(0)
        return done.returncode, err.read().decode(errors="replace")


def lvmapi(folder, *args):
    return windows_program(os.path.join(folder, "LvMAPI.exe"), "demo.db", *args)


def delivered_files(servers):
    new = os.path.join(servers["maildir"], ".Delivered", "new")
    return sorted(os.path.join(new, n) for n in os.listdir(new)) if os.path.isdir(new) else []


def count(servers, box):
    """Messages in an IMAP folder of the test mailbox ("" is INBOX)."""
    root = os.path.join(servers["maildir"], "." + box if box else "")
    return sum(len(os.listdir(os.path.join(root, sub))) for sub in ("new", "cur") if os.path.isdir(os.path.join(root, sub)))


def answers(db):
    with sqlite3.connect(db) as c:
        return c.execute("SELECT COUNT(*) FROM SurveyResponse").fetchone()[0], \
               c.execute("SELECT COUNT(*) FROM SurveyReply").fetchone()[0]


def round_trip(servers, command, smtp_scheme, imap_scheme):
    work = tempfile.mkdtemp(prefix="lvmapi-wine-mail-")
    try:
        folder = os.path.join(work, "bin")
        db = install(folder, servers, smtp_scheme, imap_scheme, servers["cert"])
        before = set(delivered_files(servers))
        code, err = lvmapi(folder, "2", survey)
        if code != 0:
            fail("command 2 over %s ended with %d: %s" % (smtp_scheme, code, err))
        sent = [f for f in delivered_files(servers) if f not in before]
        if len(sent) < 4:
            fail("%d messages reached the SMTP server over %s" % (len(sent), smtp_scheme))
        # The messages the server took become people's replies (the demo's).
        fake = os.path.join(work, "Mail")
        os.makedirs(os.path.join(fake, "Outbox", "new"))
        for f in sent:
            shutil.copy(f, os.path.join(fake, "Outbox", "new"))
        subprocess.run(["/usr/bin/python3", os.path.join(source, "scripts", "demo_replies.py"), fake],
                       check=True, capture_output=True)
        replies = sorted(os.listdir(os.path.join(fake, "Inbox", "new")))
        for name in replies:
            command("deliver INBOX " + os.path.join(fake, "Inbox", "new", name))
        # Automatic replies are filed as they are met, the answers once
        # LvMAPI has consumed them.
        filed = {box: count(servers, box) for box in ("Processed", "Skipped")}
        code, err = lvmapi(folder, "4")
        if code != 0:
            fail("command 4 over %s ended with %d: %s" % (imap_scheme, code, err))
        stored, people = answers(db)
        if people != 3 or stored == 0:
            fail("over %s: %d replies with %d answers stored, 3 replies expected" % (imap_scheme, people, stored))
        # Every reply is filed on the server: the answers into Processed,
        # the out-of-office note into Skipped.
        code, err = windows_program(os.path.join(folder, "LVEmailAccess.exe"), "--acknowledge")
        if code != 0:
            fail("--acknowledge ended with %d: %s" % (code, err))
        moved = {box: count(servers, box) - filed[box] for box in filed}
        if moved != {"Processed": 3, "Skipped": 1} or count(servers, "") != 0:
            fail("filed %s, %d left in INBOX" % (moved, count(servers, "")))
        print("sent %d messages over %s, fetched %d replies over %s: %d answers of %d people stored, "
              "3 filed into Processed and 1 into Skipped"
              % (len(sent), smtp_scheme, len(replies), imap_scheme, stored, people))
    finally:
        shutil.rmtree(work, ignore_errors=True)


def refused(servers):
    """A server certificate the settings do not trust: nothing is sent."""
    work = tempfile.mkdtemp(prefix="lvmapi-wine-mail-")
    try:
        other = os.path.join(work, "other.pem")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout",
                        os.path.join(work, "other.key"), "-out", other, "-days", "2", "-subj", "/CN=localhost"],
                       check=True, capture_output=True)
        folder = os.path.join(work, "bin")
        install(folder, servers, "smtp", "imaps", other)
        before = set(delivered_files(servers))
        code, err = lvmapi(folder, "2", survey)
        # As on Linux: a permanent failure of the connection, with its cause.
        if code != 1 or "the server's certificate is not trusted" not in err:
            fail("an untrusted certificate ended command 2 with %d: %s" % (code, err))
        if set(delivered_files(servers)) != before:
            fail("a message was sent to a server whose certificate is not trusted")
        print("an untrusted server certificate: command 2 ended with 1, nothing sent: " + err.strip())
    finally:
        shutil.rmtree(work, ignore_errors=True)


def main():
    servers_script = os.path.join(source, "tests", "emailaccess", "servers", "mail_servers.py")
    with subprocess.Popen(["/usr/bin/python3", servers_script], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                          text=True) as proc:
        servers = json.loads(proc.stdout.readline())

        def command(line):
            proc.stdin.write(line + "\n")
            proc.stdin.flush()
            answer = json.loads(proc.stdout.readline())
            if not answer.get("ok"):
                fail("mail server command '%s': %s" % (line, answer.get("error")))

        round_trip(servers, command, "smtp", "imaps")
        round_trip(servers, command, "smtps", "imap")
        refused(servers)
        proc.stdin.close()


main()
