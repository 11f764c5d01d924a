#!/usr/bin/env bash
# A real browser: headless Chromium loads a page from http://localhost whose script calls the
# installed service (an echo, then a component call) and shows the decoded answers. The
# product's root is trusted through an NSS database under a temporary HOME.
set -euo pipefail
source "$(dirname "$0")/installed_service.sh"
browser=$(command -v chromium || true)
if [ -z "$browser" ] || ! command -v certutil >/dev/null; then
  echo "chromium or certutil missing"; exit 1
fi
mkdir -p "$HOME/.pki/nssdb" "$dest/www"
certutil -d "sql:$HOME/.pki/nssdb" -N --empty-password
certutil -d "sql:$HOME/.pki/nssdb" -A -t "C,," -n "Kestova QvCAPI Velanto Root CA" \
  -i "$source_dir/Velanto/certs/RootCA-RSA.pem"

start_service

cat > "$dest/www/index.html" <<'HTML'
<!doctype html>
<html><body><pre id="out">waiting</pre>
<script>
async function velantoCall(call, port = 56435) {
  const bytes = new TextEncoder().encode(JSON.stringify(call));
  const form = new URLSearchParams();
  form.set("Parameter", btoa(String.fromCharCode(...bytes)));
  const response = await fetch(`https://localhost:${port}/`, { method: "POST", body: form });
  const answer = await response.json();
  const decoded = {};
  for (const [key, value] of Object.entries(answer))
    decoded[key] = new TextDecoder().decode(Uint8Array.from(atob(value), (c) => c.charCodeAt(0)));
  return decoded;
}
(async () => {
  const out = document.getElementById("out");
  try {
    const opened = await velantoCall({ FunctionName: "VelantoEcho",
      PathID: "5D1F3B7E9A2C4E6F8B0D2F4A6C8E0B1D", minServerVersion: "1.0.23.0510" });
    const version = await velantoCall({ SessionId: opened.SessionID,
      FunctionName: "Qv_GETVersion", flag: "0" });
    out.textContent = `echo result: ${opened.result}; server: ${opened.ServerVersion}; ` +
                      `component version: ${version.result}`;
  } catch (error) {
    out.textContent = `failed: ${error}`;
  }
})();
</script></body></html>
HTML
port=18443
python3 -m http.server --bind 127.0.0.1 "$port" --directory "$dest/www" >/dev/null 2>&1 &
extra_pids+=($!)
for _ in $(seq 50); do curl -s "http://127.0.0.1:$port/" >/dev/null && break; sleep 0.1; done

dom=$("$browser" --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
  --disable-background-networking --disable-component-update --disable-sync \
  --user-data-dir="$dest/chrome" --virtual-time-budget=15000 --dump-dom \
  "http://localhost:$port/index.html" 2>/dev/null)
echo "$dom" | grep -o '<pre id="out">[^<]*' || true
echo "$dom" | grep -q 'echo result: 0; server: 1.0.23.0510; component version: 1.0.0.1'
echo "browser: ok"
