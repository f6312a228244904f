#!/usr/bin/env bash
# Installs into a temporary DESTDIR and checks every installed file, validates the desktop
# entry, then builds the .deb and inspects its files and dependencies.
set -euo pipefail
build=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail=0
check() { if eval "$2"; then echo "ok - $1"; else echo "not ok - $1"; fail=1; fi; }

DESTDIR="$tmp/root" cmake --install "$build" --prefix /usr >/dev/null
r="$tmp/root/usr"
# A staged install under a prefix of its own keeps the unit below that prefix too.
cmake --install "$build" --prefix "$tmp/staged" >/dev/null
check "staged install keeps the unit under its prefix" '[ -f "$tmp/staged/lib/systemd/system/chantest.service" ]'

check "executable installed" '[ -x "$r/bin/chantest" ]'
check "report program installed" '[ -x "$r/bin/chantest-report" ]'
check "report program runs" '"$r/bin/chantest-report" --version | grep -q "^chantest-report "'
check "service installed" '"$r/bin/chantest-service" --version | grep -q "^chantest-service "'
unit="$tmp/root/lib/systemd/system/chantest.service"
check "service unit installed" '[ -f "$unit" ]'
# The unit as systemd reads it, with the command pointing at the copy installed here; any
# word from the verifier (an unknown key, a bad value) fails.
sed "s|^ExecStart=/usr/bin/|ExecStart=$r/bin/|" "$unit" > "$tmp/chantest.service"
check "service unit verified" 'out=$(systemd-analyze verify "$tmp/chantest.service" 2>&1) && [ -z "$out" ] || { echo "$out"; false; }'
check "modem simulator installed" '[ -x "$r/bin/chantest-modem-sim" ]'
check "desktop start script installed" '[ -x "$r/libexec/chantest/chantest-desktop-start" ]'
check "desktop entry installed" '[ -f "$r/share/applications/chantest.desktop" ]'
check "scalable icon installed" '[ -f "$r/share/icons/hicolor/scalable/apps/chantest.svg" ]'
check "48 px icon installed" 'file "$r/share/icons/hicolor/48x48/apps/chantest.png" | grep -q "48 x 48"'
check "README installed" '[ -f "$r/share/doc/chantest/README.md" ]'
check "desktop entry valid" 'desktop-file-validate "$r/share/applications/chantest.desktop"'
check "desktop entry names the start script" 'grep -qx "Exec=/usr/libexec/chantest/chantest-desktop-start" "$r/share/applications/chantest.desktop"'
check "Bulgarian name" 'grep -q "^Name\[bg\]=" "$r/share/applications/chantest.desktop"'

# The start script makes the per-user data folder and works in it.
mkdir -p "$tmp/fake/bin" "$tmp/fake/libexec/chantest" "$tmp/home"
printf '#!/bin/sh\npwd > "%s/cwd"\n' "$tmp" > "$tmp/fake/bin/chantest"
chmod +x "$tmp/fake/bin/chantest"
cp "$r/libexec/chantest/chantest-desktop-start" "$tmp/fake/libexec/chantest/"
(cd / && HOME="$tmp/home" XDG_DATA_HOME= "$tmp/fake/libexec/chantest/chantest-desktop-start")
check "desktop start works in the per-user folder" '[ "$(cat "$tmp/cwd")" = "$tmp/home/.local/share/chantest" ]'

(cd "$build" && cpack -G DEB -B "$tmp/pkg" >/dev/null)
deb=$(ls "$tmp"/pkg/chantest_*.deb)
check "package built" '[ -f "$deb" ]'
files=$(dpkg-deb -c "$deb")
for f in ./usr/bin/chantest ./usr/bin/chantest-report ./usr/bin/chantest-service ./lib/systemd/system/chantest.service ./usr/bin/chantest-modem-sim ./usr/share/applications/chantest.desktop \
         ./usr/share/icons/hicolor/48x48/apps/chantest.png ./usr/share/icons/hicolor/scalable/apps/chantest.svg; do
  check "package holds $f" 'grep -q " $f\$" <<<"$files"'
done
deps=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $deps"
for d in libqt6widgets6 libqt6serialport6 libqt6network6 libxlsxwriter qt6-qpa-plugins; do
  check "package depends on $d" 'grep -q "$d" <<<"$deps"'
done
check "package depends on adduser" 'grep -q "adduser" <<<"$deps"'
check "service links no widgets" '! dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/bin/chantest-service | grep -q libQt6Widgets'
dpkg-deb -e "$deb" "$tmp/control"
for s in postinst prerm postrm; do
  check "maintainer script $s" '[ -x "$tmp/control/$s" ] && sh -n "$tmp/control/$s"'
done
[ $fail -eq 0 ] && echo "all install checks passed"
exit $fail
