#!/usr/bin/env bash
# Builds the product, installs it into a sandbox under build/stage (as the installer lays it
# out) and runs the signing service there until Ctrl-C.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build
stage="$PWD/build/stage"
rm -rf "$stage"
DESTDIR="$stage" cmake --install build --strip >/dev/null
mkdir -p "$stage/etc" "$stage/home" "$stage/tmp" "$stage/run" "$stage/logs"
chmod 700 "$stage/run"
printf '[KestovaQvCAPIVelanto]\nLog File=%s/logs/velanto.log\nLog Level=5\n' "$stage" \
  > "$stage/etc/KestovaQvCAPIVelanto.ini"
export VELANTO_ROOT="$stage" HOME="$stage/home" TMPDIR="$stage/tmp" XDG_RUNTIME_DIR="$stage/run"

"$stage/opt/KestovaQvCAPIVelanto/KestovaQvCAPIVelanto" &
service=$!
trap 'kill "$service" 2>/dev/null; wait "$service" 2>/dev/null; echo; echo "Service stopped."' INT TERM EXIT
for _ in $(seq 50); do
  grep -qs "initialization: " "$stage"/logs/*.log && break
  sleep 0.1
done
echo
echo "KestovaQvCAPIVelanto runs in the sandbox $stage (log: $stage/logs)."
grep -h "launch state: Success" "$stage"/logs/*.log | sed 's/.*KestovaQvCAPIVelanto at /  listening on /; s/ launch state: Success//'
call=$(printf '%s' '{"FunctionName":"VelantoEcho","PathID":"5D1F3B7E9A2C4E6F8B0D2F4A6C8E0B1D","minServerVersion":"1.0.23.0510"}' |
  base64 -w0 | sed 's/+/%2B/g; s/\//%2F/g; s/=/%3D/g')
echo
echo "An echo call:"
echo "  curl --cacert Velanto/certs/RootCA-RSA.pem -H 'Origin: https://example.test' --data 'Parameter=$call' https://localhost:56435/"
echo
echo "Press Ctrl-C to stop."
wait "$service"
