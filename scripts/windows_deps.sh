#!/usr/bin/env bash
# Builds the third-party libraries of the Windows build (x86_64-w64-mingw32,
# DLLs) from Debian 12's own source packages, into a prefix kept outside the
# clone and named by a hash of this recipe: an unchanged recipe reuses its
# prefix at once, a changed one builds a new one.
#
#   bash scripts/windows_deps.sh                builds or reuses the prefix;
#                                               the last line printed is its path
#   bash scripts/windows_deps.sh --runtime-dlls the DLLs (absolute paths) that a
#                                               program of ours needs beside it
#   bash scripts/windows_deps.sh --check        builds the smoke programs of
#                                               scripts/windows/ and runs them
#                                               under Wine
#
# LVMAPI_WINDOWS_DEPS_CACHE picks the cache folder (default
# ${XDG_CACHE_HOME:-$HOME/.cache}/lvmapi-windows-deps). Progress goes to
# standard error, each package's build log to <cache>/logs/<hash>/.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
recipe="$here/windows"
mode=build
case "${1:-}" in
  "") ;;
  --check) mode=check ;;
  --runtime-dlls) mode=dlls ;;
  *) echo "usage: $0 [--check | --runtime-dlls]" >&2; exit 2 ;;
esac

triple=x86_64-w64-mingw32
# The machine is shared; more jobs only slow the others down.
jobs=2
mingw_runtime_dirs=("/usr/lib/gcc/$triple/12-posix" "/usr/$triple/lib")
wine_loader=/usr/lib/wine/wine64

# Debian source packages and the exact versions built. A different version
# from the archive is an error: bump the pin (which makes a new prefix).
#  - pcre2: bookworm-security's 10.42-1+deb12u2 is listed in the archive
#    index, but its .dsc and .diff.gz are not served (404), so this is the
#    release version.
#  - libical3: the archive serves the .dsc and the upstream tarball but not
#    Debian's packaging tarball (404); Debian's 3.0.16-1 applies no patches
#    ("remove test-regression patch" in its changelog), so the upstream
#    tarball is what Debian builds.
pins=(
  "sqlite3 3.40.1-2+deb12u2"
  "libffi 3.4.4-1"
  "pcre2 10.42-1"
  "glib2.0 2.74.6-2+deb12u9"
  "gmime 3.2.13+dfsg-2"
  "curl 7.88.1-10+deb12u15"
  "libxml2 2.9.14+dfsg-1.3~deb12u6"
  "libical3 3.0.16-1 upstream-only"
)

# Debian packages this recipe builds with; zlib, GoogleTest, nlohmann-json
# and MinGW's runtime DLLs are copied from them into the prefix.
host_packages=(
  gcc-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  mingw-w64-x86-64-dev libz-mingw-w64 libz-mingw-w64-dev
  wine64 meson ninja-build cmake make autoconf automake libtool pkg-config
  tcl dpkg-dev xz-utils perl python3 googletest nlohmann-json3-dev
)
copied_packages=(gcc-mingw-w64-x86-64-posix-runtime mingw-w64-x86-64-dev
                 libz-mingw-w64 libz-mingw-w64-dev googletest nlohmann-json3-dev)

say() { echo "windows_deps: $*" >&2; }
die() { say "error: $*"; exit 1; }

bash "$here/bootstrap.sh" --install "${host_packages[@]}" >&2

cache="${LVMAPI_WINDOWS_DEPS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/lvmapi-windows-deps}"
mkdir -p "$cache"
cache=$(cd "$cache" && pwd)

# The recipe is this script and everything under scripts/windows/ but the
# smoke programs, which test a prefix and are no part of it. The versions of
# the Debian packages copied into the prefix count too, so that an update of
# one of them is not hidden by an old prefix.
recipe_hash() {
  {
    (cd "$here" && find windows_deps.sh windows -path windows/smoke -prune -o -type f -print0 |
       LC_ALL=C sort -z | xargs -0 sha256sum)
    dpkg-query -W -f='${Package} ${Version}\n' "${copied_packages[@]}"
  } | sha256sum | cut -c1-16
}
hash=$(recipe_hash)
prefix="$cache/$hash"

# One run at a time per cache: a second one waits, then finds the prefix.
exec 9>"$cache/.lock"
flock 9

# --- Wine --------------------------------------------------------------------

wine_started=
wine_start() {
  [ -z "$wine_started" ] || return 0
  export WINEPREFIX="$cache/wine" WINEDEBUG=-all WINEARCH=win64
  # Headless: no window, and no offer to install Mono or Gecko.
  unset DISPLAY WAYLAND_DISPLAY
  export WINEDLLOVERRIDES="mscoree,mshtml="
  mkdir -p "$WINEPREFIX"
  # Wine's service processes inherit whatever descriptors they are given and
  # keep them open; a pipe held that way makes the caller wait forever.
  wineserver -p </dev/null >/dev/null 2>&1
  "$wine_loader" wineboot </dev/null >/dev/null 2>&1 || true
  wine_started=1
}
# Builds start Wine in subshells, so this does not rely on wine_started;
# with the cache locked, a wineserver of this Wine prefix is this run's.
wine_stop() {
  [ -d "$cache/wine" ] || return 0
  WINEPREFIX="$cache/wine" wineserver -k </dev/null >/dev/null 2>&1 || true
  wine_started=
}
trap wine_stop EXIT

# Runs a Windows program. Its DLLs come from the folders named after --path
# (';'-separated Unix paths), else from beside the program. A program whose
# DLLs are missing exits 53 and says nothing; that is said here.
wine_run() {
  local winepath=
  if [ "${1:-}" = --path ]; then winepath=$2; shift 2; fi
  wine_start
  local rc=0 dir dirs=()
  IFS=';' read -r -a dirs <<<"$winepath"
  winepath=
  for dir in "${dirs[@]}"; do winepath+="Z:${dir//\//\\};"; done
  WINEPATH="$winepath" "$wine_loader" "$@" </dev/null || rc=$?
  [ "$rc" -ne 53 ] || say "$1: exit 53 — a DLL it needs was not found"
  return "$rc"
}

# --- Debian sources ----------------------------------------------------------

# apt with a configuration of its own: the machine's archives as deb-src
# entries, and its own lists and cache, so the machine's apt is not touched.
aptdir="$cache/apt"
apt_opts=(
  -o "Dir::Etc::SourceList=$aptdir/sources.list" -o "Dir::Etc::SourceParts=-"
  -o "Dir::State::Lists=$aptdir/lists" -o "Dir::Cache=$aptdir/cache"
  -o "Dir::State::status=/dev/null"
  -o "APT::Sandbox::User=$(id -un)" -o "Debug::NoLocking=true"
)

# Every deb entry of the machine's sources for this release becomes a
# deb-src entry, checked against Debian's archive key whatever the entry said,
# so that sources come from Debian's archive only.
write_source_list() {
  local codename
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  [ "$codename" = bookworm ] || die "the pins are for Debian 12 (bookworm), this is '$codename'"
  local key=/usr/share/keyrings/debian-archive-keyring.gpg
  [ -f "$key" ] || die "$key is missing (package debian-archive-keyring)"
  {
    local f
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
      [ -f "$f" ] || continue
      sed -n -E 's/^[[:space:]]*deb[[:space:]]+(\[[^]]*\][[:space:]]+)?([^[:space:]]+)[[:space:]]+([^[:space:]]+)(.*)$/\2 \3\4/p' "$f"
    done
    for f in /etc/apt/sources.list.d/*.sources; do
      [ -f "$f" ] || continue
      awk '
        function flush(   n, u, s, i, j, us, ss) {
          if (types ~ /(^| )deb( |$)/ && tolower(enabled) != "no" && uris != "") {
            n = split(uris, us, " "); m = split(suites, ss, " ")
            for (i = 1; i <= n; i++) for (j = 1; j <= m; j++) print us[i], ss[j], comps
          }
          types = uris = suites = comps = ""; enabled = "yes"
        }
        BEGIN { enabled = "yes" }
        /^[ \t]*#/ { next }
        /^[ \t]*$/ { flush(); field = ""; next }
        /^[ \t]/ { if (field != "") value[field] = value[field] " " $0; next }
        {
          field = tolower(substr($0, 1, index($0, ":") - 1)); v = substr($0, index($0, ":") + 1)
          gsub(/^[ \t]+|[ \t]+$/, "", v)
          if (field == "types") types = v; else if (field == "uris") uris = v
          else if (field == "suites") suites = v; else if (field == "components") comps = v
          else if (field == "enabled") enabled = v
        }
        END { flush() }' "$f"
    done
  } | awk -v cn="$codename" -v key="$key" '
      $2 == cn || index($2, cn "-") == 1 {
        line = "deb-src [signed-by=" key "] " $0
        if (!seen[line]++) print line
      }' >"$aptdir/sources.list.new"
  [ -s "$aptdir/sources.list.new" ] || die "no Debian $codename entries in the machine's apt sources"
  mv "$aptdir/sources.list.new" "$aptdir/sources.list"
}

apt_updated=
apt_update() {
  [ -z "$apt_updated" ] || return 0
  mkdir -p "$aptdir/lists/partial" "$aptdir/cache/archives/partial"
  write_source_list
  say "reading the source package lists of Debian's archive"
  apt-get "${apt_opts[@]}" -q update >"$aptdir/update.log" 2>&1 ||
    { tail -n 20 "$aptdir/update.log" >&2; die "apt-get update (private configuration) failed"; }
  if grep -E '^(W|E):' "$aptdir/update.log" >&2; then
    die "apt-get update (private configuration) reported problems"
  fi
  apt_updated=1
}

# Downloads a source package into <cache>/sources/<package>_<version>, once
# per version. apt checks every file against the archive's signed index.
# "upstream-only" takes the .dsc and the upstream tarballs (see the pins).
fetch_source() {
  local pkg=$1 version=$2 how=${3:-}
  local dir="$cache/sources/${pkg}_$version"
  [ -f "$dir/.complete" ] && return 0
  apt_update
  say "downloading $pkg $version"
  rm -rf "$dir.tmp" && mkdir -p "$dir.tmp"
  local uris
  uris=$(cd "$dir.tmp" && apt-get "${apt_opts[@]}" -q source --print-uris "$pkg=$version" 2>&1) ||
    { echo "$uris" >&2; die "Debian's archive has no source package $pkg $version"; }
  local uri name size sum got=0
  while read -r uri name size sum; do
    uri=${uri//\'/}
    if [ "$how" = upstream-only ]; then
      case "$name" in *.debian.tar.*|*.diff.gz) continue ;; esac
    fi
    /usr/lib/apt/apt-helper "${apt_opts[@]}" download-file "$uri" "$dir.tmp/$name" "$sum" \
      >>"$dir.tmp/download.log" 2>&1 ||
      { tail -n 5 "$dir.tmp/download.log" >&2; die "downloading $name failed"; }
    got=$((got + 1))
  done < <(grep "^'" <<<"$uris")
  [ "$got" -gt 0 ] || die "apt named no files for $pkg $version"
  local dsc="$dir.tmp/${pkg}_${version#*:}.dsc"
  [ -f "$dsc" ] || die "no .dsc among the files of $pkg $version"
  local served
  served=$(sed -n 's/^Version: //p' "$dsc")
  [ "$served" = "$version" ] || die "Debian served $pkg $served, the pin is $version"
  touch "$dir.tmp/.complete"
  rm -rf "$dir" && mv "$dir.tmp" "$dir"
}

# Unpacks a fetched source package into $2 (Debian's patches applied).
unpack_source() {
  local pkg=$1 dest=$2 version how
  read -r _ version how < <(printf '%s\n' "${pins[@]}" | awk -v p="$pkg" '$1 == p') || true
  [ -n "$version" ] || die "no pin for $pkg"
  fetch_source "$pkg" "$version" "$how"
  local dir="$cache/sources/${pkg}_$version"
  rm -rf "$dest"
  if [ "$how" = upstream-only ]; then
    mkdir -p "$dest"
    local orig
    orig=$(find "$dir" -maxdepth 1 -name '*.orig.tar.*' ! -name '*.asc')
    [ -n "$orig" ] && [ "$(wc -l <<<"$orig")" -eq 1 ] || die "not one upstream tarball for $pkg"
    tar -xf "$orig" -C "$dest" --strip-components=1
  else
    dpkg-source --no-copy -x "$dir/${pkg}_${version#*:}.dsc" "$dest" >/dev/null
  fi
}

# --- building ----------------------------------------------------------------

work="$cache/$hash.partial"
stage="$work/prefix"        # becomes $prefix when everything has succeeded
logs="$cache/logs/$hash"

cross_env() {
  export CC="$triple-gcc-posix" CXX="$triple-g++-posix"
  export AR="$triple-ar" RANLIB="$triple-ranlib" NM="$triple-nm" STRIP="$triple-strip"
  export OBJDUMP="$triple-objdump" DLLTOOL="$triple-dlltool" WINDRES="$triple-windres"
  export RC="$WINDRES"
  export CPPFLAGS="-I$stage/include" LDFLAGS="-L$stage/lib" CFLAGS="-O2" CXXFLAGS="-O2"
  export PKG_CONFIG=pkg-config PKG_CONFIG_LIBDIR="$stage/lib/pkgconfig" PKG_CONFIG_PATH=
  unset PKG_CONFIG_SYSROOT_DIR
  export LC_ALL=C.UTF-8
}

# libtool's check of a DLL's dependencies inspects files it cannot judge
# under cross compiling and falls back to a static library; every library
# here is a Windows DLL or import library, so none needs the check.
configure_cross() {
  ./configure --host="$triple" --build="$(dpkg-architecture -qDEB_BUILD_GNU_TYPE)" \
    --prefix="$stage" --enable-shared --disable-static \
    lt_cv_deplibs_check_method=pass_all "$@"
}

cmake_cross() {
  cmake -G Ninja -DCMAKE_TOOLCHAIN_FILE="$recipe/mingw-w64.cmake" \
    -DLVMAPI_WINDOWS_DEPS="$stage" -DCMAKE_INSTALL_PREFIX="$stage" \
    -DCMAKE_BUILD_TYPE=Release "$@"
}

build_zlib() {
  # Debian's libz-mingw-w64(-dev) is zlib for MinGW already.
  cp /usr/$triple/include/zlib.h /usr/$triple/include/zconf.h "$stage/include/"
  cp /usr/$triple/lib/libz.dll.a "$stage/lib/"
  cp /usr/$triple/lib/zlib1.dll "$stage/bin/"
  local version
  version=$(sed -n 's/^#define ZLIB_VERSION "\(.*\)"/\1/p' "$stage/include/zlib.h")
  cat >"$stage/lib/pkgconfig/zlib.pc" <<EOF
prefix=$stage
libdir=\${prefix}/lib
includedir=\${prefix}/include

Name: zlib
Description: zlib compression library
Version: $version
Libs: -L\${libdir} -lz
Cflags: -I\${includedir}
EOF
}

build_sqlite3() {
  unpack_source sqlite3 src && cd src
  # Debian's feature set, so that the Windows build behaves as the Linux one.
  local features="-DSQLITE_SECURE_DELETE -DSQLITE_ENABLE_COLUMN_METADATA
    -DSQLITE_ENABLE_FTS3 -DSQLITE_ENABLE_FTS3_PARENTHESIS -DSQLITE_ENABLE_RTREE=1
    -DSQLITE_SOUNDEX=1 -DSQLITE_ENABLE_UNLOCK_NOTIFY -DSQLITE_OMIT_LOOKASIDE=1
    -DSQLITE_ENABLE_DBSTAT_VTAB -DSQLITE_ALLOW_ROWID_IN_VIEW
    -DSQLITE_ENABLE_UPDATE_DELETE_LIMIT=1 -DSQLITE_ENABLE_LOAD_EXTENSION
    -DSQLITE_ENABLE_JSON1 -DSQLITE_LIKE_DOESNT_MATCH_BLOBS -DSQLITE_THREADSAFE=1
    -DSQLITE_ENABLE_FTS3_TOKENIZER=1 -DSQLITE_USE_URI=1 -DSQLITE_MAX_SCHEMA_RETRY=25
    -DSQLITE_ENABLE_PREUPDATE_HOOK -DSQLITE_ENABLE_SESSION -DSQLITE_ENABLE_STMTVTAB
    -DSQLITE_MAX_VARIABLE_NUMBER=250000"
  # The code generators (lemon, mkkeywordhash) run here, so they are built
  # with the machine's compiler; Debian's cross patch builds lemon that way
  # when CROSS_BUILDING=yes.
  export CROSS_BUILDING=yes
  CFLAGS="-O2 -fno-strict-aliasing ${features//$'\n'/ }" \
    configure_cross BCC=gcc TCLSH_CMD=tclsh config_TARGET_EXEEXT=.exe \
      --disable-tcl --disable-readline --enable-threadsafe --enable-load-extension \
      --enable-fts4 --enable-fts5 --disable-amalgamation
  # BEXE is the suffix of those generators: none, they are Linux programs.
  # Debian's statement-table extension (stmt.c) includes the generated
  # sqlite3.h without the Makefile saying so; it has to exist first.
  make BEXE= sqlite3.h
  make -j"$jobs" BEXE=
  make install BEXE=
}

build_libffi() {
  unpack_source libffi src && cd src
  configure_cross --disable-docs --disable-multi-os-directory
  make -j"$jobs"
  make install
}

build_pcre2() {
  unpack_source pcre2 src && cd src
  configure_cross --enable-pcre2-8 --disable-pcre2-16 --disable-pcre2-32 \
    --disable-pcre2grep-libz --disable-pcre2grep-libbz2 --disable-pcre2test-libreadline
  make -j"$jobs"
  make install
}

build_intl() {
  cp "$recipe/intl/libintl.h" "$stage/include/"
  "$CC" -O2 -Wall -Werror -shared -I"$recipe/intl" -o "$stage/bin/libintl-8.dll" \
    "$recipe/intl/libintl.c" -Wl,--out-implib,"$stage/lib/libintl.dll.a"
}

build_iconv() {
  # GLib carries win_iconv.c and compiles it into itself; the same file as a
  # DLL serves GMime and libxml2.
  unpack_source glib2.0 glib
  cp "$recipe/iconv/iconv.h" "$stage/include/"
  "$CC" -O2 -shared -DMAKE_DLL -o "$stage/bin/iconv.dll" glib/glib/win_iconv.c \
    -Wl,--out-implib,"$stage/lib/libiconv.dll.a"
}

build_glib() {
  # Meson takes the cross compilers from the cross file; in the environment
  # they would be taken for the build machine's.
  unset CC CXX AR RANLIB NM STRIP OBJDUMP DLLTOOL WINDRES RC CPPFLAGS CFLAGS CXXFLAGS LDFLAGS
  unpack_source glib2.0 src && cd src
  sed "s|@PREFIX@|$stage|g" "$recipe/meson-cross.ini" >../cross.ini
  meson setup ../build --cross-file ../cross.ini --prefix="$stage" --libdir=lib \
    --buildtype=release -Ddefault_library=shared --wrap-mode=nodownload \
    -Dtests=false -Dnls=disabled -Dlibmount=disabled -Dselinux=disabled -Dxattr=false \
    -Dman=false -Dgtk_doc=false -Dsysprof=disabled -Dlibelf=disabled \
    -Dinstalled_tests=false
  ninja -C ../build -j"$jobs"
  ninja -C ../build install
}

build_gmime() {
  unpack_source gmime src && cd src
  # The tarball has no configure script; it needs gtk-doc's macros and
  # make fragment, which stand-ins from the recipe answer with "none".
  cp "$recipe/gtk-doc.m4" m4/
  cp "$recipe/gtk-doc.make" .
  touch ChangeLog
  # The test programs would only be built, never run, here.
  sed -i 's/^SUBDIRS = m4 build util gmime tests docs$/SUBDIRS = m4 build util gmime docs/' Makefile.am
  grep -q '^SUBDIRS = m4 build util gmime docs$' Makefile.am || die "GMime's SUBDIRS line has changed"
  GTKDOCIZE=true autoreconf -fi
  # configure would run iconv-detect to learn the charset names the iconv
  # accepts; a Windows program runs under Wine, so it runs here first.
  "$CC" -O2 -I"$stage/include" -o iconv-detect.exe iconv-detect.c -L"$stage/lib" -liconv
  wine_run --path "$stage/bin" ./iconv-detect.exe
  [ -s iconv-detect.h ] || die "iconv-detect wrote no iconv-detect.h"
  cat iconv-detect.h
  configure_cross ac_cv_have_iconv_detect_h=yes --disable-crypto --without-libidn \
    --disable-introspection --disable-vala --disable-gtk-doc
  make -j"$jobs"
  make install
}

build_curl() {
  unpack_source curl src
  # Windows' own TLS (Schannel) and no optional protocols or libraries: the
  # program speaks SMTP and IMAP over TLS, nothing else.
  cmake_cross -S src -B build -DBUILD_SHARED_LIBS=ON -DBUILD_CURL_EXE=OFF -DBUILD_TESTING=OFF \
    -DCURL_USE_SCHANNEL=ON -DCURL_USE_OPENSSL=OFF -DCURL_USE_LIBSSH2=OFF -DUSE_NGHTTP2=OFF \
    -DUSE_LIBIDN2=OFF -DCURL_DISABLE_LDAP=ON -DCURL_DISABLE_LDAPS=ON -DCURL_ZLIB=ON \
    -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF -DENABLE_MANUAL=OFF -DCURL_CA_BUNDLE=none \
    -DCURL_CA_PATH=none
  ninja -C build -j"$jobs"
  ninja -C build install
}

build_libxml2() {
  unpack_source libxml2 src && cd src
  # Debian's patches touch configure.ac and Makefile.am, and Debian's build
  # regenerates the build system (dh_autoreconf); so does this one.
  autoreconf -fi
  configure_cross --with-iconv="$stage" --with-threads=win32 --with-zlib \
    --without-python --without-lzma --without-icu
  make -j"$jobs"
  make install
}

build_libical() {
  unpack_source libical3 src
  cmake_cross -S src -B build -DSHARED_ONLY=ON -DUSE_BUILTIN_TZDATA=ON \
    -DICAL_GLIB=OFF -DICAL_GLIB_VAPI=OFF -DGOBJECT_INTROSPECTION=OFF -DWITH_CXX_BINDINGS=OFF \
    -DICAL_BUILD_DOCS=OFF -DLIBICAL_BUILD_TESTING=OFF \
    -DCMAKE_DISABLE_FIND_PACKAGE_ICU=ON -DCMAKE_DISABLE_FIND_PACKAGE_BDB=ON
  ninja -C build -j"$jobs"
  ninja -C build install
  [ -f "$stage/share/libical/zoneinfo/zones.tab" ] || die "libical installed no zoneinfo"
}

build_googletest() {
  cmake_cross -S /usr/src/googletest -B build -DBUILD_GMOCK=ON -DINSTALL_GTEST=ON
  ninja -C build -j"$jobs"
  ninja -C build install
}

build_nlohmann_json() {
  cp -r /usr/include/nlohmann "$stage/include/"
  mkdir -p "$stage/share/cmake"
  cp -r /usr/share/cmake/nlohmann_json "$stage/share/cmake/"
  sed "s|^prefix=.*|prefix=$stage|" /usr/share/pkgconfig/nlohmann_json.pc \
    >"$stage/lib/pkgconfig/nlohmann_json.pc"
}

# The DLLs a program linked against this prefix may load: the prefix's own,
# and those of MinGW's runtime that they (or a C++ program) import.
list_runtime_dlls() {
  local -A seen=()
  local queue=("$stage"/bin/*.dll "${mingw_runtime_dirs[0]}/libstdc++-6.dll") dll name dir
  while [ ${#queue[@]} -gt 0 ]; do
    dll=${queue[0]}; queue=("${queue[@]:1}")
    [ -z "${seen[$dll]:-}" ] || continue
    seen[$dll]=1
    echo "$dll"
    while read -r name; do
      for dir in "$stage/bin" "${mingw_runtime_dirs[@]}"; do
        if [ -f "$dir/$name" ]; then queue+=("$dir/$name"); break; fi
      done
    done < <("$triple-objdump" -p "$dll" | sed -n 's/^[[:space:]]*DLL Name: //p')
  done
}

finish_prefix() {
  rm -f "$stage"/lib/*.la
  "$triple-strip" --strip-unneeded "$stage"/bin/*.dll
  local pc
  for pc in sqlite3 libcurl gmime-3.0 glib-2.0 gobject-2.0 gio-2.0 libxml-2.0 libical zlib; do
    [ -f "$stage/lib/pkgconfig/$pc.pc" ] || die "no $pc.pc in the prefix"
  done
  mkdir -p "$stage/share/lvmapi-windows-deps"
  list_runtime_dlls | LC_ALL=C sort >"$stage/share/lvmapi-windows-deps/runtime-dlls.txt"
  printf '%s\n' "${pins[@]}" >"$stage/share/lvmapi-windows-deps/sources.txt"
  dpkg-query -W -f='${Package} ${Version}\n' "${copied_packages[@]}" \
    >>"$stage/share/lvmapi-windows-deps/sources.txt"
}

run_step() {
  local name=$1
  [ -f "$work/stamps/$name" ] && return 0
  local log="$logs/$name.log" start=$SECONDS
  say "building $name (log: $log)"
  rm -rf "$work/build/$name" && mkdir -p "$work/build/$name"
  # Not under "if": there bash would ignore set -e inside the build.
  set +e
  (set -e; cd "$work/build/$name"; cross_env; set -x; "build_$name") >"$log" 2>&1
  local rc=$?
  set -e
  if [ "$rc" -ne 0 ]; then
    say "$name failed; the end of its log:"
    tail -n 40 "$log" >&2
    exit 1
  fi
  rm -rf "$work/build/$name"
  touch "$work/stamps/$name"
  say "$name built in $((SECONDS - start)) s"
}

build_prefix() {
  local start=$SECONDS
  say "building the Windows libraries into $prefix"
  # With the cache locked, other staging folders are of interrupted runs of
  # other recipes; this recipe's own resumes after its last finished step.
  local old
  for old in "$cache"/*.partial "$cache"/check.*; do
    [ ! -e "$old" ] || [ "$old" = "$work" ] || rm -rf "$old"
  done
  mkdir -p "$work/stamps" "$work/build" "$logs"
  mkdir -p "$stage/bin" "$stage/include" "$stage/lib/pkgconfig"
  local step
  for step in zlib sqlite3 libffi pcre2 intl iconv glib gmime curl libxml2 libical \
              googletest nlohmann_json; do
    run_step "$step"
  done
  (cross_env && finish_prefix) || die "finishing the prefix failed"
  wine_stop
  # The libraries were installed under the staging folder's name; their
  # text files (pkg-config, CMake, scripts) now name the prefix's own.
  grep -rlIZ --fixed-strings "$stage" "$stage" | xargs -0r sed -i "s|$stage|$prefix|g"
  # Compiled-in paths stay as they are. On Windows the libraries find their
  # data relative to their own location, so these are only worth knowing.
  local compiled
  compiled=$(grep -rlF "$stage" "$stage" | sed "s|^$stage/||" | tr '\n' ' ')
  [ -z "$compiled" ] || say "note: the staging path stays compiled into $compiled"
  mv "$stage" "$prefix"
  rm -rf "$work"
  say "prefix complete in $((SECONDS - start)) s"
}

# Builds the smoke programs against the finished prefix and runs them under
# Wine, each with only the DLLs of runtime-dlls.txt beside it.
run_check() {
  check_dir=$(mktemp -d "$cache/check.XXXXXX")
  trap 'wine_stop; rm -rf "$check_dir"' EXIT
  local dir=$check_dir
  local smoke="$recipe/smoke" log="$dir/check.log"
  mkdir -p "$dir/bin"
  local dll
  while read -r dll; do cp "$dll" "$dir/bin/"; done \
    <"$prefix/share/lvmapi-windows-deps/runtime-dlls.txt"
  # libical looks for share/libical/zoneinfo above the program's folder, as
  # in an installed layout (bin/ beside share/).
  ln -s "$prefix/share" "$dir/share"

  # The prefix was built under another name; pkg-config and the scripts in
  # it must name the prefix itself.
  local stale pc
  stale=$(grep -rlI --fixed-strings ".partial/prefix" "$prefix" || true)
  [ -z "$stale" ] || die "files in the prefix still name the staging folder: $stale"
  for pc in sqlite3 libcurl gmime-3.0 glib-2.0 gobject-2.0 gio-2.0 libxml-2.0 libical zlib; do
    [ "$(PKG_CONFIG_LIBDIR="$prefix/lib/pkgconfig" pkg-config --variable=prefix "$pc")" = "$prefix" ] ||
      die "$pc.pc does not name $prefix as its prefix"
  done
  say "pkg-config files name $prefix"

  say "building the smoke program"
  local flags
  flags=$(PKG_CONFIG_LIBDIR="$prefix/lib/pkgconfig" PKG_CONFIG_PATH= \
            pkg-config --cflags --libs sqlite3 gmime-3.0 libical libxml-2.0 libcurl) ||
    die "pkg-config does not know the prefix's libraries"
  # shellcheck disable=SC2086 # pkg-config's answer is a list of flags
  "$triple-gcc-posix" -std=c11 -O2 -Wall -Wextra -Werror -o "$dir/bin/smoke.exe" \
    "$smoke/smoke.c" $flags -liconv -lintl >"$log" 2>&1 || { cat "$log" >&2; die "smoke.c did not build"; }
  say "running the smoke program under Wine"
  wine_run "$dir/bin/smoke.exe" || die "the smoke program failed (exit $?)"

  say "building the toolchain smoke test (CMake, GoogleTest, nlohmann-json)"
  if ! cmake -S "$smoke" -B "$dir/cmake" -G Ninja -DCMAKE_BUILD_TYPE=Release \
         -DCMAKE_TOOLCHAIN_FILE="$recipe/mingw-w64.cmake" -DLVMAPI_WINDOWS_DEPS="$prefix" \
         >"$log" 2>&1 || ! cmake --build "$dir/cmake" -j "$jobs" >>"$log" 2>&1; then
    tail -n 40 "$log" >&2
    die "the toolchain smoke test did not build"
  fi
  say "running it with CTest (Wine is the toolchain's emulator)"
  wine_start
  (cd "$dir/cmake" && ctest --output-on-failure) || die "the toolchain smoke test failed"
}

if [ ! -d "$prefix" ]; then
  build_prefix
fi

case "$mode" in
  build) echo "$prefix" ;;
  dlls) cat "$prefix/share/lvmapi-windows-deps/runtime-dlls.txt" ;;
  check) run_check ;;
esac
