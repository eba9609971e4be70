# Shared by the start and check scripts: install what is missing, configure, build.
set -euo pipefail

top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
jobs=$(nproc 2>/dev/null || echo 2)

# Packages the program needs to build and run, and those the tests need on top.
build_packages=(build-essential cmake ninja-build pkg-config qt6-base-dev libsdl2-dev libqcustomplot-dev
                fonts-dejavu-core fonts-liberation2 qt6-translations-l10n)
test_packages=(googletest libgtest-dev libgmock-dev libbenchmark-dev xvfb xauth
               qemu-system-x86 busybox-static cpio kmod clang-format)

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

# configure_and_build DIR [cmake options...]
configure_and_build() {
  local dir=$1; shift
  if [ ! -f "$top/$dir/build.ninja" ]; then
    cmake -S "$top" -B "$top/$dir" -G Ninja "$@"
  fi
  cmake --build "$top/$dir" -j "$jobs"
}
