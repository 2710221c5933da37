"""What the test servers that run inside mail_servers.py (or alone) share:
a certificate for 127.0.0.1, and an HTTP server run in a thread."""

import os
import subprocess
import threading


def make_certificate(folder):
    """A new self-signed certificate and its key in `folder`, for localhost
    and 127.0.0.1; the clients under test trust it as their CA file."""
    cert, key = os.path.join(folder, "cert.pem"), os.path.join(folder, "key.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                    "-nodes", "-keyout", key, "-out", cert, "-days", "2", "-subj", "/CN=localhost",
                    # DNS:127.0.0.1 too: mbsync (benchmarks) compares names as text.
                    "-addext", "subjectAltName=DNS:localhost,IP:127.0.0.1,DNS:127.0.0.1"],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return cert, key


class LocalService:
    """A server on 127.0.0.1 answering in threads of this process; `port`
    is the one asked for (0: any) until it serves, then the one it has."""

    server = None
    port = 0

    def serve(self, server):
        server.daemon_threads = True
        self.server = server
        self.port = server.server_address[1]
        threading.Thread(target=server.serve_forever, daemon=True).start()

    def stop(self):
        if self.server is not None:
            self.server.shutdown()
            self.server.server_close()
            self.server = None
