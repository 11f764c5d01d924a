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
