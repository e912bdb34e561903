#!/usr/bin/env bash
# The Debian package: built with scripts/package (or $TALLOWIN_DEB when
# given), unpacked into a scratch root with dpkg -x, and run from there
# against the sandbox; lintian reports no error and the AppStream metainfo
# validates.
#   package_test.sh SOURCE_DIR
set -euo pipefail
src=$1
. "$src/tests/app/lib.sh"
trap 'stop_own_scheduler; rm -rf "$work"' EXIT

deb=${TALLOWIN_DEB:-}
if [ -z "$deb" ]; then
  deb=$(TALLOWIN_PACKAGE_BUILD=${TALLOWIN_PACKAGE_BUILD:-$src/build/package} "$src/scripts/package")
fi
[ -f "$deb" ] || fail "no package at '$deb'"
root=$work/root
dpkg -x "$deb" "$root"
exe=$root/usr/bin/tallowin

for f in usr/share/tallowin/readme.htm usr/share/applications/tallowin.desktop \
  usr/share/man/man1/tallowin.1.gz usr/lib/systemd/user/tallowin.service \
  usr/share/doc/tallowin/copyright usr/share/doc/tallowin/changelog.Debian.gz \
  usr/share/icons/hicolor/256x256/apps/tallowin.png; do
  [ -f "$root/$f" ] || fail "$f is not in the package"
done
grep -qx 'ExecStart=/usr/bin/tallowin --service' "$root/usr/lib/systemd/user/tallowin.service" ||
  fail "unit: $(cat "$root/usr/lib/systemd/user/tallowin.service")"
dpkg-deb -f "$deb" Depends | grep -q 'libcups2' || fail "no dependency on libcups2 from shlibdeps"
echo "ok: the package holds every file, with dependencies from its libraries"

"$exe" --version | grep -qE '^tallowin [0-9]' || fail "--version from the installed tree"
name=package-$$.jpg
make_image "$work/$name"
"$exe" print -d tallowin-600 "$work/$name" || fail "print from the installed tree"
wait_for 30 captured tallowin-600 "$name" || fail "$name not printed"
echo "ok: the installed executable runs headless and prints"

appstreamcli validate --no-net "$root"/usr/share/metainfo/*.metainfo.xml >"$work/as.log" 2>&1 ||
  { cat "$work/as.log" >&2; fail "appstreamcli rejects the metainfo"; }
lintian --tag-display-limit 0 "$deb" >"$work/lintian.log" 2>&1 || true
if grep -q '^E:' "$work/lintian.log"; then
  cat "$work/lintian.log" >&2
  fail "lintian reports errors"
fi
echo "ok: lintian reports no error; the metainfo validates"

# One licence everywhere it is stated: the checkout, the package, the metainfo.
grep -q '^License: Apache-2.0$' "$root"/usr/share/doc/tallowin/copyright ||
  fail "the package's copyright file does not name Apache-2.0"
grep -q '<project_license>Apache-2.0</project_license>' "$root"/usr/share/metainfo/*.metainfo.xml ||
  fail "the metainfo does not name Apache-2.0"
grep -q 'Apache License' "$src/LICENSE" || fail "no Apache License in LICENSE"
echo "ok: the licence is Apache-2.0 in the checkout, the package and the metainfo"
echo "4 passed, 0 failed"
