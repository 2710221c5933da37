#!/usr/bin/env bash
# Lists every product include that points up the layer order (lowest first):
# platform, util, exchange (the contract LvMAPI and the mail-access program
# share), tarnbase, data, bizobjects, mail and tasks (side by side, neither
# including the other), surveys, strategy, app. emailaccess stands apart on
# platform, util and exchange, and has an order of its own, lowest first:
# composing and reading messages (message/: MIME text, delivery reports);
# the shared pieces in emailaccess/ itself (settings, the
# log, the mail store's interface, the intake cycle and its records);
# connecting and signing in (signin/; its providers' endpoints are data the
# settings read, ranked with the lowest); one folder per way of moving mail
# (maildir, smtp, imap, outlook), none including another; then the program
# (sending with its Maildir queue, the table of transports, the command line,
# main). Exits 1 when it
# lists any.
set -euo pipefail
cd "$(dirname "$0")/.."
rank() {
  case $1 in
    platform) echo 0 ;; util) echo 1 ;; exchange) echo 2 ;; tarnbase) echo 3 ;;
    data) echo 4 ;; bizobjects) echo 5 ;; mail | tasks) echo 6 ;; surveys) echo 7 ;;
    strategy) echo 8 ;; app) echo 9 ;; *) echo 99 ;;
  esac
}
email_rank() {
  case $1 in
    emailaccess/message/* | emailaccess/signin/providers.*) echo 0 ;;
    emailaccess/signin/*) echo 2 ;;
    emailaccess/sending.* | emailaccess/transports.* | emailaccess/command_line.* | emailaccess/main.cpp) echo 4 ;;
    emailaccess/*/*) echo 3 ;;
    *) echo 1 ;;
  esac
}
found=0
for dir in platform util exchange tarnbase data bizobjects mail tasks surveys strategy app emailaccess emailaccess/*/; do
  dir=${dir%/}
  for file in "$dir"/*.h "$dir"/*.cpp; do
    [ -e "$file" ] || continue
    while IFS=: read -r line text; do
      target=$(sed -E 's/.*#include "([a-z_]+)\/.*/\1/' <<<"$text")
      included=$(sed -E 's/.*#include "([^"]+)".*/\1/' <<<"$text")
      if [ "${dir%%/*}" = emailaccess ]; then
        case $target in platform | util | exchange) continue ;; esac
        if [ "$target" = emailaccess ]; then
          mine=$(email_rank "$file") theirs=$(email_rank "$included")
          [ "$theirs" -lt "$mine" ] && continue
          [ "$theirs" = "$mine" ] && [ "$(dirname "$included")" = "$dir" ] && continue
        fi
      elif [ "$target" = "$dir" ]; then
        continue
      elif [ "$(rank "$target")" -lt "$(rank "$dir")" ]; then
        continue
      fi
      echo "$file:$line: $text"
      found=1
    done < <(grep -n '^#include "[a-z_]*/' "$file" || true)
  done
done
exit $found
