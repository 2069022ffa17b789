# Sourced by the benchmark scripts: nginx with one worker on loopback as the
# yardstick, answering every request with a fixed body.
# start_nginx <work dir> <port> <reply body> [command prefix...]
# Starts it in the background (its pid joins the caller's array pids) and
# waits until the port answers, up to 5 seconds.
start_nginx() {
  local work=$1 port=$2 body=$3
  shift 3
  mkdir -p "$work/nginx/logs" "$work/nginx/tmp"
  cat > "$work/nginx/nginx.conf" <<CONF
daemon off;
worker_processes 1;
error_log $work/nginx/logs/error.log;
pid $work/nginx/nginx.pid;
events { worker_connections 1024; }
http {
  access_log off;
  client_body_temp_path $work/nginx/tmp/body;
  proxy_temp_path $work/nginx/tmp/proxy;
  fastcgi_temp_path $work/nginx/tmp/fastcgi;
  uwsgi_temp_path $work/nginx/tmp/uwsgi;
  scgi_temp_path $work/nginx/tmp/scgi;
  keepalive_requests 100000000;
  server {
    listen 127.0.0.1:$port;
    location / {
      default_type application/json;
      return 200 '$body';
    }
  }
}
CONF
  "$@" "$(command -v nginx || echo /usr/sbin/nginx)" -p "$work/nginx" -c "$work/nginx/nginx.conf" \
    -e "$work/nginx/logs/error.log" &
  pids+=($!)
  for _ in $(seq 50); do
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
    sleep 0.1
  done
}
