#!/usr/bin/env bash
# Mail benchmarks of LVEmailAccess on real servers on 127.0.0.1, side by side
# with the tools people would otherwise use, in one run:
#
#   sending  a survey to COUNT recipients through the SMTP server, against
#            Postfix's smtp-source (a load generator: the server's practical
#            limit) and a loop of msmtp (one process per message); then once
#            more against smtp-source with Postfix's smtp-sink as the server;
#   fetching 2,000 and 5,000 replies (FETCH_COUNTS) of some 3.6 KB over IMAP
#            (implicit TLS), against mbsync (isync) pulling the same mailbox
#            into a local Maildir (with its default fsync and with FSync no)
#            and a download-only reader (imap_download.py: the same commands,
#            the texts written to a file unread, the protocol's ceiling);
#            with BEFORE_BUILD, a second LVEmailAccess (an earlier build) in
#            the same rounds; and the server's share of each client, from
#            the time stamps of Dovecot's raw log in a run of its own;
#   mixed    MIXED_COUNT (default 2000) replies of 4 to 130 KB, the same way,
#            counting from Dovecot's raw log of every session the batch
#            fetches (many messages to a command), the single fetches and the
#            logins of LVEmailAccess (the others' logins beside them).
# The timed runs go without the raw log: Dovecot then passes each session
# through a logging process of its own, a third process on the machine's
# cores that no production server has. The server's share and the counts
# come from one more run of every client with the raw log on.
#   CALLGRIND=1 counts instructions per reply instead (see below).
#
# The servers are the ones the tests use (tests/emailaccess/servers/
# mail_servers.py: Dovecot, and an aiosmtpd submission server with a third
# listener without TLS and login, since smtp-source has neither). Every
# client gets the same server, the same message size and an empty delivery
# folder. LVEmailAccess and msmtp are also measured with STARTTLS and login.
# Timings are medians of RUNS runs taken in turn, since the machine may be
# shared. For fetching, the mailbox is made fresh before every run of every
# client (the messages delivered again, Dovecot's index and UIDs gone), so
# each starts from what a mail server has after new mail arrived.
#
# Usage: bench/mail_bench.sh [BUILD_DIR] [COUNT] [RUNS] [MSMTP_COUNT]
# Defaults: build 5000 3 1000. Environment: FETCH_COUNTS (default
# "2000 5000"), BEFORE_BUILD (another build folder to fetch with too),
# SKIP_SENDING=1 (fetching only). The msmtp loop sends MSMTP_COUNT messages (at
# some 20 a second a full list would take minutes); its rate is compared. Installs postfix (for smtp-source), msmtp and isync
# when missing (scripts/bootstrap.sh --install). Works in a temporary folder
# that it removes afterwards, and stops the servers it started.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(dirname "$here")
build=${1:-$source_dir/build}
count=${2:-5000}
runs=${3:-3}
msmtp_count=${4:-1000}
case $build in /*) ;; *) build=$(pwd)/$build ;; esac

"$source_dir/scripts/bootstrap.sh" --install postfix msmtp isync
export PATH=$PATH:/usr/sbin

work=$(mktemp -d "${TMPDIR:-/tmp}/lvmapi-mailbench-XXXXXX")
servers_pid=
cleanup() {
  if [ -n "$servers_pid" ]; then
    kill -TERM "$servers_pid" 2>/dev/null || true  # it stops the servers it started
    wait "$servers_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

mkdir "$work/bin"
cp "$build/bin/LVEmailAccess" "$work/bin/"
before_build=${BEFORE_BUILD:-}
if [ -n "$before_build" ]; then
  case $before_build in /*) ;; *) before_build=$(pwd)/$before_build ;; esac
  mkdir "$work/before"
  cp "$before_build/bin/LVEmailAccess" "$work/before/"
fi
fetch_counts=${FETCH_COUNTS:-2000 5000}

coproc SERVERS { exec /usr/bin/python3 "$source_dir/tests/emailaccess/servers/mail_servers.py" --open-smtp --rawlog 2>"$work/servers.err"; }
servers_pid=$SERVERS_PID
read -r info <&"${SERVERS[0]}" || { cat "$work/servers.err"; exit 1; }
value() { /usr/bin/python3 -c 'import json, sys; print(json.loads(sys.argv[1])[sys.argv[2]])' "$info" "$1"; }
imaps=$(value imaps); smtp=$(value smtp); open=$(value smtp_open); cert=$(value cert)
maildir=$(value maildir); uid=$(value uid); gid=$(value gid); rawlog="$(value home)/dovecot.rawlog"
delivered="$maildir/.Delivered"
# Dovecot writes a raw log only for users whose home holds the folder.
rawlog_off() { [ ! -d "$rawlog" ] || mv "$rawlog" "$rawlog.off"; }
rawlog_on() { [ ! -d "$rawlog.off" ] || mv "$rawlog.off" "$rawlog"; }
rawlog_off

now() { echo "$EPOCHREALTIME"; }
# Before every timed run: the last sessions' imap processes gone (10 s at
# most) and the disk holding what was written. (On a virtual machine a run
# of LVEmailAccess that follows another within seconds was measured two to
# three times slower in writing its exchange file of 130 MB; so the other
# clients run between the two builds of a round, not the one right after
# the other.)
settle() {
  local waited=0
  while pgrep -x imap >/dev/null && [ "$waited" -lt 100 ]; do sleep 0.1; waited=$((waited + 1)); done
  sync
}
elapsed() { /usr/bin/python3 -c 'import sys; print("%.3f" % (float(sys.argv[2]) - float(sys.argv[1])))' "$1" "$2"; }
ratio() { /usr/bin/python3 -c 'import sys; print("%.2f" % (float(sys.argv[1]) / float(sys.argv[2])))' "$1" "$2"; }
median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
# ratios OURS MBSYNC NOFSYNC DOWNLOAD OURS-ARRAY MBSYNC-ARRAY: the lines against the targets.
ratios() {
  local -n each_ours=$5 each_theirs=$6
  local per_round=() r
  for ((r = 0; r < ${#each_ours[@]}; r++)); do
    per_round+=("$(ratio "${each_ours[$r]}" "${each_theirs[$r]}")")
  done
  echo "LVEmailAccess time / mbsync time: $(ratio "$1" "$2") (each round: ${per_round[*]})   (target <= 0.5)"
  echo "LVEmailAccess time / mbsync time without fsync: $(ratio "$1" "$3")"
  echo "LVEmailAccess time / download-only reader: $(ratio "$1" "$4")   (target <= 1.5)"
}
clear_delivered() { find "$delivered/new" "$delivered/cur" -type f -delete; }
delivered_count() { find "$delivered/new" "$delivered/cur" -type f | wc -l; }

configure() {  # configure SMTP_URL TLS_REQUIRED SMTP_USER
  cat > "$work/bin/LVEmailAccess.conf" <<CONF
[general]
sender = Grace Fellowship <office@grace.example.org>
transport = smtp+imap
[smtp]
url = $1
user = $3
password = secret
[imap]
url = imaps://127.0.0.1:$imaps/INBOX
user = church
password = secret
[tls]
required = $2
ca_file = $cert
CONF
  chmod 600 "$work/bin/LVEmailAccess.conf"
}

if [ "${SKIP_SENDING:-0}" != "1" ]; then
# ---- sending ---------------------------------------------------------------
# A survey body of a realistic length, and the distribution list.
/usr/bin/python3 - "$work/out.tmp" "$count" <<'PY'
import sys
path, count = sys.argv[1], int(sys.argv[2])
questions = "".join("%d.  Question number %d of the spring survey, asked of every member?\r\r\n"
                    "\tPlease type in text.\r\r\n<answer%d>  </answer%d>\r\r\n\r\r\n" % (n, n, n, n) for n in range(1, 16))
body = ("\t\tSpring Ministry Survey\r\r\n\r\r\nDear friends at Grace Fellowship,\r\r\n\r\r\n" + questions +
        "Thank You!\r\r\n<SurveyID>{6F1C2A40-3B5D-4C8E-9A71-2D4E5F60A1B2}</SurveyID>\r\r\n")
with open(path, "w") as f:
    for n in range(1, count + 1):
        f.write("<Recipient%d>Member %d</Recipient%d>\r\r\n<Email%d>member%d@example.org</Email%d>\r\r\n"
                % (n, n, n, n, n, n))
    f.write("<Body>" + body + "</Body>")
PY

send_lvemailaccess() {  # send_lvemailaccess URL TLS USER -> seconds
  configure "$1" "$2" "$3"
  clear_delivered
  rm -f "$work/bin/LVEmailAccess.log" "$work/bin/LVEmailAccess.ledger"  # each timed run a new mailing
  local start end
  start=$(now)
  "$work/bin/LVEmailAccess" 2 "$work/out.tmp" "Corvane Survey - Spring Ministry Survey" 0 >/dev/null 2>&1
  end=$(now)
  [ "$(delivered_count)" -eq "$count" ] || { echo "LVEmailAccess delivered $(delivered_count) of $count" >&2; exit 1; }
  elapsed "$start" "$end"
}

# One message as LVEmailAccess composes it, for the other clients (same size).
configure "smtp://127.0.0.1:$open" no ""
/usr/bin/python3 - "$work/out.tmp" "$work/one.tmp" <<'PY'
import sys
text = open(sys.argv[1]).read()
open(sys.argv[2], "w").write("<Recipient1>Member 1</Recipient1>\r\r\n<Email1>member1@example.org</Email1>\r\r\n" +
                             text[text.index("<Body>"):])
PY
clear_delivered
"$work/bin/LVEmailAccess" 2 "$work/one.tmp" "Corvane Survey - Spring Ministry Survey" 0 >/dev/null 2>&1
sample=$(find "$delivered/new" -type f | head -n 1)
tail -n +2 "$sample" > "$work/message.eml"   # without the server's Return-Path
size=$(stat -c %s "$work/message.eml")

echo "Sending $count messages of $size bytes to the SMTP server on 127.0.0.1"

source_run() {  # source_run SESSIONS -> seconds
  clear_delivered
  local start end
  start=$(now)
  smtp-source -s "$1" -m "$count" -l "$size" -f office@grace.example.org -t member@example.org -M localhost \
    "127.0.0.1:$open"
  end=$(now)
  [ "$(delivered_count)" -eq "$count" ] || { echo "smtp-source delivered $(delivered_count) of $count" >&2; exit 1; }
  elapsed "$start" "$end"
}

# The machine is shared: every client runs RUNS times, in turn, and the
# median counts.
source1=() source4=() plain=() secure=()
for ((r = 1; r <= runs; r++)); do
  source1+=("$(source_run 1)")
  plain+=("$(send_lvemailaccess "smtp://127.0.0.1:$open" no "")")
  source4+=("$(source_run 4)")
  secure+=("$(send_lvemailaccess "smtp://127.0.0.1:$smtp" yes church)")
done
t_source=$(median "${source1[@]}"); t_source4=$(median "${source4[@]}")
t_ours=$(median "${plain[@]}"); t_ours_tls=$(median "${secure[@]}")

cat > "$work/msmtprc" <<RC
defaults
from office@grace.example.org
host 127.0.0.1
account plain
port $open
auth off
tls off
account secure
port $smtp
auth on
user church
password secret
tls on
tls_starttls on
tls_trust_file $cert
RC
chmod 600 "$work/msmtprc"
msmtp_loop() {  # msmtp_loop ACCOUNT -> seconds for msmtp_count messages
  clear_delivered
  local start n
  start=$(now)
  for ((n = 1; n <= msmtp_count; n++)); do
    msmtp -C "$work/msmtprc" -a "$1" "member$n@example.org" < "$work/message.eml"
  done
  elapsed "$start" "$(now)"
}
t_msmtp=$(msmtp_loop plain)
t_msmtp_tls=$(msmtp_loop secure)

rate() {  # rate SECONDS [MESSAGES]
  /usr/bin/python3 -c 'import sys; print("%.0f" % (float(sys.argv[1]) / float(sys.argv[2])))' "${2:-$count}" "$1"
}
# The msmtp loop's time scaled to the whole list.
t_msmtp=$(/usr/bin/python3 -c 'import sys; print("%.3f" % (float(sys.argv[1]) * int(sys.argv[2]) / int(sys.argv[3])))' \
  "$t_msmtp" "$count" "$msmtp_count")
t_msmtp_tls=$(/usr/bin/python3 -c 'import sys; print("%.3f" % (float(sys.argv[1]) * int(sys.argv[2]) / int(sys.argv[3])))' \
  "$t_msmtp_tls" "$count" "$msmtp_count")
printf '\n%-44s %9s %9s  %s\n' "sending $count messages" "seconds" "msg/s" "runs"
printf '%-44s %9s %9s  %s\n' "smtp-source, 1 session (no TLS, no login)" "$t_source" "$(rate "$t_source")" "${source1[*]}"
printf '%-44s %9s %9s  %s\n' "smtp-source, 4 sessions (no TLS, no login)" "$t_source4" "$(rate "$t_source4")" "${source4[*]}"
printf '%-44s %9s %9s  %s\n' "LVEmailAccess (no TLS, no login)" "$t_ours" "$(rate "$t_ours")" "${plain[*]}"
printf '%-44s %9s %9s\n' "msmtp loop (no TLS, no login) *" "$t_msmtp" "$(rate "$t_msmtp")"
printf '%-44s %9s %9s  %s\n' "LVEmailAccess (STARTTLS, login)" "$t_ours_tls" "$(rate "$t_ours_tls")" "${secure[*]}"
printf '%-44s %9s %9s\n' "msmtp loop (STARTTLS, login) *" "$t_msmtp_tls" "$(rate "$t_msmtp_tls")"
echo "* $msmtp_count messages sent, time scaled to $count"
echo "LVEmailAccess rate / smtp-source 1 session: $(ratio "$t_source" "$t_ours")   (target >= 0.8)"
echo "LVEmailAccess rate / smtp-source 4 sessions: $(ratio "$t_source4" "$t_ours")"
echo "LVEmailAccess rate / msmtp loop: $(ratio "$t_msmtp" "$t_ours") plain, $(ratio "$t_msmtp_tls" "$t_ours_tls") with TLS   (target >= 10)"

# ---- sending to smtp-sink --------------------------------------------------
# The Python server above bounds both clients alike and hides how they
# differ; Postfix's smtp-sink (C, discards every message) does not. One more
# round, without TLS: smtp-source and LVEmailAccess against the same sink.
sink_port=$(/usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
smtp-sink -u nobody "127.0.0.1:$sink_port" 256 &
sink_pid=$!
trap 'kill "$sink_pid" 2>/dev/null || true; cleanup' EXIT
for ((tries = 0; tries < 100; tries++)); do
  (exec 3<>"/dev/tcp/127.0.0.1/$sink_port") 2>/dev/null && break
  sleep 0.1
done
sink_source_run() {  # sink_source_run SESSIONS -> seconds
  local start
  start=$(now)
  smtp-source -s "$1" -m "$count" -l "$size" -f office@grace.example.org -t member@example.org -M localhost \
    "127.0.0.1:$sink_port"
  elapsed "$start" "$(now)"
}
sink_lvemailaccess() {  # -> seconds; every message must have been accepted
  configure "smtp://127.0.0.1:$sink_port" no ""
  rm -f "$work/bin/LVEmailAccess.log" "$work/bin/LVEmailAccess.ledger"  # each timed run a new mailing
  local start end sent
  start=$(now)
  "$work/bin/LVEmailAccess" 2 "$work/out.tmp" "Corvane Survey - Spring Ministry Survey" 0 >/dev/null 2>&1
  end=$(now)
  sent=$(grep -c ' sent to ' "$work/bin/LVEmailAccess.log" || true)
  [ "$sent" -eq "$count" ] || { echo "LVEmailAccess sent $sent of $count to smtp-sink" >&2; exit 1; }
  elapsed "$start" "$end"
}
sink1=() sink4=() sink_ours=()
for ((r = 1; r <= runs; r++)); do
  sink1+=("$(sink_source_run 1)")
  sink_ours+=("$(sink_lvemailaccess)")
  sink4+=("$(sink_source_run 4)")
done
kill "$sink_pid" 2>/dev/null || true
wait "$sink_pid" 2>/dev/null || true
trap cleanup EXIT
t_sink1=$(median "${sink1[@]}"); t_sink4=$(median "${sink4[@]}"); t_sink_ours=$(median "${sink_ours[@]}")
printf '\n%-44s %9s %9s  %s\n' "sending $count messages to smtp-sink" "seconds" "msg/s" "runs"
printf '%-44s %9s %9s  %s\n' "smtp-source, 1 session (no TLS, no login)" "$t_sink1" "$(rate "$t_sink1")" "${sink1[*]}"
printf '%-44s %9s %9s  %s\n' "smtp-source, 4 sessions (no TLS, no login)" "$t_sink4" "$(rate "$t_sink4")" "${sink4[*]}"
printf '%-44s %9s %9s  %s\n' "LVEmailAccess (no TLS, no login)" "$t_sink_ours" "$(rate "$t_sink_ours")" "${sink_ours[*]}"
echo "LVEmailAccess rate / smtp-source 1 session on smtp-sink: $(ratio "$t_sink1" "$t_sink_ours")   (target >= 0.8)"

fi

# ---- fetching --------------------------------------------------------------
# The inbox made fresh with N replies of some 3.6 KB (a reply quoting the
# whole survey), delivered as a mail server does: whatever was there, and
# Dovecot's index and UID list, go first (it makes a new UIDVALIDITY).
fresh_mailbox() {  # fresh_mailbox N
  /usr/bin/python3 - "$maildir" "$1" "$uid" "$gid" <<'PY'
import os, sys
maildir, count, uid, gid = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
for sub in ("new", "cur", "tmp"):
    for name in os.listdir(os.path.join(maildir, sub)):
        os.remove(os.path.join(maildir, sub, name))
for name in os.listdir(maildir):
    if name.startswith("dovecot-uidlist") or name.startswith("dovecot.index"):
        os.remove(os.path.join(maildir, name))
quoted = "".join("> %d.  Question number %d of the spring survey, asked of every member?\r\n"
                 ">     Please type in text.\r\n> <answer%d>  </answer%d>\r\n>\r\n" % (n, n, n, n)
                 for n in range(1, 16))
quoted = ("On Sun, 1 Mar 2026 at 09:00, Grace Fellowship <office@grace.example.org> wrote:\r\n"
          ">         Spring Ministry Survey\r\n>\r\n> Dear friends at Grace Fellowship,\r\n>\r\n" + quoted +
          "> Thank You!\r\n> <SurveyID>{6F1C2A40-3B5D-4C8E-9A71-2D4E5F60A1B2}</SurveyID>\r\n")
for n in range(1, count + 1):
    text = ("From: Member %d <member%d@example.org>\r\nTo: office@grace.example.org\r\n"
            "Subject: Re: Corvane Survey - Spring Ministry Survey\r\nDate: Mon, 2 Mar 2026 10:%02d:00 +0000\r\n"
            "Message-ID: <reply%d@example.org>\r\nIn-Reply-To: <survey%d@grace.example.org>\r\n"
            "References: <survey%d@grace.example.org>\r\nMIME-Version: 1.0\r\n"
            "Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: 8bit\r\n\r\n"
            "My answers are below.\r\n<answer1>Yes</answer1>\r\n<answer2>%d</answer2>\r\n"
            "<answer3>We would like more evening services in the summer.</answer3>\r\n\r\n%s"
            "\r\n-- \r\nMember %d\r\nGrace Fellowship, choir and Sunday school\r\n"
            % (n, n, n % 60, n, n, n, n, quoted, n))
    text += "\r\n" + "Sent from my phone. " * max(0, (3600 - len(text)) // 20) + "\r\n"
    name = "%d.M%06dP%dQ%d.bench" % (1772445600 + n, n, os.getpid(), n)
    path = os.path.join(maildir, "new", name)
    with open(os.path.join(maildir, "tmp", name), "w") as f:
        f.write(text)
    os.rename(os.path.join(maildir, "tmp", name), path)
    os.chown(path, uid, gid)
PY
  # The mail on the disk before the clock starts: the writing back of one
  # mailbox must not fall into the next client's run.
  settle
}

configure "smtp://127.0.0.1:$smtp" yes church
[ -z "$before_build" ] || cp "$work/bin/LVEmailAccess.conf" "$work/before/"
fetch_lvemailaccess() {  # fetch_lvemailaccess FOLDER N -> seconds
  fresh_mailbox "$2"
  rm -f "$1/in.tmp" "$1/LVEmailAccess.state" "$1/LVEmailAccess.log" "$rawlog"/*
  local start end unread
  start=$(now)
  "$1/LVEmailAccess" 4 "$1/in.tmp" "Corvane Survey" 0 >/dev/null
  end=$(now)
  [ "$(grep -c "^<Originator[0-9]*>" "$1/in.tmp")" -eq "$2" ] ||
    { echo "LVEmailAccess in $1 did not fetch $2 replies" >&2; exit 1; }
  # Fetching leaves every reply unread.
  unread=$(find "$maildir/new" "$maildir/cur" -maxdepth 1 -type f | grep -vc ':2,[A-Z]*S' || true)
  [ "$unread" -eq "$2" ] || { echo "LVEmailAccess in $1 left $unread of $2 replies unread" >&2; exit 1; }
  elapsed "$start" "$end"
}

cat > "$work/mbsyncrc" <<RC
IMAPAccount bench
Host 127.0.0.1
Port $imaps
User church
Pass secret
SSLType IMAPS
CertificateFile $cert

IMAPStore remote
Account bench

MaildirStore local
Path $work/mbsync/
Inbox $work/mbsync/INBOX

Channel pull
Far :remote:INBOX
Near :local:INBOX
Sync Pull
Create Near
Expunge None
SyncState *
RC
# The same without flushing every message to the disk, for reference: on a
# slow disk mbsync's time is mostly its fsyncs.
{ echo "FSync no"; cat "$work/mbsyncrc"; } > "$work/mbsyncrc-nofsync"
fetch_mbsync() {  # fetch_mbsync N [CONFIG] -> seconds
  fresh_mailbox "$1"
  rm -rf "$work/mbsync" "$rawlog"/*
  mkdir "$work/mbsync"
  local start end
  start=$(now)
  mbsync -q -c "${2:-$work/mbsyncrc}" pull
  end=$(now)
  [ "$(find "$work/mbsync/INBOX/new" "$work/mbsync/INBOX/cur" -type f | wc -l)" -eq "$1" ] ||
    { echo "mbsync did not fetch $1 replies" >&2; exit 1; }
  elapsed "$start" "$end"
}

# Replies of 4 to 130 KB, as long comments, pasted text and signatures with
# images make them (the mixed round below).
mixed_mailbox() {  # mixed_mailbox N
  fresh_mailbox 0
  /usr/bin/python3 - "$maildir" "$1" "$uid" "$gid" <<'PY'
import os, sys
maildir, count, uid, gid = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
for n in range(1, count + 1):
    size = (4 + (n * 37) % 127) * 1024
    text = ("From: Member %d <member%d@example.org>\r\nTo: office@grace.example.org\r\n"
            "Subject: Re: Corvane Survey - Spring Ministry Survey\r\nDate: Mon, 2 Mar 2026 10:%02d:00 +0000\r\n"
            "Message-ID: <mixed%d@example.org>\r\nMIME-Version: 1.0\r\n"
            "Content-Type: text/plain; charset=utf-8\r\n\r\n<answer1>Yes</answer1>\r\n" % (n, n, n % 60, n))
    # Lines as mail programs wrap them (72 to 76 columns).
    line = "A long answer, typed or pasted, line after line of it, as people write. "
    text += (line + "\r\n") * max(0, (size - len(text)) // (len(line) + 2))
    name = "%d.M%06dP%dQ%d.mixed" % (1772445600 + n, n, os.getpid(), n)
    with open(os.path.join(maildir, "tmp", name), "w") as f:
        f.write(text)
    os.rename(os.path.join(maildir, "tmp", name), os.path.join(maildir, "new", name))
    os.chown(os.path.join(maildir, "new", name), uid, gid)
PY
  settle
}

fresh_mailbox 1
reply_size=$(stat -c %s "$(find "$maildir/new" -type f | head -n 1)")

# ---- instructions per reply ------------------------------------------------
# With CALLGRIND=1 each LVEmailAccess fetches CALLGRIND_COUNT (default 500)
# small replies and CALLGRIND_MIXED (default 200) mixed ones once under
# callgrind instead of the timed rounds: the whole run's instructions per
# reply (and per KB of mail), the same on every machine however busy.
# CALLGRIND_DIR keeps the profiles for callgrind_annotate.
callgrind_fetch() {  # callgrind_fetch FOLDER REPLIES NAME -> instructions
  rm -f "$1/in.tmp" "$1/LVEmailAccess.state" "$1/LVEmailAccess.log"
  local out="${CALLGRIND_DIR:-$work}/callgrind.$3"
  valgrind --tool=callgrind --callgrind-out-file="$out" --log-file="$work/callgrind.log" \
    "$1/LVEmailAccess" 4 "$1/in.tmp" "Corvane Survey" 0 >/dev/null
  [ "$(grep -c "^<Originator[0-9]*>" "$1/in.tmp")" -eq "$2" ] ||
    { echo "LVEmailAccess in $1 did not fetch $2 replies under callgrind" >&2; exit 1; }
  awk '/^(summary|totals):/ { print $2; exit }' "$out"
}
if [ "${CALLGRIND:-0}" = "1" ]; then
  "$source_dir/scripts/bootstrap.sh" --install valgrind
  small=${CALLGRIND_COUNT:-500} mixed=${CALLGRIND_MIXED:-200}
  [ -z "${CALLGRIND_DIR:-}" ] || mkdir -p "$CALLGRIND_DIR"
  printf '\n%-34s %14s %14s %14s\n' "instructions (callgrind)" "whole run" "per reply" "per KB"
  for side in after before; do
    folder=$work/bin
    if [ "$side" = before ]; then
      [ -n "$before_build" ] || continue
      folder=$work/before
    fi
    fresh_mailbox "$small"
    bytes=$(du -sb "$maildir/new" | awk '{ print $1 }')
    ir=$(callgrind_fetch "$folder" "$small" "$side.small")
    printf '%-34s %14s %14s %14s\n' "$side: $small replies of $reply_size bytes" "$ir" \
      "$((ir / small))" "$((ir * 1024 / bytes))"
    mixed_mailbox "$mixed"
    bytes=$(du -sb "$maildir/new" | awk '{ print $1 }')
    ir=$(callgrind_fetch "$folder" "$mixed" "$side.mixed")
    printf '%-34s %14s %14s %14s\n' "$side: $mixed replies of 4 to 130 KB" "$ir" \
      "$((ir / mixed))" "$((ir * 1024 / bytes))"
  done
  exit 0
fi

# The download-only reader: the same commands, the texts written to a file
# and not read (bench/imap_download.py), the protocol's ceiling here.
fetch_download() {  # fetch_download N [keep: the mailbox as it is] -> seconds
  [ "${2:-}" = keep ] || fresh_mailbox "$1"
  rm -f "$work/download.out" "$rawlog"/*
  local start end got
  start=$(now)
  got=$(/usr/bin/python3 "$here/imap_download.py" 127.0.0.1 "$imaps" "$cert" church secret INBOX "Corvane Survey" \
    "$work/download.out")
  end=$(now)
  [ "$got" -eq "$1" ] || { echo "the download-only reader fetched $got of $1 replies" >&2; exit 1; }
  elapsed "$start" "$end"
}

# The server's share of a run, from Dovecot's raw log with its time stamps:
# the time during which it had a command not yet answered (the union of the
# spans from each command's arrival to its tagged answer), summed over the
# run's sessions. The rest of the run the client was working, or starting.
server_busy() {
  /usr/bin/python3 - "$rawlog" <<'PY'
import os, re, sys
stamped = re.compile(r"^(\d+\.\d+) (\S+) ")
total = 0.0
for name in os.listdir(sys.argv[1]):
    if not name.endswith(".in"):
        continue
    base = os.path.join(sys.argv[1], name[:-3])
    asked = {}
    for line in open(base + ".in", "rb").read().decode("latin-1").splitlines():
        m = stamped.match(line)
        if m:
            asked.setdefault(m.group(2), float(m.group(1)))
    spans = []
    if os.path.exists(base + ".out"):
        for line in open(base + ".out", "rb").read().decode("latin-1").splitlines():
            m = stamped.match(line)
            if m and m.group(2) in asked:
                spans.append((asked.pop(m.group(2)), float(m.group(1))))
    end = None
    for begin, finish in sorted(spans):
        if end is None or begin > end:
            total += finish - begin
            end = finish
        elif finish > end:
            total += finish - end
            end = finish
print("%.3f" % total)
PY
}

rawlog_counts() {  # -> "batch-commands failed-batches single-fetches logins"
  /usr/bin/python3 - "$rawlog" <<'PY'
import os, re, sys
batch = failed = single = logins = 0
for name in os.listdir(sys.argv[1]):
    if name.endswith(".in"):
        logins += 1
        tags = {}
        last_was_batch = False
        for line in open(os.path.join(sys.argv[1], name), "rb").read().decode("latin-1").splitlines():
            line = re.sub(r"^\d+\.\d+ ", "", line)  # the time stamp
            if not re.match(r"\S+ [A-Za-z]", line):
                continue  # not a command (a literal's text, a SASL answer)
            m = re.match(r"(\S+) UID FETCH (\S+) (BODY\.PEEK)?\[", line)
            last_was_batch = False
            if m:
                many = "," in m.group(2) or ":" in m.group(2)
                batch += many
                single += not many
                if many:
                    tags[m.group(1)] = True
                    last_was_batch = True
        failed += last_was_batch
        out = os.path.join(sys.argv[1], name[:-3] + ".out")
        if os.path.exists(out) and tags:
            for line in open(out, "rb").read().decode("latin-1").splitlines():
                word = re.sub(r"^\d+\.\d+ ", "", line).split(" ", 2)
                if len(word) > 1 and word[0] in tags and word[1] in ("NO", "BAD"):
                    failed += 1
print(batch, failed, single, logins)
PY
}
# The server's share and the raw log's counts of one more run of a client,
# with the raw log on: logged COMMAND... -> "server-seconds counts..."
logged() {
  rawlog_on
  "$@" >/dev/null
  echo "$(server_busy) $(rawlog_counts)"
  rawlog_off
}
column() { local i=$1; shift; printf '%s\n' "$@" | awk -v i="$i" '{ print $i }'; }
median_of() { median $(column "$@"); }  # median_of COLUMN RUN...

warm=0
for n in $fetch_counts; do
  if [ "$warm" = 0 ]; then  # warm-up: the programs and libraries into memory
    fetch_lvemailaccess "$work/bin" "$n" >/dev/null
    fetch_mbsync "$n" >/dev/null
    fetch_download "$n" >/dev/null
    warm=1
  fi
  ours=() theirs=() before=() nofsync=() download=()
  for ((r = 1; r <= runs; r++)); do
    ours+=("$(fetch_lvemailaccess "$work/bin" "$n")")
    theirs+=("$(fetch_mbsync "$n")")
    nofsync+=("$(fetch_mbsync "$n" "$work/mbsyncrc-nofsync")")
    download+=("$(fetch_download "$n")")
    [ -z "$before_build" ] || before+=("$(fetch_lvemailaccess "$work/before" "$n")")
  done
  t_fetch=$(median "${ours[@]}")
  t_mbsync=$(median "${theirs[@]}")
  t_nofsync=$(median "${nofsync[@]}")
  t_download=$(median "${download[@]}")
  printf '\n%-44s %9s %9s  %s\n' "fetching $n replies of $reply_size bytes (imaps)" "median s" "server s" \
    "each run (mailbox fresh before each; server s from one more run with the raw log)"
  row() {  # row NAME LOGGED-RUN RUN...
    local name=$1 server=$2; shift 2
    printf '%-44s %9s %9s  %s\n' "$name" "$(median "$@")" "$(column 1 "$server")" "$(echo "$@")"
  }
  row "LVEmailAccess operation 4" "$(logged fetch_lvemailaccess "$work/bin" "$n")" "${ours[@]}"
  [ -z "$before_build" ] || row "LVEmailAccess operation 4 of BEFORE_BUILD" \
    "$(logged fetch_lvemailaccess "$work/before" "$n")" "${before[@]}"
  row "mbsync pull" "$(logged fetch_mbsync "$n")" "${theirs[@]}"
  row "mbsync pull, FSync no" "$(logged fetch_mbsync "$n" "$work/mbsyncrc-nofsync")" "${nofsync[@]}"
  row "download-only reader (imap_download.py)" "$(logged fetch_download "$n")" "${download[@]}"
  ratios "$t_fetch" "$t_mbsync" "$t_nofsync" "$t_download" ours theirs
  if [ -n "$before_build" ]; then
    t_before=$(median "${before[@]}")
    echo "BEFORE_BUILD time / mbsync time: $(ratio "$t_before" "$t_mbsync"); LVEmailAccess / BEFORE_BUILD: $(ratio "$t_fetch" "$t_before")"
  fi
  echo "every reply was still unread after each LVEmailAccess run"
done

# ---- mixed sizes -----------------------------------------------------------
# Replies of 4 to 130 KB, as long comments, pasted text and signatures with
# images make them. The logged run of LVEmailAccess is counted from the raw log:
# FETCH commands naming more than one UID (batches), those that failed (the
# server refused them, or the client dropped the connection after sending
# one, as libcurl does when an answer passes its header limit: the session's
# last command), single fetches, and logins.
mixed_count=${MIXED_COUNT:-2000}
mixed_run() {  # mixed_run FOLDER -> seconds
  mixed_mailbox "$mixed_count"
  rm -f "$1/in.tmp" "$1/LVEmailAccess.state" "$1/LVEmailAccess.log" "$rawlog"/*
  local start end
  start=$(now)
  "$1/LVEmailAccess" 4 "$1/in.tmp" "Corvane Survey" 0 >/dev/null 2>&1 || true
  end=$(now)
  [ "$(grep -c "^<Originator[0-9]*>" "$1/in.tmp")" -eq "$mixed_count" ] ||
    { echo "LVEmailAccess in $1 did not fetch $mixed_count mixed replies" >&2; exit 1; }
  elapsed "$start" "$end"
}
mixed_mbsync() {  # mixed_mbsync [CONFIG] -> seconds
  mixed_mailbox "$mixed_count"
  rm -rf "$work/mbsync" "$rawlog"/*
  mkdir "$work/mbsync"
  local start end
  start=$(now)
  mbsync -q -c "${1:-$work/mbsyncrc}" pull
  end=$(now)
  elapsed "$start" "$end"
}
mixed_download() {  # -> seconds
  mixed_mailbox "$mixed_count"
  fetch_download "$mixed_count" keep
}
# Warm-up: the first run after the small rounds pays for their mail leaving the page cache.
mixed_run "$work/bin" >/dev/null
mixed_mbsync >/dev/null
mixed_download >/dev/null
ours=() before=() theirs=() nofsync=() download=()
for ((r = 1; r <= runs; r++)); do
  ours+=("$(mixed_run "$work/bin")")
  theirs+=("$(mixed_mbsync)")
  nofsync+=("$(mixed_mbsync "$work/mbsyncrc-nofsync")")
  download+=("$(mixed_download)")
  [ -z "$before_build" ] || before+=("$(mixed_run "$work/before")")
done
printf '\n%s\n' "fetching $mixed_count replies of 4 to 130 KB (imaps); server s and counts from one more run with Dovecot's raw log"
printf '%-34s %9s %9s %9s %9s %9s %7s  %s\n' "" "median s" "server s" "batches" "failed" "singles" "logins" "each run"
mixed_row() {  # mixed_row NAME LOGGED-RUN OURS(1 or 0) RUN...
  local name=$1 s b f g l; shift
  read -r s b f g l <<<"$1"
  if [ "$2" = 0 ]; then b=- f=- g=-; fi
  shift 2
  printf '%-34s %9s %9s %9s %9s %9s %7s  %s\n' "$name" "$(median "$@")" "$s" "$b" "$f" "$g" "$l" "$(echo "$@")"
}
mixed_row "LVEmailAccess operation 4" "$(logged mixed_run "$work/bin")" 1 "${ours[@]}"
[ -z "$before_build" ] || mixed_row "LVEmailAccess of BEFORE_BUILD" "$(logged mixed_run "$work/before")" 1 "${before[@]}"
mixed_row "mbsync pull" "$(logged mixed_mbsync)" 0 "${theirs[@]}"
mixed_row "mbsync pull, FSync no" "$(logged mixed_mbsync "$work/mbsyncrc-nofsync")" 0 "${nofsync[@]}"
mixed_row "download-only reader" "$(logged mixed_download)" 0 "${download[@]}"
ratios "$(median "${ours[@]}")" "$(median "${theirs[@]}")" "$(median "${nofsync[@]}")" "$(median "${download[@]}")" ours theirs
if [ -n "$before_build" ]; then
  echo "LVEmailAccess / BEFORE_BUILD: $(ratio "$(median "${ours[@]}")" "$(median "${before[@]}")")"
fi
