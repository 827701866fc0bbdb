# Shared by scripts/run and scripts/test: Debian packages and the build.
# shellcheck shell=bash

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
BUILD_DIR=${OE_BUILD_DIR:-$ROOT/build}

# Installs the Debian packages that are not installed yet (non-interactive; needs root or sudo).
ensure_packages() {
  local missing=()
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# Generates a C-library locale such as it_IT.UTF-8 when the system lacks it (needs root or sudo).
# The tests switch to it to prove that numbers in files do not follow the desktop's locale; without
# it they skip those cases, so a failure here is reported but does not stop the run.
ensure_locale() {
  local name=$1 wanted
  wanted=$(echo "$name" | tr '[:upper:]' '[:lower:]' | sed 's/utf-8$/utf8/')
  locale -a 2>/dev/null | tr '[:upper:]' '[:lower:]' | grep -qxF "$wanted" && return 0
  ensure_packages locales
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  echo "Generating locale $name"
  $sudo localedef -i "${name%%.*}" -f "${name#*.}" "$name" ||
    echo "Could not generate locale $name; the tests that need it will be skipped" >&2
}

# fp-utils: chmcmd compiles Help.chm. fonts-liberation2: the window's pictures in the manual are taken
# offscreen at build time and need a font with Arial's metrics.
BUILD_PACKAGES=(cmake g++ make ccache qt6-base-dev qt6-serialport-dev qt6-qpa-plugins libgl-dev fp-utils
                fonts-liberation2)
# libchm-bin: extract_chmLib reads Help.chm back in its test.
TEST_PACKAGES=(libchm-bin)

# Configures and builds (Release, ccache): the given targets, or everything.
build_all() {
  export CCACHE_BASEDIR="$ROOT"
  export CCACHE_NOHASHDIR=1
  cmake -S "$ROOT" -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release >/dev/null
  local targets=()
  [ $# -gt 0 ] && targets=(--target "$@")
  cmake --build "$BUILD_DIR" -j"$(nproc)" "${targets[@]}"
}
