#!/usr/bin/env bash
# Makes the reply fixtures of this folder with a real mail client: mutt (from
# Debian) answers messages LvMAPI sent, with its ordinary reply command, in a
# pseudo-terminal; the "person" is an editor command that types into mutt's
# draft, and mutt's sendmail is a command that keeps the message.
#
#   make_fixtures.sh OUTBOX    (needs mutt) OUTBOX: Mail/Outbox/new of a run of
#                              commands 2 and 1 (see scripts/demo.sh)
set -euo pipefail
outbox=$1
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# reply NAME FROM TO-PATTERN SUBJECT-PATTERN STYLE EDIT
#   STYLE quoted: "> " quotes; outlook: the whole message below the answer,
#   without quote marks, under Outlook's header block. EDIT is Python run on
#   the draft's text `t`, giving the new text.
reply() {
  local name=$1 from=$2 to=$3 subject=$4 style=$5 edit=$6
  rm -rf "$work/md" && mkdir -p "$work"/md/{cur,new,tmp}
  cp "$(grep -l "^To: .*$to" $(grep -l "^Subject: $subject" "$outbox"/*) | head -1)" "$work/md/new/1.eml"
  printf 'import sys\np = sys.argv[1]\nt = open(p, encoding="utf-8").read()\n%s\nopen(p, "w", encoding="utf-8").write(t)\n' \
    "$edit" > "$work/edit.py"
  printf '#!/bin/sh\ncat > "%s"\n' "$here/$name.eml" > "$work/keep.sh" && chmod +x "$work/keep.sh"
  cat > "$work/muttrc" <<RC
set folder=$work/md
set spoolfile=$work/md
set mbox_type=Maildir
set editor="/usr/bin/python3 $work/edit.py"
set sendmail="$work/keep.sh"
set from="$from"
set use_from=yes
set include=yes
set fast_reply=yes
set copy=no
set record=""
set send_charset="us-ascii:utf-8"
set quit=yes
set move=no
set postpone=no
set abort_unmodified=no
RC
  if [ "$style" = outlook ]; then
    cat >> "$work/muttrc" <<'RC'
set indent_string=""
set attribution="-----Original Message-----\nFrom: %n <%a>\nSent: %d\nSubject: %s\n"
RC
  fi
  TERM=xterm script -qfc "mutt -n -F $work/muttrc -e 'push <reply>y<quit>'" /dev/null > /dev/null
  test -s "$here/$name.eml" && chmod 644 "$here/$name.eml"
}

reply survey_inline_under_quotes "Ann Lee <ann.lee@example.org>" ann.lee "Corvane Survey" quoted '
import re
typed = {"1": "true", "2": "yes", "3": "9", "4": "25%", "5": "6", "6": "b"}
t = re.sub(r"^> <answer(\d)>  </answer\d>\n", lambda m: m.group(0) + "<answer%s>%s</answer%s>\n" % (m.group(1), typed[m.group(1)], m.group(1)), t, flags=re.M)'
reply survey_quoted_unchanged "David Kim <david.kim@example.org>" david.kim "Corvane Survey" quoted 't = "Here you are.\n\n" + t'
reply goal_lowercase_example "Maria Elena Santos <maria.santos@example.org>" maria.santos "Corvane Strategy" quoted \
  't = "<status> 30 </status>\n\nThe soup kitchen is booked.\n\n" + t'
reply goal_outlook_full_quote "Robert James O'Brien <rob.obrien@example.org>" rob.obrien "Corvane Strategy" outlook '
t = "Figures below.\n\n" + t.replace("<Status> </Status>", "<Status> 60 </Status>").replace("<Comment> </Comment>", "<Comment> Painting done, lighting next </Comment>")'
reply goal_quoted_unchanged "Grace Wanjiru Mwangi <grace.mwangi@example.org>" grace.mwangi "Corvane Strategy" quoted 't = "Will do!\n\n" + t'
