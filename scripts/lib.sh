# Shared by the scripts: the package list and an install that runs only when
# something is missing, so a second run is fast.
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${CHENGLAN_BUILD_DIR:-$ROOT/build}"
JOBS="${CHENGLAN_JOBS:-2}"

PACKAGES=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-declarative-dev libqt6sql6-sqlite libgl-dev
  libxml2-dev libcpp-httplib-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  fonts-noto-cjk xvfb xauth x11-utils imagemagick
  clang libclang-rt-14-dev
  sqlite3 curl procps
)

# Installs the named packages that are missing; without names, PACKAGES.
ensure_packages() {
  local wanted=("$@")
  [ ${#wanted[@]} -eq 0 ] && wanted=("${PACKAGES[@]}")
  local missing=()
  for p in "${wanted[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}" >&2
    local sudo=""; [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  fi
}

configure_and_build() {
  local dir="$1"; shift
  if [ ! -f "$dir/build.ninja" ]; then
    cmake -S "$ROOT" -B "$dir" -G Ninja "$@" >/dev/null
  fi
  cmake --build "$dir" -j "$JOBS"
}
