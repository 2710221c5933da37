#!/usr/bin/python3
"""The demo's loop through Microsoft Graph, against the tests' Graph stand-in
(tests/emailaccess/servers/graph_standin.py, HTTPS on 127.0.0.1): the survey
and the goal notifications sent with transport = graph, two of them bounced
by Exchange (one not delivered, one delayed), the replies people write
(scripts/demo_replies.py: answers, an HTML-only reply, a robot, a quoting
reply, a goal status; and one reply without answers), command 5, and what came of it: LvMAPI.log, the
mailbox's folders, the rows, and the goal's task in Microsoft To Do.

Usage: scripts/demo_graph.py [BUILD_DIR]   (after scripts/bootstrap.sh)
Works in a temporary folder that it removes afterwards.
"""
import email
import email.message
import email.policy
import email.utils
import json
import os
import shutil
import sqlite3
import subprocess
import sys
import tempfile

SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(SOURCE, "bench"))
from mailing_episodes import Servers, demo_install, write_settings  # noqa: E402

SURVEY = "{6F1C2A40-3B5D-4C8E-9A71-2D4E5F60A1B2}"
STRATEGY = "{E2F3A4B5-7C8D-4E9F-A0B1-C2D3E4F5A6B7}"
MEAL_GOAL = "{F1000001-AAAA-4BBB-8CCC-DDDDEEEE0001}"


def step(text):
    print("\n== " + text)


def lvmapi(folder, *args):
    subprocess.run([os.path.join(folder, "LvMAPI"), "church.db", *args], cwd=folder, stdout=subprocess.DEVNULL,
                   env=dict(os.environ, TZ="UTC"), check=False)
    with open(os.path.join(folder, "LvMAPI.log"), encoding="utf-8", errors="replace") as f:
        return [line.rstrip() for line in f if line.strip()]


def graph(servers, command):
    return servers.command("graph " + command)


def replies_from(servers, scratch):
    """What Graph delivered, turned into replies by the demo's reply maker."""
    mail = os.path.join(scratch, "Mail")
    outbox = os.path.join(mail, "Outbox", "new")
    os.makedirs(outbox)
    for n, one in enumerate(graph(servers, "delivered")["delivered"]):
        with open(os.path.join(outbox, "%03d.eml" % n), "w", encoding="utf-8", newline="") as f:
            f.write(one["mime"])
    subprocess.run(["/usr/bin/python3", os.path.join(SOURCE, "scripts/demo_replies.py"), mail], check=True)
    inbox = os.path.join(mail, "Inbox", "new")
    replies = [os.path.join(inbox, name) for name in sorted(os.listdir(inbox))]
    # And one who answers the survey with a promise instead of answers.
    for one in graph(servers, "delivered")["delivered"]:
        sent = email.message_from_string(one["mime"], policy=email.policy.default)
        if one["recipient"] == "maria.santos@example.org" and "Survey" in sent["Subject"]:
            reply = email.message.EmailMessage()
            reply["From"], reply["To"] = "Maria Santos <maria.santos@example.org>", sent["From"]
            reply["Subject"], reply["In-Reply-To"] = "Re: " + sent["Subject"], sent["Message-ID"]
            reply["References"], reply["Message-ID"] = sent["Message-ID"], "<promise@example.org>"
            reply["Date"] = email.utils.formatdate()
            reply.set_content("I will fill it in after Sunday's service.\n\nMaria")
            path = os.path.join(scratch, "promise.eml")
            with open(path, "wb") as f:
                f.write(reply.as_bytes(policy=email.policy.SMTP))
            replies.append(path)
    return replies


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(SOURCE, "build"))
    servers = Servers()
    folder = demo_install(build, "lvm-graph-demo-")
    scratch = tempfile.mkdtemp(prefix="lvm-graph-replies-")
    try:
        info = servers.info
        write_settings(folder, "[general]\nsender = Grace Fellowship <office@grace.example.org>\ntransport = graph\n"
                       "[graph]\nurl = https://127.0.0.1:%d/v1.0\n[oauth2]\ntoken_command = /bin/echo %s\n"
                       "[tls]\nca_file = %s\n" % (info["graph_port"], info["graph_token"], info["cert"]))
        graph(servers, "bounce david.kim@example.org")
        graph(servers, "bounce jane.visitor@example.net delayed")
        graph(servers, 'add-task {"title": "Launch a monthly community meal", "body": "Strategy goal %s"}' % MEAL_GOAL)

        step("LvMAPI church.db 2 %s   (the survey, through Graph)" % SURVEY)
        for line in lvmapi(folder, "2", SURVEY):
            if "sent" in line or "Creating output file" in line:
                print("   | " + line)
        step("LvMAPI church.db 1 %s   (the goals' notifications)" % STRATEGY)
        for line in lvmapi(folder, "1", STRATEGY):
            if " sent" in line:
                print("   | " + line)

        step("People reply; Exchange returns two delivery reports")
        for path in replies_from(servers, scratch):
            graph(servers, "deliver inbox " + path)
        for message in graph(servers, "messages inbox")["messages"]:
            print("   inbox: %s" % message["subject"])

        step("LvMAPI church.db 5   (fetch and store the replies)")
        for line in lvmapi(folder, "5"):
            if line.startswith(("Not delivered", "Delayed", "Not stored", "PROCESS", "Number of")) or "left for" in line:
                print("   | " + line)
        subprocess.run([os.path.join(folder, "LVEmailAccess"), "--acknowledge"], cwd=folder, check=False,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

        step("The mailbox's folders")
        for entry in graph(servers, "folders")["folders"]:
            print("   %-14s %d message(s)" % (entry["displayName"], entry.get("totalItemCount", 0)))

        step("Stored rows")
        db = sqlite3.connect(os.path.join(folder, "church.db"))
        for row in db.execute("SELECT r.ReplyEmail, COUNT(s.ResponseID) FROM SurveyReply r LEFT JOIN SurveyResponse s "
                              "ON s.ReplyID = r.ReplyID GROUP BY r.ReplyID ORDER BY r.ReplyEmail"):
            print("   survey reply from %s: %d answer(s)" % row)
        for row in db.execute("SELECT r.ReplyEmail, s.PercentComplete, s.Comment FROM StrategyGoalStatusReply r "
                              "JOIN StrategyGoalStatusResponse s ON s.ReplyID = r.ReplyID"):
            print("   goal status from %s: %s%%, %r" % row)
        db.close()

        step("The goal's task in Microsoft To Do")
        for todo in graph(servers, "tasks")["lists"]:
            for task in todo["tasks"]:
                print("   [%s] %s (%s)" % (todo["displayName"], task["title"], task["status"]))
                for line in task["body"]["content"].splitlines():
                    print("      " + line)
    finally:
        servers.stop()
        shutil.rmtree(folder, ignore_errors=True)
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    main()
