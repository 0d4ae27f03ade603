# Shared by the download benchmarks (sourced after scripts/env.sh).
# bench_serve_package MIB RATE: a work folder ($work, removed at exit) with
# $work/html/pkg.bin (MIB MiB of random bytes; $size, $digest its SHA-256,
# $work/pieces.txt its piece digests) and $work/out/, served by the
# project's nginx on two loopback ports ($nginx_port and $port2), under
# /limited/ at RATE per connection; the caller's nginx_* settings apply.
source "$KV_ROOT/scripts/nginx-lib.sh"
bench_serve_package() {
  work="$(mktemp -d)"
  trap 'rm -rf "$work"; nginx_stop' EXIT
  mkdir -p "$work/html" "$work/out"
  head -c $(($1 * 1024 * 1024)) /dev/urandom > "$work/html/pkg.bin"
  size=$(stat -c %s "$work/html/pkg.bin")
  digest=$(sha256sum "$work/html/pkg.bin" | cut -c1-64)
  "$KV_ROOT/scripts/piece-digests.sh" "$work/html/pkg.bin" > "$work/pieces.txt"
  port2=$(nginx_free_port)
  nginx_server_extra="listen 127.0.0.1:$port2; location /limited/ { alias $work/html/; limit_rate $2; }" \
    nginx_start "$work/html" "sendfile on;"
}
# The Wine path (drive Z:) of a host path.
winpath() { local p="$1"; echo "Z:${p//\//\\}"; }
