#!/usr/bin/env bash
# The main job: builds everything (installing what is missing), starts the
# project's nginx update server on loopback with the stand-in package
# (rate-limited, so the download takes several seconds) and runs the
# installer under Wine against it. On your display you click through it
# yourself; without one it runs on Xvfb, clicks install by itself and saves a
# screenshot of each page to out/screens/. It ends by printing where the
# launcher was installed, the command line it was started with and the
# installer's exit code. Optional argument: the source number (default 7).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
"$KV_ROOT/scripts/build.sh"
exec "$KV_ROOT/scripts/with-display.sh" bash "$KV_ROOT/scripts/demo-session.sh" "$@"
