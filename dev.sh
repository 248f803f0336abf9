#!/usr/bin/env bash
# Builds and checks qv_os on a Debian 12 machine, installing what is missing (run as root).
#   ./dev.sh info    build the qvos program and run `qvos info`
#   ./dev.sh test    build and run every suite: gcc, clang, ASan+UBSan, TSan, Windows under Wine,
#                    and a consumer of the installed package
#   ./dev.sh native|clang|asan|tsan|windows|install|format   one of those steps
#   ./dev.sh windows-x86   the Windows x86 (32-bit) build under 32-bit Wine
set -euo pipefail
cd "$(dirname "$0")"
JOBS=${JOBS:-$(nproc)}

need_packages() {
  local missing=()
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "== installing: ${missing[*]}"
    if [ -z "${QV_APT_UPDATED:-}" ]; then apt-get update -qq; export QV_APT_UPDATED=1; fi
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
  fi
}

BASE_PKGS=(cmake ninja-build g++ pkg-config)
TEST_PKGS=(googletest libgtest-dev clang)
WIN_PKGS=(g++-mingw-w64-x86-64 wine64)
WIN_X86_PKGS=(g++-mingw-w64-i686 wine32)

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

suite() { # preset
  echo "== $1: configure, build, test"
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1" -j "$JOBS"
  ctest --preset "$1" -j "$JOBS"
}

windows() {
  need_packages "${BASE_PKGS[@]}" googletest "${WIN_PKGS[@]}"
  # shellcheck source=scripts/wine-env.sh
  source scripts/wine-env.sh
  trap 'source scripts/wine-env.sh stop' RETURN
  echo "== mingw: configure, build, test under Wine"
  cmake --preset mingw >/dev/null
  cmake --build --preset mingw -j "$JOBS"
  timeout 1800 ctest --preset mingw -j "$JOBS"
}

windows_x86() {
  # 32-bit Wine comes from the i386 architecture, which the package lists must know first.
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    unset QV_APT_UPDATED
  fi
  need_packages "${BASE_PKGS[@]}" googletest "${WIN_PKGS[@]}" "${WIN_X86_PKGS[@]}"
  # shellcheck source=scripts/wine-env.sh
  source scripts/wine-env.sh
  trap 'source scripts/wine-env.sh stop' RETURN
  echo "== mingw-x86: configure, build, test under 32-bit Wine"
  cmake --preset mingw-x86 >/dev/null
  cmake --build --preset mingw-x86 -j "$JOBS"
  timeout 1800 ctest --preset mingw-x86 -j "$JOBS"
}

install_check() {
  echo "== install: package consumers through CMake and pkg-config"
  local prefix
  prefix=$(mktemp -d /tmp/qv_os-install.XXXXXX)
  cmake --install build/release --prefix "$prefix" >/dev/null
  rm -rf build/consumer
  cmake -S tests/consumer -B build/consumer -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
  cmake --build build/consumer >/dev/null
  LD_LIBRARY_PATH="$prefix/lib" build/consumer/consumer
  PKG_CONFIG_PATH="$prefix/lib/pkgconfig" g++ -std=c++17 tests/consumer/consumer.cpp \
    $(PKG_CONFIG_PATH="$prefix/lib/pkgconfig" pkg-config --cflags --libs qv_os) -o build/consumer/consumer-pc
  LD_LIBRARY_PATH="$prefix/lib" build/consumer/consumer-pc
  rm -rf "$prefix"
}

case "${1:-}" in
  info)
    need_packages "${BASE_PKGS[@]}"
    cmake --preset release -DQV_OS_BUILD_TESTS=OFF >/dev/null
    cmake --build --preset release -j "$JOBS" --target qvos
    ./build/release/bin/qvos info
    ;;
  native) need_packages "${BASE_PKGS[@]}" "${TEST_PKGS[@]}"; comma_locale; suite dev ;;
  clang) need_packages "${BASE_PKGS[@]}" "${TEST_PKGS[@]}"; suite clang ;;
  asan) need_packages "${BASE_PKGS[@]}" "${TEST_PKGS[@]}"; suite asan ;;
  tsan) need_packages "${BASE_PKGS[@]}" "${TEST_PKGS[@]}"; suite tsan ;;
  windows) windows ;;
  windows-x86) windows_x86 ;;
  format) format_check ;;
  install)
    need_packages "${BASE_PKGS[@]}" "${TEST_PKGS[@]}"
    cmake --preset release -DQV_OS_BUILD_TESTS=OFF >/dev/null
    cmake --build --preset release -j "$JOBS"
    install_check
    ;;
  test)
    need_packages "${BASE_PKGS[@]}" "${TEST_PKGS[@]}" "${WIN_PKGS[@]}"
    comma_locale
    start=$(date +%s)
    format_check
    suite dev
    suite clang
    suite asan
    suite tsan
    windows
    cmake --preset release -DQV_OS_BUILD_TESTS=OFF >/dev/null
    cmake --build --preset release -j "$JOBS"
    install_check
    echo "== all suites passed in $(( $(date +%s) - start )) s"
    ;;
  *)
    sed -n '2,8p' "$0" >&2
    exit 2
    ;;
esac
