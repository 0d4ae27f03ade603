# A private nginx for benchmarks, tests and the demo. Source it, then:
#   nginx_start ROOT_DIR [extra http-block directives]
# starts nginx on 127.0.0.1 with its own config, pid, logs and temp folders,
# serving ROOT_DIR; sets $nginx_port, $nginx_work and $nginx_pid. Optional
# settings, read when set before the call:
#   nginx_work=DIR      keep config, pid, logs and temp folders in DIR (default: a new temp folder)
#   nginx_port=N        listen on N (default: a free port)
#   nginx_addr=A        listen on loopback address A (default 127.0.0.1)
#   nginx_access_log=1  log every request to $nginx_work/logs/access.log as
#                       `addr "request" status bytes "range"`, or in the
#                       nginx_log_format given (nginx variables, single-quoted)
#   nginx_tls=1         speak https with a self-signed certificate for
#                       127.0.0.1 and localhost made in $nginx_work/tls
#   nginx_server_extra  directives for the server block (locations)
# nginx_stop ends it and removes the work folder: have the caller's EXIT trap
# call it. Returns non-zero when nginx does not answer within 5 s.

nginx_stop() {
  if [[ -n ${nginx_pid:-} ]]; then kill "$nginx_pid" 2>/dev/null || true; wait "$nginx_pid" 2>/dev/null || true; fi
  rm -rf "${nginx_work:-}"
}

nginx_free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()'
}

nginx_start() {
  local root=$1 extra=${2:-} access="access_log off;"
  nginx_work="${nginx_work:-$(mktemp -d)}"
  nginx_port="${nginx_port:-$(nginx_free_port)}"
  mkdir -p "$nginx_work/logs" "$nginx_work/tmp"
  local addr=${nginx_addr:-127.0.0.1}
  local listen="$addr:$nginx_port"
  if [[ ${nginx_tls:-0} == 1 ]]; then
    mkdir -p "$nginx_work/tls"
    openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 \
      -subj /CN=localhost -addext "subjectAltName=IP:127.0.0.1,DNS:localhost" \
      -keyout "$nginx_work/tls/key.pem" -out "$nginx_work/tls/cert.pem" 2>/dev/null
    listen="$listen ssl"
    extra="ssl_certificate $nginx_work/tls/cert.pem; ssl_certificate_key $nginx_work/tls/key.pem; $extra"
  fi
  if [[ ${nginx_access_log:-0} == 1 ]]; then
    local format=${nginx_log_format:-'$remote_addr "$request" $status $body_bytes_sent "$http_range"'}
    access="log_format kv '$format';
  access_log $nginx_work/logs/access.log kv;"
  fi
  cat > "$nginx_work/nginx.conf" <<CONF
daemon off;
master_process off;
worker_processes 1;
pid $nginx_work/nginx.pid;
error_log $nginx_work/logs/error.log warn;
$( [[ $(id -u) == 0 ]] && echo "user root;" )
events { worker_connections 256; }
http {
  $access
  client_body_temp_path $nginx_work/tmp/body;
  proxy_temp_path $nginx_work/tmp/proxy;
  fastcgi_temp_path $nginx_work/tmp/fastcgi;
  uwsgi_temp_path $nginx_work/tmp/uwsgi;
  scgi_temp_path $nginx_work/tmp/scgi;
  $extra
  server {
    listen $listen;
    root $root;
    ${nginx_server_extra:-}
  }
}
CONF
  # Own output files: a caller that reads this shell's output must not wait
  # for nginx to close it.
  nginx -p "$nginx_work" -c "$nginx_work/nginx.conf" >"$nginx_work/logs/stdout.log" 2>&1 &
  nginx_pid=$!
  # Ours is up once it wrote its pid file (nginx does that only after it
  # bound the port) and answers: an answer alone may come from another server
  # that already holds the port, while ours keeps failing to bind.
  for _ in $(seq 50); do
    if [[ $(cat "$nginx_work/nginx.pid" 2>/dev/null) == "$nginx_pid" ]] && kill -0 "$nginx_pid" 2>/dev/null &&
       (exec 3<>"/dev/tcp/$addr/$nginx_port") 2>/dev/null; then
      echo "nginx $(nginx -v 2>&1 | sed 's/.*\///') on $addr:$nginx_port" >&2
      return 0
    fi
    kill -0 "$nginx_pid" 2>/dev/null || break
    sleep 0.1
  done
  kill "$nginx_pid" 2>/dev/null || true
  echo "nginx did not start on $addr:$nginx_port:" >&2
  cat "$nginx_work/logs/error.log" "$nginx_work/logs/stdout.log" >&2 2>/dev/null || true
  return 1
}
