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

# The data service the window asks for similar matches, as scripts/run and
# scripts/screenshot start it: unless something answers on its port, its
# database is brought up to date with the sample site's finished matches and
# it is started in the background. Sets SERVICE_PID when it started one (the
# caller decides whether it outlives the script). CHENGLAN_SERVICE_DB names
# another database file.
SERVICE_PID=""
start_data_service() {
  local port service db log
  port="$(cache_value CHENGLAN_SERVICE_PORT 18081)"
  service="$BUILD/server/dataservice/chenglan-service"
  db="${CHENGLAN_SERVICE_DB:-$BUILD/chenglan-service.db}"
  log="$BUILD/chenglan-service.log"
  service_answers "$port" && return 0
  if [ ! -x "$service" ]; then
    echo "the data service is not running on port $port and $service is not built" >&2
    return 1
  fi
  fill_service_database "$db" || return 1
  nohup "$service" serve --db "$db" --port "$port" >"$log" 2>&1 &
  SERVICE_PID=$!
  for _ in $(seq 100); do
    service_answers "$port" && return 0
    kill -0 "$SERVICE_PID" 2>/dev/null || break
    sleep 0.1
  done
  echo "the data service did not start on port $port; see $log" >&2
  SERVICE_PID=""
  return 1
}

service_answers() {
  [ "$(curl -sg -o /dev/null -m 2 -w '%{http_code}' "http://127.0.0.1:$1/link(0).txt")" != "000" ]
}

# Brings the service's database up to date with the sample site's finished
# matches: the site's export, imported (re-importing changes nothing that is
# already stored).
fill_service_database() {
  local db="$1" site="$BUILD/server/samplesite/chenglan-sample-site" csv
  csv="$(dirname "$db")/sample-site-export.csv"
  if [ ! -x "$site" ]; then
    echo "$site is not built: the data service starts without the sample world's matches" >&2
    return 0
  fi
  "$site" --export-csv "$csv" >/dev/null &&
    "$BUILD/server/dataservice/chenglan-service" import --db "$db" "$csv" 2>"$db.import.log" ||
    { echo "could not fill $db from the sample site's export; see $db.import.log" >&2; return 1; }
}
