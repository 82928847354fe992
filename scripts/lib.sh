# Shared by scripts/run and scripts/test: install what is missing, configure and build.
# shellcheck shell=bash
VORLIK_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

vorlik_sudo() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# Installs the packages of scripts/packages.txt that are not installed yet; does nothing
# (and needs no network) when everything is there.
vorlik_install_deps() {
  local wanted missing=()
  mapfile -t wanted < <(grep -vE '^\s*(#|$)' "$VORLIK_ROOT/scripts/packages.txt")
  for pkg in "${wanted[@]}"; do
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
