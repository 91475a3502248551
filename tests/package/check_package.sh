#!/bin/sh
# Builds the Debian package of a build folder (cpack -G DEB) into a folder of its own and
# checks it: every file it must install, its dependencies, its changelog and man pages, that
# the packaged zembra-cli runs, and that lintian finds no error and no warning.
# Usage: check_package.sh BUILD_DIR WITH_WINDOW(0|1)
set -eu
build=$1
window=$2
if ! command -v lintian >/dev/null; then
    echo "lintian is missing (scripts/setup.sh installs it)"
    exit 1
fi
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
if ! (cd "$build" && cpack -G DEB -B "$out" >"$out/cpack.log" 2>&1); then
    cat "$out/cpack.log"
    exit 1
fi
deb=$(ls "$out"/zembra_*.deb)
dpkg -c "$deb" | awk '{print $6}' >"$out/files"
expected="./usr/bin/zembra-cli ./usr/bin/zembra-phone-sim
./usr/share/man/man1/zembra-cli.1.gz ./usr/share/man/man1/zembra-phone-sim.1.gz
./usr/share/doc/zembra/copyright ./usr/share/doc/zembra/changelog.gz
./lib/udev/rules.d/60-zembra.rules"
pages="zembra-cli zembra-phone-sim"
if [ "$window" = 1 ]; then
    expected="$expected ./usr/bin/zembra ./usr/share/applications/zembra.desktop
./usr/share/icons/hicolor/scalable/apps/zembra.svg ./usr/share/man/man1/zembra.1.gz"
    pages="$pages zembra"
fi
status=0
for f in $expected; do
    grep -qx "$f" "$out/files" || { echo "missing from the package: $f"; status=1; }
done
# Nothing but the programs, their data and the rule.
if grep -v -e '/$' -e '^./usr/bin/' -e '^./usr/share/' -e '^./lib/udev/rules.d/' "$out/files"; then
    echo "unexpected files in the package (above)"
    status=1
fi
depends=$(dpkg-deb -f "$deb" Depends)
for d in libsqlite3 libnettle liblzo2; do
    echo "$depends" | grep -q "$d" || { echo "Depends lacks $d: $depends"; status=1; }
done
dpkg-deb -x "$deb" "$out/root"
"$out/root/usr/bin/zembra-cli" --version | grep -q "^zembra-cli " || status=1
grep -q 'GROUP="dialout"' "$out/root/lib/udev/rules.d/60-zembra.rules" || status=1
for page in $pages; do
    zcat "$out/root/usr/share/man/man1/$page.1.gz" | grep -q '^\.SH ENVIRONMENT' ||
        { echo "man page $page has no ENVIRONMENT section"; status=1; }
done
version=$(dpkg-deb -f "$deb" Version)
zcat "$out/root/usr/share/doc/zembra/changelog.gz" | head -1 | grep -q "^zembra ($version) " ||
    { echo "the changelog's last entry is not version $version (packaging/changelog)"; status=1; }
# Every error and warning fails; the informational tags are shown, not counted.
if ! lintian --fail-on error,warning --display-info "$deb" >"$out/lintian.log" 2>&1; then
    echo "lintian:"
    cat "$out/lintian.log"
    status=1
fi
[ "$status" = 0 ] && echo "package ok: $(basename "$deb"), $(grep -vc '/$' "$out/files") files"
exit $status
