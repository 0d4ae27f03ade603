#!/usr/bin/env bash
# The main job: builds what it runs (installing what is missing), starts the
# project's nginx update server on loopback with the stand-in package
# (rate-limited, so the download takes several seconds) and runs the
# installer under Wine against it. On your display you click through it
# yourself; without one it runs on Xvfb, clicks install by itself and saves a
# screenshot of each page to out/screens/. It ends by printing where the
# launcher was installed, the command line it was started with and the
# installer's exit code. Optional argument: the source number (default 7).
# With --signed first, the installer is built with a demo key
# (KV_DESCRIPTOR_PUBKEY, in build-signed/) and the server publishes
# kvinstall.txt.sig made with its private half, which the installer verifies.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
# The installer, and the stand-in package (with the stand-in launcher inside)
# that the update server publishes: all demo-session.sh runs.
export KV_TARGETS="KorvelQixarInstaller stand_in_package"
if [[ ${1:-} == --signed ]]; then
  shift
  key="$KV_CACHE/demo-descriptor-key"
  [[ -f $key/public.pem ]] || "$KV_ROOT/scripts/descriptor-sign.sh" keygen "$key" >/dev/null
  export KV_BUILD="$KV_ROOT/build-signed" KV_DEMO_SIGN_KEY="$key/private.pem"
  "$KV_ROOT/scripts/build.sh" -DKV_DESCRIPTOR_PUBKEY="$key/public.pem"
else
  "$KV_ROOT/scripts/build.sh"
fi
exec "$KV_ROOT/scripts/with-display.sh" bash "$KV_ROOT/scripts/demo-session.sh" "$@"
