#!/usr/bin/env bash
# Load figures of the installed service (needs wrk and nginx-light from Debian):
#   bash bench/run_load.sh [build folder] [seconds]
# - echo calls on kept-alive TLS connections (wrk), beside nginx answering a small static
#   text over TLS on loopback in the same run, and their ratio;
# - start-up time until all six daemons listen;
# - resident memory idle and with 32 sessions open.
set -euo pipefail
seconds=${2:-10}
for package in wrk nginx-light; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    # The package would start a system nginx on every interface: keep services from starting.
    printf '#!/bin/sh\nexit 101\n' > /usr/sbin/policy-rc.d && chmod +x /usr/sbin/policy-rc.d
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$package"
    rm -f /usr/sbin/policy-rc.d
  fi
done
set -- "${1:-build}"
source "$(dirname "$0")/../tests/installed_service.sh"

# As shipped: logging off (it opens, appends to and closes the log file for every record).
rm -f "$dest/etc/KestovaQvCAPIVelanto.ini"
started=$(date +%s%N)
"$dest/opt/KestovaQvCAPIVelanto/KestovaQvCAPIVelanto" &
pid=$!
for _ in $(seq 100); do
  [ "$(grep -c ' 0A ' /proc/net/tcp /proc/net/tcp6 | awk -F: '{s+=$2} END {print s}')" -ge 6 ] && break
  sleep 0.01
done
echo "start-up to six listening daemons: $(( ($(date +%s%N) - started) / 1000000 )) ms"
rss() { awk '/VmRSS/ {print $2 " kB"}' "/proc/$pid/status"; }
echo "resident memory, idle: $(rss)"

field() { printf '%s' "$1" | base64 -w0 | sed 's/+/%2B/g; s/\//%2F/g; s/=/%3D/g'; }
call() {
  curl -s --cacert "$source_dir/Velanto/certs/RootCA-RSA.pem" -H 'Origin: https://bench.test' \
    --data "Parameter=$(field "$1")" https://localhost:56435/ >/dev/null
}
for i in $(seq 32); do
  call '{"SessionId":"MEMORY'"$(printf %02d "$i")"'_SID","FunctionName":"VelantoEcho","PathID":"5D1F3B7E9A2C4E6F8B0D2F4A6C8E0B1D","minServerVersion":"1.0.23.0510"}'
done
echo "resident memory, 32 sessions: $(rss)"

echo_call='{"SessionId":"MEMORY01_SID","FunctionName":"VelantoEcho"}'
export VELANTO_ECHO_FIELD=$(field "$echo_call")
echo "== service: echo on kept-alive TLS (wrk -t2 -c12 -d${seconds}s) =="
service_out=$(wrk -t2 -c12 -d"${seconds}s" --latency -s "$(dirname "$0")/echo.lua" https://localhost:56435/)
echo "$service_out" | grep -E 'Requests/sec|50%|90%|99%'

# nginx with a throwaway RSA-4096 certificate of its own, answering the same size of text.
mkdir -p "$dest/nginx"
openssl req -x509 -newkey rsa:4096 -nodes -subj /CN=localhost -days 1 \
  -keyout "$dest/nginx/key.pem" -out "$dest/nginx/cert.pem" 2>/dev/null
cat > "$dest/nginx/nginx.conf" <<CONF
worker_processes 1;
pid $dest/nginx/nginx.pid;
error_log $dest/nginx/error.log;
events { worker_connections 256; }
http {
  access_log off;
  server {
    listen 127.0.0.1:18445 ssl;
    ssl_certificate $dest/nginx/cert.pem;
    ssl_certificate_key $dest/nginx/key.pem;
    location / { return 200 '{"LibVersion": "MSwwLDIwLDUyMQ==", "result": "MA==", "ServerVersion": "MS4wLjIzLjA1MTA="}'; }
  }
}
CONF
nginx -c "$dest/nginx/nginx.conf" -p "$dest/nginx"
sleep 0.5
echo "== nginx: static answer on kept-alive TLS (wrk -t2 -c12 -d${seconds}s) =="
nginx_out=$(wrk -t2 -c12 -d"${seconds}s" --latency -s "$(dirname "$0")/echo.lua" https://127.0.0.1:18445/)
echo "$nginx_out" | grep -E 'Requests/sec|50%|90%|99%'
kill "$(cat "$dest/nginx/nginx.pid")"
rate() { echo "$1" | awk '/Requests\/sec/ {print $2}'; }
awk -v s="$(rate "$service_out")" -v n="$(rate "$nginx_out")" \
  'BEGIN { printf "service / nginx requests per second: %.2f\n", s / n }'
