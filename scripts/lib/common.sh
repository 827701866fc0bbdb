# Shared by scripts/run and scripts/test: Debian packages and the build.
# shellcheck shell=bash

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
BUILD_DIR=${OE_BUILD_DIR:-$ROOT/build}
# The instrumented builds sit beside the plain one, each in its own folder.
SANITIZE_DIR=$BUILD_DIR-asan
FUZZ_DIR=$BUILD_DIR-fuzz

# The command prefix that gives root rights: nothing for root, sudo where it can be used (a terminal to
# ask for a password on, or no password needed); fails when there is neither.
root_prefix() {
  if [ "$(id -u)" -eq 0 ]; then
    echo ""
  elif command -v sudo >/dev/null 2>&1 && { [ -t 0 ] || sudo -n true 2>/dev/null; }; then
    echo "sudo"
  else
    return 1
  fi
}

# Installs the Debian packages that are not installed yet (non-interactive; needs root or sudo). Without
# either it says which packages are missing and how to install them, and stops.
ensure_packages() {
  local missing=()
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo
  if ! sudo=$(root_prefix); then
    echo "Missing Debian packages: ${missing[*]}" >&2
    echo "Run as root: apt-get install ${missing[*]}" >&2
    exit 1
  fi
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  if ! $sudo apt-get update -qq || ! $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null; then
    echo "Missing Debian packages: ${missing[*]}" >&2
    echo "Run as root: apt-get install ${missing[*]}" >&2
    exit 1
  fi
}

# The program shows a window: without a display it could only fail later, after the whole build.
require_display() {
  case "${QT_QPA_PLATFORM:-}" in offscreen* | minimal* | vnc* | eglfs* | linuxfb*) return 0 ;; esac
  if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No graphical display (DISPLAY or WAYLAND_DISPLAY not set)" >&2
    echo "Start OE Setup from a desktop session, or on a virtual one: xvfb-run -a scripts/run" >&2
    exit 1
  fi
}

# Generates a C-library locale such as it_IT.UTF-8 when the system lacks it (needs root or sudo).
# The tests switch to it to prove that numbers in files do not follow the desktop's locale; without
# it they skip those cases, so a failure here is reported but does not stop the run.
ensure_locale() {
  local name=$1 wanted sudo
  wanted=$(echo "$name" | tr '[:upper:]' '[:lower:]' | sed 's/utf-8$/utf8/')
  locale -a 2>/dev/null | tr '[:upper:]' '[:lower:]' | grep -qxF "$wanted" && return 0
  if ! (ensure_packages locales) || ! sudo=$(root_prefix); then
    echo "Could not generate locale $name; the tests that need it will be skipped" >&2
    return 0
  fi
  echo "Generating locale $name"
  $sudo localedef -i "${name%%.*}" -f "${name#*.}" "$name" ||
    echo "Could not generate locale $name; the tests that need it will be skipped" >&2
}

# fp-utils: chmcmd compiles Help.chm. fonts-liberation2: the window's pictures in the manual are taken
# offscreen at build time and need a font with Arial's metrics. qt6-translations-l10n: Qt's own buttons
# and file dialogs in Italian (qtbase_it.qm), loaded at run time.
BUILD_PACKAGES=(cmake g++ make ccache qt6-base-dev qt6-serialport-dev qt6-qpa-plugins libgl-dev fp-utils
                fonts-liberation2 qt6-translations-l10n)
# libchm-bin: extract_chmLib reads Help.chm back in its test. gnumeric: ssconvert opens a recording
# as an Italian and an English spreadsheet would (seven packages without recommends, about 30 s).
TEST_PACKAGES=(libchm-bin gnumeric)
# The sanitizer build and the fuzz targets: clang with libFuzzer, and llvm-symbolizer for readable
# reports from either compiler's sanitizers.
SANITIZER_PACKAGES=(clang libclang-rt-14-dev llvm-14)
export ASAN_SYMBOLIZER_PATH=/usr/lib/llvm-14/bin/llvm-symbolizer

# Configures and builds one folder with ccache: configure_and_build DIR [cmake options...] [-- targets...]
configure_and_build() {
  local dir=$1
  shift
  local options=() targets=()
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do options+=("$1"); shift; done
  [ $# -gt 0 ] && shift
  [ $# -gt 0 ] && targets=(--target "$@")
  export CCACHE_BASEDIR="$ROOT"
  export CCACHE_NOHASHDIR=1
  cmake -S "$ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=Release "${options[@]}" >/dev/null
  cmake --build "$dir" -j"$(nproc)" "${targets[@]}"
}

# The plain build (Release): the given targets, or everything.
build_all() {
  configure_and_build "$BUILD_DIR" -- "$@"
}

# The program, its tools and the tests under AddressSanitizer + UndefinedBehaviorSanitizer; not the
# benchmark and soak programs, which no test runs.
build_sanitized() {
  configure_and_build "$SANITIZE_DIR" -DOE_SANITIZE=ON -DOE_BUILD_BENCH=OFF
}

# The libFuzzer targets (clang; they carry the same sanitizers).
build_fuzzers() {
  configure_and_build "$FUZZ_DIR" -DCMAKE_CXX_COMPILER=clang++ -DOE_BUILD_FUZZ=ON -DOE_BUILD_TESTS=OFF -- fuzz_all
}

# The Windows build (scripts/build-windows, scripts/test-windows): MinGW-w64 with posix threads,
# Ninja, dpkg-dev for apt-get source, nsis for the installer, zip; Wine and a virtual display to run
# the result here.
WINDOWS_PACKAGES=(g++-mingw-w64-x86-64-posix ninja-build dpkg-dev nsis zip imagemagick qt6-base-dev-tools
                  qt6-translations-l10n)
WINE_PACKAGES=(wine64 xvfb xauth imagemagick xdotool)
