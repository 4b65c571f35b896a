#!/usr/bin/env bash
# The manual pages render without a single warning, as man renders them (UTF-8 input through preconv),
# and tonvik-mml.1 names every option that tonvik-mml --help lists.
# Usage: man_pages_test.sh TONVIK_MML PAGE...
set -u
tonvik_mml=$1
shift
if ! command -v groff >/dev/null; then
  echo "SKIP: groff is not installed"
  exit 77
fi

failures=0
for page in "$@"; do
  warnings=$(groff -k -ww -z -man -Tutf8 "$page" 2>&1)
  if [ -n "$warnings" ]; then
    echo "FAIL: $page renders with warnings:"
    echo "$warnings"
    failures=$((failures + 1))
  fi
done

mml_page=""
for page in "$@"; do
  [ "$(basename "$page")" = tonvik-mml.1 ] && mml_page=$page
done
if [ -z "$mml_page" ]; then
  echo "FAIL: no tonvik-mml.1 among the pages"
  exit 1
fi
# Options in the page are written with escaped hyphens: "\-\-device".
options=$("$tonvik_mml" --help | grep -oE '(^|[ [|])--?[a-z][a-z-]*' | sed 's/^[ [|]//' | sort -u)
[ -n "$options" ] || { echo "FAIL: $tonvik_mml --help lists no options"; exit 1; }
for option in $options; do
  escaped=${option//-/\\-}
  if ! grep -qF -- "$escaped" "$mml_page"; then
    echo "FAIL: $mml_page does not describe $option"
    failures=$((failures + 1))
  fi
done

[ "$failures" -eq 0 ] || exit 1
echo "man pages: no warnings; every option of --help described ($(wc -l <<<"$options") options)"
