#!/usr/bin/python3
"""The Graph stand-in answers in the shapes Microsoft's reference gives: the
transport's tests rely on them, so a slip here would hide one there."""

import base64
import json
import os
import socket
import ssl
import subprocess
import sys
import tempfile
import unittest
import urllib.error
import urllib.parse
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
TOKEN = "lv-graph-test-token"
REPLY = (b"From: Ann Lee <ann.lee@example.org>\r\nTo: office@grace.example.org\r\n"
         b"Subject: RE: Corvane Survey - Spring {n}\r\nDate: Tue, 06 Oct 2026 09:15:00 +0000\r\n"
         b"Message-ID: <r{n}@example.org>\r\n\r\nanswer {n}\r\n")
OTHER = (b"From: Bob <bob@example.org>\r\nTo: office@grace.example.org\r\nSubject: Choir practice {n}\r\n"
         b"Date: Tue, 06 Oct 2026 08:00:00 +0000\r\nMessage-ID: <o{n}@example.org>\r\n\r\nsee you\r\n")
NDR = (b"From: postmaster@grace.example.org\r\nTo: office@grace.example.org\r\nSubject: Undeliverable\r\n"
       b"Message-ID: <ndr1@grace.example.org>\r\nMIME-Version: 1.0\r\n"
       b"Content-Type: multipart/report; report-type=delivery-status; boundary=\"b\"\r\n\r\n"
       b"--b\r\nContent-Type: text/plain\r\n\r\nfailed\r\n"
       b"--b\r\nContent-Type: message/delivery-status\r\n\r\nReporting-MTA: dns; x\r\n\r\n"
       b"Final-Recipient: rfc822; gone@example.org\r\nAction: failed\r\nStatus: 5.1.1\r\n\r\n--b--\r\n")


class StandinTest(unittest.TestCase):
    def setUp(self):
        self.scratch = tempfile.mkdtemp(prefix="lvgraph-test-")
        self.process = subprocess.Popen([sys.executable, os.path.join(HERE, "graph_standin.py")],
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        ready = json.loads(self.process.stdout.readline())
        self.base, self.port = ready["url"], ready["port"]
        self.context = ssl.create_default_context(cafile=ready["cert"])

    def tearDown(self):
        self.process.stdin.close()
        self.process.wait(timeout=30)
        self.process.stdout.close()

    def command(self, line):
        self.process.stdin.write(line + "\n")
        self.process.stdin.flush()
        answer = json.loads(self.process.stdout.readline())
        self.assertTrue(answer["ok"], answer)
        return answer

    def deliver(self, folder, message, count=1):
        path = os.path.join(self.scratch, "m.eml")
        with open(path, "wb") as f:
            f.write(message)
        self.command("deliver-many %s %s %d" % (folder, path, count))

    def call(self, method, url, body=None, headers=None, token=TOKEN):
        url = url if url.startswith("https:") else self.base + url
        headers = dict(headers or {})
        if token:
            headers["Authorization"] = "Bearer " + token
        if isinstance(body, (dict, list)):
            body, headers["Content-Type"] = json.dumps(body).encode(), "application/json"
        request = urllib.request.Request(url, data=body, method=method, headers=headers)
        try:
            with urllib.request.urlopen(request, context=self.context, timeout=30) as answer:
                data, status, got = answer.read(), answer.status, answer.headers
        except urllib.error.HTTPError as e:
            data, status, got = e.read(), e.code, e.headers
        is_json = got.get("Content-Type", "").startswith("application/json")
        return status, got, (json.loads(data) if is_json and data else data)

    def test_search_and_filter_pages_follow_next_link_to_every_match(self):
        self.deliver("inbox", REPLY, 25)
        self.deliver("inbox", OTHER, 30)
        for query in ({"$search": '"subject:Corvane Survey"'}, {"$filter": "contains(subject,'corvane survey')"}):
            with self.subTest(query):
                self.command("stats reset")
                query = dict(query, **{"$top": 10, "$select": "subject,isRead"})
                url, subjects, pages = "/me/mailFolders/inbox/messages?" + urllib.parse.urlencode(query), [], 0
                while url:
                    status, _, page = self.call("GET", url)
                    self.assertEqual(status, 200)
                    subjects += [m["subject"] for m in page["value"]]
                    self.assertTrue(all(set(m) <= {"id", "@odata.etag", "subject", "isRead"} for m in page["value"]))
                    url, pages = page.get("@odata.nextLink"), pages + 1
                self.assertEqual(pages, 3)
                self.assertEqual(sorted(subjects), sorted("RE: Corvane Survey - Spring %d" % n for n in range(1, 26)))
                counts = self.command("stats")["counts"]
                self.assertEqual((counts["search"], counts["page"]), (1, 2))

    def test_move_keeps_an_immutable_id_and_changes_the_other(self):
        self.deliver("inbox", REPLY, 2)
        processed = self.call("POST", "/me/mailFolders", {"displayName": "Processed"})[2]["id"]
        status, _, again = self.call("POST", "/me/mailFolders", {"displayName": "Processed"})
        self.assertEqual((status, again["error"]["code"]), (409, "ErrorFolderExists"))
        for prefer, same in ((True, True), (False, False)):
            headers = {"Prefer": 'IdType="ImmutableId"'} if prefer else {}
            listed = self.call("GET", "/me/mailFolders/inbox/messages", headers=headers)[2]["value"][0]["id"]
            status, _, moved = self.call("POST", "/me/messages/%s/move" % urllib.parse.quote(listed, safe=""),
                                         {"destinationId": processed}, headers)
            self.assertEqual(status, 201)
            self.assertEqual(moved["id"] == listed, same)
            self.assertEqual(moved["parentFolderId"], processed)
            old = self.call("GET", "/me/messages/%s" % urllib.parse.quote(listed, safe=""))[0]
            self.assertEqual(old, 200 if same else 404)

    def test_batch_answers_each_request_and_reading_keeps_unread(self):
        self.deliver("inbox", REPLY, 3)
        self.deliver("inbox", NDR)
        listing = self.call("GET", "/me/mailFolders/inbox/messages?$expand=" + urllib.parse.quote(
            "singleValueExtendedProperties($filter=id eq 'String 0x001A')"))[2]["value"]
        classes = sorted(m["singleValueExtendedProperties"][0]["value"] for m in listing)
        self.assertEqual(classes, ["IPM.Note"] * 3 + ["REPORT.IPM.Note.NDR"])
        requests = [{"id": str(i), "method": "GET", "url": "/me/messages/%s/$value" % m["id"]}
                    for i, m in enumerate(listing)]
        requests.append({"id": "x", "method": "GET", "url": "/me/messages/AAMkADnothere0000000000000="})
        status, _, batch = self.call("POST", "/$batch", {"requests": requests})
        self.assertEqual(status, 200)
        answers = {r["id"]: r for r in batch["responses"]}
        self.assertEqual(answers["x"]["status"], 404)
        self.assertIn(b"Message-ID:", base64.b64decode(answers["0"]["body"]))
        self.assertFalse(any(m["isRead"] for m in self.command("messages inbox")["messages"]))
        too_many = [{"id": str(i), "method": "GET", "url": "/me"} for i in range(21)]
        self.assertEqual(self.call("POST", "/$batch", {"requests": too_many})[0], 400)

    def test_send_delivers_the_bytes_keeps_a_copy_and_reports_what_bounced(self):
        self.command("bounce gone@example.org")
        mime = (b"From: office@grace.example.org\r\nTo: a@example.org, gone@example.org\r\nBcc: b@example.org\r\n"
                b"Subject: Corvane Survey - Spring\r\nMessage-ID: <s1@grace.example.org>\r\n\r\nbody =3D\r\n")
        status, _, _ = self.call("POST", "/me/sendMail", base64.b64encode(mime), {"Content-Type": "text/plain"})
        self.assertEqual(status, 202)
        delivered = self.command("delivered")["delivered"]
        self.assertEqual([d["recipient"] for d in delivered], ["a@example.org", "b@example.org"])
        self.assertEqual(delivered[0]["mime"].encode(), mime.replace(b"Bcc: b@example.org\r\n", b""))
        sent = self.command("messages sentitems")["messages"]
        self.assertEqual([(m["internetMessageId"], m["isRead"]) for m in sent], [("<s1@grace.example.org>", True)])
        report = self.command("messages inbox")["messages"]
        self.assertEqual([(m["subject"], m["messageClass"]) for m in report],
                         [("Undeliverable: Corvane Survey - Spring", "REPORT.IPM.Note.NDR")])
        returned = self.call("GET", "/me/messages/%s/$value" % report[0]["id"])[2]
        self.assertIn(b"Final-Recipient: rfc822;gone@example.org\r\nAction: failed", returned)
        self.assertIn(b"Message-ID: <s1@grace.example.org>", returned)
        status, _, error = self.call("POST", "/me/sendMail", b"not base64!", {"Content-Type": "text/plain"})
        self.assertEqual((status, error["error"]["code"]), (400, "ErrorMimeContentInvalidBase64String"))

    def test_faults(self):
        mime = base64.b64encode(b"From: office@grace.example.org\r\nTo: a@example.org\r\nSubject: s\r\n\r\nx\r\n")
        cases = [  # fault command, request, status, error code, header wanted
            ("fault me 429 retry-after=7", ("GET", "/me", None, {}), 429, "TooManyRequests", ("Retry-After", "7")),
            ("fault me 503", ("GET", "/me", None, {}), 503, "serviceNotAvailable", ("Retry-After", "1")),
            ("fault any 401", ("GET", "/me/mailFolders", None, {}), 401, "InvalidAuthenticationToken", None),
            ("fault send 403", ("POST", "/me/sendMail", mime, {"Content-Type": "text/plain"}), 403,
             "ErrorAccessDenied", None),
            ("scopes User.Read Mail.ReadWrite", ("POST", "/me/sendMail", mime, {"Content-Type": "text/plain"}),
             403, "ErrorAccessDenied", None),
        ]
        for command, (method, url, body, headers), status, code, header in cases:
            with self.subTest(command):
                self.command(command)
                got, answer_headers, error = self.call(method, url, body, headers)
                self.assertEqual((got, error["error"]["code"]), (status, code))
                if header:
                    self.assertEqual(answer_headers.get(header[0]), header[1])
                self.assertEqual(self.call(method, url, body, headers)[0] < 400, not command.startswith("scopes"))
        self.command("scopes " + " ".join(["User.Read", "Mail.ReadWrite", "Mail.Send"]))
        self.assertEqual(self.call("GET", "/me", token="wrong")[0], 401)

    def test_answer_lost_after_send_is_still_delivered(self):
        self.command("fault send cut")
        mime = b"From: office@grace.example.org\r\nTo: a@example.org\r\nSubject: s\r\n\r\nx\r\n"
        body = base64.b64encode(mime)
        request = ("POST /v1.0/me/sendMail HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Bearer %s\r\n"
                   "Content-Type: text/plain\r\nContent-Length: %d\r\n\r\n" % (TOKEN, len(body))).encode() + body
        with socket.create_connection(("127.0.0.1", self.port), timeout=30) as raw:
            with self.context.wrap_socket(raw, server_hostname="127.0.0.1") as tls:
                tls.sendall(request)
                try:
                    answer = tls.recv(4096)
                except (ConnectionError, ssl.SSLError):
                    answer = b""
        self.assertEqual(answer, b"")
        self.assertEqual(len(self.command("delivered")["delivered"]), 1)

    def test_todo_tasks_take_status_and_body_but_no_percentage(self):
        self.command('add-task {"title": "Goal: roof", "body": "goal {G-1}"}')
        lists = self.call("GET", "/me/todo/lists")[2]["value"]
        self.assertEqual(lists[0]["wellknownListName"], "defaultList")
        tasks_url = "/me/todo/lists/%s/tasks" % urllib.parse.quote(lists[0]["id"], safe="")
        task = self.call("GET", tasks_url)[2]["value"][0]
        url = tasks_url + "/" + urllib.parse.quote(task["id"], safe="")
        status, _, patched = self.call("PATCH", url, {"status": "completed",
                                                      "body": {"content": "done", "contentType": "text"}})
        self.assertEqual((status, patched["status"], patched["body"]["content"]), (200, "completed", "done"))
        self.assertIn("completedDateTime", patched)
        for change in ({"percentComplete": 40}, {"status": "finished"}):
            with self.subTest(change):
                self.assertEqual(self.call("PATCH", url, change)[0], 400)


if __name__ == "__main__":
    unittest.main()
