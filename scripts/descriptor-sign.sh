#!/usr/bin/env bash
# The maker's side of the signed update descriptor, with openssl:
#   descriptor-sign.sh keygen <dir>                 private.pem + public.pem (ECDSA P-256)
#   descriptor-sign.sh sign [--days N | --expires YYYY-MM-DDTHH:MM:SSZ]
#                           [--package FILE [--piece-size BYTES]] <private.pem> <file>
#                                                   sets "Expires" in [Install] (default: 30 days
#                                                   from now, UTC) and, with --package, that
#                                                   package's "PieceSize" and "Pieces"
#                                                   (scripts/piece-digests.sh), then writes <file>.sig
#   descriptor-sign.sh sign-file <private.pem> <file>
#                                                   writes <file>.sig over the bytes as they are
#                                                   (a package beside the installer: kvinstaller.exe)
#   descriptor-sign.sh verify <public.pem> <file>   checks <file>.sig; exit 0 when valid
# Sign the exact bytes that the server publishes as "kvinstall.txt", and sign
# it again before its Expires has passed: an expired descriptor is refused.
set -euo pipefail

usage() { sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//'; exit 2; }

# set_keys FILE KEY=VALUE...: replaces every line of those keys in the first
# [Install] section by one "KEY=VALUE" each right below its header, keeping
# the file's line ends (CRLF or LF) and everything else byte for byte.
set_keys() {
  local file=$1 tmp
  shift
  tmp="$(mktemp "$file.XXXXXX")"
  if ! awk -v lines="$(printf '%s\n' "$@")" -v bom=$'\xef\xbb\xbf' '
    BEGIN {
      count = split(lines, assign, "\n")
      for (i = 1; i <= count; i++) if (assign[i] != "") { k = assign[i]; sub(/=.*/, "", k); keys[tolower(k)] = 1 }
    }
    {
      line = $0; cr = ""
      if (sub(/\r$/, "", line)) cr = "\r"
      probe = line
      if (NR == 1 && index(probe, bom) == 1) probe = substr(probe, length(bom) + 1)
      gsub(/^[ \t]+|[ \t]+$/, "", probe)
      if (probe ~ /^\[.*\]$/) {
        name = substr(probe, 2, length(probe) - 2)
        inside = !seen && tolower(name) == "install"
        print $0
        if (inside) { for (i = 1; i <= count; i++) if (assign[i] != "") print assign[i] cr; seen = 1 }
        next
      }
      key = probe; sub(/[ \t]*=.*/, "", key)
      if (inside && index(probe, "=") && (tolower(key) in keys)) next
      print $0
    }
    END { if (!seen) exit 3 }' "$file" >"$tmp"; then
    rm -f "$tmp"
    echo "descriptor-sign.sh: $file has no [Install] section" >&2
    exit 1
  fi
  cat "$tmp" >"$file"
  rm -f "$tmp"
}

case "${1:-}" in
  keygen)
    [[ $# -eq 2 ]] || usage
    mkdir -p "$2"
    (umask 077; openssl ecparam -name prime256v1 -genkey -noout -out "$2/private.pem")
    openssl ec -in "$2/private.pem" -pubout -out "$2/public.pem" 2>/dev/null
    echo "$2/private.pem (keep secret) and $2/public.pem (configure with -DKV_DESCRIPTOR_PUBKEY=...)"
    ;;
  sign)
    shift
    days=30 expires="" package="" piece=""
    while [[ ${1:-} == --* ]]; do
      case $1 in
        --days) [[ ${2:-} =~ ^[1-9][0-9]{0,3}$ ]] || { echo "descriptor-sign.sh: --days takes 1 to 9999" >&2; exit 2; }
                days=$2; shift 2 ;;
        --expires) [[ ${2:-} =~ ^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z$ ]] ||
                     { echo "descriptor-sign.sh: --expires takes YYYY-MM-DDTHH:MM:SSZ (UTC)" >&2; exit 2; }
                   expires=$2; shift 2 ;;
        --package) package=${2:-}; shift 2 ;;
        --piece-size) piece=${2:-}; shift 2 ;;
        *) usage ;;
      esac
    done
    [[ $# -eq 2 ]] || usage
    [[ -n $expires ]] || expires="$(date -u -d "+$days days" +%Y-%m-%dT%H:%M:%SZ)"
    pieces=()
    if [[ -n $package ]]; then
      mapfile -t pieces < <("$(dirname "$0")/piece-digests.sh" ${piece:+--piece-size "$piece"} "$package")
      [[ ${#pieces[@]} -eq 2 ]] || { echo "descriptor-sign.sh: no piece digests for $package" >&2; exit 1; }
    fi
    set_keys "$2" "Expires=$expires" "${pieces[@]}"
    openssl dgst -sha256 -sign "$1" -out "$2.sig" "$2"
    echo "$2.sig (Expires=$expires)"
    ;;
  sign-file)
    [[ $# -eq 3 ]] || usage
    openssl dgst -sha256 -sign "$2" -out "$3.sig" "$3"
    echo "$3.sig"
    ;;
  verify)
    [[ $# -eq 3 ]] || usage
    openssl dgst -sha256 -verify "$2" -signature "$3.sig" "$3"
    ;;
  *) usage ;;
esac
