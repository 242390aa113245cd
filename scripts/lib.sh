# Shared by the scripts: the package list and an install that runs only when
# something is missing, so a second run is fast.
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${CHENGLAN_BUILD_DIR:-$ROOT/build}"
JOBS="${CHENGLAN_JOBS:-2}"

PACKAGES=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-declarative-dev libqt6sql6-sqlite libgl-dev
  libqt6sql6-psql postgresql
  libxml2-dev zlib1g-dev libcpp-httplib-dev prometheus-cpp-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  fonts-noto-cjk xvfb xauth x11-utils imagemagick
  clang libclang-rt-14-dev clang-format
  sqlite3 curl procps python3
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

# Configures DIR once, then builds it. Cache settings given after DIR are
# applied to an existing build folder too.
configure_and_build() {
  local dir="$1"; shift
  if [ ! -f "$dir/build.ninja" ]; then
    # ccache, where a developer installed it, lets several work trees of the
    # same sources share their object files; CI builds without it.
    local launcher=()
    command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    cmake -S "$ROOT" -B "$dir" -G Ninja "${launcher[@]}" "$@" >/dev/null
  elif [ $# -gt 0 ]; then
    cmake -S "$ROOT" -B "$dir" "$@" >/dev/null
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
# already answers at the URL; waits up to 10 s for it to answer. STARTED_PID
# is the process it started, empty when something was already answering.
STARTED_PID=""
start_unless_answering() {
  local url="$1"; shift
  STARTED_PID=""
  if curl -s -o /dev/null --max-time 2 "$url"; then
    return 0
  fi
  local log="$BUILD/$(basename "$1").log"
  nohup "$@" >"$log" 2>&1 &
  STARTED_PID=$!
  for _ in $(seq 50); do
    curl -s -o /dev/null --max-time 1 "$url" && return 0
    sleep 0.2
  done
  echo "$(basename "$1") did not start; see $log" >&2
  return 1
}

# The data service's database of the sample world, kept in the build folder
# (never committed). CHENGLAN_SAMPLE_MATCHES sets how many of the newest
# finished matches the first run analyses.
SAMPLE_DATA="$BUILD/sample-data"
SAMPLE_DB="$SAMPLE_DATA/chenglan-service.db"
SAMPLE_MATCHES="${CHENGLAN_SAMPLE_MATCHES:-2000}"

# Builds the sample database once: the sample site's export imported (the
# facts of every finished match), then the newest finished matches analysed
# by the client's own analysis against the running sample site (their
# strength profiles, which the similar-match query needs). The work goes into
# a ".part" file that is renamed when complete, so an interrupted run is
# resumed next time and never taken for a finished database.
# PREPARED_SITE_PID is the sample site it started for that, if any; it is
# left running (scripts/run uses it), and scripts/screenshot ends it.
PREPARED_SITE_PID=""
prepare_sample_database() {
  [ -f "$SAMPLE_DB" ] && return 0
  local service="$BUILD/server/dataservice/chenglan-service"
  local site="$BUILD/server/samplesite/chenglan-sample-site"
  local site_port; site_port="$(cache_value CHENGLAN_SAMPLE_PORT 18080)"
  local base="http://127.0.0.1:$site_port"
  local part="$SAMPLE_DB.part" csv="$SAMPLE_DATA/sample-world.csv"
  local started=$SECONDS
  echo "preparing the similar-match database of the sample world (first run only)" >&2
  mkdir -p "$SAMPLE_DATA"
  start_unless_answering "$base/" "$site" --port "$site_port" || return 1
  PREPARED_SITE_PID="$STARTED_PID"
  "$site" --export-csv "$csv" || return 1
  "$service" import --db "$part" "$csv" || return 1
  # The days of the newest finished matches (the export is oldest first).
  local days from to
  days="$(awk -F, -v want="$SAMPLE_MATCHES" '
    { sub(/\r$/, "") }
    NR == 1 { for (i = 1; i <= NF; i++) if ($i == "kickoff") k = i; next }
    k { day[++n] = substr($k, 1, 10) }
    END { if (n) { f = n - want + 1; if (f < 1) f = 1; print day[f], day[n] } }' "$csv")"
  if [ -z "$days" ]; then
    echo "the sample site exported no finished match" >&2
    return 1
  fi
  read -r from to <<<"$days"
  "$service" ingest --db "$part" --from "$from" --to "$to" --only-new \
    --odds-site "$base/odds/" --analysis-site "$base/zq/" --detail-site "$base/vip/" || return 1
  # The main file last: once it is there, the database is complete.
  local ext
  for ext in -wal -shm; do
    [ -f "$part$ext" ] && mv -f "$part$ext" "$SAMPLE_DB$ext"
  done
  mv -f "$part" "$SAMPLE_DB"
  echo "sample database ready in $((SECONDS - started)) s: $SAMPLE_DB" >&2
}

# The data service the window asks for similar matches, as scripts/run and
# scripts/screenshot start it: unless something answers on its port, the
# sample database is prepared when missing and the service is started in the
# background over it. Sets SERVICE_PID when it started one (the caller decides
# whether it outlives the script).
SERVICE_PID=""
start_data_service() {
  local port service log
  port="$(cache_value CHENGLAN_SERVICE_PORT 18081)"
  service="$BUILD/server/dataservice/chenglan-service"
  log="$BUILD/chenglan-service.log"
  service_answers "$port" && return 0
  if [ ! -x "$service" ]; then
    echo "the data service is not running on port $port and $service is not built" >&2
    return 1
  fi
  prepare_sample_database || return 1
  nohup "$service" serve --db "$SAMPLE_DB" --port "$port" >"$log" 2>&1 &
  SERVICE_PID=$!
  for _ in $(seq 300); do
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

# A scratch PostgreSQL server for benchmarks: Debian's server programs, a
# cluster made by initdb in DIR (owned by user postgres when run as root, as
# initdb refuses root), listening on 127.0.0.1 on a free port, trust
# authentication, its socket in DIR. Sets PG_ADDRESS to a fresh database's
# postgresql:// address; stop it with stop_scratch_postgres DIR.
start_scratch_postgres() {
  local dir="$1" bin port run=()
  bin="$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1)"
  if [ -z "$bin" ] || [ ! -x "$bin/initdb" ]; then
    echo "no PostgreSQL server programs (Debian package postgresql)" >&2
    return 1
  fi
  mkdir -p "$dir"
  if [ "$(id -u)" -eq 0 ]; then
    chown postgres: "$dir"
    run=(runuser -u postgres --)
  fi
  # A port nothing answers on, from the range the kernel does not hand out.
  for _ in $(seq 50); do
    port=$((20000 + RANDOM % 12000))
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || break
  done
  "${run[@]}" "$bin/initdb" -D "$dir/data" -U postgres --auth=trust -E UTF8 --locale=C --no-sync >"$dir/initdb.log" 2>&1 || {
    echo "initdb failed (see $dir/initdb.log)" >&2; return 1; }
  "${run[@]}" "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 30 \
    -o "-c listen_addresses=127.0.0.1 -p $port -k $dir -c fsync=off -c synchronous_commit=off" start >/dev/null || {
    echo "the PostgreSQL server did not start (see $dir/server.log)" >&2; return 1; }
  "${run[@]}" "$bin/createdb" -h 127.0.0.1 -p "$port" -U postgres chenglan
  PG_ADDRESS="postgresql://postgres@127.0.0.1:$port/chenglan"
}

stop_scratch_postgres() {
  local dir="$1" bin run=()
  [ -d "$dir/data" ] || return 0
  bin="$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1)"
  [ "$(id -u)" -eq 0 ] && run=(runuser -u postgres --)
  "${run[@]}" "$bin/pg_ctl" -D "$dir/data" -m fast -w stop >/dev/null 2>&1 || true
  rm -rf "$dir"
}
