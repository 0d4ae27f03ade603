# Shared environment of the project's scripts. Source it; do not run it.
KV_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# Built dependencies and the Wine prefix live outside the repository.
KV_CACHE="${KV_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/korvel-installer}"
KV_DEPS="$KV_CACHE/deps"
KV_BUILD="${KV_BUILD:-$KV_ROOT/build}"
export KV_ROOT KV_CACHE KV_DEPS KV_BUILD

# KV_WINEPREFIX lets parallel work trees keep separate Wine servers.
export WINEPREFIX="${KV_WINEPREFIX:-$KV_CACHE/wineprefix}"
export WINEARCH=win64
export WINEDEBUG=-all
# No Mono, no Gecko: never offer to download them.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# This checkout's links to the dependency builds its scripts/setup.sh asks for
# (the cache itself is shared by every checkout).
KV_DEP_LINKS="$KV_ROOT/.deps"
export KV_DEP_LINKS
