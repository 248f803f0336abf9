#!/usr/bin/env bash
# Builds and checks qv_os on a Debian 12 machine, installing what is missing (run as root).
#   ./dev.sh info    build the qvos program and run `qvos info`
#   ./dev.sh test    check formatting and the API reference, then build and run every suite: gcc,
#                    clang, ASan+UBSan, TSan, a short run of every fuzz target, Windows x64 and x86
#                    under Wine, s390x under qemu, and the installed package with its consumers and
#                    examples
#   ./dev.sh native|clang|asan|tsan|fuzz|windows|install|format   one of those steps
#   ./dev.sh fuzz    every libFuzzer target (clang, ASan+UBSan) for FUZZ_SECONDS (12) seconds each
#   ./dev.sh docs    the API reference (build/docs/html/index.html); fails on any doxygen warning
#   ./dev.sh windows-x86   the Windows x86 (32-bit) build under 32-bit Wine
#   ./dev.sh s390x   cross build for big-endian s390x and run every suite under qemu-user
set -euo pipefail
cd "$(dirname "$0")"
JOBS=${JOBS:-$(nproc)}

need_packages() { # [--no-install-recommends] package...
  local missing=() opts=()
  if [ "${1:-}" = --no-install-recommends ]; then opts=("$1"); shift; fi
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "== installing: ${missing[*]}"
    if [ -z "${QV_APT_UPDATED:-}" ]; then apt-get update -qq; export QV_APT_UPDATED=1; fi
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${opts[@]}" "${missing[@]}" >/dev/null
  fi
}

BASE_PKGS=(cmake ninja-build g++ pkg-config)
TEST_PKGS=(googletest libgtest-dev clang)
WIN_PKGS=(g++-mingw-w64-x86-64 wine64)
WIN_X86_PKGS=(g++-mingw-w64-i686 wine32)
S390X_PKGS=(g++-s390x-linux-gnu qemu-user qemu-user-binfmt binfmt-support)

# A locale with a decimal comma, so that the tests can show that numeric text ignores the locale.
comma_locale() {
  locale -a 2>/dev/null | grep -qi '^de_DE.utf' && return 0
  need_packages locales
  localedef -i de_DE -c -f UTF-8 de_DE.UTF-8 >/dev/null 2>&1 || true
}

format_check() {
  need_packages clang-format
  echo "== format: every C++ file as .clang-format lays it out"
  git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror
}

# The API reference from the public headers. Any doxygen warning (an undocumented public
# declaration, a documentation error) fails the step.
docs() {
  need_packages doxygen python3
  echo "== docs: the API reference, with every public declaration documented"
  mkdir -p build
  local log=build/docs-warnings.txt
  if ! doxygen docs/Doxyfile 2>"$log" || [ -s "$log" ]; then
    cat "$log" >&2
    echo "doxygen reported the warnings above" >&2
    return 1
  fi
  echo "== docs: build/docs/html/index.html"
}

suite() { # preset
  echo "== $1: configure, build, test"
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1" -j "$JOBS"
  ctest --preset "$1" -j "$JOBS"
}

windows() {
  local start
  start=$(date +%s)
  need_packages "${BASE_PKGS[@]}" googletest "${WIN_PKGS[@]}"
  # shellcheck source=scripts/wine-env.sh
  source scripts/wine-env.sh
  trap 'source scripts/wine-env.sh stop' RETURN
  echo "== mingw: configure, build, test under Wine"
  cmake --preset mingw >/dev/null
  cmake --build --preset mingw -j "$JOBS"
  timeout 1800 ctest --preset mingw -j "$JOBS"
  echo "== mingw: built and tested in $(( $(date +%s) - start )) s"
}

windows_x86() {
  local start
  start=$(date +%s)
  # 32-bit Wine comes from the i386 architecture, which the package lists must know first.
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    unset QV_APT_UPDATED
  fi
  need_packages "${BASE_PKGS[@]}" googletest "${WIN_PKGS[@]}" "${WIN_X86_PKGS[@]}"
  echo "== mingw-x86: the 32-bit packages took $(( $(date +%s) - start )) s to install"
  # shellcheck source=scripts/wine-env.sh
  source scripts/wine-env.sh
  trap 'source scripts/wine-env.sh stop' RETURN
  echo "== mingw-x86: configure, build, test under 32-bit Wine"
  cmake --preset mingw-x86 >/dev/null
  cmake --build --preset mingw-x86 -j "$JOBS"
  timeout 1800 ctest --preset mingw-x86 -j "$JOBS"
  echo "== mingw-x86: installed, built and tested in $(( $(date +%s) - start )) s"
}

# Big-endian: the library and every suite cross-built for s390x and run under qemu-user. The tests
# start s390x children of their own, which only binfmt_misc hands to the emulator. The host's
# locale archive is little-endian, so the decimal-comma locale is compiled big-endian into a folder
# of its own (LOCPATH in the test preset).
s390x() {
  local start locales=build/s390x-locale
  start=$(date +%s)
  need_packages "${BASE_PKGS[@]}" googletest locales
  need_packages --no-install-recommends "${S390X_PKGS[@]}"
  update-binfmts --enable qemu-s390x
  if [ ! -e /proc/sys/fs/binfmt_misc/qemu-s390x ]; then
    echo "binfmt_misc does not run s390x programs: the tests cannot start their children" >&2
    return 1
  fi
  if [ ! -e "$locales/de_DE.UTF-8/LC_NUMERIC" ]; then
    mkdir -p "$locales"
    # -c writes the locale despite warnings, and the exit status then reports them.
    localedef --big-endian --no-archive -i de_DE -c -f UTF-8 "$locales/de_DE.UTF-8" || true
    [ -e "$locales/de_DE.UTF-8/LC_NUMERIC" ] || { echo "localedef made no locale" >&2; return 1; }
  fi
  suite s390x
  echo "== s390x: installed, built and tested in $(( $(date +%s) - start )) s"
}

# Every fuzz target for a short time from its seeds and what earlier runs found (build/fuzz); a
# finding fails the step. fuzz/run installs clang's fuzzer runtime when it is missing.
fuzz_step() {
  local start secs=${FUZZ_SECONDS:-12}
  start=$(date +%s)
  echo "== fuzz: every target for $secs s under ASan+UBSan"
  fuzz/run "$secs"
  echo "== fuzz: built and run in $(( $(date +%s) - start )) s"
}

package_build() {
  cmake --preset package >/dev/null
  cmake --build --preset package -j "$JOBS"
}

# Installs into a fresh prefix outside the system's library path and runs what a user would: the
# installed qvos and programs built through CMake and through pkg-config, none of them helped by
# LD_LIBRARY_PATH (each must find the library through its own run path).
install_check() {
  echo "== install: the installed qvos and package consumers through CMake and pkg-config"
  local prefix pc
  prefix=$(mktemp -d /tmp/qv_os-install.XXXXXX)
  cmake --install build/package --prefix "$prefix" >/dev/null
  env -u LD_LIBRARY_PATH "$prefix/bin/qvos" version
  rm -rf build/consumer
  cmake -S tests/consumer -B build/consumer -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
  cmake --build build/consumer >/dev/null
  env -u LD_LIBRARY_PATH build/consumer/consumer
  pc="$prefix/lib/pkgconfig"
  g++ -std=c++17 tests/consumer/consumer.cpp $(PKG_CONFIG_PATH="$pc" pkg-config --cflags --libs qv_os) \
    -Wl,-rpath,"$(PKG_CONFIG_PATH="$pc" pkg-config --variable=libdir qv_os)" -o build/consumer/consumer-pc
  env -u LD_LIBRARY_PATH build/consumer/consumer-pc
  echo "== examples: built through CMake and through pkg-config, each run briefly"
  rm -rf build/examples build/examples-pc
  cmake -S examples -B build/examples -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
  cmake --build build/examples >/dev/null
  env -u LD_LIBRARY_PATH examples/run build/examples
  mkdir -p build/examples-pc
  for src in examples/*.cpp; do
    g++ -std=c++17 -Wall -Wextra -Werror "$src" $(PKG_CONFIG_PATH="$pc" pkg-config --cflags --libs qv_os) \
      -Wl,-rpath,"$(PKG_CONFIG_PATH="$pc" pkg-config --variable=libdir qv_os)" \
      -o "build/examples-pc/$(basename "$src" .cpp)"
  done
  env -u LD_LIBRARY_PATH examples/run build/examples-pc >/dev/null
  rm -rf "$prefix"
}

case "${1:-}" in
  info)
    need_packages "${BASE_PKGS[@]}"
    cmake --preset package >/dev/null
    cmake --build --preset package -j "$JOBS" --target qvos
    ./build/package/bin/qvos info
    ;;
  native) need_packages "${BASE_PKGS[@]}" "${TEST_PKGS[@]}"; comma_locale; suite dev ;;
  clang) need_packages "${BASE_PKGS[@]}" "${TEST_PKGS[@]}"; suite clang ;;
  asan) need_packages "${BASE_PKGS[@]}" "${TEST_PKGS[@]}"; suite asan ;;
  tsan) need_packages "${BASE_PKGS[@]}" "${TEST_PKGS[@]}"; suite tsan ;;
  fuzz) need_packages "${BASE_PKGS[@]}" clang; fuzz_step ;;
  windows) windows ;;
  windows-x86) windows_x86 ;;
  s390x) s390x ;;
  format) format_check ;;
  docs) docs ;;
  install)
    need_packages "${BASE_PKGS[@]}" "${TEST_PKGS[@]}"
    package_build
    install_check
    ;;
  test)
    need_packages "${BASE_PKGS[@]}" "${TEST_PKGS[@]}" "${WIN_PKGS[@]}"
    comma_locale
    start=$(date +%s)
    format_check
    docs
    suite dev
    suite clang
    suite asan
    suite tsan
    fuzz_step
    windows
    windows_x86
    s390x
    package_build
    install_check
    echo "== all suites passed in $(( $(date +%s) - start )) s"
    ;;
  *)
    sed -n '2,12p' "$0" >&2
    exit 2
    ;;
esac
