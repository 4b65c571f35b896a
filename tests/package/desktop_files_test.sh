#!/usr/bin/env bash
# The desktop entry and the AppStream metainfo pass their validators, name each other by the desktop
# id, and the newest release of the metainfo and of the package changelog is the project's version.
# Usage: desktop_files_test.sh ID VERSION DESKTOP_FILE METAINFO CHANGELOG
set -u
id=$1 version=$2 desktop=$3 metainfo=$4 changelog=$5
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

validated=0
if command -v desktop-file-validate >/dev/null; then
  out=$(desktop-file-validate "$desktop" 2>&1) || fail "desktop-file-validate $desktop"
  # Hints are printed with a zero status; they count as failures here too.
  [ -z "$out" ] || fail "desktop-file-validate: $out"
  validated=$((validated + 1))
else
  echo "note: desktop-file-validate is not installed (desktop-file-utils); not validated"
fi
if command -v appstreamcli >/dev/null; then
  appstreamcli validate --no-net --no-color "$metainfo" || fail "appstreamcli validate --no-net $metainfo"
  validated=$((validated + 1))
else
  echo "note: appstreamcli is not installed (appstream); not validated"
fi

[ "$(basename "$desktop")" = "$id.desktop" ] || fail "the desktop file is not named $id.desktop"
[ "$(basename "$metainfo")" = "$id.metainfo.xml" ] || fail "the metainfo is not named $id.metainfo.xml"
grep -qx "Icon=$id" "$desktop" || fail "$desktop: the icon is not Icon=$id"
grep -q "<id>$id</id>" "$metainfo" || fail "$metainfo: the id is not $id"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" ||
  fail "$metainfo: the launchable is not $id.desktop"
newest=$(grep -o '<release version="[^"]*"' "$metainfo" | head -1 | cut -d'"' -f2)
[ "$newest" = "$version" ] || fail "$metainfo: the newest release is \"$newest\", the project's version $version"
newest=$(head -1 "$changelog" | sed -n 's/^[a-z0-9.+-]* (\([^)]*\)).*/\1/p')
[ "$newest" = "$version" ] || fail "$changelog: the newest entry is \"$newest\", the project's version $version"

[ "$failures" -eq 0 ] || exit 1
if [ "$validated" -eq 0 ]; then
  echo "SKIP: neither desktop-file-validate nor appstreamcli is installed"
  exit 77
fi
echo "desktop files: valid and consistent"
