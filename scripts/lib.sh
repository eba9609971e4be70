# Shared by the start and check scripts: install what is missing, configure, build.
set -euo pipefail

top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
jobs=$(nproc 2>/dev/null || echo 2)

# Packages the program needs to build and run, and those the tests need on top (the rig, for the
# integration tests: QEMU, a static busybox for the guest's RAM disk, cpio to pack it, kmod to
# index the guest kernel's modules; qpdf and poppler-utils to check the measurement report's PDF;
# the broker tests: Mosquitto, and openssl for their certificates).
build_packages=(build-essential cmake ninja-build pkg-config qt6-base-dev libsdl2-dev libasound2-dev
                libqcustomplot-dev libfftw3-dev libkissfft-dev libsndfile1-dev libmosquitto-dev
                fonts-dejavu-core fonts-liberation2 qt6-translations-l10n)
# clang's libFuzzer and sanitizer runtimes are in libclang-rt-14-dev, which clang only recommends.
fuzz_packages=(clang libclang-rt-14-dev)
test_packages=(googletest libgtest-dev libgmock-dev libbenchmark-dev xvfb xauth qpdf poppler-utils
               qemu-system-x86 busybox-static cpio kmod clang-format strace mosquitto openssl
               "${fuzz_packages[@]}")
# Only the benchmarks need Qt's serial module: they measure what polling it would catch.
bench_packages=(qt6-serialport-dev)
# Packages that make and check the Debian package: dpkg-shlibdeps and file for the run-time
# dependencies, the linters, and man for the manual page.
package_packages=(dpkg-dev file lintian desktop-file-utils appstream man-db)

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

install_missing() {
  local missing=()
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "== installing: ${missing[*]}"
  as_root apt-get update -qq
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# The rig's guest kernel (Debian's package, unpacked into the rig's cache once), fetched before the
# integration tests so a download never counts against their time limit. A fresh machine has no
# package lists to find it in.
prepare_rig() {
  "$top/tests/rig/guest/run" --fetch 2>/dev/null ||
    { as_root apt-get update -qq && "$top/tests/rig/guest/run" --fetch; }
}

# configure_and_build DIR [cmake options...]
configure_and_build() {
  local dir=$1; shift
  if [ ! -f "$top/$dir/build.ninja" ]; then
    cmake -S "$top" -B "$top/$dir" -G Ninja "$@"
  fi
  cmake --build "$top/$dir" -j "$jobs"
}

# package_and_check DIR: makes DIR/diagnostika_<version>_amd64.deb from the build in DIR and checks
# what it ships: lintian (no errors; warnings only those packaging/lintian-accepted lists with their
# reasons), the desktop entry, the AppStream metadata and the manual page.
package_and_check() {
  local dir=$1
  rm -f "$dir"/diagnostika_*_amd64.deb
  (cd "$dir" && cpack -G DEB >/dev/null) || { echo "cpack failed; see $dir/_CPack_Packages" >&2; return 1; }
  local deb
  deb=$(ls "$dir"/diagnostika_*_amd64.deb)
  echo "== package: $deb"
  dpkg-deb --field "$deb" Package Version Section Priority Depends | sed 's/^/   /'
  local accepted=()
  while read -r tag _; do
    case $tag in ''|'#'*) ;; *) accepted+=(--suppress-tags "$tag") ;; esac
  done <"$top/packaging/lintian-accepted"
  echo "== lintian"
  lintian --fail-on error,warning "${accepted[@]}" "$deb"
  local root
  root=$(mktemp -d)
  dpkg-deb -x "$deb" "$root"
  echo "== desktop entry, AppStream metadata, manual page"
  desktop-file-validate "$root"/usr/share/applications/*.desktop
  appstreamcli validate --no-net "$root"/usr/share/metainfo/*.metainfo.xml
  local warnings
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$root/usr/share/man/man1/diagnostika.1.gz" 2>&1 >/dev/null)
  rm -rf "$root"
  if [ -n "$warnings" ]; then
    echo "$warnings" >&2
    return 1
  fi
}
