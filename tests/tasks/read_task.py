"""Reads an iCalendar task file as plain text, without any calendar library.

Usage: read_task.py FILE

Checks the file's form (every line ended by CR LF, no line longer than 75
octets, BEGIN and END balanced, no X-LIC-ERROR) and prints:
  form<TAB>ok                     or  form<TAB><what is wrong>  (one per fault)
  components<TAB><BEGIN names in order, blank-separated>
  <NAME>[;<parameters>]<TAB><value as JSON>   for every property of the first
                                               VTODO (not of its alarms), in
                                               file order, text escapes undone
"""
import json
import sys


def split_content_line(line):
    """NAME;PARAMS:VALUE, where a colon inside a quoted parameter value does not count."""
    quoted = False
    for i, ch in enumerate(line):
        if ch == '"':
            quoted = not quoted
        elif ch == ":" and not quoted:
            return line[:i], line[i + 1:]
    return line, ""


def unescape(value):
    out, i = [], 0
    while i < len(value):
        ch = value[i]
        if ch == "\\" and i + 1 < len(value):
            nxt = value[i + 1]
            out.append("\n" if nxt in "nN" else nxt)
            i += 2
        else:
            out.append(ch)
            i += 1
    return "".join(out)


def main(path):
    data = open(path, "rb").read()
    faults = []
    if not data.endswith(b"\r\n"):
        faults.append("the last line has no CR LF")
    physical = data.split(b"\r\n")
    if physical and physical[-1] == b"":
        physical.pop()
    for number, line in enumerate(physical, 1):
        if b"\n" in line or b"\r" in line:
            faults.append("line %d holds a bare line break" % number)
        if len(line) > 75:
            faults.append("line %d is %d octets long" % (number, len(line)))
    logical = []
    for line in physical:
        text = line.decode("utf-8")
        if text[:1] in (" ", "\t") and logical:
            logical[-1] += text[1:]
        else:
            logical.append(text)

    stack, components, todo, todo_done = [], [], [], False
    for line in logical:
        head, value = split_content_line(line)
        name = head.split(";", 1)[0].upper()
        if name == "BEGIN":
            stack.append(value.upper())
            components.append(value.upper())
            continue
        if name == "END":
            if not stack or stack.pop() != value.upper():
                faults.append("END:%s does not close its BEGIN" % value)
            if value.upper() == "VTODO":
                todo_done = True
            continue
        if name == "X-LIC-ERROR":
            faults.append("libical error marker: " + value)
        if stack and stack[-1] == "VTODO" and not todo_done:
            todo.append((head, unescape(value)))
    if stack:
        faults.append("not closed: " + " ".join(stack))

    for fault in faults or ["ok"]:
        print("form\t" + fault)
    print("components\t" + " ".join(components))
    for head, value in todo:
        print(head + "\t" + json.dumps(value))


if __name__ == "__main__":
    main(sys.argv[1])
