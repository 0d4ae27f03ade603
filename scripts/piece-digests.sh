#!/usr/bin/env bash
# Piece digests of a package for its descriptor's [Install] section:
#   scripts/piece-digests.sh [--piece-size BYTES] <package>
# prints two lines, "PieceSize=N" and "Pieces=<hex>" (the SHA-256 of every
# piece of N bytes in order, concatenated; the last piece is the rest), or
# nothing for an empty package. BYTES is a power of two from 262144 (256 KiB)
# to 67108864 (64 MiB); the default is the smallest of 1 MiB, 2 MiB, 4 MiB...
# that cuts the package into at most 512 pieces (8 MiB for 4 GiB: 32 KiB of
# hex, well inside the installer's 64 KiB cap on a descriptor).
set -euo pipefail

usage() { sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//'; exit 2; }

piece=""
while [[ ${1:-} == --* ]]; do
  case $1 in
    --piece-size) piece=${2:-}; shift 2 ;;
    *) usage ;;
  esac
done
[[ $# -eq 1 && -f $1 ]] || usage
size=$(stat -c %s "$1")
((size > 0)) || exit 0
if [[ -z $piece ]]; then
  piece=$((1 << 20))
  while ((size > piece * 512 && piece < (64 << 20))); do piece=$((piece * 2)); done
fi
if ! [[ $piece =~ ^[0-9]+$ ]] || ((piece < (256 << 10) || piece > (64 << 20) || (piece & (piece - 1)) != 0)); then
  echo "piece-digests.sh: --piece-size takes a power of two from 262144 to 67108864" >&2
  exit 2
fi
echo "PieceSize=$piece"
printf 'Pieces='
split -b "$piece" --filter='sha256sum | cut -c1-64' "$1" | tr -d '\n'
echo
