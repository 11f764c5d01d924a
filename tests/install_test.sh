#!/usr/bin/env bash
# Installs the build into a fresh DESTDIR and checks the layout, then creates the installed
# component from its installed registration with VELANTO_ROOT pointing at that DESTDIR.
set -euo pipefail
build=$1
dest=$(mktemp -d /tmp/velanto-install-XXXXXX)
trap 'rm -rf "$dest"' EXIT

DESTDIR="$dest" cmake --install "$build" --prefix /opt/KestovaQvCAPIVelanto >/dev/null
test -f "$dest/opt/KestovaQvCAPIVelanto/Component/KestovaSigningComponent.so"
test -f "$dest/opt/KestovaQvCAPIVelanto/Kestova/KestovaCAPIATLAdapter.so"
grep -qx "InprocServer32=/opt/KestovaQvCAPIVelanto/Component/KestovaSigningComponent.so" \
  "$dest/etc/velanto/classes/{97A10DCF-A8AA-806F-1239-AB90AD69A986}"
test "$(stat -c %a "$dest/var/lib/KestovaQvCAPIVelanto")" = 1777
VELANTO_INSTALLED_ROOT="$dest" "$build/bin/VelantoUtilTests" --gtest_filter='Installed.*' \
  --gtest_brief=1

# The installed service side, sandboxed in the same folder: a page opens a session under
# its own identifier, then asks the reference component for its version.
answers=$(printf '%s\n' \
  '{"SessionId":"ABCDEFGH_SID","FunctionName":"VelantoEcho","PathID":"5D1F3B7E9A2C4E6F8B0D2F4A6C8E0B1D","minServerVersion":"1.0.23.0510"}' \
  '{"SessionId":"ABCDEFGH_SID","FunctionName":"Qv_GETVersion","flag":"0"}' \
  '{"SessionId":"ABCDEFGH_SID","FunctionName":"VelantoForceRelease"}' |
  VELANTO_ROOT="$dest" HOME="$dest/home" TMPDIR="$dest/tmp" \
  "$dest/opt/KestovaQvCAPIVelanto/velanto-dispatch" --origin https://localhost)
expected='{"LibVersion": "MSwwLDIwLDUyMQ==", "result": "MA==", "ServerVersion": "MS4wLjIzLjA1MTA="}
{"result": "MS4wLjAuMQ=="}
{}'
if [ "$answers" != "$expected" ]; then
  echo "unexpected answers:"; echo "$answers"; exit 1
fi
test -d "$dest/var/lib/KestovaQvCAPIVelanto/Tempfile/Session_31"
echo "installed layout and dispatcher: ok"
