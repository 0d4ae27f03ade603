#!/usr/bin/env bash
# The maker's side of the signed update descriptor, with openssl:
#   descriptor-sign.sh keygen <dir>                 private.pem + public.pem (ECDSA P-256)
#   descriptor-sign.sh sign <private.pem> <file>    writes <file>.sig (DER, SHA-256)
#   descriptor-sign.sh verify <public.pem> <file>   checks <file>.sig; exit 0 when valid
# Sign the exact bytes that the server publishes as "kvinstall.txt".
set -euo pipefail

usage() { sed -n '2,6p' "$0" | sed 's/^# \{0,1\}//'; exit 2; }

case "${1:-}" in
  keygen)
    [[ $# -eq 2 ]] || usage
    mkdir -p "$2"
    (umask 077; openssl ecparam -name prime256v1 -genkey -noout -out "$2/private.pem")
    openssl ec -in "$2/private.pem" -pubout -out "$2/public.pem" 2>/dev/null
    echo "$2/private.pem (keep secret) and $2/public.pem (configure with -DKV_DESCRIPTOR_PUBKEY=...)"
    ;;
  sign)
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
