#!/usr/bin/env bash
# Runs the app test program under Wine with fixtures only the host can make:
#  1. a tree holding a directory link to an outside folder, and a link as the
#     folder itself (Wine shows host directory links as reparse points but
#     cannot create junctions itself): HostFixture.* with KV_LINK_TREE,
#     KV_LINK_TARGET, KV_LINK_ROOT, KV_PACKAGE_LINK, a link to a folder
#     that a package is put into, and KV_FILE_LINK, a link to a file;
#  2. drive D: of the Wine prefix mapped to a fresh folder, then to /proc
#     (no file can be created there): DriveRules.* with KV_DRIVE_SCENARIO.
# The prefix's own D: mapping is put back and its Wine server restarted
# (drive lists are read when the server starts) whatever the outcome.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/env.sh"
program=$1
shift
work="$(mktemp -d)"
drive="$WINEPREFIX/dosdevices/d:"
saved=""
[[ -L $drive ]] && saved="$(readlink "$drive")"
restore() {
  rm -f "$drive"
  [[ -n $saved ]] && ln -s "$saved" "$drive"
  wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap restore EXIT
winpath() { local p="$1"; echo "Z:${p//\//\\}"; }
run() { "$KV_ROOT/scripts/wine-run.sh" "$program" "$@"; }

mkdir -p "$work/tree/sub" "$work/outside/inner" "$work/d-drive"
echo keep > "$work/outside/keep.txt"
echo deep > "$work/outside/inner/deep.txt"
echo x > "$work/tree/sub/file.txt"
echo y > "$work/tree/top.txt"
ln -s "$work/outside" "$work/tree/dirlink"
ln -s "$work/outside/keep.txt" "$work/tree/filelink.txt"
ln -s "$work/outside" "$work/rootlink"
mkdir -p "$work/packages"; ln -s "$work/packages" "$work/pkglink"
ln -s "$work/outside/keep.txt" "$work/filelink.log"
holding="$work/staging-holding/KorvelQixarInstaller"; mkdir -p "$work/staging-linked" "$holding"
ln -s "$work/outside" "$work/staging-linked/KorvelQixarInstaller"; ln -s "$work/outside" "$holding/dirlink"
echo partial >"$holding/kvinstaller_1.tmp"; ln -s "$work/outside/keep.txt" "$holding/kvinstaller_1.tmp.ranges"
KV_LINK_TREE="$(winpath "$work/tree")" KV_LINK_TARGET="$(winpath "$work/outside")" \
  KV_LINK_ROOT="$(winpath "$work/rootlink")" KV_PACKAGE_LINK="$(winpath "$work/pkglink")" \
  KV_FILE_LINK="$(winpath "$work/filelink.log")" \
  KV_STAGING_LINKED="$(winpath "$work/staging-linked")" KV_STAGING_HOLDING="$(winpath "$work/staging-holding")" \
  run --gtest_filter='HostFixture.*' "$@"
# The links' targets must still be there, seen from the host too.
[[ -f $work/outside/keep.txt && -f $work/outside/inner/deep.txt && $(cat "$work/outside/keep.txt") == keep ]] ||
  { echo "FAILED: a link target was deleted or changed" >&2; exit 1; }

wineserver -k 2>/dev/null || true
rm -f "$drive"; ln -s "$work/d-drive" "$drive"
KV_DRIVE_SCENARIO=d-writable run --gtest_filter='DriveRules.*' "$@"
[[ -z $(ls -A "$work/d-drive") ]] || { echo "FAILED: the write test left files on D:" >&2; exit 1; }

wineserver -k 2>/dev/null || true
rm -f "$drive"; ln -s /proc "$drive"
KV_DRIVE_SCENARIO=d-unwritable run --gtest_filter='DriveRules.*' "$@"
