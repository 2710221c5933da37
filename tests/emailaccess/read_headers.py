"""Reads a composed message with Python's strict e-mail policy.

Usage: read_headers.py FILE

Prints, for From, To and Subject in that order, one line:
  <header><TAB><length of its longest encoded word><TAB><decoded value>
where the value is decoded by RFC 2047's rules (email.header: blanks between
two encoded words are dropped; the strict policy's own address parser keeps
them), and then "defects<TAB><count>" for what the strict policy found wrong
in the message and in those headers, the address headers' addresses included.
"""
import email
import email.header
import email.policy
import re
import sys

ENCODED_WORD = re.compile(r"=\?[^?\s]+\?[bBqQ]\?[^?\s]*\?=")


def main():
    with open(sys.argv[1], "rb") as f:
        message = email.message_from_binary_file(f, policy=email.policy.strict)
    defects = len(message.defects)
    raw = dict(message.raw_items())
    for name in ("From", "To", "Subject"):
        defects += len(message[name].defects)
        if name != "Subject" and len(message[name].addresses) != 1:
            defects += 1
        longest = max((len(w) for w in ENCODED_WORD.findall(raw[name])), default=0)
        value = str(email.header.make_header(email.header.decode_header(raw[name])))
        print("%s\t%d\t%s" % (name, longest, value))
    print("defects\t%d" % defects)


if __name__ == "__main__":
    main()
