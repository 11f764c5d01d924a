#!/usr/bin/env bash
# The installed service in a sandbox, over real TLS on its fixed ports: six daemons, an echo
# on both loopback families, a call reaching the component, the debug-mode toggle, and an
# orderly end on the suicide instruction.
set -euo pipefail
build=$1
source_dir=$(cd "$(dirname "$0")/.." && pwd)
dest=$(mktemp -d /tmp/velanto-service-XXXXXX)
pid=""
cleanup() { [ -n "$pid" ] && kill "$pid" 2>/dev/null; rm -rf "$dest"; }
trap cleanup EXIT

DESTDIR="$dest" cmake --install "$build" --strip >/dev/null
mkdir -p "$dest/etc" "$dest/logs" "$dest/run" "$dest/home" "$dest/tmp"
chmod 700 "$dest/run"
printf '[KestovaQvCAPIVelanto]\nLog File=%s/logs/velanto.log\nLog Level=5\n' "$dest" \
  > "$dest/etc/KestovaQvCAPIVelanto.ini"
export VELANTO_ROOT="$dest" HOME="$dest/home" TMPDIR="$dest/tmp" XDG_RUNTIME_DIR="$dest/run"
helper="$build/bin/velanto_test_helper"
mkdir -p "$dest/run/velanto" && chmod 700 "$dest/run/velanto"
: > "$dest/run/velanto/KestovaQvCAPIVelanto_DEBUG_MODE.event"

"$dest/opt/KestovaQvCAPIVelanto/KestovaQvCAPIVelanto" &
pid=$!
log() { cat "$dest"/logs/*.log; }
for _ in $(seq 50); do log 2>/dev/null | grep -q "initialization: Success" && break; sleep 0.1; done
test "$(log | grep -c 'launch state: Success')" = 6

ca="$source_dir/Velanto/certs/RootCA-RSA.pem"
field() { printf '%s' "$1" | base64 -w0 | sed 's/+/%2B/g; s/\//%2F/g; s/=/%3D/g'; }
call() { # port, resolve-address, json
  curl -s --max-time 10 --cacert "$ca" --resolve "localhost:$1:$2" -H 'Origin: https://a.test' \
    --data "Parameter=$(field "$3")" "https://localhost:$1/"
}
echo='{"SessionId":"SERVICE1_SID","FunctionName":"VelantoEcho","PathID":"5D1F3B7E9A2C4E6F8B0D2F4A6C8E0B1D","minServerVersion":"1.0.23.0510"}'
test "$(call 56435 127.0.0.1 "$echo")" = '{"LibVersion": "MSwwLDIwLDUyMQ==", "result": "MA==", "ServerVersion": "MS4wLjIzLjA1MTA="}'
test "$(call 56635 ::1 '{"SessionId":"SERVICE1_SID","FunctionName":"Qv_GETVersion","flag":"0"}')" = '{"result": "MS4wLjAuMQ=="}'
test -f "$dest/var/lib/KestovaQvCAPIVelanto/Tempfile/Session_0/KestovaCAPIATLAdapter.so"

# The debug-mode pulse switches logging off, and the next one on again.
"$helper" pulse KestovaQvCAPIVelanto_DEBUG_MODE
for _ in $(seq 30); do log | grep -q "Log state: Disable" && break; sleep 0.1; done
log | grep -q "Log state: Disable"

# The suicide instruction releases every session and ends the service with 0.
"$helper" send KestovaQvCAPIVelanto.exe VelantoInstruction_Suicide || true
status=0
wait "$pid" || status=$?
pid=""
test "$status" = 0
test -z "$(ls "$dest/var/lib/KestovaQvCAPIVelanto/Tempfile/Session_0")"
echo "service: ok"
