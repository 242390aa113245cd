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

# A CMake cache value of the build, or the given default.
cache_value() {
  local value
  value="$(sed -n "s/^$1:[A-Z]*=//p" "$BUILD/CMakeCache.txt" 2>/dev/null | head -n1)"
  echo "${value:-$2}"
}

# Starts a server program of the build in the background unless something
# already answers at the URL; waits up to 10 s for it to answer.
start_unless_answering() {
  local url="$1"; shift
  if curl -s -o /dev/null --max-time 2 "$url"; then
    return 0
  fi
  local log="$BUILD/$(basename "$1").log"
  nohup "$@" >"$log" 2>&1 &
  for _ in $(seq 50); do
    curl -s -o /dev/null --max-time 1 "$url" && return 0
    sleep 0.2
  done
  echo "$(basename "$1") did not start; see $log" >&2
  return 1
}
