# shellcheck shell=bash
# Real server programs from Debian as peers of the test environment:
# ProFTPD twice (UTF-8 names; code-page-949 names without the UTF8 feature),
# Pure-FTPd with a virtual user, and nginx as a second update server.
#
# Debian's FTP server packages conflict with each other (installing one
# removes the others), so none is installed: each package is fetched with
# `apt-get download` into PEER_CACHE and unpacked into the environment's
# folder, and the programs run from there in the foreground under our own
# configuration, pid and log files. Only the shared libraries they need and
# the machine lacks are installed, as plain library packages.
#
# Sourced by scripts/peers after scripts/lib/endpoints.conf and
# scripts/lib/peers.conf. Everything lives under $PEERS.

PEER_CACHE=${PEER_CACHE:-/var/cache/orvel-peers}
PEER_DEBS=(proftpd-core pure-ftpd nginx)
PEERS=$ENV_DIR/peers
PEER_ROOT=$PEERS/root          # the unpacked packages
PEER_RUN=$PEERS/run
PEER_LOGS=$ENV_DIR/logs        # beside the other servers' logs
PEER_PY=/usr/bin/python3
# The FTP account's files belong to this user on disk (the servers run the
# sessions as it, never as root).
PEER_UID=65534
PEER_GID=65534

# The FTP servers keep the time of the company's site. Where a server
# writes local times (Pure-FTPd's LIST) this shows; MLSD stays UTC. A POSIX
# zone text needs no zone files, also inside a chroot.
PEER_TZ=KST-9

# name port description (start order)
PEER_SERVICES=(
  "proftpd $PEER_PROFTPD_PORT ProFTPD, UTF8 feature, UTF-8 names"
  "proftpd949 $PEER_PROFTPD949_PORT ProFTPD, no UTF8 feature, names in code page 949"
  "proftpdnoenc $PEER_PROFTPDNOENC_PORT ProFTPD, lists UTF8 but refuses it, names in code page 949"
  "pureftpd $PEER_PUREFTPD_PORT Pure-FTPd, virtual user, chrooted"
  "nginx $PEER_NGINX_PORT nginx, second update server"
)

peer_die() { echo "peers: $*" >&2; exit 1; }
peer_say() { echo "peers: $*"; }

peer_home() { echo "$PEERS/home-$1"; }

# --- packages -------------------------------------------------------------

# The newest downloaded file of package $1 in the cache, if any.
peer_deb() { ls -1t "$PEER_CACHE/$1"_*.deb 2>/dev/null | head -n 1; }

# Fetches the packages that the cache lacks.
peer_fetch() {
  local p missing=()
  mkdir -p "$PEER_CACHE"
  for p in "${PEER_DEBS[@]}"; do [ -n "$(peer_deb "$p")" ] || missing+=("$p"); done
  [ ${#missing[@]} -eq 0 ] && return 0
  # apt-get download drops privileges to _apt for the transfer.
  chown _apt "$PEER_CACHE" 2>/dev/null || true
  if ! (cd "$PEER_CACHE" && apt-get download -q "${missing[@]}"); then
    apt-get update -q
    (cd "$PEER_CACHE" && apt-get download -q "${missing[@]}") || peer_die "cannot download ${missing[*]}"
  fi
}

# Installs the library packages that the downloaded packages depend on and
# the machine lacks. No service may start meanwhile.
peer_libraries() {
  local p deb dep name want=()
  for p in "${PEER_DEBS[@]}"; do
    deb=$(peer_deb "$p")
    while read -r dep; do
      name=${dep%% *}
      name=${name%%:*}
      [[ $name == lib* ]] || continue
      dpkg-query -W -f='${Status}' "$name" 2>/dev/null | grep -q 'install ok installed' || want+=("$name")
    done < <(dpkg-deb -f "$deb" Depends | tr ',' '\n' | sed -E 's/\|.*//; s/^ +//')
  done
  [ ${#want[@]} -eq 0 ] && return 0
  local guard=0
  if [ ! -e /usr/sbin/policy-rc.d ]; then
    printf '#!/bin/sh\nexit 101\n' >/usr/sbin/policy-rc.d
    chmod +x /usr/sbin/policy-rc.d
    guard=1
  fi
  peer_say "installing libraries: ${want[*]}"
  apt-get install -y -q --no-install-recommends "${want[@]}" ||
    { apt-get update -q && apt-get install -y -q --no-install-recommends "${want[@]}"; } ||
    { [ "$guard" -eq 0 ] || rm -f /usr/sbin/policy-rc.d; peer_die "cannot install ${want[*]}"; }
  [ "$guard" -eq 0 ] || rm -f /usr/sbin/policy-rc.d
}

# Unpacks the cached packages unless the same files are already unpacked.
peer_unpack() {
  local p stamp=""
  for p in "${PEER_DEBS[@]}"; do stamp+="$(basename "$(peer_deb "$p")") "; done
  [ -f "$PEER_ROOT/.unpacked" ] && [ "$(cat "$PEER_ROOT/.unpacked")" = "$stamp" ] && return 0
  rm -rf "$PEER_ROOT"
  mkdir -p "$PEER_ROOT"
  for p in "${PEER_DEBS[@]}"; do dpkg-deb -x "$(peer_deb "$p")" "$PEER_ROOT"; done
  echo "$stamp" >"$PEER_ROOT/.unpacked"
}

peer_install() {
  peer_fetch
  peer_libraries
  peer_unpack
  local b
  for b in usr/sbin/proftpd usr/sbin/pure-ftpd usr/bin/pure-pw usr/sbin/nginx; do
    if ldd "$PEER_ROOT/$b" | grep -q 'not found'; then
      ldd "$PEER_ROOT/$b" | grep 'not found' >&2
      peer_die "$b lacks libraries"
    fi
  done
}

# --- sample data ----------------------------------------------------------

# peer_data NAME [--cp949]: a home of its own with the main server's sample
# files (made by the same program, so the same bytes, times and names).
peer_data() {
  local home
  home=$(peer_home "$1")
  rm -rf "$home"
  mkdir -p "$home"
  if [ "${2:-}" = --cp949 ]; then
    "$PEER_PY" "$LIB/ftpfiles.py" --cp949 --home "$home" --manifest "$PEERS/manifest-$1.txt"
    # This server takes names as bytes: store them as code page 949.
    "$PEER_PY" - "$home/as_files" "$LIB" <<'PY'
import os, sys
sys.path.insert(0, sys.argv[2])
from ftpfiles import fs_to_wire
folder = os.fsencode(sys.argv[1])
for raw in os.listdir(folder):
    wire = fs_to_wire(os.fsdecode(raw))
    if wire != raw:
        os.rename(os.path.join(folder, raw), os.path.join(folder, wire))
PY
  else
    "$PEER_PY" "$LIB/ftpfiles.py" --home "$home" --manifest "$PEERS/manifest-$1.txt"
  fi
  chown -R "$PEER_UID:$PEER_GID" "$home"
  # Renaming changed the folder's time; put back the one the sample gives it.
  touch -d @"$("$PEER_PY" -c 'import calendar,time;print(calendar.timegm(time.strptime("2024-03-07 00:06:00","%Y-%m-%d %H:%M:%S")))')" \
    "$home/as_files"
}

# --- processes ------------------------------------------------------------

# A pid file holds the pid and the program it runs, so a reused pid is never
# taken for ours. (The servers rewrite their command lines; /proc/PID/exe
# still names the program.)
peer_pid() {
  local f=$PEER_RUN/$1.pid pid exe actual
  [ -f "$f" ] || return 1
  { read -r pid; read -r exe; } <"$f" || true
  [ -n "${pid:-}" ] || return 1
  actual=$(readlink "/proc/$pid/exe" 2>/dev/null) || return 1
  [[ $actual == "$exe"* ]] || return 1
  echo "$pid"
}

peer_running() { peer_pid "$1" >/dev/null; }

peer_port() {
  local s name port
  for s in "${PEER_SERVICES[@]}"; do
    read -r name port _ <<<"$s"
    [ "$name" = "$1" ] && { echo "$port"; return 0; }
  done
  return 1
}

# peer_launch NAME CMD...: in a session (and process group) of its own.
peer_launch() {
  local name=$1
  shift
  # exec: the recorded pid is the server's own, not setsid's.
  TZ=$PEER_TZ setsid bash -c 'exec "$@"' peer "$@" </dev/null >>"$PEER_LOGS/peer-$name.log" 2>&1 9>&- &
  printf '%s\n%s\n' "$!" "$1" >"$PEER_RUN/$name.pid"
}

peer_wait() {
  local name=$1 port i
  port=$(peer_port "$name")
  for ((i = 0; i < 200; i++)); do
    (exec 3<>"/dev/tcp/$HOST/$port") 2>/dev/null && return 0
    peer_running "$name" || break
    sleep 0.05
  done
  tail -n 20 "$PEER_LOGS/peer-$name.log" >&2
  peer_die "$name does not answer on port $port (log: $PEER_LOGS/peer-$name.log)"
}

peer_check_port() {
  if [ -n "$(ss -Hltn "sport = :$2" 2>/dev/null)" ]; then
    ss -Hltnp "sport = :$2" >&2 || true
    peer_die "port $2 (for $1) is taken by another process"
  fi
}

# --- the servers ----------------------------------------------------------

# The FTP account as a user of ProFTPD's own user file (not a system user).
proftpd_users() {
  local d=$1 home=$2 hash
  hash=$(printf '%s' "$FTP_PASSWORD" | openssl passwd -6 -stdin)
  printf '%s:%s:%s:%s::%s:/bin/false\n' "$FTP_USER" "$hash" "$PEER_UID" "$PEER_GID" "$home" >"$d/passwd"
  printf 'ftpusers:x:%s:\n' "$PEER_GID" >"$d/group"
  chmod 600 "$d/passwd" "$d/group"
}

# proftpd_start NAME PORT ENCODING: utf8 (UTF8 offered and used), none (no
# UTF8 feature, names as their bytes), refused (UTF8 in FEAT, yet OPTS UTF8
# ON refused and names passed as their bytes: what "UseEncoding off" alone does).
proftpd_start() {
  local name=$1 port=$2 encoding=$3 d home
  d=$PEERS/$name
  home=$(peer_home "$name")
  mkdir -p "$d"
  chmod 755 "$d"
  proftpd_users "$d" "$home"
  cat >"$d/proftpd.conf" <<EOF
ServerType standalone
ServerName "orvel peer $name"
DefaultServer on
UseIPv6 off
DefaultAddress $HOST
SocketBindTight on
Port $port
User nobody
Group nogroup
Umask 022
MaxInstances 30
PidFile $d/proftpd.pid
ScoreboardFile $d/proftpd.scoreboard
DelayTable none
WtmpLog off
UseReverseDNS off
UseLastlog off
ControlsEngine off
# The account is ours alone: no system user, no PAM, no valid shell needed.
AuthOrder mod_auth_file.c
AuthUserFile $d/passwd
AuthGroupFile $d/group
AuthPAM off
RequireValidShell off
DefaultRoot ~
TimesGMT on
# Passive-mode replies name this address; clients here are local.
AllowForeignAddress off
SystemLog $PEER_LOGS/peer-$name.system.log
TransferLog $PEER_LOGS/peer-$name.xfer.log
LogFormat commands "%t %a \"%r\" %s"
ExtendedLog $PEER_LOGS/peer-$name.cmd.log ALL commands
$(case $encoding in
    utf8) echo "UseEncoding on" ;;
    none) printf 'UseEncoding off\nLangEngine off\n' ;;
    refused) echo "UseEncoding off" ;;
  esac)
<Directory />
  AllowOverwrite on
  HideNoAccess off
</Directory>
EOF
  peer_launch "$name" "$PEER_ROOT/usr/sbin/proftpd" --nodaemon --config "$d/proftpd.conf"
}

pureftpd_start() {
  local d=$PEERS/pureftpd home
  home=$(peer_home pureftpd)
  mkdir -p "$d"
  rm -f "$d/pureftpd.passwd" "$d/pureftpd.pdb"
  # A virtual user: no system account, mapped to the data's owner.
  printf '%s\n%s\n' "$FTP_PASSWORD" "$FTP_PASSWORD" |
    "$PEER_ROOT/usr/bin/pure-pw" useradd "$FTP_USER" -u "$PEER_UID" -g "$PEER_GID" -d "$home" \
      -f "$d/pureftpd.passwd" -F "$d/pureftpd.pdb" -m >/dev/null ||
    peer_die "pure-pw could not create the account"
  # pure-pw hashes with argon2, about 3 s a login here; a SHA-512 crypt hash
  # (which Pure-FTPd takes as well) keeps the tests' many logins quick.
  local hash
  hash=$(printf '%s' "$FTP_PASSWORD" | openssl passwd -6 -stdin)
  awk -F: -v OFS=: -v h="$hash" '{ $2 = h; print }' "$d/pureftpd.passwd" >"$d/pureftpd.passwd.new"
  mv "$d/pureftpd.passwd.new" "$d/pureftpd.passwd"
  chmod 600 "$d/pureftpd.passwd"
  "$PEER_ROOT/usr/bin/pure-pw" mkdb "$d/pureftpd.pdb" -f "$d/pureftpd.passwd" ||
    peer_die "pure-pw could not write $d/pureftpd.pdb"
  # -A chroots everyone (a virtual user's home is its root anyway); -E no
  # anonymous; -H no name lookups; no -B: stays in the foreground.
  peer_launch pureftpd "$PEER_ROOT/usr/sbin/pure-ftpd" \
    -S "$HOST,$PEER_PUREFTPD_PORT" -l "puredb:$d/pureftpd.pdb" -A -E -H -4 \
    -g "$d/pure-ftpd.pid" -O "clf:$PEER_LOGS/peer-pureftpd.xfer.log"
}

nginx_start() {
  local d=$PEERS/nginx t
  mkdir -p "$d"
  for t in body proxy fastcgi uwsgi scgi; do mkdir -p "$d/tmp/$t"; done
  cat >"$d/nginx.conf" <<EOF
worker_processes 1;
pid $d/nginx.pid;
error_log $PEER_LOGS/peer-nginx.error.log info;
events { worker_connections 64; }
http {
    types {
        text/plain txt minisig;
        application/octet-stream exe bin;
    }
    default_type application/octet-stream;
    access_log $PEER_LOGS/peer-nginx.access.log;
    client_body_temp_path $d/tmp/body;
    proxy_temp_path $d/tmp/proxy;
    fastcgi_temp_path $d/tmp/fastcgi;
    uwsgi_temp_path $d/tmp/uwsgi;
    scgi_temp_path $d/tmp/scgi;
    server {
        listen $HOST:$PEER_NGINX_PORT;
        server_name localhost;
        # The main update server's folder itself: the same files, live.
        root $ENV_DIR/http;
    }
}
EOF
  peer_launch nginx "$PEER_ROOT/usr/sbin/nginx" -p "$d" -c "$d/nginx.conf" \
    -e "$PEER_LOGS/peer-nginx.error.log" -g 'daemon off;'
}

# --- commands -------------------------------------------------------------

peers_start() {
  local s name port started=()
  mkdir -p "$PEER_RUN" "$PEER_LOGS"
  peer_install
  for s in "${PEER_SERVICES[@]}"; do
    read -r name port _ <<<"$s"
    peer_running "$name" && continue
    peer_check_port "$name" "$port"
    case $name in
      proftpd) peer_data proftpd; proftpd_start proftpd "$port" utf8 ;;
      proftpd949) peer_data proftpd949 --cp949; proftpd_start proftpd949 "$port" none ;;
      proftpdnoenc) peer_data proftpdnoenc --cp949; proftpd_start proftpdnoenc "$port" refused ;;
      pureftpd) peer_data pureftpd; pureftpd_start ;;
      nginx) nginx_start ;;
    esac
    started+=("$name")
  done
  for name in "${started[@]}"; do peer_wait "$name"; done
  peers_status
}

peers_stop() {
  local s name pid pids=() stopped=() i p alive
  for s in "${PEER_SERVICES[@]}"; do
    read -r name _ <<<"$s"
    if pid=$(peer_pid "$name"); then
      # The whole process group: the sessions the server forked too.
      kill -TERM -- "-$pid" 2>/dev/null || kill -TERM "$pid" 2>/dev/null || true
      pids+=("$pid")
      stopped+=("$name")
    fi
  done
  for ((i = 0; i < 100; i++)); do
    alive=0
    for p in "${pids[@]}"; do kill -0 -- "-$p" 2>/dev/null && alive=1; done
    [ "$alive" -eq 0 ] && break
    sleep 0.1
  done
  for p in "${pids[@]}"; do kill -KILL -- "-$p" 2>/dev/null || true; done
  rm -f "$PEER_RUN"/*.pid
  peer_say "stopped ${#stopped[@]} server(s)${stopped[*]:+: ${stopped[*]}}"
}

# Exit status 0 only when every peer runs.
peers_status() {
  local s name port desc pid up=0
  printf '%-12s %-6s %-8s %s\n' SERVER PORT PID WHAT
  for s in "${PEER_SERVICES[@]}"; do
    read -r name port desc <<<"$s"
    if pid=$(peer_pid "$name"); then up=$((up + 1)); else pid=-; fi
    printf '%-12s %-6s %-8s %s\n' "$name" "$port" "$pid" "$desc"
  done
  echo "folder: $PEERS   running: $up of ${#PEER_SERVICES[@]}"
  [ "$up" -eq "${#PEER_SERVICES[@]}" ]
}
