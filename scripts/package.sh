#!/usr/bin/env bash
# Builds the Debian package zorvak-client_<version>_<arch>.deb from the build
# folder: the client folder /opt/zorvak (zorvak-client, zorvak-ctl, logo.png
# when the source tree has one), the desktop entry and icons under /usr/share,
# the pristine empty store /usr/share/zorvak-client/tmpdb.mdb that the
# maintainer script copies into /opt/zorvak on a first install, and the
# maintainer scripts of packaging/debian/. Run-time dependencies come from
# dpkg-shlibdeps.
#
#   scripts/package.sh                # writes the .deb into $OUT_DIR (default: the build folder)
#
# Settings (environment): BUILD_DIR (build), OUT_DIR, PACKAGE_VERSION (the
# project's version), SKIP_BUILD=1 (package what is built). Prints the
# package's path as its last line.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD_DIR=${BUILD_DIR:-build}
OUT_DIR=${OUT_DIR:-$ROOT/$BUILD_DIR}

[ -f "$BUILD_DIR/CMakeCache.txt" ] || { echo "package: configure $BUILD_DIR first (scripts/build.sh)" >&2; exit 1; }
if [ -z "${SKIP_BUILD:-}" ]; then
  cmake --build "$BUILD_DIR" --target zorvak-client zorvak-ctl zorvak_store_file zorvak_icons
fi
VERSION=${PACKAGE_VERSION:-$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$BUILD_DIR/CMakeCache.txt")}
ARCH=$(dpkg --print-architecture)
[ -n "$VERSION" ] || { echo "package: no project version in $BUILD_DIR/CMakeCache.txt" >&2; exit 1; }

STAGE=$(mktemp -d)
trap 'rm -rf "$STAGE"' EXIT
PKG=$STAGE/pkg
# The client folder is always /opt/zorvak in the package, whatever prefix the
# build folder was configured with; the desktop files follow the build's
# ZORVAK_DESKTOP_DATADIR (/usr/share by default).
DESTDIR=$PKG cmake --install "$BUILD_DIR" --prefix /opt/zorvak --strip >/dev/null
# The store and the cache folder belong to the site, not to the package: the
# pristine store waits under /usr/share and postinst puts a copy in place only
# when none is there, so an upgrade never replaces a site's playlist.
install -d "$PKG/usr/share/zorvak-client"
mv "$PKG/opt/zorvak/tmpdb.mdb" "$PKG/usr/share/zorvak-client/tmpdb.mdb"
rmdir "$PKG/opt/zorvak/data"
chmod 0644 "$PKG/usr/share/zorvak-client/tmpdb.mdb"

# Run-time dependencies of the two programs, as dpkg-shlibdeps finds them;
# the web engine's helper process and the font the window asks for are not
# linked, so they are named here.
install -d "$STAGE/src/debian"
printf 'Source: zorvak-client\n\nPackage: zorvak-client\nArchitecture: any\n' > "$STAGE/src/debian/control"
shlibs=$(cd "$STAGE/src" && dpkg-shlibdeps -O "$PKG/opt/zorvak/zorvak-client" "$PKG/opt/zorvak/zorvak-ctl" 2>/dev/null |
  sed -n 's/^shlibs:Depends=//p')
[ -n "$shlibs" ] || { echo "package: dpkg-shlibdeps found no dependencies" >&2; exit 1; }
DEPENDS="$shlibs, libqt6webenginecore6-bin, fonts-wqy-zenhei"

install -d -m 0755 "$PKG/DEBIAN"
install -m 0755 packaging/debian/postinst packaging/debian/postrm "$PKG/DEBIAN/"
SIZE=$(du -sk --exclude=DEBIAN "$PKG" | cut -f1)
cat > "$PKG/DEBIAN/control" <<CONTROL
Package: zorvak-client
Version: $VERSION
Architecture: $ARCH
Maintainer: Zorvak <support@zorvak.cn>
Installed-Size: $SIZE
Depends: $DEPENDS
Section: video
Priority: optional
Description: unattended digital-signage client
 Fetches the playlist of its site keyword, caches the media files and shows
 the items that are valid now full screen, one after another, without end.
 The client folder /opt/zorvak holds the programs and the site's state: the
 settings (dIrovede.ini), the playlist store (tmpdb.mdb), the play records
 (playlog.db) and the media cache (data/). That state is kept on upgrade and
 removal and deleted only on purge.
CONTROL

mkdir -p "$OUT_DIR"
DEB=$OUT_DIR/zorvak-client_${VERSION}_${ARCH}.deb
dpkg-deb --root-owner-group -Zxz --build "$PKG" "$DEB" >/dev/null
echo "$DEB"
