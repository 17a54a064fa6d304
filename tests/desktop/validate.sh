#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks the desktop files it put there: the
# AppStream metainfo and the desktop entry with their validators, the document type by
# building a MIME database from it and asking it about a real document's first bytes.
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

for tool in appstreamcli desktop-file-validate update-mime-database; do
    command -v "$tool" >/dev/null || fail "$tool is missing: run scripts/deps.sh"
done
cmake --install "$build" --prefix "$work/usr" >/dev/null
share=$work/usr/share

appstreamcli validate --no-net "$share/metainfo/org.tavolix.Tavolix.metainfo.xml" ||
    fail "metainfo does not validate"
desktop-file-validate "$share/applications/tavolix.desktop" || fail "desktop entry does not validate"
grep -qx 'Exec=tavolix %f' "$share/applications/tavolix.desktop" || fail "desktop entry opens no file"
grep -q '^MimeType=.*application/x-tavolix;' "$share/applications/tavolix.desktop" ||
    fail "desktop entry lacks the document type"
grep -q '^MimeType=.*image/openraster;' "$share/applications/tavolix.desktop" ||
    fail "desktop entry lacks OpenRaster"
grep -q '^MimeType=.*image/openraster;' "$share/thumbnailers/tavolix.thumbnailer" ||
    fail "thumbnailer lacks OpenRaster"

grep -qx 'Exec=tavolix --thumbnail %i %o %s' "$share/thumbnailers/tavolix.thumbnailer" ||
    fail "thumbnailer entry is not the command line's"

update-mime-database "$share/mime" || fail "the MIME package does not build"
grep -qx 'application/x-tavolix' "$share/mime/types" || fail "application/x-tavolix is not known"
grep -q 'TVL3' "$share/mime/magic" || fail "the document's magic bytes are not in the database"
grep -q '\*\.tvl' "$share/mime/globs2" || fail "*.tvl is not in the database"
echo "desktop files: 1 passed, 0 failed"
