#!/usr/bin/env bash
# The installed service in a sandbox, over real TLS on its fixed ports: six daemons, an echo
# on both loopback families, a call reaching the component, the debug-mode toggle, and an
# orderly end on the suicide instruction.
set -euo pipefail
source "$(dirname "$0")/installed_service.sh"
helper="$build/bin/velanto_test_helper"
: > "$dest/run/velanto/KestovaQvCAPIVelanto_DEBUG_MODE.event"

# Another program holds 127.0.0.1:56535: that daemon is skipped, its ::1 twin still starts.
python3 -c 'import socket, time
s = socket.socket(); s.bind(("127.0.0.1", 56535)); s.listen(); time.sleep(60)' &
holder=$!
extra_pids+=("$holder")
for _ in $(seq 50); do grep -qi ':DCD7 00000000:0000 0A' /proc/net/tcp && break; sleep 0.1; done

start_service
kill "$holder"
test "$(log | grep -c 'launch state: Success')" = 5
log | grep -q 'Detect port 56535 state: In use, try next port'
log | grep -q 'KestovaQvCAPIVelanto at \[::1\]:56535 launch state: Success'

# Only TLS 1.2/1.3 without SHA-1 signatures or static-RSA key exchange can be negotiated.
handshake() { openssl s_client -connect 127.0.0.1:56435 -servername localhost "$@" </dev/null >/dev/null 2>&1; }
handshake -tls1_3
! handshake -tls1_2 -sigalgs RSA+SHA1 -cipher 'DEFAULT@SECLEVEL=0'
! handshake -tls1_2 -cipher 'AES256-GCM-SHA384@SECLEVEL=0'
! handshake -tls1_1 -cipher 'DEFAULT@SECLEVEL=0'

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

# Six clients at once, each with its own session and value-store channel, on kept-alive
# connections: every answer is the client's own.
client() { # n, port, address
  local n=$1 config="$dest/client$1.cfg" expected="$dest/expected$1"
  : > "$config"
  : > "$expected"
  request() {
    [ -s "$config" ] && echo next >> "$config"
    printf 'write-out = "\\n"\ncacert = "%s"\nurl = "https://localhost:%s/"\nresolve = "localhost:%s:%s"\nheader = "Origin: https://a.test"\ndata = "Parameter=%s"\n' \
      "$ca" "$2" "$2" "$3" "$(field "$4")" >> "$config"
    printf '%s\n' "$5" >> "$expected"
  }
  request "$n" "$2" "$3" '{"SessionId":"CLIENT'"$n"'_SID","FunctionName":"Echo","PathID":"5D1F3B7E9A2C4E6F8B0D2F4A6C8E0B1D","minServerVersion":"1.0.23.0510"}' \
    '{"LibVersion": "MSwwLDIwLDUyMQ==", "result": "MA==", "ServerVersion": "MS4wLjIzLjA1MTA="}'
  for i in $(seq 250); do
    request "$n" "$2" "$3" '{"SessionId":"CLIENT'"$n"'_SID","FunctionName":"setVelantoValue","channel":"c'"$n"'","domain_list":"a.test","value":"v'"$n"'_'"$i"'"}' \
      '{"result": "MA=="}'
    request "$n" "$2" "$3" '{"SessionId":"CLIENT'"$n"'_SID","FunctionName":"getVelantoValue","channel":"c'"$n"'"}' \
      "{\"result\": \"$(printf 'v%s_%s' "$n" "$i" | base64 -w0)\"}"
  done
  curl -s --max-time 120 -K "$config" > "$dest/answers$n" ||
    { echo "client $n: curl ended with $?"; return 1; }
  if ! cmp -s "$dest/answers$n" "$expected"; then
    echo "client $n: unexpected answers"
    diff "$expected" "$dest/answers$n" | head -6
    return 1
  fi
}
clients=()
client 1 56435 127.0.0.1 & clients+=($!)
client 2 56435 ::1 & clients+=($!)
client 3 56535 ::1 & clients+=($!)
client 4 56635 127.0.0.1 & clients+=($!)
client 5 56635 ::1 & clients+=($!)
client 6 56435 127.0.0.1 & clients+=($!)
for client_pid in "${clients[@]}"; do wait "$client_pid"; done

# The debug-mode pulse switches logging off, and the next one on again.
"$helper" pulse KestovaQvCAPIVelanto_DEBUG_MODE
for _ in $(seq 30); do log | grep -q "Log state: Disable" && break; sleep 0.1; done
log | grep -q "Log state: Disable"
"$helper" pulse KestovaQvCAPIVelanto_DEBUG_MODE
for _ in $(seq 30); do [ "$(log | grep -c '\[KestovaQvCAPIVelanto\]\[Normal\] Log state: Enable')" = 2 ] && break; sleep 0.1; done
test "$(log | grep -c '\[KestovaQvCAPIVelanto\]\[Normal\] Log state: Enable')" = 2

# The suicide instruction releases every session and ends the service with 0.
"$helper" send KestovaQvCAPIVelanto.exe VelantoInstruction_Suicide || true
status=0
wait "$pid" || status=$?
pid=""
test "$status" = 0
test -z "$(ls "$dest/var/lib/KestovaQvCAPIVelanto/Tempfile/Session_0")"
echo "service: ok"
