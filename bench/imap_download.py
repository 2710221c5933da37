#!/usr/bin/python3
"""Download-only IMAP reader: the protocol's ceiling for fetching replies.

Sends the commands LVEmailAccess operation 4 sends to read a mailbox (login,
EXAMINE, UID SEARCH for the subject, the flags, sizes and arrival times 50
UIDs to a command, then the texts with UID FETCH ... BODY.PEEK[] up to a
megabyte or 100 messages to a command, the next command sent while the
answer to the last one is read) and writes every message text to one file,
without reading any of them. Prints the number of messages it wrote.

    imap_download.py HOST PORT CA_FILE USER PASSWORD MAILBOX SUBJECT OUT_FILE
"""
import re
import socket
import ssl
import sys

BYTES_PER_FETCH = 1024 * 1024
MESSAGES_PER_FETCH = 100
UIDS_PER_COMMAND = 50
LITERAL = re.compile(rb"\{(\d+)\+?\}\r?\n$")


class Connection:
    def __init__(self, host, port, ca_file):
        context = ssl.create_default_context(cafile=ca_file)
        context.check_hostname = False
        self.sock = context.wrap_socket(socket.create_connection((host, port)))
        self.buffer = bytearray()
        self.tag = 0
        self.read_response_line()  # greeting

    def fill(self):
        data = self.sock.recv(256 * 1024)
        if not data:
            raise ConnectionError("the server closed the connection")
        self.buffer += data

    def read_line(self):
        while True:
            end = self.buffer.find(b"\n")
            if end >= 0:
                line = bytes(self.buffer[:end + 1])
                del self.buffer[:end + 1]
                return line
            self.fill()

    def read_bytes(self, n):
        while len(self.buffer) < n:
            self.fill()
        data = bytes(self.buffer[:n])
        del self.buffer[:n]
        return data

    def read_response_line(self):
        """One response: its text and the literals inside it, in order."""
        text, literals = b"", []
        while True:
            line = self.read_line()
            match = LITERAL.search(line)
            if not match:
                return text + line, literals
            text += line[:match.start()]
            literals.append(self.read_bytes(int(match.group(1))))

    def send(self, command):
        self.tag += 1
        tag = b"D%d" % self.tag
        self.sock.sendall(tag + b" " + command.encode() + b"\r\n")
        return tag

    def receive(self, tag):
        """The untagged responses of the command tagged `tag`."""
        responses = []
        while True:
            text, literals = self.read_response_line()
            if text.startswith(tag + b" "):
                if not text[len(tag) + 1:].upper().startswith(b"OK"):
                    raise RuntimeError(text.decode("latin-1").strip())
                return responses
            responses.append((text, literals))

    def command(self, command):
        return self.receive(self.send(command))


def uid_set(uids):
    parts, i = [], 0
    while i < len(uids):
        j = i
        while j + 1 < len(uids) and uids[j + 1] == uids[j] + 1:
            j += 1
        parts.append(str(uids[i]) if i == j else "%d:%d" % (uids[i], uids[j]))
        i = j + 1
    return ",".join(parts)


def expand(ranges):
    uids = []
    for piece in ranges.split(","):
        low, _, high = piece.partition(":")
        uids.extend(range(int(low), int(high or low) + 1))
    return uids


def main():
    host, port, ca_file, user, password, mailbox, subject, out_file = sys.argv[1:9]
    imap = Connection(host, int(port), ca_file)
    imap.command('LOGIN "%s" "%s"' % (user, password))
    imap.command('EXAMINE "%s"' % mailbox)
    uids = []
    for text, _ in imap.command('UID SEARCH RETURN (ALL) UNDELETED SUBJECT "%s"' % subject):
        match = re.search(rb" ALL (\S+)", text)
        if text.startswith(b"* ESEARCH") and match:
            uids.extend(expand(match.group(1).decode()))
    sizes = {}
    for i in range(0, len(uids), UIDS_PER_COMMAND):
        chunk = uids[i:i + UIDS_PER_COMMAND]
        for text, _ in imap.command("UID FETCH %s (UID FLAGS INTERNALDATE RFC822.SIZE)" % uid_set(chunk)):
            uid, size = re.search(rb"UID (\d+)", text), re.search(rb"RFC822\.SIZE (\d+)", text)
            if uid and size:
                sizes[int(uid.group(1))] = int(size.group(1))
    batches, batch, size = [], [], 0
    for uid in uids:
        if uid not in sizes:
            continue
        if batch and (size + sizes[uid] > BYTES_PER_FETCH or len(batch) >= MESSAGES_PER_FETCH):
            batches.append(batch)
            batch, size = [], 0
        batch.append(uid)
        size += sizes[uid]
    if batch:
        batches.append(batch)
    written = 0
    with open(out_file, "wb") as out:
        tags = [imap.send("UID FETCH %s BODY.PEEK[]" % uid_set(b)) for b in batches[:1]]
        for n in range(len(batches)):
            if n + 1 < len(batches):  # the next one is on its way while this one is read
                tags.append(imap.send("UID FETCH %s BODY.PEEK[]" % uid_set(batches[n + 1])))
            for _, literals in imap.receive(tags[n]):
                for literal in literals:
                    out.write(literal)
                    written += 1
    imap.command("LOGOUT")
    print(written)


if __name__ == "__main__":
    main()
