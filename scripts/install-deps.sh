#!/usr/bin/env bash
# Installs the Debian packages Tonvik needs to build, run and test, and only those that are missing.
# Usage: scripts/install-deps.sh            (everything: build, run and test)
set -euo pipefail

packages=(
  # build
  build-essential cmake ninja-build pkg-config git
  # libraries
  qt6-base-dev libgl-dev libasound2-dev libjack-jackd2-dev libfluidsynth-dev libsndfile1-dev
  # sound at run time: a General MIDI soundfont, Japanese fonts for the window
  timgm6mb-soundfont fonts-ipafont-gothic
  # Qt's own dialog texts (file dialog, standard buttons) in the user's language
  qt6-translations-l10n
  # lrelease and lupdate for the program's own English texts
  qt6-l10n-tools
  # tests, fuzzing and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev
  # checks against real peers: X server, key injection, JACK, offline synth, MIDI parser
  xvfb xauth xdotool x11-utils jackd2 fluidsynth sox python3 python3-mido imagemagick
  # published General MIDI songs for the round trip of MIDI files through MML
  planetblupi-music-midi
  # the Debian package and its checks: cpack's dependencies (dpkg-shlibdeps, file), lintian, the
  # desktop entry's and metainfo's validators, manual pages, the completion's framework
  dpkg-dev file lintian desktop-file-utils appstream groff-base man-db bash-completion
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg -s "$p" >/dev/null 2>&1 || ! dpkg -s "$p" 2>/dev/null | grep -q '^Status: install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
as_root=(env DEBIAN_FRONTEND=noninteractive)
if [ "$(id -u)" -ne 0 ]; then
  as_root=(sudo env DEBIAN_FRONTEND=noninteractive)
fi
"${as_root[@]}" apt-get update -q
"${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
