#!/bin/sh
# Inside the rig's guest, whose root is a throw-away layer: installs the Debian package from the
# build folder with apt, offline (its dependencies are already on the machine; apt is shown no
# archive, so a missing one fails the install), starts the installed program the way the menu
# entry does as an unprivileged user, and removes the package again.
# $1 is the build folder, where cpack (scripts/package --from DIR) has left the .deb.
set -eu
build=${1:?build folder}
deb=$(ls "$build"/diagnostika_*_amd64.deb 2>/dev/null | head -n 1)
if [ -z "$deb" ]; then
  echo "package.sh: no diagnostika_*_amd64.deb in $build: run scripts/package --from $build" >&2
  exit 1
fi
fail() { echo "package.sh: $*" >&2; exit 1; }

# The guest sees this machine's own package database: an installation running out here leaves it
# half done in there.
[ -z "$(ls /var/lib/dpkg/updates 2>/dev/null)" ] ||
  fail "this machine's dpkg is in the middle of an installation: run the test again once it is done"
export DEBIAN_FRONTEND=noninteractive
# man-db's trigger would index every manual page on the machine, minutes under emulation; the
# page is checked with man itself outside the guest.
rm -f /var/lib/man-db/auto-update
# Offline for sure, and quick: apt knows no archive, only what is installed and the .deb.
none=$(mktemp -d)
apt-get install -y -q -o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$none" \
  -o Dir::State::Lists="$none" "$deb" >/tmp/apt-install.log 2>&1 ||
  { cat /tmp/apt-install.log >&2; fail "apt-get install failed"; }
version=$(dpkg-query -W -f='${Version}' diagnostika)
echo "installed diagnostika $version ($(date +%T))"

# The menu entry's command, run as it is written there.
desktop=$(ls /usr/share/applications/*.desktop | xargs grep -l '^Exec=diagnostika' | head -n 1)
[ -n "$desktop" ] || fail "no desktop entry starts diagnostika"
entry=$(sed -n 's/^Exec=//p' "$desktop")
command -v "$entry" >/dev/null || fail "the menu entry's command '$entry' is not on PATH"
icon=$(sed -n 's/^Icon=//p' "$desktop")
test -f "/usr/share/icons/hicolor/scalable/apps/$icon.svg" || fail "no scalable icon $icon"
test -f "/usr/share/icons/hicolor/48x48/apps/$icon.png" || fail "no 48x48 icon $icon"

# An ordinary user with nothing but a home folder.
home=$(mktemp -d)
mkdir -m 0700 "$home/run"
chown -R 65534:65534 "$home"
as_user() {
  setpriv --reuid=65534 --regid=65534 --clear-groups \
    env -i HOME="$home" XDG_RUNTIME_DIR="$home/run" PATH=/usr/bin:/bin LANG=C.UTF-8 \
    QT_QPA_PLATFORM=offscreen "$@"
}
shown=$(as_user "$entry" --version)
[ "$shown" = "diagnostika $version" ] || fail "--version shows '$shown', the package is $version"
# The headless screenshot on simulated sensors, watching which files the program opens: Qt's
# Slovak texts where Qt's library says they are, and the faces the windows are laid out for.
trace=$home/open.log
as_user strace -f -qq -e trace=openat -e status=successful -o "$trace" \
  "$entry" --simulate --open game --game-period 20 --screenshot "$home/shot.png" --after 2000
grep -q 'qtbase_sk\.qm' "$trace" || fail "Qt's Slovak texts (qtbase_sk.qm) were not loaded"
grep -Eq 'Liberation|DejaVu' "$trace" || fail "neither Liberation nor DejaVu fonts were opened"
head -c 8 "$home/shot.png" | od -An -c | grep -q 'P   N   G' || fail "no PNG screenshot"
cp "$home/shot.png" /rig-out/package-installed.png 2>/dev/null || true
echo "the installed program ran as an unprivileged user: $(wc -c <"$home/shot.png") byte screenshot"

apt-get remove -y -q -o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$none" \
  -o Dir::State::Lists="$none" diagnostika >/dev/null
! dpkg-query -W -f='${Status}' diagnostika 2>/dev/null | grep -q 'install ok installed' ||
  fail "still installed after removal"
test ! -e /usr/bin/diagnostika || fail "/usr/bin/diagnostika left after removal"
echo "removed"
