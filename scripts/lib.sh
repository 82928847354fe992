# Shared by scripts/run and scripts/test: install what is missing, configure and build.
# shellcheck shell=bash
VORLIK_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

vorlik_sudo() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# Installs the packages of scripts/packages.txt that are not installed yet; does nothing
# (and needs no network) when everything is there.
vorlik_install_deps() {
  local wanted
  mapfile -t wanted < <(grep -vE '^\s*(#|$)' "$VORLIK_ROOT/scripts/packages.txt")
  vorlik_install_packages "${wanted[@]}"
}

# vorlik_install_packages PACKAGE...: installs those of the named packages that are missing.
vorlik_install_packages() {
  local missing=()
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  vorlik_sudo apt-get update -qq
  vorlik_sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# vorlik_build BUILD_DIR [extra cmake arguments...]
vorlik_build() {
  local dir=$1; shift
  export CCACHE_DIR=${CCACHE_DIR:-$HOME/.cache/vorlik-ccache}
  # Paths relative to the checkout, so that two checkouts of the same sources share the cache.
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$VORLIK_ROOT} CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}
  cmake -S "$VORLIK_ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$dir" --parallel "$(nproc)"
}

# The sanitizer build: clang with AddressSanitizer and UndefinedBehaviorSanitizer, in BUILD_DIR.
# -O1 keeps the instrumented tests quick without the compile time of -O2.
vorlik_build_sanitize() {
  local dir=$1; shift
  vorlik_build "$dir" -DCMAKE_CXX_COMPILER=clang++ -DVORLIK_SANITIZE=ON \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g -DNDEBUG" "$@"
}

# The libFuzzer targets of fuzz/ (clang, fuzzer coverage + AddressSanitizer +
# UndefinedBehaviorSanitizer in every library), in BUILD_DIR; only the targets are built.
vorlik_build_fuzz() {
  local dir=$1; shift
  export CCACHE_DIR=${CCACHE_DIR:-$HOME/.cache/vorlik-ccache}
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$VORLIK_ROOT} CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}
  cmake -S "$VORLIK_ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
    -DVORLIK_FUZZ=ON -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g -DNDEBUG" "$@" >/dev/null
  cmake --build "$dir" --parallel "$(nproc)" --target vorlik_fuzzers
}

# Sanitizer settings for every process of a run (test binaries and the stand-in service they
# start): stop at the first finding with a stack, and suppress only third-party noise.
vorlik_sanitizer_env() {
  local supp="$VORLIK_ROOT/scripts/sanitizers"
  export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:halt_on_error=1:detect_stack_use_after_return=1:strict_string_checks=1:check_initialization_order=1:symbolize=1"
  export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:suppressions=$supp/ubsan.supp"
  export LSAN_OPTIONS="suppressions=$supp/lsan.supp:print_suppressions=0"
}

# vorlik_package BUILD_DIR: the Debian package of a built BUILD_DIR (cmake/VorlikPackage.cmake),
# made with CPack into BUILD_DIR/package; prints the package's path.
vorlik_package() {
  local dir=$1 output deb
  if ! output=$(cd "$dir" && cpack --config CPackConfig.cmake 2>&1); then
    echo "$output" >&2
    return 1
  fi
  # "CPack: - package: /…/vorlik-desktop_1.2.24-27_amd64.deb generated."
  deb=$(sed -n 's/^CPack: - package: \(.*\.deb\) generated\.$/\1/p' <<<"$output")
  if [ -z "$deb" ] || [ ! -f "$deb" ]; then
    echo "$output" >&2
    return 1
  fi
  echo "$deb"
}
