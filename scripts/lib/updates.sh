# Shared by scripts/env (the local update server) and scripts/release: the
# files of the update folder and their minisign signatures. Sourced; needs
# `minisign` (Debian package minisign).

# upd_sign KEY FILE NAME REVISION: writes FILE.minisig, signed with the
# secret key file KEY; the signed comment names the file as the program
# fetches it and its revision. A key with a password asks for it here.
upd_sign() {
  local key=$1 file=$2 name=$3 rev=$4
  [[ $name =~ ^[^/\\:[:space:][:cntrl:]]+$ ]] || { echo "updates: bad file name '$name'" >&2; return 1; }
  [[ $rev =~ ^(0|[1-9][0-9]{0,9})$ ]] || { echo "updates: bad revision '$rev'" >&2; return 1; }
  rm -f "$file.minisig"
  minisign -S -s "$key" -m "$file" -x "$file.minisig" -t "file=$name revision=$rev" >/dev/null
}

# upd_key_id_of_pub LINE: the key id (hex) of the base64 line of a .pub file.
upd_key_id_of_pub() { base64 -d <<<"$1" 2>/dev/null | od -An -tx1 -j2 -N8 | tr -d ' \n'; }

# upd_key_id_of_sig FILE: the key id (hex) that signed FILE.minisig.
upd_key_id_of_sig() { sed -n 2p "$1" | base64 -d 2>/dev/null | od -An -tx1 -j2 -N8 | tr -d ' \n'; }

# upd_build_value BUILD_DIR WHAT: a value the build baked in: revision
# (the program's), checker (the companions' revision), pubkey.
upd_build_value() {
  local b=$1
  case $2 in
    revision) sed -n 's/^inline constexpr int kRevision = \([0-9]*\);$/\1/p' "$b/generated/buildconfig.h" ;;
    pubkey) sed -n 's/^inline constexpr char kUpdatePublicKey\[\] = "\(.*\)";$/\1/p' "$b/generated/buildconfig.h" ;;
    checker) sed -n 's/^ORVEL_CHECKER_REVISION:[A-Z]*=\([0-9]*\)$/\1/p' "$b/CMakeCache.txt" ;;
  esac 2>/dev/null || true
}

# upd_write_lastver FILE REVISION: the version file as the launcher reads it.
upd_write_lastver() { printf '%s\r\n' "$2" >"$1"; }
