# Sourced by the end-to-end scripts: installs the build into a fresh sandbox, points every
# machine-wide and user folder into it, and starts and stops the installed service there.
# Sets: build, source_dir, dest, pid; "extra_pids" are ended with the service on exit.
build=$1
source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
dest=$(mktemp -d /tmp/velanto-e2e-XXXXXX)
pid=""
extra_pids=()
cleanup() {
  if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; fi
  for extra in "${extra_pids[@]}"; do kill "$extra" 2>/dev/null || true; done
  rm -rf "$dest"
}
trap cleanup EXIT

DESTDIR="$dest" cmake --install "$build" --strip >/dev/null
mkdir -p "$dest/etc" "$dest/logs" "$dest/run/velanto" "$dest/home" "$dest/tmp"
chmod 700 "$dest/run" "$dest/run/velanto"
printf '[KestovaQvCAPIVelanto]\nLog File=%s/logs/velanto.log\nLog Level=5\n' "$dest" \
  > "$dest/etc/KestovaQvCAPIVelanto.ini"
export VELANTO_ROOT="$dest" HOME="$dest/home" TMPDIR="$dest/tmp" XDG_RUNTIME_DIR="$dest/run"

log() { cat "$dest"/logs/*.log; }

start_service() {
  "$dest/opt/KestovaQvCAPIVelanto/KestovaQvCAPIVelanto" &
  pid=$!
  for _ in $(seq 50); do log 2>/dev/null | grep -q "initialization: Success" && break; sleep 0.1; done
}
