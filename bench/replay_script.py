"""Turns LvMAPI's statement trace (TARNBASE_TRACE: each statement followed by
one line feed) into a script for the sqlite3 command-line tool that does the
same work the way LvMAPI does it: every statement completed with ";", and
every run of writes between two reads (one reply's rows, which LvMAPI stores
as one unit) wrapped in BEGIN IMMEDIATE ... COMMIT.

A statement may span lines (a typed answer keeps its line breaks); it ends at
the first line feed outside a quoted text.

Usage: replay_script.py TRACE SCRIPT
Standard library only.
"""
import sys


def statements(trace):
    quoted = False
    start = 0
    for at, byte in enumerate(trace):
        if byte == 0x27:  # a single quote opens or closes; '' closes and reopens
            quoted = not quoted
        elif byte == 0x0A and not quoted:
            yield trace[start:at]
            start = at + 1
    if start < len(trace):
        raise SystemExit("the trace ends inside a statement")


def main(trace_path, script_path):
    with open(trace_path, "rb") as trace:
        text = trace.read()
    out = []
    in_unit = False
    for statement in statements(text):
        is_read = statement[:6].upper() == b"SELECT"
        if is_read and in_unit:
            out.append(b"COMMIT;\n")
            in_unit = False
        elif not is_read and not in_unit:
            out.append(b"BEGIN IMMEDIATE;\n")
            in_unit = True
        out.append(statement + b";\n")
    if in_unit:
        out.append(b"COMMIT;\n")
    with open(script_path, "wb") as script:
        script.write(b"".join(out))


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
