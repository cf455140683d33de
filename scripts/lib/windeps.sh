# Windows cross-build dependencies: host setup, source fetch and the recipes.
# Sourced by scripts/build-windows; every function expects `set -euo pipefail`.
#
# Everything is built from Debian source packages with the mingw-w64 posix
# compilers and installed into one prefix per cache key:
#   ${ORVEL_WIN_CACHE:-/var/cache/orvel-win}/<key>/
# A dependency is finished when <key>/.stamps/<name> exists; the whole prefix
# may be used only when <key>/.complete exists. A dependency without its stamp
# is rebuilt from a fresh build folder, so an interrupted run never leaves a
# half-built prefix that counts as done.

# Bump when any recipe below changes flags or contents: it renames the cache.
WIN_RECIPE=2

# Connector/C and libcurl versions. The archive keeps the source of the newest
# security upload only some of the time, so these are pinned to versions that
# `apt-get source` can fetch; if the archive drops one, the newest listed
# version is used and the key changes with it.
WIN_PIN_MARIADB='1:10.11.18-0+deb12u1'
WIN_PIN_CURL='7.88.1-10+deb12u15'
WIN_PIN_SODIUM='1.0.18-1+deb12u1'

WIN_TRIPLET=x86_64-w64-mingw32
WIN_APT=(apt-get -y -o DPkg::Lock::Timeout=600)
WIN_HOST_PACKAGES=(
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  mingw-w64-x86-64-dev wine wine64 locales zip dpkg-dev fonts-nanum cmake ninja-build
  pkg-config qt6-base-dev qt6-base-dev-tools qt6-translations-l10n googletest
  autoconf automake libtool
)

win_log() { printf '[build-windows] %s\n' "$*" >&2; }
win_die() { printf '[build-windows] error: %s\n' "$*" >&2; exit 1; }

# ---------------------------------------------------------------- host setup

# Source entries derived from the machine's own binary entries, so apt-get
# source fetches from wherever this machine already installs from.
WIN_SRC_LIST=/etc/apt/sources.list.d/orvel-win-src.sources
WIN_SRC_LIST_ONELINE=/etc/apt/sources.list.d/orvel-win-src.list

win_derive_deb_src() {
  local f stanzas='' lines=''
  for f in /etc/apt/sources.list.d/*.sources; do
    [[ -f $f && $f != "$WIN_SRC_LIST" ]] || continue
    stanzas+=$(awk '
      function flush() { if (blk != "" && isdeb) printf "%s\n", blk; blk = ""; isdeb = 0 }
      /^[[:space:]]*$/ { flush(); next }
      /^[[:space:]]*#/ { next }
      /^Types:/ { if ($0 ~ /[[:space:]]deb([[:space:]]|$)/) isdeb = 1; blk = blk "Types: deb-src\n"; next }
      { blk = blk $0 "\n" }
      END { flush() }' "$f")
  done
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [[ -f $f && $f != "$WIN_SRC_LIST_ONELINE" ]] || continue
    lines+=$(sed -n 's/^[[:space:]]*deb[[:space:]]/deb-src /p' "$f")$'\n'
  done
  local changed=0
  if [[ -n ${stanzas//[[:space:]]/} ]]; then
    if [[ ! -f $WIN_SRC_LIST ]] || [[ "$(cat "$WIN_SRC_LIST")" != "$stanzas" ]]; then
      printf '%s\n' "$stanzas" >"$WIN_SRC_LIST"; changed=1
    fi
  fi
  if [[ -n ${lines//[[:space:]]/} ]]; then
    if [[ ! -f $WIN_SRC_LIST_ONELINE ]] || [[ "$(cat "$WIN_SRC_LIST_ONELINE")" != "${lines%$'\n'}" ]]; then
      printf '%s' "$lines" >"$WIN_SRC_LIST_ONELINE"; changed=1
    fi
  fi
  [[ -f $WIN_SRC_LIST || -f $WIN_SRC_LIST_ONELINE ]] || win_die "no deb entries found in /etc/apt to derive source entries from"
  if (( changed )) || ! apt-cache showsrc qt6-base 2>/dev/null | grep -q '^Package: qt6-base'; then
    win_log "apt-get update (source entries)"
    apt-get update -o DPkg::Lock::Timeout=600 >/dev/null
  fi
}

win_host_setup() {
  [[ $(id -u) == 0 ]] || win_die "run as root (installs packages, writes /var/cache)"
  export DEBIAN_FRONTEND=noninteractive
  local missing=() p
  for p in "${WIN_HOST_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  if (( ${#missing[@]} )); then
    win_log "installing: ${missing[*]}"
    apt-get update -o DPkg::Lock::Timeout=600 >/dev/null
    "${WIN_APT[@]}" install "${missing[@]}" >/dev/null
  fi
  # wine reads the ANSI code page from the locale: ko_KR.UTF-8 gives 949.
  if ! locale -a 2>/dev/null | grep -qix 'ko_KR.utf8'; then
    win_log "generating locale ko_KR.UTF-8"
    sed -i 's/^#[[:space:]]*\(ko_KR.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -q '^ko_KR.UTF-8 UTF-8' /etc/locale.gen || echo 'ko_KR.UTF-8 UTF-8' >>/etc/locale.gen
    locale-gen >/dev/null
  fi
  win_derive_deb_src
}

# ------------------------------------------------------------------ versions

win_installed_version() {
  dpkg-query -W -f='${Version}' "$1" 2>/dev/null || win_die "$1 is not installed (run scripts/build-windows --deps-only once)"
}

# Prints the pinned version when the archive lists it, else the newest listed.
win_source_version() {
  local pkg=$1 pin=$2 versions
  versions=$(apt-cache showsrc "$pkg" | sed -n 's/^Version: //p' | sort -rV -u)
  [[ -n $versions ]] || win_die "apt-cache showsrc $pkg lists nothing (are the source entries in place?)"
  if grep -qxF "$pin" <<<"$versions"; then
    printf '%s' "$pin"
  else
    win_log "warning: $pkg $pin is no longer listed; using $(head -1 <<<"$versions")"
    head -1 <<<"$versions"
  fi
}

# Sets WIN_V_* and WIN_KEY. Qt for Windows must be the host Qt's version: its
# moc, rcc and uic are the host's.
win_versions() {
  WIN_V_QT=$(win_installed_version qt6-base-dev)
  WIN_V_MARIADB=$(win_source_version mariadb "$WIN_PIN_MARIADB")
  WIN_V_CURL=$(win_source_version curl "$WIN_PIN_CURL")
  WIN_V_SODIUM=$(win_source_version libsodium "$WIN_PIN_SODIUM")
  WIN_V_GTEST=$(win_installed_version googletest)
  WIN_V_GCC=$(win_installed_version g++-mingw-w64-x86-64-posix)
  WIN_V_CRT=$(win_installed_version mingw-w64-x86-64-dev)
  # Epochs ("1:") are left out of the folder name.
  WIN_KEY="r${WIN_RECIPE}_qt-${WIN_V_QT#*:}_mariadb-${WIN_V_MARIADB#*:}_curl-${WIN_V_CURL#*:}_sodium-${WIN_V_SODIUM#*:}"
  WIN_KEY+="_gtest-${WIN_V_GTEST#*:}_gcc-${WIN_V_GCC#*:}_crt-${WIN_V_CRT#*:}"
}

# ------------------------------------------------------------ source fetch

# win_fetch PKG VERSION -> prints the unpacked source folder
win_fetch() {
  local pkg=$1 ver=$2 dir
  dir="$WIN_ROOT/src/${pkg}_${ver#*:}"
  if [[ ! -f $dir/.unpacked ]]; then
    rm -rf "$dir"; mkdir -p "$dir"
    # _apt must be able to write there, or apt warns and downloads as root.
    chown _apt "$dir" 2>/dev/null || true
    (cd "$dir" && apt-get source -q "$pkg=$ver" >fetch.log 2>&1) \
      || { cat "$dir/fetch.log" >&2; win_die "apt-get source $pkg=$ver failed; pin another version in scripts/lib/windeps.sh"; }
    touch "$dir/.unpacked"
  fi
  find "$dir" -mindepth 1 -maxdepth 1 -type d -name "${pkg}-*" | head -1
}

# ----------------------------------------------------------------- recipes

# Common CMake arguments of every dependency are in WIN_CMAKE (set by
# win_build_all). No emulator there: no configure check may start wine.

win_recipe_qt() {
  local b=$1 src
  src=$(win_fetch qt6-base "$WIN_V_QT")
  # Static Qt for win32-g++ with the host's tools. Only Core, Gui, Widgets and
  # Test are used, so every module and plugin the program cannot use is off;
  # wintab is missing from Debian's tarball (tabletevent off). Direct2D stays
  # on: without it Qt 6.4's Gui leaves out the DirectWrite font database that
  # the windows platform plugin still calls, and no program links.
  (cd "$b" && "$src/configure" -prefix "$WIN_PREFIX" -xplatform win32-g++ \
      -static -static-runtime -release -qt-host-path /usr \
      -nomake examples -nomake tests \
      -no-opengl -no-dbus -no-feature-sql -no-feature-network -no-feature-tabletevent \
      -no-feature-vulkan -no-feature-printsupport -no-feature-xml \
      -no-icu -no-fontconfig -no-libjpeg \
      -qt-zlib -qt-libpng -qt-freetype -qt-harfbuzz -qt-pcre \
      -- -G Ninja "-DCMAKE_TOOLCHAIN_FILE=$WIN_TOOLCHAIN" -DORVEL_WIN_NO_EMULATOR=ON \
      -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake) >"$b/configure.log" 2>&1 \
    || { tail -40 "$b/configure.log" >&2; return 1; }
  win_build_install "$b"
  # Korean texts of Qt's own dialogs; the program ships this file beside itself.
  install -D -m 644 /usr/share/qt6/translations/qtbase_ko.qm "$WIN_PREFIX/translations/qtbase_ko.qm"
}

win_recipe_mariadb() {
  local b=$1 src
  src=$(win_fetch mariadb "$WIN_V_MARIADB")
  # Every plugin the server may ask for is linked in: a static program has no
  # plugin folder to load them from.
  win_configure "$src/libmariadb" "$b" \
    -DWITH_SSL=SCHANNEL -DWITH_UNIT_TESTS=OFF -DWITH_CURL=OFF -DWITH_EXTERNAL_ZLIB=OFF -DWITH_DOCS=OFF \
    -DCLIENT_PLUGIN_DIALOG=STATIC -DCLIENT_PLUGIN_CLIENT_ED25519=STATIC \
    -DCLIENT_PLUGIN_CACHING_SHA2_PASSWORD=STATIC -DCLIENT_PLUGIN_SHA256_PASSWORD=STATIC \
    -DCLIENT_PLUGIN_AUTH_GSSAPI_CLIENT=STATIC -DCLIENT_PLUGIN_MYSQL_CLEAR_PASSWORD=STATIC \
    -DCLIENT_PLUGIN_PVIO_SHMEM=STATIC -DCLIENT_PLUGIN_REMOTE_IO=OFF -DCLIENT_PLUGIN_ZSTD=OFF
  win_build_install "$b"
  # Static library only: no DLL or import library that a link could pick up.
  rm -f "$WIN_PREFIX/lib/mariadb/libmariadb.dll" "$WIN_PREFIX/lib/mariadb/liblibmariadb.dll.a"
  # The Windows build installs no pkg-config file; this one lets the project
  # find the library as on Linux (pkg_check_modules(... libmariadb)).
  mkdir -p "$WIN_PREFIX/lib/pkgconfig"
  cat >"$WIN_PREFIX/lib/pkgconfig/libmariadb.pc" <<EOF
prefix=$WIN_PREFIX
libdir=\${prefix}/lib/mariadb
includedir=\${prefix}/include/mariadb

Name: libmariadb
Description: MariaDB Connector/C, static, Schannel
Version: ${WIN_V_MARIADB#*:}
Cflags: -I\${includedir}
Libs: -L\${libdir} -lmariadbclient -lws2_32 -lshlwapi -lcrypt32 -lsecur32 -lbcrypt -ladvapi32
EOF
}

win_recipe_curl() {
  local b=$1 src
  src=$(win_fetch curl "$WIN_V_CURL")
  # FTP and HTTP(S) over Schannel; every other protocol and optional library off.
  win_configure "$src" "$b" \
    -DBUILD_SHARED_LIBS=OFF -DBUILD_CURL_EXE=OFF -DBUILD_TESTING=OFF -DENABLE_MANUAL=OFF -DPICKY_COMPILER=OFF \
    -DCURL_USE_SCHANNEL=ON -DCURL_USE_OPENSSL=OFF -DCURL_WINDOWS_SSPI=ON -DCURL_CA_BUNDLE=none -DCURL_CA_PATH=none \
    -DCURL_DISABLE_LDAP=ON -DCURL_DISABLE_LDAPS=ON -DCURL_DISABLE_RTSP=ON -DCURL_DISABLE_DICT=ON \
    -DCURL_DISABLE_TELNET=ON -DCURL_DISABLE_TFTP=ON -DCURL_DISABLE_POP3=ON -DCURL_DISABLE_IMAP=ON \
    -DCURL_DISABLE_SMB=ON -DCURL_DISABLE_SMTP=ON -DCURL_DISABLE_GOPHER=ON -DCURL_DISABLE_MQTT=ON \
    -DCURL_DISABLE_FILE=ON -DCURL_USE_LIBSSH2=OFF -DCURL_USE_LIBSSH=OFF -DCURL_USE_GSSAPI=OFF \
    -DUSE_NGHTTP2=OFF -DUSE_LIBIDN2=OFF -DUSE_WIN32_IDN=OFF -DCURL_USE_LIBPSL=OFF \
    -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF -DCMAKE_DISABLE_FIND_PACKAGE_ZLIB=ON \
    -DENABLE_UNIX_SOCKETS=OFF -DENABLE_ARES=OFF
  grep -E 'Enabled (features|protocols)' "$b/configure.log" >&2 || true
  win_build_install "$b"
}

win_recipe_sodium() {
  local b=$1 src
  src=$(win_fetch libsodium "$WIN_V_SODIUM")
  # Debian's source has no generated configure script.
  if [[ ! -x $src/configure ]]; then
    (cd "$src" && autoreconf -fi) >"$b/autoreconf.log" 2>&1 || { tail -40 "$b/autoreconf.log" >&2; return 1; }
  fi
  # Static only; update signatures are checked in-process, so no DLL ships.
  (cd "$b" && "$src/configure" --host="$WIN_TRIPLET" --prefix="$WIN_PREFIX" \
      --disable-shared --enable-static --disable-dependency-tracking \
      CC="$WIN_TRIPLET-gcc-posix" CFLAGS='-O2') >"$b/configure.log" 2>&1 \
    || { tail -40 "$b/configure.log" >&2; return 1; }
  make -C "$b" -j"$WIN_JOBS" >"$b/build.log" 2>&1 || { tail -40 "$b/build.log" >&2; return 1; }
  make -C "$b" install >"$b/install.log" 2>&1 || { tail -20 "$b/install.log" >&2; return 1; }
}

win_recipe_gtest() {
  local b=$1
  win_configure /usr/src/googletest "$b" -DBUILD_GMOCK=ON
  win_build_install "$b"
}

win_configure() {
  local src=$1 b=$2; shift 2
  cmake -S "$src" -B "$b" "${WIN_CMAKE[@]}" "$@" >"$b/configure.log" 2>&1 \
    || { tail -40 "$b/configure.log" >&2; return 1; }
}

win_build_install() {
  local b=$1
  cmake --build "$b" --parallel "$WIN_JOBS" >"$b/build.log" 2>&1 || { tail -40 "$b/build.log" >&2; return 1; }
  cmake --install "$b" >"$b/install.log" 2>&1 || { tail -20 "$b/install.log" >&2; return 1; }
}

# win_build_dep NAME: runs win_recipe_NAME in a fresh build folder unless the
# dependency's stamp says it is installed, and reports the time it took.
# Called plainly (never in an || list) so that errexit holds in the recipe.
win_build_dep() {
  local name=$1 stamp="$WIN_PREFIX/.stamps/$1" b="$WIN_ROOT/build/$WIN_KEY/$1"
  if [[ -f $stamp ]]; then
    win_log "$name: cached ($(cat "$stamp"))"
    return 0
  fi
  rm -rf "$b"; mkdir -p "$b" "$WIN_PREFIX/.stamps"
  win_log "$name: building (logs: $b)"
  local t0=$SECONDS
  WIN_CURRENT="$name (logs: $b)"
  "win_recipe_$name" "$b"
  WIN_CURRENT=
  local took=$((SECONDS - t0))
  printf 'built in %d s on %s\n' "$took" "$(date -u +%FT%TZ)" >"$stamp"
  win_log "$name: built in $took s"
  WIN_TIMES+=("$name ${took}s")
}

win_build_all() {
  WIN_PREFIX="$WIN_ROOT/$WIN_KEY"
  WIN_TIMES=()
  if [[ -f $WIN_PREFIX/.complete ]]; then
    win_log "dependencies: cached in $WIN_PREFIX"
    return 0
  fi
  mkdir -p "$WIN_PREFIX"
  # The recipes use a copy of the toolchain file inside the prefix, so nothing
  # installed there refers to a particular clone.
  WIN_TOOLCHAIN="$WIN_PREFIX/share/orvel/mingw-w64-x86_64.cmake"
  install -D -m 644 "$WIN_TOOLCHAIN_SRC" "$WIN_TOOLCHAIN"
  WIN_CMAKE=(-G Ninja "-DCMAKE_TOOLCHAIN_FILE=$WIN_TOOLCHAIN" -DORVEL_WIN_NO_EMULATOR=ON
             -DCMAKE_BUILD_TYPE=Release "-DCMAKE_INSTALL_PREFIX=$WIN_PREFIX")
  local t0=$SECONDS d
  for d in gtest sodium mariadb curl qt; do win_build_dep "$d"; done
  {
    printf 'key %s\n' "$WIN_KEY"
    printf 'qt6-base %s\nmariadb %s\ncurl %s\nlibsodium %s\ngoogletest %s\n' "$WIN_V_QT" "$WIN_V_MARIADB" "$WIN_V_CURL" "$WIN_V_SODIUM" "$WIN_V_GTEST"
    printf 'finished %s\n' "$(date -u +%FT%TZ)"
  } >"$WIN_PREFIX/.complete"
  win_log "dependencies: complete in $((SECONDS - t0)) s (${WIN_TIMES[*]:-all cached})"
  # Build folders and sources only serve to resume an interrupted run; apt-get
  # source fetches again in seconds when a recipe changes.
  rm -rf "${WIN_ROOT:?}/build/$WIN_KEY" "${WIN_ROOT:?}/src"
}

# ---------------------------------------------------------------------- wine

# One prefix for every run on this machine, made once. Mono and Gecko are
# not wanted (and cannot be downloaded): their installers are switched off.
win_wine_env() {
  export WINEPREFIX="$WIN_ROOT/wineprefix"
  export WINEARCH=win64
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES='mscoree,mshtml='
  export LANG=ko_KR.UTF-8 LC_ALL=ko_KR.UTF-8
}

win_wine_prefix() {
  win_wine_env
  if [[ ! -f $WINEPREFIX/.orvel-ready ]]; then
    rm -rf "$WINEPREFIX"
    local t0=$SECONDS
    win_log "wine: initialising $WINEPREFIX"
    wineboot -i >/dev/null 2>&1 || win_die "wineboot failed"
    wineserver -w
    touch "$WINEPREFIX/.orvel-ready"
    win_log "wine: prefix ready in $((SECONDS - t0)) s"
  fi
  # Korean Windows draws with 굴림/굴림체; under wine the Nanum fonts stand in,
  # under those names (wine lists a replacement as a font family of its own).
  if [[ ! -f $WINEPREFIX/.orvel-fonts ]]; then
    local name key='HKCU\Software\Wine\Fonts\Replacements'
    for name in 굴림 Gulim 돋움 Dotum; do
      wine reg add "$key" /v "$name" /t REG_SZ /d NanumGothic /f >/dev/null 2>&1
    done
    for name in 굴림체 GulimChe 돋움체 DotumChe; do
      wine reg add "$key" /v "$name" /t REG_SZ /d NanumGothicCoding /f >/dev/null 2>&1
    done
    touch "$WINEPREFIX/.orvel-fonts"
  fi
}
