#!/usr/bin/env bash
# Installs what is missing, builds Tonvik (the normal build in build/) and makes the Debian package
# build/package/tonvik_<version>_<arch>.deb from it; lintian checks it when it is installed.
# Install it with: sudo apt install ./build/package/tonvik_<version>_<arch>.deb
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"
(cd build && cpack -G DEB)
for deb in build/package/tonvik_*.deb; do
  if command -v lintian >/dev/null; then
    lintian "$deb"
  fi
  echo "package: $deb"
done
