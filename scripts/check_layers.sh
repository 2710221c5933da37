#!/usr/bin/env bash
# Lists every product include that points up the layer order (lowest first):
# platform, util, tarnbase, data, bizobjects, mail and tasks (side by side,
# neither including the other), surveys, strategy, app. emailaccess stands
# apart on platform and util. Exits 1 when it lists any.
set -euo pipefail
cd "$(dirname "$0")/.."
rank() {
  case $1 in
    platform) echo 0 ;; util) echo 1 ;; tarnbase) echo 2 ;; data) echo 3 ;;
    bizobjects) echo 4 ;; mail | tasks) echo 5 ;; surveys) echo 6 ;;
    strategy) echo 7 ;; app) echo 8 ;; *) echo 99 ;;
  esac
}
found=0
for dir in platform util tarnbase data bizobjects mail tasks surveys strategy app emailaccess; do
  for file in "$dir"/*.h "$dir"/*.cpp; do
    [ -e "$file" ] || continue
    while IFS=: read -r line text; do
      target=$(sed -E 's/.*#include "([a-z_]+)\/.*/\1/' <<<"$text")
      [ "$target" = "$dir" ] && continue
      if [ "$dir" = emailaccess ]; then
        case $target in platform | util) continue ;; esac
      elif [ "$(rank "$target")" -lt "$(rank "$dir")" ]; then
        continue
      fi
      echo "$file:$line: $text"
      found=1
    done < <(grep -n '^#include "[a-z_]*/' "$file" || true)
  done
done
exit $found
