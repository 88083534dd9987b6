# Sourced by the benchmark scripts: a work folder and an nginx serving "$work/www" on a free port of
# 127.0.0.1, both removed when the script exits. Needs nginx-light, curl and python3.
#
#     start_local_nginx [CERT KEY]   sets work, port, and starts nginx (call once); with a
#                                    certificate and key also tls_port, where nginx speaks https
#     wait_for_nginx URL      returns once URL answers

work=$(mktemp -d)
chmod 755 "$work"  # nginx's worker may run as another user
mkdir -p "$work/www" "$work/tmp"
nginx_pid=""
stop_local_nginx() {
  [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null
  rm -rf "$work"
}
trap stop_local_nginx EXIT

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

start_local_nginx() {
  # A free port: bind to port 0 and take what the system gives.
  port=$(free_port)
  local tls_server=""
  if [ $# -eq 2 ]; then
    tls_port=$(free_port)
    tls_server="server { listen 127.0.0.1:$tls_port ssl; ssl_certificate $1; ssl_certificate_key $2; root $work/www; }"
  fi
  cat >"$work/nginx.conf" <<CONF
daemon off;
worker_processes 1;
pid $work/nginx.pid;
error_log $work/error.log;
events {}
http {
  access_log off;
  sendfile on;
  client_body_temp_path $work/tmp/body;
  proxy_temp_path $work/tmp/proxy;
  fastcgi_temp_path $work/tmp/fastcgi;
  uwsgi_temp_path $work/tmp/uwsgi;
  scgi_temp_path $work/tmp/scgi;
  server {
    listen 127.0.0.1:$port;
    root $work/www;
  }
  $tls_server
}
CONF
  nginx -e "$work/error.log" -c "$work/nginx.conf" -p "$work" &
  nginx_pid=$!
}

wait_for_nginx() {
  for _ in $(seq 50); do
    curl -s -o /dev/null --max-time 1 -r 0-0 "$1" && return 0
    sleep 0.1
  done
  echo "nginx did not answer at $1" >&2
  return 1
}
