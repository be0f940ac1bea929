#!/usr/bin/env bash
# Checks the Debian package: builds it (scripts/package.sh), reads its control
# data, files and maintainer scripts, then installs it into a throw-away root
# (dpkg --root with the maintainer scripts run outside a chroot, DPKG_ROOT set),
# puts a site's state into the client folder, upgrades, removes and purges,
# and checks that the state survives the upgrade and the removal and goes
# with the purge. Nothing outside its temporary folder is touched.
#
#   scripts/package-test.sh          # BUILD_DIR=... for another build folder
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
failures=0
check() {  # description, command...
  local what=$1
  shift
  if "$@"; then
    echo "ok   $what"
  else
    echo "FAIL $what" >&2
    failures=$((failures + 1))
  fi
}

DEB=$(OUT_DIR=$WORK BUILD_DIR=$BUILD_DIR scripts/package.sh | tail -n 1)
VERSION=$(dpkg-deb -f "$DEB" Version)
ARCH=$(dpkg --print-architecture)
check "package file name" test "$(basename "$DEB")" = "zorvak-client_${VERSION}_${ARCH}.deb"

# ---- control data ---------------------------------------------------------------
DEPENDS=$(dpkg-deb -f "$DEB" Depends)
check "Package is zorvak-client" test "$(dpkg-deb -f "$DEB" Package)" = zorvak-client
for lib in libqt6widgets6 libqt6webenginewidgets6 libmpv2 libcurl4 libsqlite3-0 libxml2 libc6 \
           libqt6webenginecore6-bin fonts-wqy-zenhei; do
  check "depends on $lib" grep -q "\b$lib\b" <<<"$DEPENDS"
done
check "no build tools among the dependencies" \
  bash -c '! grep -Eq -- "-dev\b|cmake|ninja|\bgcc\b|\bg\+\+|build-essential|googletest|libgtest" <<<"$1"' _ "$DEPENDS"

# ---- files --------------------------------------------------------------------
dpkg-deb -x "$DEB" "$WORK/x"
for f in opt/zorvak/zorvak-client opt/zorvak/zorvak-ctl; do
  check "$f is an executable" test -x "$WORK/x/$f"
done
check "pristine store shipped under /usr/share" test -s "$WORK/x/usr/share/zorvak-client/tmpdb.mdb"
check "no store in the client folder of the package (an upgrade would replace the site's)" \
  test ! -e "$WORK/x/opt/zorvak/tmpdb.mdb"
check "nothing of the site's state in the package" \
  bash -c '! dpkg-deb -c "$1" | grep -Eq "dIrovede.ini|playlog.db|opt/zorvak/data"' _ "$DEB"
DESKTOP=$WORK/x/usr/share/applications/zorvak-client.desktop
check "desktop entry" grep -qx "Exec=/opt/zorvak/zorvak-client" "$DESKTOP"
check "icon" test -s "$WORK/x/usr/share/icons/hicolor/48x48/apps/zorvak-client.png"

# ---- maintainer scripts -------------------------------------------------------
dpkg-deb -e "$DEB" "$WORK/ctrl"
for s in postinst postrm; do
  check "$s is executable shell" bash -c 'test -x "$1" && sh -n "$1"' _ "$WORK/ctrl/$s"
done

# ---- install, upgrade, remove, purge in a throw-away root -----------------------
R=$WORK/root
mkdir -p "$R/var/lib/dpkg/info" "$R/var/lib/dpkg/updates" "$R/var/lib/dpkg/triggers"
: > "$R/var/lib/dpkg/status"
: > "$R/var/lib/dpkg/available"
dpkg_root() {
  dpkg --root="$R" --force-script-chrootless --force-not-root --force-depends \
    --force-unsafe-io --log=/dev/null --no-triggers "$@" >"$WORK/dpkg.log" 2>&1 ||
    { cat "$WORK/dpkg.log" >&2; return 1; }
}
APP=$R/opt/zorvak

check "first install" dpkg_root --install "$DEB"
check "first install puts an empty store in place" \
  bash -c 'cmp -s "$1/opt/zorvak/tmpdb.mdb" "$1/usr/share/zorvak-client/tmpdb.mdb"' _ "$R"
check "first install makes the media cache folder" test -d "$APP/data"
check "the installed zorvak-ctl reads the installed store" \
  bash -c '"$1/zorvak-ctl" status --appdir "$1" | grep -qx "store: open"' _ "$APP"

# A site's state, each file with bytes of its own.
printf 'site store\n' > "$APP/tmpdb.mdb"
printf '[PLAYLIST]\r\nKEYWORD=site7\r\n' > "$APP/dIrovede.ini"
printf 'site plays\n' > "$APP/playlog.db"
printf 'picture\n' > "$APP/data/a.jpg"
snapshot() { (cd "$APP" && cat tmpdb.mdb dIrovede.ini playlog.db data/a.jpg) 2>/dev/null | md5sum; }
before=$(snapshot)

# The next version: the same package under a higher version number.
dpkg-deb -R "$DEB" "$WORK/next"
sed -i "s/^Version: .*/Version: ${VERSION}+1/" "$WORK/next/DEBIAN/control"
NEXT=$WORK/zorvak-client_${VERSION}+1_${ARCH}.deb
dpkg-deb --root-owner-group -Zxz --build "$WORK/next" "$NEXT" >/dev/null

check "upgrade" dpkg_root --install "$NEXT"
check "upgrade keeps the store, settings, play records and media cache" test "$(snapshot)" = "$before"
check "upgrade installed the new version" \
  bash -c 'dpkg --root="$1" -s zorvak-client 2>/dev/null | grep -qx "Version: $2"' _ "$R" "${VERSION}+1"

check "remove" dpkg_root --remove zorvak-client
check "remove takes the programs" test ! -e "$APP/zorvak-client"
check "remove keeps the store, settings, play records and media cache" test "$(snapshot)" = "$before"

check "purge" dpkg_root --purge zorvak-client
check "purge deletes the site's state and the folder" test ! -e "$APP"

if ((failures)); then
  echo "package-test: $failures check(s) failed" >&2
  exit 1
fi
echo "package-test: all checks passed"
