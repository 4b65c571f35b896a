#!/usr/bin/env bash
# Installs what is missing, builds Tonvik and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"
if [ -x build/bin/tonvik ]; then
  exec build/bin/tonvik "$@"
fi
exec build/bin/tonvik-mml --help
