# Wine for the Windows build, sourced by scripts/windows.sh,
# scripts/windows_tests.sh and the checks in tests/windows/: one prefix
# inside the build folder, quiet, with no offer to install Mono or Gecko,
# and nothing of the user's own Wine touched. (The libraries' build,
# scripts/windows_deps.sh, keeps a prefix of its own in its cache.)
#
#   wine_use BUILD      exports the environment of BUILD's prefix
#   wine_start          starts Wine's server and services for it
#   wine_stop           stops them
#   wine_write_runner   writes BUILD/wine-run, which runs one Windows
#                       program of the build with that environment

# Debian's wine64 package has no /usr/bin/wine64; this is its loader.
wine_loader=/usr/lib/wine/wine64

# The environment of the prefix of the build in folder $1, as a line of
# shell: what this shell takes (wine_use) and what wine-run carries.
wine_environment() {
  printf 'export WINEPREFIX=%q WINEDEBUG=-all WINEDLLOVERRIDES=%q\n' "$1/wineprefix" "mscoree,mshtml="
}

wine_use() { eval "$(wine_environment "$1")"; }

# Wine's service processes keep every pipe they inherit open: started with
# their streams on /dev/null, they no longer hold a caller's output open,
# and a running server makes each program start in a twentieth of a second.
wine_start() {
  mkdir -p "$WINEPREFIX"
  /usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1 || true
  "$wine_loader" wineboot -i </dev/null >/dev/null 2>&1 || true
}

wine_stop() { /usr/lib/wine/wineserver -k </dev/null >/dev/null 2>&1 || true; }

# The runner needs nothing of this folder: a build folder runs its programs
# on its own.
wine_write_runner() {
  {
    echo '#!/usr/bin/env bash'
    echo '# Runs a Windows program of this build under Wine.'
    wine_environment "$(cd "$1" && pwd)"
    printf 'exec %q "$@"\n' "$wine_loader"
  } > "$1/wine-run"
  chmod +x "$1/wine-run"
}
