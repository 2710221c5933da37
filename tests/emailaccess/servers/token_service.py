"""A token service on 127.0.0.1 standing in for an OAuth 2.0 provider.

Endpoints (form-encoded POST unless noted):
  POST /device      device authorization (RFC 8628): a device code, a user
                    code to approve, interval 1 second
  GET  /authorize   the browser sign-in: remembers the PKCE challenge and
                    redirects to redirect_uri with a code and the state
  POST /token       grants: device_code, authorization_code (checks the
                    PKCE verifier), refresh_token (rotates when asked)
  POST /introspect  RFC 7662, for Dovecot: {"active": ..., "username": ...}
Only the client "lv-test-client" is known. Access tokens expire after
`expires_in` seconds; revoke() ends every token at once.

mail_servers.py runs it in a thread and passes its "token ..." commands to
command(); the SMTP server checks tokens with active().
"""

import base64
import hashlib
import json
import secrets
import threading
import time
import urllib.parse
import urllib.request
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

from local_service import LocalService

CLIENT_ID = "lv-test-client"


class TokenService(LocalService):
    def __init__(self, user):
        self.user = user
        self.lock = threading.Lock()
        self.port = 0
        self.server = None
        self.expires_in = 3600
        self.rotate = False
        self.stall = 0.0
        self.access = {}    # token -> expiry (monotonic seconds)
        self.refresh = set()
        self.devices = {}   # device code -> {"user_code", "approved", "expires"}
        self.codes = {}     # authorization code -> (challenge, redirect_uri)
        self.issued = []    # every token ever handed out, for the tests' leak checks
        self.counts = {"refresh": 0, "device_poll": 0, "authorization_code": 0, "refresh_started": 0, "stalled": 0}

    # --- the state the endpoints and the mail servers share -------------
    def issue(self, old_refresh=None):
        access = "at-" + secrets.token_urlsafe(24)
        self.access[access] = time.monotonic() + self.expires_in
        answer = {"access_token": access, "token_type": "Bearer", "expires_in": self.expires_in,
                  "scope": "imap smtp offline_access"}
        if old_refresh is None or self.rotate:
            refresh = "rt-" + secrets.token_urlsafe(24)
            self.refresh.discard(old_refresh)
            self.refresh.add(refresh)
            answer["refresh_token"] = refresh
            self.issued.append(refresh)
        self.issued.append(access)
        return answer

    def active(self, token):
        with self.lock:
            expiry = self.access.get(token)
            return expiry is not None and expiry > time.monotonic()

    def revoke(self):
        with self.lock:
            self.access.clear()
            self.refresh.clear()

    # --- endpoints ---------------------------------------------------------
    def device(self, form):
        if form.get("client_id") != CLIENT_ID:
            return 401, {"error": "invalid_client"}
        code, user_code = secrets.token_urlsafe(16), "%04d-%04d" % (secrets.randbelow(10000), secrets.randbelow(10000))
        self.devices[code] = {"user_code": user_code, "approved": False, "expires": time.monotonic() + 600}
        return 200, {"device_code": code, "user_code": user_code, "expires_in": 600, "interval": 1,
                     "verification_uri": "http://127.0.0.1:%d/device/verify" % self.port}

    def token(self, form):
        if form.get("client_id") != CLIENT_ID:
            return 401, {"error": "invalid_client"}
        grant = form.get("grant_type")
        if grant == "urn:ietf:params:oauth:grant-type:device_code":
            self.counts["device_poll"] += 1
            device = self.devices.get(form.get("device_code"))
            if device is None:
                return 400, {"error": "invalid_grant"}
            if device["expires"] < time.monotonic():
                return 400, {"error": "expired_token"}
            if not device["approved"]:
                return 400, {"error": "authorization_pending"}
            del self.devices[form["device_code"]]
            return 200, self.issue()
        if grant == "authorization_code":
            self.counts["authorization_code"] += 1
            challenge, redirect = self.codes.pop(form.get("code"), (None, None))
            verifier = form.get("code_verifier", "").encode()
            computed = base64.urlsafe_b64encode(hashlib.sha256(verifier).digest()).rstrip(b"=").decode()
            if challenge is None or computed != challenge or redirect != form.get("redirect_uri"):
                return 400, {"error": "invalid_grant", "error_description": "code, verifier or redirect wrong"}
            return 200, self.issue()
        if grant == "refresh_token":
            self.counts["refresh_started"] += 1
            old = form.get("refresh_token")
            if old not in self.refresh:
                return 400, {"error": "invalid_grant", "error_description": "the sign-in was revoked"}
            self.counts["refresh"] += 1
            return 200, self.issue(old)
        return 400, {"error": "unsupported_grant_type"}

    def authorize(self, query):
        if query.get("client_id") != CLIENT_ID or query.get("code_challenge_method") != "S256":
            return None
        code = secrets.token_urlsafe(16)
        self.codes[code] = (query.get("code_challenge"), query.get("redirect_uri"))
        return query["redirect_uri"] + "?" + urllib.parse.urlencode({"code": code, "state": query.get("state", "")})

    # --- control, from the tests ------------------------------------------
    def command(self, words):
        verb = words[0]
        if verb == "approve":       # the person typed the user code
            with self.lock:
                for device in self.devices.values():
                    if device["user_code"] == words[1]:
                        device["approved"] = True
                        break
                else:
                    raise ValueError("no such user code " + words[1])
        elif verb == "browse":      # the person opened the address, in a browser
            threading.Thread(target=lambda: urllib.request.urlopen(words[1], timeout=30).read(), daemon=True).start()
        elif verb == "revoke":
            self.revoke()
        elif verb == "revoke-access":  # access tokens end early; the sign-in stays
            with self.lock:
                self.access.clear()
        elif verb == "expires-in":
            self.expires_in = int(words[1])
        elif verb == "rotate":
            self.rotate = words[1] == "on"
        elif verb == "stall":       # token answers wait this many seconds
            self.stall = float(words[1])
        elif verb == "stop":
            self.stop()
        elif verb == "start":
            self.start()
        elif verb != "stats":
            raise ValueError("unknown token command " + verb)
        return {"token_port": self.port, "token_counts": self.counts, "issued": self.issued}

    # --- serving -------------------------------------------------------------
    def start(self):
        service = self

        class Handler(BaseHTTPRequestHandler):
            def log_message(self, *_):
                pass

            def answer(self, status, body, location=None):
                data = json.dumps(body).encode() if body is not None else b""
                self.send_response(status)
                if location:
                    self.send_header("Location", location)
                self.send_header("Content-Type", "application/json")
                self.send_header("Content-Length", str(len(data)))
                self.end_headers()
                self.wfile.write(data)

            def do_GET(self):
                url = urllib.parse.urlsplit(self.path)
                query = dict(urllib.parse.parse_qsl(url.query))
                with service.lock:
                    target = service.authorize(query) if url.path == "/authorize" else None
                if target is None:
                    return self.answer(400, {"error": "invalid_request"})
                self.answer(302, None, target)

            def do_POST(self):
                length = int(self.headers.get("Content-Length", "0"))
                form = dict(urllib.parse.parse_qsl(self.rfile.read(length).decode()))
                if self.path == "/introspect":
                    if service.active(form.get("token")):
                        return self.answer(200, {"active": True, "username": service.user, "scope": "imap smtp"})
                    return self.answer(200, {"active": False})
                if self.path == "/token" and form.get("grant_type") == "refresh_token" and service.stall:
                    service.counts["stalled"] += 1
                    time.sleep(service.stall)
                handler = {"/device": service.device, "/token": service.token}.get(self.path)
                if handler is None:
                    return self.answer(404, {"error": "not_found"})
                with service.lock:
                    status, body = handler(form)
                self.answer(status, body)

        self.serve(ThreadingHTTPServer(("127.0.0.1", self.port), Handler))
