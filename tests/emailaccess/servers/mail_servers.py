#!/usr/bin/python3
"""Real mail servers on 127.0.0.1 for the mail-access tests and benchmarks.

Starts, in a folder of its own:
  * Dovecot (IMAP with STARTTLS and implicit TLS) with a private configuration,
    one passwd-file user and a Maildir;
  * an SMTP submission server (aiosmtpd) with STARTTLS and AUTH required, and
    a second one with implicit TLS, both delivering into the Maildir folder
    "Delivered" that Dovecot serves (tmp/, then renamed into new/); with
    --open-smtp a third one without either (for the benchmarks).
A fault proxy listens too ("imaps_proxy"): implicit TLS in front of Dovecot's
implicit TLS port, passing everything on until told to cut a connection.
Every port is chosen at run time, so several runs can work side by side.
With --token-service, a stand-in OAuth 2.0 provider (token_service.py) runs
too, and both servers also accept its access tokens (XOAUTH2, OAUTHBEARER):
Dovecot asks its introspection endpoint, the SMTP server asks it directly.
The Microsoft Graph stand-in (graph_standin.py) always runs beside them
("graph_port", HTTPS with the same certificate, under /v1.0): its mailbox is
its own, held in memory, and what its sendMail sends is delivered into the
Maildir folder "Delivered" too; it takes its own token and, with
--token-service, the token service's.

When it is ready it prints one JSON line with the ports and paths. It then
reads commands from standard input, one per line, and answers each with one
JSON line:
  stop-imap | start-imap | stop-smtp | start-smtp
  smtp-stop-after N       the SMTP servers stop after N more deliveries
  smtp-reject ADDRESS TEXT  RCPT TO ADDRESS is answered with TEXT ("550 ...")
  smtp-tempfail-data N    the next N DATA commands get "451"
  smtp-provider NAME N    after N more deliveries, answer as provider NAME does
                          at its limit (PROVIDER_LIMITS); "smtp-provider off 0"
                          ends it
  smtp-provider-window NAME N S  at most N deliveries in any S seconds; beyond
                          that, answer as provider NAME does at its limit
                          ("smtp-provider off 0" ends it too)
  smtp-cut-after-data N   after N more deliveries, the next message is taken
                          and the connection closed before the "250"
  deliver FOLDER FILE [seen]  a message into INBOX or a folder
  renew-uidvalidity       the mailbox gets new UIDs, as if made again
  stats                   connections and deliveries so far
  cut-after TEXT          through the fault proxy: the next IMAP command that
                          contains TEXT (case ignored) reaches Dovecot, which
                          carries it out; its answer is then dropped and the
                          connection cut, as a failing network does
  token VERB ...          the token service's commands (token_service.py)
  graph COMMAND ...       the Graph stand-in's commands (graph_standin.py)
It stops everything when standard input closes, on SIGTERM, and when its
parent process dies. Run it with /usr/bin/python3 (Debian's aiosmtpd).

As root, the servers run as an unprivileged system user (created when
missing): Dovecot through runuser, and every delivered file is given to it.
"""

import argparse
import asyncio
import base64
import binascii
import collections
import ctypes
import json
import logging
import os
import pwd
import shutil
import signal
import socket
import ssl
import subprocess
import sys
import tempfile
import time
import warnings
import weakref

from aiosmtpd.smtp import MISSING, SMTP, AuthResult, LoginPassword

from graph_standin import GraphStandin
from local_service import make_certificate
from token_service import TokenService

SERVICE_USER = "lvmailtest"
MAIL_USER = "church"
MAIL_PASSWORD = "secret"
PR_SET_PDEATHSIG = 1


def die_with_parent():
    """In a child before exec: SIGTERM when the process that started it ends."""
    ctypes.CDLL("libc.so.6", use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGTERM)


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def port_open(port):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=0.5):
            return True
    except OSError:
        return False


class Identity:
    """Who the servers run as, and who owns the Maildir."""

    def __init__(self):
        self.as_root = os.geteuid() == 0
        if self.as_root:
            try:
                pwd.getpwnam(SERVICE_USER)
            except KeyError:
                # Two test processes may race here; the loser's failure is fine.
                subprocess.run(["useradd", "-r", "-M", "-s", "/usr/sbin/nologin", SERVICE_USER],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
            entry = pwd.getpwnam(SERVICE_USER)
        else:
            entry = pwd.getpwuid(os.geteuid())
        self.name, self.uid, self.gid = entry.pw_name, entry.pw_uid, entry.pw_gid

    def own(self, path):
        if self.as_root:
            os.chown(path, self.uid, self.gid)

    def own_tree(self, top):
        for root, dirs, files in os.walk(top):
            self.own(root)
            for name in files:
                self.own(os.path.join(root, name))

    def command(self, argv):
        return (["runuser", "-u", self.name, "--"] + argv) if self.as_root else argv


class Maildir:
    def __init__(self, path, identity):
        self.path = path
        self.identity = identity
        self.count = 0
        for sub in ("tmp", "new", "cur"):
            os.makedirs(os.path.join(path, sub), exist_ok=True)
        identity.own_tree(path)

    def deliver(self, data, seen=False):
        self.count += 1
        now = time.time_ns()
        name = "%d.M%06dP%dQ%d.lvtest" % (now // 10**9, now // 1000 % 1000000, os.getpid(), self.count)
        tmp = os.path.join(self.path, "tmp", name)
        with open(tmp, "wb") as f:
            f.write(data)
        self.identity.own(tmp)
        os.rename(tmp, os.path.join(self.path, "cur", name + ":2,S") if seen else os.path.join(self.path, "new", name))


class Dovecot:
    def __init__(self, folder, identity, cert, key, no_move, tokens=None, rawlog=False):
        self.folder = folder
        self.rawlog = rawlog
        self.tokens = tokens
        self.identity = identity
        self.process = None
        self.home = os.path.join(folder, "home")
        self.conf = os.path.join(folder, "dovecot.conf")
        self.log = os.path.join(folder, "dovecot.log")
        self.cert, self.key, self.no_move = cert, key, no_move
        self.imap = self.imaps = 0
        passwd = os.path.join(folder, "passwd")
        with open(passwd, "w") as f:
            f.write("%s:{PLAIN}%s:%d:%d::%s::\n" % (MAIL_USER, MAIL_PASSWORD, identity.uid, identity.gid, self.home))
        for sub in ("run", "state"):
            os.makedirs(os.path.join(folder, sub), exist_ok=True)
        os.makedirs(self.home, exist_ok=True)

    def write_conf(self):
        lines = [
            "base_dir = %s/run" % self.folder,
            "state_dir = %s/state" % self.folder,
            "log_path = %s" % self.log,
            "protocols = imap",
            "listen = 127.0.0.1",
            "ssl = yes",
            "ssl_cert = <%s" % self.cert,
            "ssl_key = <%s" % self.key,
            "default_internal_user = %s" % self.identity.name,
            "default_login_user = %s" % self.identity.name,
            "default_internal_group = %s" % self.identity.name,
            "auth_mechanisms = plain login" + (" xoauth2 oauthbearer" if self.tokens else ""),
            "disable_plaintext_auth = yes",
            "passdb {", "  driver = passwd-file", "  args = %s/passwd" % self.folder,
            "  mechanisms = plain login" if self.tokens else "", "}",
            "userdb {", "  driver = passwd-file", "  args = %s/passwd" % self.folder, "}",
            "mail_location = maildir:~/Maildir",
            "service imap-login {",
            "  inet_listener imap {", "    port = %d" % self.imap, "  }",
            "  inet_listener imaps {", "    port = %d" % self.imaps, "    ssl = yes", "  }",
            "  chroot =",
            "}",
            "service anvil {", "  chroot =", "}",
        ]
        if self.tokens:
            oauth2 = os.path.join(self.folder, "dovecot-oauth2.conf.ext")
            with open(oauth2, "w") as f:
                f.write("introspection_mode = post\nintrospection_url = http://127.0.0.1:%d/introspect\n"
                        "username_attribute = username\nactive_attribute = active\nactive_value = true\n"
                        % self.tokens.port)
            lines += ["passdb {", "  driver = oauth2", "  mechanisms = xoauth2 oauthbearer", "  args = " + oauth2, "}"]
        if self.rawlog:
            # Every command and answer into ~/dovecot.rawlog/ (for counting),
            # each line after the time it was read or written (-t).
            lines += ["service imap {", "  executable = imap postlogin", "}",
                      "service postlogin {", "  executable = script-login -d rawlog -t",
                      "  unix_listener postlogin {", "  }", "}"]
            os.makedirs(os.path.join(self.home, "dovecot.rawlog"), exist_ok=True)
        if self.no_move:
            # What a server without the MOVE extension announces.
            lines.append("imap_capability = IMAP4rev1 SASL-IR LOGIN-REFERRALS ID ENABLE IDLE SORT SORT=DISPLAY "
                         "THREAD=REFERENCES THREAD=REFS THREAD=ORDEREDSUBJECT MULTIAPPEND URL-PARTIAL CATENATE "
                         "UNSELECT CHILDREN NAMESPACE UIDPLUS LIST-EXTENDED I18NLEVEL=1 CONDSTORE QRESYNC ESEARCH "
                         "ESORT SEARCHRES WITHIN CONTEXT=SEARCH LIST-STATUS BINARY SPECIAL-USE")
        with open(self.conf, "w") as f:
            f.write("\n".join(lines) + "\n")

    def start(self, new_ports):
        for attempt in range(8):
            if new_ports or not self.imap:
                self.imap, self.imaps = free_port(), free_port()
            self.write_conf()
            self.identity.own_tree(self.folder)
            self.process = subprocess.Popen(self.identity.command(["dovecot", "-F", "-c", self.conf]),
                                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                            stderr=subprocess.DEVNULL, preexec_fn=self._child_setup)
            deadline = time.monotonic() + 10
            while time.monotonic() < deadline and self.process.poll() is None:
                if port_open(self.imap) and port_open(self.imaps):
                    return
                time.sleep(0.05)
            self.stop()
            if not new_ports and attempt >= 2:
                break
            new_ports = True  # a port taken by someone else meanwhile: pick others
        try:
            with open(self.log, errors="replace") as f:
                tail = "".join(f.readlines()[-15:])
        except OSError:
            tail = "(no log written)\n"
        # The folder is removed on the way out, so say here what Dovecot said.
        raise RuntimeError("Dovecot did not start; the end of its log:\n" + tail)

    @staticmethod
    def _child_setup():
        os.setpgid(0, 0)
        die_with_parent()

    def stop(self):
        if self.process is None:
            return
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                pass
        try:
            os.killpg(self.process.pid, signal.SIGKILL)  # anything left of the group
        except ProcessLookupError:
            pass
        self.process.wait()
        self.process = None
        # The login and imap processes end when their master is gone; wait
        # until the ports are closed so a restart can bind them again.
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline and (port_open(self.imap) or port_open(self.imaps)):
            time.sleep(0.05)


# The providers' own answers at their sending limits, as they publish them:
# (the command they answer, the reply lines, whether the connection closes).
PROVIDER_LIMITS = {
    # Microsoft 365 over 30 messages a minute: learn.microsoft.com, "Exchange
    # Online limits" (sending limits: message rate limit); the answer as
    # Exchange gives it, connection closed.
    "microsoft-rate": ("MAIL", ["421 4.4.2 Message submission rate for this client has exceeded the configured limit"],
                       True),
    # Microsoft 365 over three submissions at once: techcommunity.microsoft.com,
    # Exchange Team Blog, "Changes coming to the SMTP Authenticated Submission
    # client protocol" (2018): "4.3.2 STOREDRV.ClientSubmit; sender thread
    # limit exceeded"; given at the end of DATA, connection kept.
    "microsoft-threads": ("DATA", ["432 4.3.2 STOREDRV.ClientSubmit; sender thread limit exceeded"], False),
    # Exchange Online over the day's recipients (Recipient Rate Limit, 10,000
    # a day; the same "Exchange Online limits" page).
    "microsoft-quota": ("DATA", ["554 5.2.0 STOREDRV.Submission.Exception:SubmissionQuotaExceededException; "
                                 "Failed to process message due to a permanent exception"], False),
    # Google Workspace over the day's limit: support.google.com/a/answer/166852
    # ("Gmail sending limits in Google Workspace"), its bounce text
    # "Daily user sending limit exceeded", as Gmail's SMTP gives it over lines.
    "google-daily": ("DATA", ["550-5.4.5 Daily user sending limit exceeded. For more information on Gmail",
                              "550-5.4.5 sending limits go to",
                              "550 5.4.5  https://support.google.com/a/answer/166852 - gsmtp"], False),
}


class Submission:
    """The SMTP side: policy shared by both listeners, delivery into the Maildir."""

    def __init__(self, maildir, cert, key, open_port, tokens=None):
        self.maildir = maildir
        self.tokens = tokens
        self.context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        self.context.load_cert_chain(cert, key)
        self.servers = []
        self.live = weakref.WeakSet()  # open connections; closed ones drop out
        self.ports = {"smtp": 0, "smtps": 0}
        if open_port:
            self.ports["smtp_open"] = 0
        self.connections = 0
        self.delivered = 0
        self.rejected = {}
        self.tempfail_data = 0
        self.stop_after = None
        self.recipients = []
        self.provider = None      # (deliveries before the limit, PROVIDER_LIMITS entry)
        self.window = None        # (N, S, PROVIDER_LIMITS entry, times of the deliveries in the window)
        self.cut_after_data = None

    def _limit(self, server, command):
        """The provider's answer to `command` once its limit is reached, or None."""
        if self.window is not None:
            count, seconds, entry, times = self.window
            while times and times[0] <= time.monotonic() - seconds:
                times.popleft()
            if entry[0] != command or len(times) < count:
                return None
            _, lines, close = entry
        elif self.provider is None or self.provider[0] > 0 or self.provider[1][0] != command:
            return None
        else:
            _, lines, close = self.provider[1]
        if close:
            asyncio.get_running_loop().call_soon(server.transport.close)
        return "\r\n".join(lines)

    async def handle_MAIL(self, server, session, envelope, address, mail_options):
        reply = self._limit(server, "MAIL")
        if reply:
            return reply
        envelope.mail_from = address
        envelope.mail_options.extend(mail_options)
        return "250 OK"

    # aiosmtpd handler hooks
    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        reply = self.rejected.get(address.lower())
        if reply:
            return reply
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        if self.tempfail_data > 0:
            self.tempfail_data -= 1
            return "451 4.3.0 Temporary local problem, try again later"
        reply = self._limit(server, "DATA")
        if reply:
            return reply
        if self.provider is not None:
            self.provider = (self.provider[0] - 1, self.provider[1])
        if self.window is not None:
            self.window[3].append(time.monotonic())
        data = envelope.original_content or envelope.content
        self.maildir.deliver(b"Return-Path: <" + envelope.mail_from.encode() + b">\r\n" + data)
        self.delivered += 1
        self.recipients.extend(envelope.rcpt_tos)
        if self.stop_after is not None:
            self.stop_after -= 1
            if self.stop_after <= 0:
                self.stop_after = None
                # Answer this one, then go away as a crashed server would.
                asyncio.get_running_loop().call_soon(lambda: asyncio.ensure_future(self.stop()))
        if self.cut_after_data is not None:
            self.cut_after_data -= 1
            if self.cut_after_data < 0:
                # Taken and delivered, but the answer never leaves.
                self.cut_after_data = None
                server.transport.abort()
        return "250 2.0.0 OK delivered"

    def authenticate(self, server, session, envelope, mechanism, auth_data):
        ok = (isinstance(auth_data, LoginPassword) and auth_data.login.decode() == MAIL_USER
              and auth_data.password.decode() == MAIL_PASSWORD)
        # handled=False: aiosmtpd answers a failure with its own 535.
        return AuthResult(success=ok, handled=False)

    async def _bearer(self, server, args, field):
        """The token of an XOAUTH2 or OAUTHBEARER exchange, checked with the
        token service; `field` finds the user in the decoded response."""
        if self.tokens is None:
            return AuthResult(success=False, handled=False)
        if len(args) > 1:
            try:
                response = base64.b64decode(args[1], validate=True)
            except binascii.Error:
                return AuthResult(success=False, handled=False)
        else:
            response = await server.challenge_auth("")
            if response is MISSING:
                return AuthResult(success=False, handled=True)
        parts = dict(p.split("=", 1) for p in response.decode(errors="replace").replace(",", "\x01").split("\x01")
                     if "=" in p)
        user = parts.get(field, "")
        token = parts.get("auth", "")[len("Bearer "):] if parts.get("auth", "").startswith("Bearer ") else ""
        return AuthResult(success=user == MAIL_USER and self.tokens.active(token), handled=False)

    async def auth_XOAUTH2(self, server, args):
        return await self._bearer(server, args, "user")

    async def auth_OAUTHBEARER(self, server, args):
        return await self._bearer(server, args, "a")

    def _factory(self, kind):
        def make():
            self.connections += 1
            if kind == "smtp_open":
                protocol = SMTP(self, hostname="localhost")
            else:
                implicit = kind == "smtps"
                protocol = SMTP(self, hostname="localhost", authenticator=self.authenticate, auth_required=True,
                                tls_context=None if implicit else self.context,
                                require_starttls=not implicit, auth_require_tls=not implicit)
            self.live.add(protocol)
            return protocol
        return make

    async def start(self):
        loop = asyncio.get_running_loop()
        for name in self.ports:
            server = await loop.create_server(self._factory(name), "127.0.0.1", self.ports[name],
                                              ssl=self.context if name == "smtps" else None, reuse_address=True)
            self.ports[name] = server.sockets[0].getsockname()[1]
            self.servers.append(server)

    async def stop(self):
        for server in self.servers:
            server.close()
        for protocol in list(self.live):
            if protocol.transport is not None:
                protocol.transport.close()
        self.live.clear()
        for server in self.servers:
            await server.wait_closed()
        self.servers = []


class FaultProxy:
    """TLS on both sides, so that it sees the commands: forwards each client
    line to Dovecot, and, once armed with `cut_after`, lets the matching
    command through, waits for Dovecot's tagged answer to it (so the server
    has acted), and then closes the client's connection without passing
    that answer on."""

    def __init__(self, cert, key, target_port):
        self.context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        self.context.load_cert_chain(cert, key)
        self.upstream = ssl.create_default_context()
        self.upstream.check_hostname = False
        self.upstream.verify_mode = ssl.CERT_NONE
        self.target_port = target_port
        self.cut_after = None
        self.cuts = 0
        self.port = 0
        self.server = None

    async def start(self):
        self.server = await asyncio.start_server(self.serve, "127.0.0.1", 0, ssl=self.context)
        self.port = self.server.sockets[0].getsockname()[1]

    async def serve(self, client_in, client_out):
        try:
            server_in, server_out = await asyncio.open_connection("127.0.0.1", self.target_port(), ssl=self.upstream)
        except OSError:
            client_out.close()
            return
        cut = asyncio.Event()
        armed = {}  # tag -> cut when its answer has come

        async def to_server():
            while not cut.is_set():
                line = await client_in.readline()
                if not line:
                    break
                text = line.decode("latin-1")
                if self.cut_after and self.cut_after.lower() in text.lower():
                    self.cut_after = None
                    armed[text.split(" ", 1)[0]] = True
                server_out.write(line)
                await server_out.drain()
            server_out.close()

        async def to_client():
            pending = b""
            while True:
                chunk = await server_in.read(65536)
                if not chunk:
                    break
                if not armed:
                    client_out.write(chunk)
                    await client_out.drain()
                    continue
                pending += chunk
                lines = pending.split(b"\r\n")
                if any(l.split(b" ", 1)[0].decode("latin-1") in armed for l in lines[:-1]):
                    self.cuts += 1
                    break
            cut.set()
            client_out.close()
            server_out.close()

        await asyncio.gather(to_server(), to_client(), return_exceptions=True)

    async def stop(self):
        if self.server:
            self.server.close()
            await self.server.wait_closed()
            self.server = None


class Shutdown:
    """SIGTERM and SIGINT: during start-up they end it (the clean-up still
    runs), while serving they stop the loop, and during the clean-up they
    are ignored, so that it always finishes. (asyncio's own signal handlers
    are given back when the loop closes, which would let a late signal cut
    the clean-up short.)"""

    def __init__(self):
        self.loop = self.event = None
        self.cleaning = False

    def __call__(self, *_):
        if self.cleaning:
            return
        if self.loop is not None and not self.loop.is_closed():
            self.loop.call_soon_threadsafe(self.event.set)
        else:
            raise SystemExit(1)


async def serve(args, folder, started, shutdown):
    identity = Identity()
    cert, key = make_certificate(folder)
    tokens = None
    if args.token_service:
        tokens = TokenService(MAIL_USER)
        tokens.start()
    dovecot = Dovecot(folder, identity, cert, key, args.no_move, tokens, args.rawlog)
    started["dovecot"] = dovecot
    delivered = Maildir(os.path.join(dovecot.home, "Maildir", ".Delivered"), identity)
    Maildir(os.path.join(dovecot.home, "Maildir"), identity)
    os.chmod(folder, 0o755)
    submission = Submission(delivered, cert, key, args.open_smtp, tokens)
    await submission.start()
    dovecot.start(new_ports=True)
    proxy = FaultProxy(cert, key, lambda: dovecot.imaps)
    await proxy.start()
    graph = GraphStandin(cert, key, tokens=tokens, on_delivery=lambda targets, mime: delivered.deliver(
        b"Return-Path: <" + graph.mailbox.address.encode() + b">\r\n" + mime))
    graph.start()
    started["graph"] = graph

    loop = asyncio.get_running_loop()
    done = asyncio.Event()
    shutdown.loop, shutdown.event = loop, done

    def say(obj):
        sys.stdout.write(json.dumps(obj) + "\n")
        sys.stdout.flush()

    say({"imap": dovecot.imap, "imaps": dovecot.imaps, "imaps_proxy": proxy.port, "smtp": submission.ports["smtp"],
         "smtps": submission.ports["smtps"], "smtp_open": submission.ports.get("smtp_open", 0),
         "graph_port": graph.port, "graph_token": graph.token,
         "cert": cert, "folder": folder, "token_port": tokens.port if tokens else 0,
         "maildir": os.path.join(dovecot.home, "Maildir"), "home": dovecot.home, "user": MAIL_USER, "password": MAIL_PASSWORD,
         "uid": identity.uid, "gid": identity.gid})

    reader = asyncio.StreamReader()
    await loop.connect_read_pipe(lambda: asyncio.StreamReaderProtocol(reader), sys.stdin)

    async def commands():
        while True:
            line = await reader.readline()
            if not line:
                break
            words = line.decode().split(None, 2)
            if not words:
                continue
            verb, rest = words[0], words[1:]
            try:
                # Dovecot is started from this thread only: a child's death
                # signal follows the thread that started it.
                if verb == "stop-imap":
                    dovecot.stop()
                elif verb == "start-imap":
                    dovecot.start(new_ports=False)
                elif verb == "stop-smtp":
                    await submission.stop()
                elif verb == "start-smtp":
                    await submission.start()
                elif verb == "smtp-stop-after":
                    submission.stop_after = int(rest[0])
                elif verb == "smtp-reject":
                    submission.rejected[rest[0].lower()] = rest[1].strip()
                elif verb == "deliver":
                    # deliver FOLDER FILE [seen]: as a mail server delivers it
                    # into "INBOX" or a named folder; "seen": already read
                    path, *flags = rest[1].split()
                    sub = "" if rest[0] == "INBOX" else "." + rest[0]
                    box = Maildir(os.path.join(dovecot.home, "Maildir", sub), identity)
                    with open(path, "rb") as f:
                        box.deliver(f.read(), seen="seen" in flags)
                elif verb == "deliver-many":
                    # deliver-many FOLDER FILE N: N messages made from FILE,
                    # each with "{n}" in it replaced by its number (1 to N)
                    path, count = rest[1].split()
                    sub = "" if rest[0] == "INBOX" else "." + rest[0]
                    box = Maildir(os.path.join(dovecot.home, "Maildir", sub), identity)
                    with open(path, "rb") as f:
                        template = f.read()
                    for n in range(1, int(count) + 1):
                        box.deliver(template.replace(b"{n}", str(n).encode()))
                elif verb == "renew-uidvalidity":
                    # As if the mailbox had been deleted and made again: the
                    # messages stay, with new UIDs under a new UIDVALIDITY.
                    dovecot.stop()
                    root = os.path.join(dovecot.home, "Maildir")
                    for name in os.listdir(root):
                        if name.startswith("dovecot-uidlist") or name.startswith("dovecot.index"):
                            os.remove(os.path.join(root, name))
                    time.sleep(1.1)  # the new UIDVALIDITY comes from the clock
                    dovecot.start(new_ports=False)
                elif verb == "cut-after":
                    proxy.cut_after = " ".join(rest).strip()
                elif verb == "smtp-tempfail-data":
                    submission.tempfail_data = int(rest[0])
                elif verb == "smtp-provider":
                    name, count = rest[0], rest[1].strip()
                    submission.provider = None if name == "off" else (int(count), PROVIDER_LIMITS[name])
                    submission.window = None
                elif verb == "smtp-provider-window":
                    name, count, seconds = rest[0], *rest[1].split()
                    submission.window = (int(count), float(seconds), PROVIDER_LIMITS[name], collections.deque())
                elif verb == "smtp-cut-after-data":
                    submission.cut_after_data = int(rest[0])
                elif verb == "token" and tokens:
                    say(dict(tokens.command(" ".join(rest).split()), ok=True))
                    continue
                elif verb == "graph":
                    say(dict(graph.command(" ".join(rest)), ok=True))
                    continue
                elif verb != "stats":
                    raise ValueError("unknown command " + verb)
                say({"ok": True, "connections": submission.connections, "delivered": submission.delivered,
                     "recipients": submission.recipients, "cuts": proxy.cuts})
            except Exception as e:  # the test sees the reason
                say({"ok": False, "error": str(e)})
        done.set()

    task = asyncio.ensure_future(commands())
    await done.wait()
    shutdown.cleaning = True
    task.cancel()
    await proxy.stop()
    await submission.stop()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--dir", help="folder for configuration, certificate and mail (default: a new one in the temporary folder)")
    parser.add_argument("--no-move", action="store_true", help="Dovecot does not announce MOVE")
    parser.add_argument("--token-service", action="store_true",
                        help="a stand-in OAuth 2.0 provider; the servers also take its tokens")
    parser.add_argument("--keep", action="store_true", help="keep the folder when stopping")
    parser.add_argument("--rawlog", action="store_true",
                        help="Dovecot writes every IMAP session into home/dovecot.rawlog (for the benchmarks)")
    parser.add_argument("--open-smtp", action="store_true",
                        help="a third SMTP listener without TLS and login, for load generators that have neither")
    args = parser.parse_args()
    # The servers' own chatter would only clutter the test output.
    logging.getLogger("mail.log").setLevel(logging.CRITICAL)
    warnings.filterwarnings("ignore")
    die_with_parent_self()
    shutdown = Shutdown()
    signal.signal(signal.SIGTERM, shutdown)
    signal.signal(signal.SIGINT, shutdown)
    folder = os.path.abspath(args.dir) if args.dir else tempfile.mkdtemp(prefix="lvmail-servers-")
    os.makedirs(folder, exist_ok=True)
    started = {}
    try:
        asyncio.run(serve(args, folder, started, shutdown))
    finally:
        shutdown.cleaning = True
        if "dovecot" in started:
            started["dovecot"].stop()
        if "graph" in started:
            started["graph"].stop()
        if not args.keep:
            shutil.rmtree(folder, ignore_errors=True)


def die_with_parent_self():
    # This process too ends when whoever started it ends, so a crashed test
    # never leaves servers behind.
    die_with_parent()
    if os.getppid() == 1:
        sys.exit(1)


if __name__ == "__main__":
    main()
