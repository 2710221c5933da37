"""Prepares the reply-intake benchmark: a database made from db/schema.sql
that already holds `existing` SurveyResponse rows (ten per earlier reply), and
the incoming exchange file of `replies` survey replies with `answers` answers
each, as the mail-access program would write it. Some stored and some
incoming answers span several lines (CR LF, LF, a lone CR) or hold quotes, as
typed answers do.

Usage: make_reply_data.py SCHEMA DATABASE EXCHANGE_FILE REPLIES ANSWERS EXISTING
Standard library only; deterministic (no random numbers, fixed identifiers).
"""
import sqlite3
import sys

SURVEY = "{6F1C2A40-3B5D-4C8E-9A71-2D4E5F60A1B2}"


def guid(kind, number):
    return "{%08X-0000-4000-8000-%012X}" % (kind, number)


def question(n):
    return guid(0xC0A80001, n)


def stored_answer(i):
    if i % 7 == 3:
        return "earlier answer %d\r\nsecond line\nthird\rfourth\r\r" % i
    if i % 11 == 5:
        return "O'Brien's answer %d, ''twice''" % i
    return "earlier answer %d" % i


def incoming_answer(n, r):
    if n == 2 and r % 4 == 0:
        return "line one of reply %d\r\nline two\nline three\n\r" % r
    return "answer %d of reply %d, it's mine" % (n, r)


def main(schema, database, exchange, replies, answers, existing):
    db = sqlite3.connect(database)
    db.executescript(open(schema, encoding="utf-8").read())
    earlier = max(1, existing // 10)
    with db:
        # The survey replied to is in the database, as it is in the church's,
        # with its questions, and was sent to everyone who replies.
        db.execute("INSERT INTO Survey VALUES (?, 'Benchmark', '', '')", (SURVEY,))
        db.executemany("INSERT INTO SurveyQuestion (SurveyQuestionID, SurveyQuestionNumber) VALUES (?, ?)",
                       ((question(n), n) for n in range(1, max(answers, 10) + 1)))
        db.executemany("INSERT INTO SurveyQuestionXRef VALUES (?, ?)",
                       ((SURVEY, question(n)) for n in range(1, max(answers, 10) + 1)))
        db.executemany("INSERT INTO Person (PersonID, Email) VALUES (?, ?)",
                       ((guid(3, r), "person%d@example.org" % r) for r in range(1, replies + 1)))
        db.executemany("INSERT INTO SurveyPersonXRef VALUES (?, ?)",
                       ((SURVEY, guid(3, r)) for r in range(1, replies + 1)))
        db.executemany(
            "INSERT INTO SurveyReply VALUES (?, ?, ?, ?)",
            ((guid(1, r), SURVEY, "earlier%d@example.org" % r, "2026-01-01") for r in range(earlier)))
        db.executemany(
            "INSERT INTO SurveyResponse VALUES (?, ?, ?, ?)",
            ((guid(2, i), guid(1, i % earlier), question(i % 10 + 1), stored_answer(i))
             for i in range(existing)))
    db.close()

    parts = []
    for r in range(1, replies + 1):
        body = ["Here are my answers.\r\n\r\n"]
        for n in range(1, answers + 1):
            body.append("%d.    Question %d\r\n<answer%d>  %s</answer%d>\r\n\r\n"
                        % (n, n, n, incoming_answer(n, r), n))
        body.append("Thank You!\r\n\r\n<SurveyID>%s</SurveyID>\r\n" % SURVEY)
        for n in range(1, answers + 1):
            body.append("<QuestionID%d>%s</QuestionID%d>\r\n" % (n, question(n), n))
        parts.append("<Originator%d>person%d@example.org</Originator%d>\r\n" % (r, r, r))
        parts.append("<Date%d>2027-04-02 09:%02d:%02d</Date%d>\r\n" % (r, r // 60 % 60, r % 60, r))
        parts.append("<Body%d>%s</Body%d>\r\n" % (r, "".join(body), r))
    with open(exchange, "w", encoding="ascii", newline="") as out:
        out.write("".join(parts))


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4]), int(sys.argv[5]), int(sys.argv[6]))
