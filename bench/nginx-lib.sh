# A private nginx for the benchmarks. Source it, then:
#   nginx_start ROOT_DIR [extra http-block directives]
# starts nginx on a free 127.0.0.1 port with its own config, pid, logs and
# temp folders under a temp directory, serving ROOT_DIR; sets $nginx_port
# and $nginx_work. nginx_stop ends it and removes the temp directory: have
# the caller's EXIT trap call it. With nginx_access_log=1 set before the
# start, requests are logged to $nginx_work/logs/access.log.

nginx_stop() {
  if [[ -n ${nginx_pid:-} ]]; then kill "$nginx_pid" 2>/dev/null || true; wait "$nginx_pid" 2>/dev/null || true; fi
  rm -rf "${nginx_work:-}"
}

nginx_start() {
  local root=$1 extra=${2:-}
  nginx_work="$(mktemp -d)"
  nginx_port="$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()')"
  mkdir -p "$nginx_work/logs" "$nginx_work/tmp"
  cat > "$nginx_work/nginx.conf" <<CONF
daemon off;
master_process off;
worker_processes 1;
pid $nginx_work/nginx.pid;
error_log $nginx_work/logs/error.log warn;
$( [[ $(id -u) == 0 ]] && echo "user root;" )
events { worker_connections 256; }
http {
  access_log $( [[ ${nginx_access_log:-0} == 1 ]] && echo "$nginx_work/logs/access.log" || echo off );
  client_body_temp_path $nginx_work/tmp/body;
  proxy_temp_path $nginx_work/tmp/proxy;
  fastcgi_temp_path $nginx_work/tmp/fastcgi;
  uwsgi_temp_path $nginx_work/tmp/uwsgi;
  scgi_temp_path $nginx_work/tmp/scgi;
  $extra
  server {
    listen 127.0.0.1:$nginx_port;
    root $root;
  }
}
CONF
  nginx -p "$nginx_work" -c "$nginx_work/nginx.conf" &
  nginx_pid=$!
  for _ in $(seq 50); do
    (exec 3<>"/dev/tcp/127.0.0.1/$nginx_port") 2>/dev/null && break
    sleep 0.1
  done
  echo "nginx $(nginx -v 2>&1 | sed 's/.*\///') on 127.0.0.1:$nginx_port"
}
