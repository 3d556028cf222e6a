#!/usr/bin/env bash
# Makes the Debian package from a build tree, unpacks it into a scratch folder and checks what a
# user gets: the programs answer --version and --help, the desktop entry and the AppStream
# metadata validate, the icon and manual pages are there, the description reads as one text,
# and the package declares what it depends on.
set -euo pipefail
build=${1:?usage: check-package.sh BUILD_DIR}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
(cd "$build" && cpack -G DEB -B "$scratch/out" >/dev/null)
deb=$(ls "$scratch"/out/groundsway_*.deb)
dpkg-deb -x "$deb" "$scratch/root"
root="$scratch/root/usr"

"$root/bin/groundsway" --version | grep -qE '^groundsway [0-9]+\.[0-9]+\.[0-9]+$'
"$root/bin/groundsway-sac" --help | grep -q 'groundsway-sac IN.sac'
"$root/bin/groundsway-demo-service" --version | grep -q '^groundsway-demo-service '
"$root/bin/groundsway-geo" region -21.2 -175.2 | grep -qx '173 Tonga Islands'
desktop-file-validate "$root/share/applications/org.groundsway.Groundsway.desktop"
# Offline: the screenshot's address is checked for its form, not fetched.
appstreamcli validate --no-net "$root/share/metainfo/org.groundsway.Groundsway.metainfo.xml"
grep -q '<image>https://' "$root/share/metainfo/org.groundsway.Groundsway.metainfo.xml" || {
    echo "the AppStream screenshot is not an https address"
    exit 1
}
description=$(dpkg-deb -f "$deb" Description)
if grep -q ';' <<<"$description"; then
    echo "the package description holds list separators: $description"
    exit 1
fi
for f in share/icons/hicolor/scalable/apps/org.groundsway.Groundsway.svg \
    share/icons/hicolor/48x48/apps/org.groundsway.Groundsway.png \
    share/metainfo/org.groundsway.Groundsway.metainfo.xml \
    share/man/man1/groundsway.1 share/man/man1/groundsway-sac.1 share/man/man1/groundsway-geo.1 \
    share/doc/groundsway/reference-data.md; do
    [ -s "$root/$f" ] || {
        echo "missing: /usr/$f"
        exit 1
    }
done
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6widgets6 libcurl4 libfftw3; do
    grep -q "$lib" <<<"$depends" || {
        echo "Depends lacks $lib: $depends"
        exit 1
    }
done
echo "package ok: $(basename "$deb")"
