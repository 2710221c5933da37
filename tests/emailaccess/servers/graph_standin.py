#!/usr/bin/python3
"""A Microsoft Graph stand-in on 127.0.0.1 for the mail-access tests and benchmarks.

One mailbox held in memory, served over HTTPS under /v1.0 as Microsoft Graph
v1.0 serves the signed-in user's mailbox. It follows Microsoft's Graph v1.0
reference and the example answers of these pages (learn.microsoft.com/graph):
  api/user-get (/me), api/user-sendmail and outlook-send-mime-message
  (sendMail with JSON or with base64 MIME as text/plain, 202),
  api/user-list-mailfolders, api/mailfolder-get, api/mailfolder-list-childfolders,
  api/mailfolder-post-childfolders (201; 409 ErrorFolderExists),
  api/mailfolder-list-messages, api/message-get, outlook-get-mime-message
  ($value), api/message-update (isRead), api/message-move (201),
  outlook-immutable-id (Prefer: IdType="ImmutableId"), query-parameters
  ($search, $filter, $select, $top, $skip, $orderby, $expand), paging
  (@odata.nextLink), json-batching ($batch, 20 requests at most, dependsOn,
  bodies that are not JSON base64-encoded), api/singlevaluelegacyextendedproperty-get
  (PR_MESSAGE_CLASS as "String 0x1a"), api/todo-list-lists,
  api/todotasklist-list-tasks, api/todotask-get, api/todotask-update,
  throttling (429 with Retry-After), errors (the error body
  {"error": {"code": ..., "message": ...}}).

What the real service does and the stand-in therefore does too:
  * A message's id changes when it is moved, unless the request carried
    Prefer: IdType="ImmutableId"; either id form is taken as input, the
    header only chooses what is answered. In $batch the header counts per
    inner request (its "headers"), not on the outer POST.
  * Paging is by position: a list's @odata.nextLink carries $skip ($skiptoken
    for $search), so messages moved out of a listing while it is paged shift
    the later pages, as on the service: collect every page, then move.
  * $search matches words (word prefixes) of the named property
    (subject:, from:, to:, body:) or else of from, subject and body; results
    come newest sent first and at most --search-limit (1,000, as the service
    documents) of them, so a client that must see more filters or searches
    again after filing. $search does not combine with $filter or $orderby
    (400). $batch answers in its own order (here: reversed), as the service
    may.
  * Reading $value does not change isRead; new mail is unread, Sent Items
    read. Report items are told by their message class (PR_MESSAGE_CLASS):
    a multipart/report delivery status notification becomes
    REPORT.IPM.Note.NDR (Action: failed), .Delayed or .DR, a disposition
    notification REPORT.IPM.Note.IPNRN, other mail IPM.Note.
  * sendMail with MIME keeps the message's bytes and its Message-ID, delivers
    it to every To, Cc and Bcc address (the Bcc header taken away), and keeps
    a read copy in Sent Items (saveToSentItems false in JSON: no copy).
    A From address other than the mailbox's is 403 ErrorSendAsDenied. An
    address that bounces is still taken (202); its report comes back into
    the Inbox, from "Microsoft Outlook", as "Undeliverable: <subject>".
  * To Do tasks have title, body (content, contentType), status (notStarted,
    inProgress, completed, waitingOnOthers, deferred), importance,
    categories, dueDateTime, completedDateTime; there is no percentage on a
    todoTask, and PATCH with a property the type does not have is 400.

Requests need "Authorization: Bearer <token>": the token the test set
(--token, default "lv-graph-test-token") or one the token service of
mail_servers.py says is active. Permissions are delegated scopes, all
granted unless the test names fewer ("scopes ..."): a request needing one
missing is 403 ErrorAccessDenied.

Run alone it makes its own certificate (or takes --cert/--key), prints one
JSON line {"port", "url", "cert", "token"} and then reads commands from
standard input, one per line, answering each with one JSON line; it stops at
the end of input, on SIGTERM, or when its parent dies. mail_servers.py runs
it in a thread beside the mail servers and passes on its "graph ..."
commands. The same commands are taken over HTTPS: POST /_test/command with
the line as body (no token needed). Commands:
  deliver FOLDER FILE [seen] [class=MESSAGECLASS]   a message into a folder
                          (a well-known name such as inbox, or a display name)
  deliver-many FOLDER FILE N   N unread messages, "{n}" replaced by 1..N
  load DIR                every *.eml file of DIR into the Inbox
  messages FOLDER         the folder's messages: id, immutableId, subject,
                          isRead, messageClass, internetMessageId
  folders                 every folder: id, displayName, parent, count
  delivered               what sendMail delivered: recipient, mime (text)
  fault KIND WHAT [count=N] [after=N] [retry-after=S]
                          the next matching requests (after N that pass) fail:
                          WHAT is 429 (with Retry-After), 503, 401, 403
                          (ErrorAccessDenied) or cut (the request is carried
                          out, then the connection is closed unanswered);
                          KIND is a request kind below or "any"
  fault clear             no more faults
  send-limit N            at most N messages sent a minute (429 beyond)
  bounce ADDRESS [delayed]  mail sent to ADDRESS is not delivered: a report
                          (REPORT.IPM.Note.NDR, or .Delayed) comes back into
                          the Inbox, as Exchange Online writes it; "bounce
                          clear" ends it
  search-limit N          at most N results of one $search (0: all)
  scopes SCOPE...         the delegated scopes granted (Mail.ReadWrite ...)
  token VALUE             the bearer token taken from now on
  add-task JSON           {"list": name, "title", "body", "status"}: a task
  tasks                   every To Do list with its tasks
  stats                   requests counted by kind; "reset" sets them to 0
  journal                 the last 1,000 requests: "METHOD target -> status"
                          (those inside a $batch too)
Request kinds, counted in "counts": me, send, folders (reading folders),
folder-create, list (a message list's first page), search (a first page with
$search or $filter), page (every further page), message (one message's
JSON), read ($value), update (PATCH), move, delete, batch (the POST),
batched (requests inside batches, counted under their own kind as well),
todo, requests (every HTTP request but /_test/).
"""

import argparse
import base64
import binascii
import collections
import copy
import ctypes
import datetime
import email
import email.policy
import email.utils
import hashlib
import json
import os
import re
import secrets
import shutil
import signal
import socket
import ssl
import sys
import tempfile
import threading
import time
import traceback
import urllib.parse
import urllib.request
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

from local_service import LocalService, make_certificate

DEFAULT_TOKEN = "lv-graph-test-token"
DEFAULT_ADDRESS = "office@grace.example.org"
ALL_SCOPES = ("User.Read", "Mail.ReadWrite", "Mail.Send", "Tasks.ReadWrite", "offline_access")
BATCH_LIMIT = 20
MAX_TOP = 1000
DEFAULT_PAGE = 10
WELL_KNOWN = (  # name, display name, at the top of the mailbox
    ("inbox", "Inbox"), ("drafts", "Drafts"), ("sentitems", "Sent Items"),
    ("deleteditems", "Deleted Items"), ("junkemail", "Junk Email"), ("outbox", "Outbox"),
    ("archive", "Archive"), ("conversationhistory", "Conversation History"))
TODO_STATUS = ("notStarted", "inProgress", "completed", "waitingOnOthers", "deferred")
TODO_PATCHABLE = {"title", "body", "status", "importance", "categories", "dueDateTime", "completedDateTime",
                  "startDateTime", "reminderDateTime", "isReminderOn", "recurrence"}
MESSAGE_CLASS_PROPERTY = "String 0x1a"  # PR_MESSAGE_CLASS, as the service names it back
PR_SET_PDEATHSIG = 1


class GraphError(Exception):
    """An answer other than success: status, error code and message as the service gives them."""

    def __init__(self, status, code, message, headers=None):
        super().__init__(message)
        self.status, self.code, self.message, self.headers = status, code, message, headers or {}
        self.inner = {}

    def body(self):
        inner = dict(self.inner, date=now_text()[:-1], **{"request-id": new_guid(), "client-request-id": new_guid()})
        return {"error": {"code": self.code, "message": self.message, "innerError": inner}}


class ConnectionCut(Exception):
    """The request was carried out; its answer is lost with the connection."""


def now_text(when=None):
    when = when or datetime.datetime.now(datetime.timezone.utc)
    return when.strftime("%Y-%m-%dT%H:%M:%SZ")


def new_guid():
    return "%s-%s-%s-%s-%s" % tuple(secrets.token_hex(n) for n in (4, 2, 2, 2, 6))


def new_id(prefix):
    # Ids look like the service's: long base64 with '-', '_' and '=' in them,
    # so a client that does not escape them in a path is caught.
    return prefix + base64.urlsafe_b64encode(secrets.token_bytes(46)).decode() + "="


def not_found():
    return GraphError(404, "ErrorItemNotFound", "The specified object was not found in the store.")


def bad_request(message, code="BadRequest"):
    return GraphError(400, code, message)


def looks_like_id(text):
    return bool(re.fullmatch(r"[A-Za-z0-9_=+/-]{20,}", text or ""))


def words_of(text):
    return re.findall(r"[0-9a-z]+", (text or "").lower())


def phrase_in(phrase, text_words):
    """Every word of `phrase` in a row of `text_words`, each a word's prefix."""
    if not phrase:
        return True
    for i in range(len(text_words) - len(phrase) + 1):
        if all(text_words[i + k].startswith(w) for k, w in enumerate(phrase)):
            return True
    return False


def message_class_of(parsed):
    if parsed.get_content_type() == "multipart/report":
        report = (parsed.get_param("report-type") or "").lower()
        if report == "disposition-notification":
            return "REPORT.IPM.Note.IPNRN"
        if report == "delivery-status":
            actions = set()
            for part in parsed.walk():
                if part.get_content_type() == "message/delivery-status":
                    payload = part.get_payload()
                    blocks = payload if isinstance(payload, list) else []
                    for block in blocks:
                        if block.get("Action"):
                            actions.add(str(block.get("Action")).strip().lower())
            if "failed" in actions or not actions:
                return "REPORT.IPM.Note.NDR"
            if "delayed" in actions:
                return "REPORT.IPM.Note.Delayed"
            return "REPORT.IPM.Note.DR"
    return "IPM.Note"


def recipient(name, address):
    return {"emailAddress": {"name": name or address, "address": address}}


def addresses(parsed, header):
    values = parsed.get_all(header) or []
    return [recipient(n, a) for n, a in email.utils.getaddresses([str(v) for v in values]) if a]


def body_text(parsed):
    part = parsed.get_body(preferencelist=("plain", "html"))
    if part is None:
        return "text", ""
    try:
        content = part.get_content()
    except Exception:  # an undecodable body still lists
        content = ""
    return ("html" if part.get_content_type() == "text/html" else "text"), str(content)


class Message:
    def __init__(self, mime, folder, is_read, message_class=None, received=None):
        self.mime = mime
        self.folder = folder
        self.is_read = is_read
        self.immutable = new_id("AAkALgAAAAAAHYQDEapmEc2byACqAC-EWg0A")
        self.rest = new_id("AAMkADAwATM0MDAAMS1hYjA2LTQ5ZTQtMDACLTAwCgBGAAAD")
        parsed = email.message_from_bytes(mime, policy=email.policy.default)
        self.message_class = message_class or message_class_of(parsed)
        self.subject = str(parsed.get("Subject", "") or "")
        self.internet_message_id = str(parsed.get("Message-ID", "") or "").strip()
        self.sender = (addresses(parsed, "From") or [None])[0]
        self.to, self.cc, self.bcc = addresses(parsed, "To"), addresses(parsed, "Cc"), addresses(parsed, "Bcc")
        self.reply_to = addresses(parsed, "Reply-To")
        try:
            sent = email.utils.parsedate_to_datetime(str(parsed.get("Date")))
            self.sent = now_text(sent.astimezone(datetime.timezone.utc))
        except Exception:
            self.sent = None
        self.received = received or now_text()
        self.body_type, self.body = body_text(parsed)
        self.has_attachments = any(True for _ in parsed.iter_attachments()) if parsed.is_multipart() else False
        self.change_key = secrets.token_urlsafe(12)
        self.created = self.modified = now_text()
        # One conversation per subject without its "Re:"s, as Outlook threads them.
        topic = re.sub(r"^(\s*(re|aw|sv|fw|fwd)\s*:)+\s*", "", self.subject, flags=re.I).lower()
        self.conversation = "AAQkAD" + base64.urlsafe_b64encode(hashlib.sha1(topic.encode()).digest()).decode()
        self.search_words = {
            "subject": words_of(self.subject),
            "from": words_of(json.dumps(self.sender)),
            "to": words_of(json.dumps(self.to + self.cc)),
            "body": words_of(self.body),
        }

    def resource(self, immutable, base, select=None, expand_class=False):
        item = {
            "@odata.etag": 'W/"%s"' % self.change_key,
            "id": self.immutable if immutable else self.rest,
            "createdDateTime": self.created, "lastModifiedDateTime": self.modified,
            "changeKey": self.change_key, "categories": [],
            "receivedDateTime": self.received, "sentDateTime": self.sent or self.received,
            "hasAttachments": self.has_attachments, "internetMessageId": self.internet_message_id,
            "subject": self.subject, "bodyPreview": " ".join(self.body.split())[:255],
            "importance": "normal", "parentFolderId": self.folder.id, "conversationId": self.conversation,
            "isDeliveryReceiptRequested": False, "isReadReceiptRequested": False,
            "isRead": self.is_read, "isDraft": False,
            "webLink": "https://outlook.office365.com/owa/?ItemID=%s&exvsurl=1&viewmodel=ReadMessageItem"
                       % urllib.parse.quote(self.rest, safe=""),
            "inferenceClassification": "focused",
            "body": {"contentType": self.body_type, "content": self.body},
            "sender": self.sender, "from": self.sender,
            "toRecipients": self.to, "ccRecipients": self.cc, "bccRecipients": self.bcc, "replyTo": self.reply_to,
            "flag": {"flagStatus": "notFlagged"},
        }
        if select:
            item = {k: v for k, v in item.items() if k in select or k in ("id", "@odata.etag")}
        if expand_class:
            item["singleValueExtendedProperties"] = [{"id": MESSAGE_CLASS_PROPERTY, "value": self.message_class}]
        return item


class Folder:
    def __init__(self, display_name, parent, well_known=None):
        self.id = new_id("AQMkADAwATM0MDAAMS1hYjA2LTQ5ZTQtMDACLTAwCgAuAAAD")
        self.display_name = display_name
        self.parent = parent
        self.well_known = well_known

    def resource(self, mailbox):
        inside = [m for m in mailbox.messages if m.folder is self]
        return {"id": self.id, "displayName": self.display_name,
                "parentFolderId": self.parent.id if self.parent else None,
                "childFolderCount": sum(1 for f in mailbox.folders if f.parent is self),
                "unreadItemCount": sum(1 for m in inside if not m.is_read),
                "totalItemCount": len(inside), "sizeInBytes": sum(len(m.mime) for m in inside),
                "isHidden": False}


class FilterParser:
    """The part of OData $filter a mail client uses on messages: eq, ne, lt,
    le, gt, ge, and, or, not, parentheses, contains() and startswith()."""

    TOKEN = re.compile(r"\s*(?:(\()|(\))|(,)|('(?:[^']|'')*')|([A-Za-z_][A-Za-z0-9_/]*)|"
                       r"(\d{4}-\d\d-\d\dT[0-9:.]+Z?|-?\d+(?:\.\d+)?))")

    def __init__(self, text):
        self.tokens, pos = [], 0
        text = text.strip()
        while pos < len(text):
            m = self.TOKEN.match(text, pos)
            if not m or m.end() == pos:
                raise bad_request("Invalid filter clause", "ErrorInvalidUrlQueryFilter")
            kind = m.lastindex
            value = m.group(kind)
            if kind == 4:
                value = ("str", value[1:-1].replace("''", "'"))
            elif kind == 6:
                value = ("lit", value)
            self.tokens.append((kind, value))
            pos = m.end()
        self.i = 0

    def parse(self):
        node = self.or_expr()
        if self.i != len(self.tokens):
            raise bad_request("Invalid filter clause", "ErrorInvalidUrlQueryFilter")
        return node

    def peek_word(self):
        if self.i < len(self.tokens) and self.tokens[self.i][0] == 5:
            return self.tokens[self.i][1].lower()
        return None

    def take(self, kind):
        if self.i >= len(self.tokens) or self.tokens[self.i][0] != kind:
            raise bad_request("Invalid filter clause", "ErrorInvalidUrlQueryFilter")
        self.i += 1
        return self.tokens[self.i - 1][1]

    def chain(self, word, operand):
        """operand (word operand)*, grouped from the left."""
        left = operand()
        while self.peek_word() == word:
            self.i += 1
            left = (word, left, operand())
        return left

    def or_expr(self):
        return self.chain("or", self.and_expr)

    def and_expr(self):
        return self.chain("and", self.unary)

    def unary(self):
        if self.peek_word() == "not":
            self.i += 1
            return ("not", self.unary())
        if self.i < len(self.tokens) and self.tokens[self.i][0] == 1:
            self.i += 1
            node = self.or_expr()
            self.take(2)
            return node
        word = self.take(5)
        if word.lower() in ("contains", "startswith"):
            self.take(1)
            prop = self.take(5)
            self.take(3)
            value = self.take(4)
            self.take(2)
            return (word.lower(), prop, value[1])
        op = self.take(5).lower()
        if op not in ("eq", "ne", "lt", "le", "gt", "ge"):
            raise bad_request("Invalid filter clause", "ErrorInvalidUrlQueryFilter")
        kind, value = self.tokens[self.i] if self.i < len(self.tokens) else (0, None)
        self.i += 1
        if kind == 5 and value.lower() in ("true", "false", "null"):
            value = {"true": True, "false": False, "null": None}[value.lower()]
        elif kind in (4, 6):
            value = value[1]
        else:
            raise bad_request("Invalid filter clause", "ErrorInvalidUrlQueryFilter")
        return (op, word, value)


def message_property(message, name, base):
    item = message.resource(False, base)
    for part in name.split("/"):
        item = item.get(part) if isinstance(item, dict) else None
    return item


def filter_matches(node, message, base):
    op = node[0]
    if op == "and":
        return filter_matches(node[1], message, base) and filter_matches(node[2], message, base)
    if op == "or":
        return filter_matches(node[1], message, base) or filter_matches(node[2], message, base)
    if op == "not":
        return not filter_matches(node[1], message, base)
    value = message_property(message, node[1], base)
    if op in ("contains", "startswith"):
        text, wanted = str(value or "").lower(), node[2].lower()
        return wanted in text if op == "contains" else text.startswith(wanted)
    wanted = node[2]
    if isinstance(value, str) and isinstance(wanted, str):
        value, wanted = value.lower(), wanted.lower()
    try:
        return {"eq": value == wanted, "ne": value != wanted}.get(op) if op in ("eq", "ne") else \
            {"lt": value < wanted, "le": value <= wanted, "gt": value > wanted, "ge": value >= wanted}[op]
    except TypeError:
        return False


def parse_search(text):
    """KQL as far as a mail client needs it: words and "phrases", each alone
    or after property: (subject, from, to, body); AND between them."""
    text = text.strip()
    if len(text) >= 2 and text[0] == '"' and text[-1] == '"':
        text = text[1:-1]
    terms = []
    for m in re.finditer(r'(?:(\w+):)?(?:"((?:[^"\\]|\\.)*)"|(\S+))', text):
        prop, phrase = (m.group(1) or "").lower(), m.group(2) if m.group(2) is not None else m.group(3)
        if not prop and phrase.upper() == "AND":
            continue
        if prop and prop not in ("subject", "from", "to", "body", "participants"):
            raise bad_request("The property '%s' is not supported in $search." % prop)
        terms.append(({"participants": "from"}.get(prop, prop), words_of(phrase.replace('\\"', '"'))))
    # A property's term without quotes takes one word; the rest stand alone.
    return terms


def search_matches(terms, message):
    for prop, phrase in terms:
        fields = [prop] if prop else ["subject", "from", "body"]  # the service's default properties
        if not any(phrase_in(phrase, message.search_words[f]) for f in fields):
            return False
    return True


class Mailbox:
    def __init__(self, address):
        self.address = address
        self.root = Folder("Top of Information Store", None, "msgfolderroot")
        self.folders = [Folder(display, self.root, name) for name, display in WELL_KNOWN]
        self.messages = []
        self.delivered = []  # (recipient address, MIME bytes)
        self.todo_lists = [{"id": new_id("AAMkADIyAAAAABrJAAA-"), "displayName": "Tasks", "isOwner": True,
                            "isShared": False, "wellknownListName": "defaultList", "tasks": []}]

    def folder(self, key):
        """A folder by id, well-known name, or (for the tests) display name."""
        if key in (self.root.id, "msgfolderroot"):
            return self.root
        for f in self.folders:
            if key == f.id or key.lower() == (f.well_known or "\0"):
                return f
        raise GraphError(404, "ErrorItemNotFound", "The specified object was not found in the store.")

    def folder_named(self, name, create=False):
        """For the tests: a folder by well-known or display name (the first
        of that name); with `create`, one made beside the Inbox when missing."""
        for f in self.folders:
            if name.lower() in ((f.well_known or "\0"), f.display_name.lower()):
                return f
        if not create:
            raise ValueError("no folder " + name)
        folder = Folder(name, self.root)
        self.folders.append(folder)
        return folder

    def message(self, key):
        for m in self.messages:
            if key in (m.immutable, m.rest):
                return m
        if not looks_like_id(key):
            raise GraphError(400, "ErrorInvalidIdMalformed", "Id is malformed.")
        raise not_found()

    def deliver(self, mime, folder, is_read=False, message_class=None):
        message = Message(mime, folder, is_read, message_class)
        self.messages.append(message)
        return message


class Fault:
    def __init__(self, kind, what, count=1, after=0, retry_after=1):
        self.kind, self.what, self.count, self.after, self.retry_after = kind, what, count, after, retry_after

    def applies(self, kind):
        if self.count <= 0 or (self.kind != "any" and self.kind != kind):
            return False
        if self.after > 0:
            self.after -= 1
            return False
        self.count -= 1
        return True


class GraphStandin(LocalService):
    def __init__(self, cert, key, address=DEFAULT_ADDRESS, tokens=None, search_limit=1000, delivered_dir=None,
                 on_delivery=None):
        self.cert, self.key = cert, key
        self.tokens = tokens  # mail_servers.py's TokenService, or None
        self.token = DEFAULT_TOKEN
        self.scopes = set(ALL_SCOPES)
        self.mailbox = Mailbox(address)
        self.search_limit = search_limit
        self.delivered_dir = delivered_dir
        self.on_delivery = on_delivery  # called with (recipients, MIME bytes) for every message sent
        self.lock = threading.RLock()
        self.faults = []
        self.send_limit = 0
        self.bounces = {}  # address -> delayed (True) or failed for good (False)
        self.sent_times = []
        self.counts = {}
        self.journal = collections.deque(maxlen=1000)
        self.port = 0
        self.server = None

    # --- the API ------------------------------------------------------------
    def base(self):
        return "https://127.0.0.1:%d/v1.0" % self.port

    def note(self, method, target, status):
        self.journal.append("%s %s -> %s" % (method, target, status))

    def count(self, kind):
        self.counts[kind] = self.counts.get(kind, 0) + 1

    def check_fault(self, kind):
        for fault in self.faults:
            if fault.applies(kind):
                if fault.what == "429":
                    error = GraphError(429, "TooManyRequests", "Please retry again later.",
                                       {"Retry-After": str(fault.retry_after)})
                    error.inner = {"code": "429", "message": "Please retry after", "status": "429"}
                    raise error
                if fault.what == "503":
                    raise GraphError(503, "serviceNotAvailable",
                                     "The service is temporarily unavailable for maintenance or is overloaded. "
                                     "You may repeat the request after a delay, which may be specified in a "
                                     "Retry-After header.", {"Retry-After": str(fault.retry_after)})
                if fault.what == "401":
                    raise GraphError(401, "InvalidAuthenticationToken",
                                     "Access token has expired or is not yet valid.",
                                     {"WWW-Authenticate": 'Bearer realm="", error="invalid_token"'})
                if fault.what == "403":
                    raise GraphError(403, "ErrorAccessDenied", "Access is denied. Check credentials and try again.")
                return "cut"
        return None

    def authorize(self, header):
        if not header.startswith("Bearer ") or not header[7:].strip():
            raise GraphError(401, "InvalidAuthenticationToken", "Access token is empty.",
                             {"WWW-Authenticate": 'Bearer realm="", error="invalid_token"'})
        token = header[7:].strip()
        if token != self.token and not (self.tokens and self.tokens.active(token)):
            raise GraphError(401, "InvalidAuthenticationToken", "Access token has expired or is not yet valid.",
                             {"WWW-Authenticate": 'Bearer realm="", error="invalid_token"'})

    def need(self, *scopes):
        if not any(s in self.scopes for s in scopes):
            raise GraphError(403, "ErrorAccessDenied", "Access is denied. Check credentials and try again.")

    def handle(self, method, target, headers, body):
        """One request (also one inside $batch): (status, headers, body); the
        body is a dict for JSON, bytes otherwise, None for none."""
        url = urllib.parse.urlsplit(target)
        path = url.path
        if path.startswith("/v1.0"):
            path = path[len("/v1.0"):]
        if not path.startswith("/"):
            path = "/" + path
        query = dict(urllib.parse.parse_qsl(url.query, keep_blank_values=True))
        immutable = 'idtype="immutableid"' in headers.get("prefer", "").lower().replace(" ", "")
        parts = [urllib.parse.unquote(p) for p in path.strip("/").split("/")]
        kind, action = self.route(method, parts, query)
        self.count(kind)
        cut = self.check_fault(kind)
        result = action(method, parts, query, headers, body, immutable)
        if cut:
            raise ConnectionCut()
        return result

    def route(self, method, parts, query):
        if parts[:1] != ["me"]:
            raise bad_request("Resource not found for the segment '%s'." % (parts[0] if parts else ""),
                              "BadRequest")
        rest = parts[1:]
        if not rest:
            return "me", self.api_me
        if rest == ["sendMail"] and method == "POST":
            return "send", self.api_send
        if rest[0] == "mailFolders":
            if len(rest) >= 3 and rest[2] == "messages":
                if len(rest) == 3:
                    return self.list_kind(query), self.api_list_messages
                return self.message_kind(method, rest[4:]), self.api_message
            if len(rest) >= 3 and rest[2] == "childFolders" and method == "POST":
                return "folder-create", self.api_create_folder
            if len(rest) == 1 and method == "POST":
                return "folder-create", self.api_create_folder
            return "folders", self.api_folders
        if rest[0] == "messages":
            if len(rest) == 1:
                return self.list_kind(query), self.api_list_messages
            return self.message_kind(method, rest[2:]), self.api_message
        if rest[0] == "todo":
            return "todo", self.api_todo
        raise bad_request("Resource not found for the segment '%s'." % rest[0])

    @staticmethod
    def list_kind(query):
        if "$skip" in query or "$skiptoken" in query:
            return "page"
        return "search" if ("$search" in query or "$filter" in query) else "list"

    @staticmethod
    def message_kind(method, tail):
        if tail == ["$value"]:
            return "read"
        if tail == ["move"]:
            return "move"
        return {"PATCH": "update", "DELETE": "delete"}.get(method, "message")

    def api_me(self, method, parts, query, headers, body, immutable):
        self.need("User.Read", "Mail.ReadWrite", "Mail.Send")
        return 200, {}, {"@odata.context": self.base() + "/$metadata#users/$entity",
                         "businessPhones": [], "displayName": "Grace Fellowship Office", "givenName": None,
                         "jobTitle": None, "mail": self.mailbox.address, "mobilePhone": None,
                         "officeLocation": None, "preferredLanguage": "en-US", "surname": None,
                         "userPrincipalName": self.mailbox.address,
                         "id": "87d349ed-44d7-43e1-9a83-5f2406dee5bd"}

    # --- sending ------------------------------------------------------------
    def api_send(self, method, parts, query, headers, body, immutable):
        self.need("Mail.Send")
        content_type = headers.get("content-type", "").split(";")[0].strip().lower()
        save = True
        if content_type == "text/plain":
            try:
                mime = base64.b64decode(re.sub(rb"\s+", b"", body or b""), validate=True)
                if not mime:
                    raise ValueError("empty")
            except (binascii.Error, ValueError):
                raise bad_request("Invalid base64 string for MIME content.", "ErrorMimeContentInvalidBase64String")
        elif content_type == "application/json":
            request = self.json_body(body)
            if "message" not in request:
                raise bad_request("Empty Payload. JSON content expected.", "ErrorInvalidRequest")
            save = request.get("saveToSentItems", True) not in (False, "false")
            mime = self.mime_from_json(request["message"])
        else:
            raise GraphError(415, "UnsupportedMediaType",
                             "The content type '%s' is not supported." % content_type)
        parsed = email.message_from_bytes(mime, policy=email.policy.default)
        targets = [a for _, a in email.utils.getaddresses(
            [str(v) for h in ("To", "Cc", "Bcc") for v in (parsed.get_all(h) or [])]) if a]
        if not targets:
            raise bad_request("At least one recipient is not valid., Recipient is missing.",
                              "ErrorInvalidRecipients")
        sender = email.utils.parseaddr(str(parsed.get("From", "")))[1]
        if sender and sender.lower() != self.mailbox.address.lower():
            raise GraphError(403, "ErrorSendAsDenied",
                             "The user account which was used to submit this request does not have the right to "
                             "send mail on behalf of the specified sending account., Cannot submit message.")
        if self.send_limit:
            minute_ago = time.monotonic() - 60
            self.sent_times = [t for t in self.sent_times if t > minute_ago]
            if len(self.sent_times) >= self.send_limit:
                wait = int(self.sent_times[0] - minute_ago) + 1
                raise GraphError(429, "ErrorExceededMessageLimit",
                                 "Cannot send mail. The message limit of the account is exceeded.",
                                 {"Retry-After": str(wait)})
            self.sent_times.append(time.monotonic())
        delivered = self.without_bcc(mime)
        reached = [t for t in targets if t.lower() not in self.bounces]
        for target in reached:
            self.mailbox.delivered.append((target, delivered))
            if self.delivered_dir:
                name = "%06d-%s.eml" % (len(self.mailbox.delivered), re.sub(r"[^A-Za-z0-9@._-]", "_", target))
                with open(os.path.join(self.delivered_dir, name), "wb") as f:
                    f.write(delivered)
        if self.on_delivery and reached:
            self.on_delivery(reached, delivered)
        if save:
            self.mailbox.deliver(mime, self.mailbox.folder("sentitems"), is_read=True)
        # The service took the message (202); what it could not deliver comes
        # back later as its report in the Inbox.
        for target in targets:
            if target.lower() in self.bounces:
                report = self.report(parsed, mime, target, self.bounces[target.lower()])
                self.mailbox.deliver(report, self.mailbox.folder("inbox"))
        return 202, {}, None

    def report(self, parsed, mime, target, delayed):
        """The delivery status notification Exchange Online writes: the
        reason for people, the status per recipient, the returned headers."""
        domain = self.mailbox.address.split("@")[-1]
        subject = str(parsed.get("Subject", ""))
        head = mime.split(b"\r\n\r\n", 1)[0].split(b"\n\n", 1)[0]
        boundary = "_report_" + secrets.token_hex(8)
        action, status, diagnostic = (("delayed", "4.4.7", "smtp;400 4.4.7 Message delayed") if delayed else
                                      ("failed", "5.1.10", "smtp;550 5.1.10 RESOLVER.ADR.RecipientNotFound; "
                                                           "Recipient not found by SMTP address lookup"))
        text = (
            "From: Microsoft Outlook <MicrosoftExchange329e71ec88ae4615bbc36ab6ce41109e@%s>\r\n"
            "To: <%s>\r\nDate: %s\r\nSubject: %s: %s\r\nMessage-ID: <%s@%s>\r\n"
            "Auto-Submitted: auto-replied\r\nX-MS-Exchange-Message-Is-Ndr:\r\nMIME-Version: 1.0\r\n"
            "Content-Type: multipart/report; report-type=delivery-status; boundary=\"%s\"\r\n\r\n"
            "--%s\r\nContent-Type: text/plain; charset=\"us-ascii\"\r\n\r\n%s\r\n\r\n"
            "--%s\r\nContent-Type: message/delivery-status\r\n\r\n"
            "Reporting-MTA: dns;BN0PR01MB0000.namprd01.prod.outlook.com\r\nArrival-Date: %s\r\n\r\n"
            "Final-Recipient: rfc822;%s\r\nAction: %s\r\nStatus: %s\r\nDiagnostic-Code: %s\r\n\r\n"
            "--%s\r\nContent-Type: text/rfc822-headers\r\n\r\n"
            % (domain, self.mailbox.address, email.utils.formatdate(), "Delivery delayed" if delayed else "Undeliverable",
               subject, new_guid(), domain, boundary, boundary,
               ("Delivery to %s has been delayed; the server will keep trying." if delayed else
                "Your message to %s couldn't be delivered.") % target,
               boundary, email.utils.formatdate(), target, action, status, diagnostic, boundary))
        return text.encode() + head.rstrip(b"\r\n") + ("\r\n\r\n--%s--\r\n" % boundary).encode()

    @staticmethod
    def without_bcc(mime):
        # Only the header block changes; the body's bytes stay as sent.
        head, sep, rest = mime.partition(b"\r\n\r\n")
        if not sep:
            head, sep, rest = mime.partition(b"\n\n")
        lines, out, skipping = re.split(rb"(?<=\n)", head), [], False
        for line in lines:
            if line[:1] in (b" ", b"\t") and skipping:
                continue
            skipping = line.lower().startswith(b"bcc:")
            if not skipping:
                out.append(line)
        return b"".join(out) + sep + rest

    def mime_from_json(self, message):
        out = email.message.EmailMessage()
        out["From"] = self.mailbox.address
        for field, header in (("toRecipients", "To"), ("ccRecipients", "Cc"), ("bccRecipients", "Bcc")):
            entries = message.get(field) or []
            if entries:
                out[header] = ", ".join(email.utils.formataddr((e["emailAddress"].get("name", ""),
                                                                e["emailAddress"]["address"])) for e in entries)
        out["Subject"] = message.get("subject", "")
        out["Date"] = email.utils.formatdate(localtime=False)
        out["Message-ID"] = email.utils.make_msgid(domain=self.mailbox.address.split("@")[-1])
        content = message.get("body", {})
        out.set_content(content.get("content", ""),
                        subtype="html" if content.get("contentType", "text").lower() == "html" else "plain")
        return out.as_bytes(policy=email.policy.SMTP)

    @staticmethod
    def json_body(body):
        try:
            value = json.loads(body or b"{}") if isinstance(body, (bytes, str)) else (body or {})
        except ValueError:
            raise bad_request("Unable to read JSON request payload. Please ensure Content-Type header is set "
                              "and payload is of valid JSON format.")
        if not isinstance(value, dict):
            raise bad_request("Unable to read JSON request payload.")
        return value

    # --- folders ------------------------------------------------------------
    def api_folders(self, method, parts, query, headers, body, immutable):
        self.need("Mail.ReadWrite", "Mail.Read")
        rest = parts[2:]
        if method != "GET":
            raise GraphError(405, "ErrorInvalidRequest", "The OData request is not supported.")
        if rest and len(rest) == 1:
            folder = self.mailbox.folder(rest[0])
            return 200, {}, dict(folder.resource(self.mailbox),
                                 **{"@odata.context": self.base() + "/$metadata#users('me')/mailFolders/$entity"})
        if rest and rest[1:] != ["childFolders"]:
            raise bad_request("Resource not found for the segment '%s'." % rest[1])
        # /me/mailFolders lists the top of the mailbox, as msgfolderroot's children do.
        parent = self.mailbox.folder(rest[0]) if rest else self.mailbox.root
        children = [f for f in self.mailbox.folders if f.parent is parent]
        if "$filter" in query:
            node = FilterParser(query["$filter"]).parse()
            children = [f for f in children if self.folder_filter(node, f)]
        path = "/me/mailFolders/%s/childFolders" % urllib.parse.quote(rest[0], safe="") if rest else "/me/mailFolders"
        return self.page_of(children, query, path, lambda f: f.resource(self.mailbox))

    def folder_filter(self, node, folder):
        op = node[0]
        if op in ("and", "or"):
            a, b = self.folder_filter(node[1], folder), self.folder_filter(node[2], folder)
            return a and b if op == "and" else a or b
        if op == "not":
            return not self.folder_filter(node[1], folder)
        value = folder.resource(self.mailbox).get(node[1])
        if op in ("contains", "startswith"):
            text = str(value or "").lower()
            return node[2].lower() in text if op == "contains" else text.startswith(node[2].lower())
        if op == "eq":
            return (value.lower() if isinstance(value, str) else value) == \
                (node[2].lower() if isinstance(node[2], str) else node[2])
        if op == "ne":
            return value != node[2]
        raise bad_request("Invalid filter clause", "ErrorInvalidUrlQueryFilter")

    def api_create_folder(self, method, parts, query, headers, body, immutable):
        self.need("Mail.ReadWrite")
        parent = self.mailbox.root if len(parts) == 2 else self.mailbox.folder(parts[2])
        request = self.json_body(body)
        name = request.get("displayName")
        if not isinstance(name, str) or not name.strip():
            raise bad_request("The folder name is invalid.", "ErrorInvalidRequest")
        if any(f.parent is parent and f.display_name.lower() == name.lower() for f in self.mailbox.folders):
            raise GraphError(409, "ErrorFolderExists", "A folder with the specified name already exists.")
        folder = Folder(name, parent)
        self.mailbox.folders.append(folder)
        return 201, {"Location": self.base() + "/me/mailFolders('%s')" % folder.id}, dict(
            folder.resource(self.mailbox), **{"@odata.context": self.base() + "/$metadata#users('me')/mailFolders/$entity"})

    # --- messages -------------------------------------------------------------
    def api_list_messages(self, method, parts, query, headers, body, immutable):
        self.need("Mail.ReadWrite", "Mail.Read")
        if method != "GET":
            raise GraphError(405, "ErrorInvalidRequest", "The OData request is not supported.")
        folder = self.mailbox.folder(parts[2]) if parts[1] == "mailFolders" else None
        items = [m for m in self.mailbox.messages if folder is None or m.folder is folder]
        base = self.base()
        if "$search" in query:
            if "$filter" in query or "$orderby" in query:
                raise bad_request("The query parameter '%s' is not supported with '$search'."
                                  % ("$filter" if "$filter" in query else "$orderBy"), "ErrorInvalidUrlQuery")
            terms = parse_search(query["$search"])
            items = [m for m in items if search_matches(terms, m)]
            items.sort(key=lambda m: m.sent or m.received, reverse=True)
            if self.search_limit:
                items = items[:self.search_limit]
        else:
            if "$filter" in query:
                node = FilterParser(query["$filter"]).parse()
                if "$orderby" in query:
                    ordered = query["$orderby"].split()[0]
                    if ordered.lower() not in query["$filter"].lower():
                        raise bad_request("The restriction or sort order is too complex for this operation.",
                                          "InefficientFilter")
                items = [m for m in items if filter_matches(node, m, base)]
            order = query.get("$orderby", "receivedDateTime desc").split()
            key = order[0] if order else "receivedDateTime"
            items.sort(key=lambda m: str(message_property(m, key, base) or ""),
                       reverse=len(order) < 2 or order[1].lower() == "desc")
        select = set(s.strip() for s in query["$select"].split(",")) if "$select" in query else None
        expand = query.get("$expand", "")
        expand_class = "singlevalueextendedproperties" in expand.lower() and "0x001a" in expand.lower().replace(
            "0x1a", "0x001a")
        path = "/me/" + "/".join(urllib.parse.quote(p, safe="") for p in parts[1:])
        return self.page_of(items, query, path, lambda m: m.resource(immutable, base, select, expand_class),
                            token="$search" in query)

    def page_of(self, items, query, path, render, token=False):
        try:
            top = int(query.get("$top", DEFAULT_PAGE))
            skip = int(query.get("$skip", "0"))
            if "$skiptoken" in query:
                skip = int(base64.urlsafe_b64decode(query["$skiptoken"].encode()).decode().split(":")[1])
        except (ValueError, IndexError, binascii.Error):
            raise bad_request("Invalid $top, $skip or $skiptoken.", "ErrorInvalidUrlQuery")
        if top < 1 or top > MAX_TOP or skip < 0:
            raise bad_request("The value of '$top' must be between 1 and %d." % MAX_TOP, "ErrorInvalidUrlQuery")
        page = items[skip:skip + top]
        answer = {"@odata.context": self.base() + "/$metadata#users('me')" + path[len("/me"):],
                  "value": [render(i) for i in page]}
        if skip + top < len(items):
            following = {k: v for k, v in query.items() if k not in ("$skip", "$skiptoken")}
            if token:
                following["$skiptoken"] = base64.urlsafe_b64encode(("MSG:%d" % (skip + top)).encode()).decode()
            else:
                following["$skip"] = str(skip + top)
            answer["@odata.nextLink"] = self.base() + path + "?" + urllib.parse.urlencode(
                following, quote_via=urllib.parse.quote, safe="$,'()")
        return 200, {}, answer

    def api_message(self, method, parts, query, headers, body, immutable):
        rest = parts[1:]
        if rest[0] == "mailFolders":
            folder = self.mailbox.folder(rest[1])
            message = self.mailbox.message(rest[3])
            if message.folder is not folder:
                raise not_found()
            tail = rest[4:]
        else:
            message = self.mailbox.message(rest[1])
            tail = rest[2:]
        base = self.base()
        if tail == ["$value"] and method == "GET":
            self.need("Mail.ReadWrite", "Mail.Read")
            return 200, {"Content-Type": "text/plain"}, message.mime
        if tail == ["move"] and method == "POST":
            self.need("Mail.ReadWrite")
            target = self.json_body(body).get("destinationId")
            if not isinstance(target, str) or not target:
                raise bad_request("Value cannot be null. Parameter name: DestinationId", "ErrorInvalidRequest")
            try:
                destination = self.mailbox.folder(target)
            except GraphError:
                if not looks_like_id(target):
                    raise GraphError(400, "ErrorInvalidIdMalformed", "Id is malformed.")
                raise
            if destination is not message.folder:
                message.folder = destination
                message.rest = new_id("AAMkADAwATM0MDAAMS1hYjA2LTQ5ZTQtMDACLTAwCgBGAAAD")
                message.change_key = secrets.token_urlsafe(12)
                message.modified = now_text()
            return 201, {}, dict(message.resource(immutable, base),
                                 **{"@odata.context": base + "/$metadata#users('me')/messages/$entity"})
        if tail:
            raise bad_request("Resource not found for the segment '%s'." % tail[0])
        if method == "GET":
            self.need("Mail.ReadWrite", "Mail.Read")
            select = set(s.strip() for s in query["$select"].split(",")) if "$select" in query else None
            expand = query.get("$expand", "").lower()
            return 200, {}, dict(message.resource(immutable, base, select, "singlevalueextendedproperties" in expand),
                                 **{"@odata.context": base + "/$metadata#users('me')/messages/$entity"})
        if method == "PATCH":
            self.need("Mail.ReadWrite")
            change = self.json_body(body)
            if "isRead" in change:
                if not isinstance(change["isRead"], bool):
                    raise bad_request("Cannot convert the literal to the expected type 'Edm.Boolean'.")
                message.is_read = change["isRead"]
            message.change_key = secrets.token_urlsafe(12)
            message.modified = now_text()
            return 200, {}, message.resource(immutable, base)
        if method == "DELETE":
            self.need("Mail.ReadWrite")
            self.mailbox.messages.remove(message)
            return 204, {}, None
        raise GraphError(405, "ErrorInvalidRequest", "The OData request is not supported.")

    # --- To Do ---------------------------------------------------------------
    def todo_list(self, key):
        for entry in self.mailbox.todo_lists:
            if entry["id"] == key:
                return entry
        raise GraphError(404, "ErrorItemNotFound", "The specified object was not found in the store.")

    @staticmethod
    def task_resource(task):
        return {k: v for k, v in task.items()}

    def api_todo(self, method, parts, query, headers, body, immutable):
        self.need("Tasks.ReadWrite", "Tasks.Read")
        rest = parts[2:]
        if rest == ["lists"] and method == "GET":
            return self.page_of(self.mailbox.todo_lists, query, "/me/todo/lists",
                                lambda l: {k: v for k, v in l.items() if k != "tasks"})
        if rest == ["lists"] and method == "POST":
            self.need("Tasks.ReadWrite")
            name = self.json_body(body).get("displayName")
            if not isinstance(name, str) or not name:
                raise bad_request("Invalid request body.", "invalidRequest")
            entry = {"id": new_id("AAMkADIyAAAAABrJAAA-"), "displayName": name, "isOwner": True, "isShared": False,
                     "wellknownListName": "none", "tasks": []}
            self.mailbox.todo_lists.append(entry)
            return 201, {}, {k: v for k, v in entry.items() if k != "tasks"}
        if len(rest) >= 3 and rest[0] == "lists" and rest[2] == "tasks":
            entry = self.todo_list(rest[1])
            if len(rest) == 3 and method == "GET":
                return self.page_of(entry["tasks"], query, "/me/todo/lists/%s/tasks" % rest[1], self.task_resource)
            if len(rest) == 3 and method == "POST":
                self.need("Tasks.ReadWrite")
                task = self.new_task(self.json_body(body))
                entry["tasks"].append(task)
                return 201, {}, task
            if len(rest) == 4:
                task = next((t for t in entry["tasks"] if t["id"] == rest[3]), None)
                if task is None:
                    raise not_found()
                if method == "GET":
                    return 200, {}, task
                if method == "PATCH":
                    self.need("Tasks.ReadWrite")
                    self.patch_task(task, self.json_body(body))
                    return 200, {}, task
        raise bad_request("Resource not found for the segment '%s'." % (rest[0] if rest else "todo"))

    def new_task(self, fields):
        stamp = now_text()
        task = {"@odata.etag": 'W/"%s"' % secrets.token_urlsafe(12), "importance": "normal", "isReminderOn": False,
                "status": "notStarted", "title": "", "createdDateTime": stamp, "lastModifiedDateTime": stamp,
                "hasAttachments": False, "categories": [], "id": new_id("AAkALgAAAAAAHYQDEapmEc2byACqAC-"),
                "body": {"content": "", "contentType": "text"}}
        self.patch_task(task, fields)
        return task

    @staticmethod
    def patch_task(task, change):
        unknown = sorted(set(change) - TODO_PATCHABLE)
        if unknown:
            raise bad_request("Invalid request body: the property '%s' does not exist on type "
                              "'microsoft.graph.todoTask'." % unknown[0], "invalidRequest")
        if "status" in change and change["status"] not in TODO_STATUS:
            raise bad_request("Invalid request body: '%s' is not a valid taskStatus." % change["status"],
                              "invalidRequest")
        if "body" in change:
            body = change["body"]
            if not isinstance(body, dict) or body.get("contentType", "text").lower() not in ("text", "html"):
                raise bad_request("Invalid request body: body must be an itemBody.", "invalidRequest")
            change = dict(change, body={"content": str(body.get("content", "")),
                                        "contentType": body.get("contentType", "text").lower()})
        stamp = now_text()
        task.update(change)
        if change.get("status") == "completed" and "completedDateTime" not in change:
            task["completedDateTime"] = {"dateTime": stamp[:-1] + ".0000000", "timeZone": "UTC"}
        elif "status" in change and change["status"] != "completed":
            task.pop("completedDateTime", None)
        if "body" in change:
            task["bodyLastModifiedDateTime"] = stamp
        task["lastModifiedDateTime"] = stamp
        task["@odata.etag"] = 'W/"%s"' % secrets.token_urlsafe(12)

    # --- $batch --------------------------------------------------------------
    def batch(self, body, outer_headers):
        request = self.json_body(body)
        requests = request.get("requests")
        if not isinstance(requests, list) or not requests:
            raise bad_request("Invalid batch payload format.", "BadRequest")
        if len(requests) > BATCH_LIMIT:
            raise bad_request("The number of batch requests exceeds the maximum of %d." % BATCH_LIMIT)
        ids = [r.get("id") for r in requests if isinstance(r, dict)]
        if len(ids) != len(requests) or not all(isinstance(i, str) and i for i in ids) or \
                len(set(i.lower() for i in ids)) != len(ids):
            raise bad_request("Each request of a batch needs an id of its own (ids are not case-sensitive).")
        done, responses = {}, []
        for entry in requests:
            inner_headers = {k.lower(): str(v) for k, v in (entry.get("headers") or {}).items()}
            depends = entry.get("dependsOn") or []
            if any(done.get(d, 0) >= 400 or d not in done for d in depends):
                status, headers, result = 424, {}, GraphError(424, "FailedDependency",
                                                              "A dependency of this request failed.").body()
            else:
                inner_body = entry.get("body")
                if inner_body is not None and "content-type" not in inner_headers:
                    raise bad_request("Content-Type header is required for a request with a body.")
                if isinstance(inner_body, (dict, list)):
                    inner_body = json.dumps(inner_body).encode()
                elif isinstance(inner_body, str):
                    inner_body = inner_body.encode()
                self.count("batched")
                method, target = str(entry.get("method", "GET")).upper(), str(entry.get("url", ""))
                try:
                    status, headers, result = self.handle(method, target, inner_headers, inner_body)
                except GraphError as e:
                    status, headers, result = e.status, e.headers, e.body()
                except ConnectionCut:
                    # The whole batch's answer is lost, after this request was done.
                    raise
                except Exception as e:  # a fault of the stand-in, told in the answer
                    traceback.print_exc()
                    status, headers, result = 500, {}, GraphError(500, "generalException", repr(e)).body()
                self.note(method, "(batched) " + target, status)
            done[entry["id"]] = status
            answer = {"id": entry["id"], "status": status, "headers": dict(headers)}
            if isinstance(result, bytes):
                answer["body"] = base64.b64encode(result).decode()
                answer["headers"].setdefault("Content-Type", "text/plain")
            elif result is not None:
                answer["body"] = result
                answer["headers"].setdefault("Content-Type", "application/json")
            responses.append(answer)
        # The service may answer in any order; the reverse one catches a
        # client that pairs answers with requests by position.
        return 200, {}, {"responses": responses[::-1]}

    # --- control, from the tests ----------------------------------------------
    def command(self, line):
        words = line.split()
        if not words:
            raise ValueError("empty command")
        verb, args = words[0], words[1:]
        with self.lock:
            if verb == "deliver":
                folder = self.mailbox.folder_named(args[0], create=True)
                with open(args[1], "rb") as f:
                    mime = f.read()
                options = dict(a.split("=", 1) for a in args[2:] if "=" in a)
                message = self.mailbox.deliver(mime, folder, "seen" in args[2:], options.get("class"))
                return {"id": message.rest, "immutableId": message.immutable, "messageClass": message.message_class}
            if verb == "deliver-many":
                folder = self.mailbox.folder_named(args[0], create=True)
                with open(args[1], "rb") as f:
                    template = f.read()
                for n in range(1, int(args[2]) + 1):
                    self.mailbox.deliver(template.replace(b"{n}", str(n).encode()), folder)
                return {"count": int(args[2])}
            if verb == "load":
                names = sorted(n for n in os.listdir(args[0]) if n.endswith(".eml"))
                for name in names:
                    with open(os.path.join(args[0], name), "rb") as f:
                        self.mailbox.deliver(f.read(), self.mailbox.folder("inbox"))
                return {"count": len(names)}
            if verb == "messages":
                folder = self.mailbox.folder_named(args[0])
                return {"messages": [{"id": m.rest, "immutableId": m.immutable, "subject": m.subject,
                                      "isRead": m.is_read, "messageClass": m.message_class,
                                      "internetMessageId": m.internet_message_id}
                                     for m in self.mailbox.messages if m.folder is folder]}
            if verb == "folders":
                return {"folders": [dict(f.resource(self.mailbox), parent=f.parent.display_name if f.parent else "")
                                    for f in self.mailbox.folders]}
            if verb == "delivered":
                return {"delivered": [{"recipient": r, "mime": m.decode("utf-8", "replace")}
                                      for r, m in self.mailbox.delivered]}
            if verb == "fault":
                if args == ["clear"]:
                    self.faults = []
                    return {"faults": 0}
                if len(args) < 2 or args[1] not in ("429", "503", "401", "403", "cut"):
                    raise ValueError("fault KIND 429|503|401|403|cut [count=N] [after=N] [retry-after=S]")
                options = dict(a.split("=", 1) for a in args[2:])
                self.faults.append(Fault(args[0], args[1], int(options.get("count", 1)),
                                         int(options.get("after", 0)), int(options.get("retry-after", 1))))
                return {"faults": len(self.faults)}
            if verb == "bounce":
                if args == ["clear"]:
                    self.bounces = {}
                else:
                    self.bounces[args[0].lower()] = "delayed" in args[1:]
                return {"bounces": sorted(self.bounces)}
            if verb == "search-limit":
                self.search_limit = int(args[0])
                return {"search_limit": self.search_limit}
            if verb == "send-limit":
                self.send_limit, self.sent_times = int(args[0]), []
                return {"send_limit": self.send_limit}
            if verb == "scopes":
                self.scopes = set(args)
                return {"scopes": sorted(self.scopes)}
            if verb == "token":
                self.token = args[0]
                return {"token": self.token}
            if verb == "add-task":
                fields = json.loads(line.split(None, 1)[1])
                name = fields.pop("list", "Tasks")
                entry = next((l for l in self.mailbox.todo_lists if l["displayName"] == name), None)
                if entry is None:
                    entry = {"id": new_id("AAMkADIyAAAAABrJAAA-"), "displayName": name, "isOwner": True,
                             "isShared": False, "wellknownListName": "none", "tasks": []}
                    self.mailbox.todo_lists.append(entry)
                if isinstance(fields.get("body"), str):
                    fields["body"] = {"content": fields["body"], "contentType": "text"}
                task = self.new_task(fields)
                entry["tasks"].append(task)
                return {"id": task["id"], "listId": entry["id"]}
            if verb == "tasks":
                return {"lists": copy.deepcopy(self.mailbox.todo_lists)}
            if verb == "journal":
                return {"requests": list(self.journal)}
            if verb == "stats":
                counts = dict(self.counts)
                if args == ["reset"]:
                    self.counts = {}
                return {"counts": counts, "messages": len(self.mailbox.messages),
                        "delivered": len(self.mailbox.delivered)}
        raise ValueError("unknown command " + verb)

    # --- serving --------------------------------------------------------------
    def start(self):
        service = self

        class Handler(BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"  # connections are kept, as the service keeps them

            def log_message(self, *_):
                pass

            def send(self, status, headers, body):
                data = b""
                if isinstance(body, bytes):
                    data = body
                elif body is not None:
                    data = json.dumps(body).encode()
                    headers = dict(headers)
                    headers.setdefault("Content-Type", "application/json;odata.metadata=minimal;"
                                                       "odata.streaming=true;IEEE754Compatible=false;charset=utf-8")
                self.send_response(status)
                for name, value in headers.items():
                    self.send_header(name, value)
                self.send_header("request-id", new_guid())
                self.send_header("Content-Length", str(len(data)))
                self.end_headers()
                self.wfile.write(data)

            def work(self, method):
                length = int(self.headers.get("Content-Length") or 0)
                body = self.rfile.read(length) if length else b""
                if self.path.startswith("/_test/"):
                    try:
                        answer = dict(service.command(body.decode()), ok=True)
                    except Exception as e:  # the test sees the reason
                        answer = {"ok": False, "error": str(e)}
                    return self.send(200, {}, answer)
                headers = {k.lower(): v for k, v in self.headers.items()}
                try:
                    with service.lock:
                        service.count("requests")
                        service.authorize(headers.get("authorization", ""))
                        if urllib.parse.urlsplit(self.path).path in ("/v1.0/$batch", "/$batch"):
                            if method != "POST":
                                raise GraphError(405, "BadRequest", "Batch requests are sent with POST.")
                            service.count("batch")
                            cut = service.check_fault("batch")
                            result = service.batch(body, headers)
                            if cut:
                                raise ConnectionCut()
                        else:
                            result = service.handle(method, self.path, headers, body)
                except GraphError as e:
                    service.note(method, self.path, e.status)
                    return self.send(e.status, e.headers, e.body())
                except ConnectionCut:
                    service.note(method, self.path, "cut")
                    self.close_connection = True
                    try:
                        self.connection.shutdown(socket.SHUT_RDWR)
                    except OSError:
                        pass
                    return
                except Exception as e:  # a fault of the stand-in: told, never taken for a cut connection
                    traceback.print_exc()
                    service.note(method, self.path, 500)
                    error = GraphError(500, "generalException", "graph_standin.py: %r" % e)
                    return self.send(500, {}, error.body())
                service.note(method, self.path, result[0])
                self.send(*result)

            def do_GET(self):
                self.work("GET")

            def do_POST(self):
                self.work("POST")

            def do_PATCH(self):
                self.work("PATCH")

            def do_DELETE(self):
                self.work("DELETE")

        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(self.cert, self.key)

        class Server(ThreadingHTTPServer):
            def get_request(self):
                sock, address = super().get_request()
                # Answers go out at once, as a server's do: without this a
                # body written after its header waits for the client's
                # delayed acknowledgement (some 40 ms a request).
                sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
                return context.wrap_socket(sock, server_side=True, do_handshake_on_connect=False), address

            def handle_error(self, request, client_address):
                pass  # a client that goes away mid-request is no news here

        self.serve(Server(("127.0.0.1", self.port), Handler))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cert", help="server certificate (PEM); default: one made for this run")
    parser.add_argument("--key", help="its private key (PEM)")
    parser.add_argument("--port", type=int, default=0, help="port (default: one chosen at run time)")
    parser.add_argument("--token", default=DEFAULT_TOKEN, help="the bearer token taken")
    parser.add_argument("--address", default=DEFAULT_ADDRESS, help="the mailbox's address (/me mail)")
    parser.add_argument("--load", help="a folder of .eml files put into the Inbox at the start")
    parser.add_argument("--delivered", help="a folder into which sendMail writes each delivery as a file")
    parser.add_argument("--search-limit", type=int, default=1000, help="results of one $search at most (0: all)")
    args = parser.parse_args()
    ctypes.CDLL("libc.so.6", use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGTERM)
    if os.getppid() == 1:
        sys.exit(1)
    folder = tempfile.mkdtemp(prefix="lvgraph-")
    try:
        cert, key = (args.cert, args.key) if args.cert else make_certificate(folder)
        service = GraphStandin(cert, key, args.address, search_limit=args.search_limit,
                               delivered_dir=args.delivered)
        service.token = args.token
        service.port = args.port
        if args.load:
            service.command("load " + args.load)
        service.start()
        signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
        print(json.dumps({"port": service.port, "url": service.base(), "cert": cert, "token": service.token}),
              flush=True)
        for line in sys.stdin:
            if not line.strip():
                continue
            try:
                answer = dict(service.command(line.strip()), ok=True)
            except Exception as e:  # the test sees the reason
                answer = {"ok": False, "error": str(e)}
            print(json.dumps(answer), flush=True)
        service.stop()
    finally:
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
