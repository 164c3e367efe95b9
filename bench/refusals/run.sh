#!/usr/bin/env bash
# Times corvel appending a worksheet (mode 3) into a table that refuses some of its rows, against the
# same append into a table that refuses none, in the same run on the same server, and prints the
# ratios. Refusals come from a primary key the table already holds for every 100th (1%) or every
# 5th (20%) row, and from a CHECK constraint that refuses the same rows. Every run is checked: the
# rows reported refused ("record #N" lines) and the rows in the table must be exactly the expected.
# The trigger case appends into a table with a BEFORE row trigger taking a sequence value, an AFTER
# row trigger logging the row and an AFTER statement trigger logging its firing, refusing 6% of the
# rows by a foreign key (every 100th row, every 5th over a stretch of a fifth of the rows, and a
# burst of a hundredth of them in a row; the screen cannot foresee a foreign key's refusal, the
# server-side pass guesses it), against the same table refusing none; it prints the sequence
# values taken and the statement trigger's firings, and checks that the AFTER row trigger logged
# exactly the rows stored.
#
#   bench/refusals/run.sh [--smoke] [--rows=N] [--repeat=K] [--large] [--build=DIR]
#                         [--corvel=PROGRAM] [--generator=PROGRAM] [--work=DIR] [--keep]
#
# --rows (default 100,000) sizes the timed worksheet; each case runs --repeat times (default 3) and
# its median wall time counts, printed with the median CPU seconds of corvel and of the server's
# session (its postmaster's reaped children; "-" when the server's data folder is not readable
# here). Ratios of wall times drift with the machine's load; CPU seconds less so. --large adds
# the case of 1,000,000 rows of which 200,000 are refused (key), once, against its clean run. Server: the one PGHOST/PGPORT (with PGUSER/PGPASSWORD) name;
# without them a throwaway PostgreSQL 15 cluster with default settings (pg_virtualenv, port 54352).
# corvel and the generator are built into DIR (default build/bench) unless given.
# --smoke: 3,000 rows, each case once, no goals; exits 77 (skipped) when no server is named.
# Exit status: 0 when every run reported and kept exactly the expected rows, 1 otherwise, 2 on a
# usage error. The goals (1% at most 1.5 times the clean time, 20% at most 4 times, the trigger case
# at most 5 times its clean append) are printed as met or MISSED; they do not change the status.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
smoke=0 keep=0 large=0 rows=100000 repeat=3 build=$root/build/bench corvel='' generator='' work=''
for arg in "$@"; do
  case $arg in
    --smoke) smoke=1 rows=3000 repeat=1 ;;
    --large) large=1 ;;
    --keep) keep=1 ;;
    --rows=*) rows=${arg#*=} ;;
    --repeat=*) repeat=${arg#*=} ;;
    --build=*) build=${arg#*=} ;;
    --corvel=*) corvel=${arg#*=} ;;
    --generator=*) generator=${arg#*=} ;;
    --work=*) work=${arg#*=} ;;
    -h | --help) sed -n '2,27p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "run.sh: unknown argument $arg" >&2; exit 2 ;;
  esac
done
case $rows$repeat in *[!0-9]*) echo "run.sh: --rows and --repeat take numbers" >&2; exit 2 ;; esac
[ "$rows" -ge 100 ] && [ "$repeat" -ge 1 ] || { echo "run.sh: --rows at least 100, --repeat at least 1" >&2; exit 2; }

say() { printf '%s\n' "$*"; }
die() { printf 'run.sh: %s\n' "$*" >&2; exit 1; }

if [ -z "${PGHOST:-}" ] && [ -z "${PGPORT:-}" ]; then
  if [ $smoke = 1 ]; then
    say "SKIP: no server (PGHOST/PGPORT unset)"
    exit 77
  fi
  exec pg_virtualenv -t -v 15 -c '-p 54352' "$0" "$@"
fi

if [ -z "$work" ]; then
  work=$(mktemp -d "${TMPDIR:-/tmp}/refusals-bench.XXXXXX") || die "no temporary folder"
  [ $keep = 1 ] || trap 'cleanup; rm -rf "$work"' EXIT
else
  mkdir -p "$work" || die "cannot make $work"
  trap cleanup EXIT
fi
db=tmd_refusals_$$
psql_db() { PGOPTIONS='-c client_min_messages=warning' psql -X -q -At -v ON_ERROR_STOP=1 -d "$1" -c "$2"; }
cleanup() { [ $keep = 1 ] || psql_db postgres "DROP DATABASE IF EXISTS \"$db\"" >/dev/null 2>&1; }
psql_db postgres 'SELECT 1' >/dev/null || die "cannot reach the server (PGHOST=${PGHOST:-} PGPORT=${PGPORT:-})"

if [ -z "$corvel" ] || [ -z "$generator" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAMARIND_WIZARD=OFF >/dev/null ||
    die "cmake configure failed"
  cmake --build "$build" --target corvel corvel_bench_generate -j4 >"$work/build.log" 2>&1 ||
    { tail -20 "$work/build.log"; die "corvel or the generator does not build"; }
  [ -n "$corvel" ] || corvel=$build/src/agent/corvel
  [ -n "$generator" ] || generator=$build/bench/corvel/corvel_bench_generate
fi
[ -x "$corvel" ] || die "no corvel at $corvel"
[ -x "$generator" ] || die "no generator at $generator"

connection=(--pgport="${PGPORT:-5432}")
[ -n "${PGHOST:-}" ] && connection+=(--host="$PGHOST")
[ -n "${PGUSER:-}" ] && connection+=(--user="$PGUSER")
[ -n "${PGPASSWORD:-}" ] && connection+=(--pswd="$PGPASSWORD")

generate() {  # generate ROWS: the workbook keyed_ROWS.xlsx (worksheet Keyed, key column id = 1..ROWS)
  [ -s "$work/keyed_$1.xlsx" ] && return
  mkdir -p "$work/keyed_$1"
  "$generator" --shape=keyed --rows="$1" --xlsx="$work/keyed_$1.xlsx" --csv-dir="$work/keyed_$1" >/dev/null ||
    die "generating $1 rows failed"
}

# prepare ROWS KIND EVERY: a fresh database whose table keyed refuses every EVERY-th row by KIND
# (key: the key is there already; check: a CHECK constraint), or none (KIND clean).
prepare() {
  local rows=$1 kind=$2 every=$3
  psql_db postgres "DROP DATABASE IF EXISTS \"$db\"" >/dev/null && psql_db postgres "CREATE DATABASE \"$db\"" >/dev/null ||
    die "cannot make the database"
  # Numbers are typed as corvel types a number column (a bigint column refuses 100000 today: the
  # number is sent as 1e+05).
  psql_db "$db" 'CREATE TABLE keyed (id double precision PRIMARY KEY, num double precision,
                 amount double precision, day date, label text, flag boolean)' || die "cannot make the table"
  case $kind in
    key) psql_db "$db" "INSERT INTO keyed (id) SELECT g FROM generate_series($every, $rows, $every) g" ;;
    check) psql_db "$db" "ALTER TABLE keyed ADD CHECK (id::bigint % $every <> 0)" ;;
    trigger | trigger_clean)
      local kept=true
      [ "$kind" = trigger ] && kept="NOT (g % 100 = 0 OR (g > $rows * 6 / 10 AND g <= $rows * 8 / 10 AND g % 5 = 0)
                                      OR (g > $rows * 9 / 10 AND g <= $rows * 91 / 100))"
      psql_db "$db" "CREATE TABLE parent (id double precision PRIMARY KEY);
        INSERT INTO parent SELECT g FROM generate_series(1, $rows) g WHERE $kept;
        ALTER TABLE keyed ADD FOREIGN KEY (id) REFERENCES parent" || die "cannot make the foreign key" ;;
  esac
  case $kind in
    trigger | trigger_clean)
      psql_db "$db" "CREATE SEQUENCE taken; CREATE TABLE row_log (id double precision);
        CREATE TABLE statement_log (at timestamptz DEFAULT clock_timestamp());
        ALTER TABLE keyed ADD COLUMN serial bigint;
        CREATE FUNCTION take() RETURNS trigger LANGUAGE plpgsql AS
          'BEGIN NEW.serial := nextval(''taken''); RETURN NEW; END';
        CREATE FUNCTION log_row() RETURNS trigger LANGUAGE plpgsql AS
          'BEGIN INSERT INTO row_log VALUES (NEW.id); RETURN NULL; END';
        CREATE FUNCTION log_statement() RETURNS trigger LANGUAGE plpgsql AS
          'BEGIN INSERT INTO statement_log DEFAULT VALUES; RETURN NULL; END';
        CREATE TRIGGER take BEFORE INSERT ON keyed FOR EACH ROW EXECUTE FUNCTION take();
        CREATE TRIGGER log_row AFTER INSERT ON keyed FOR EACH ROW EXECUTE FUNCTION log_row();
        CREATE TRIGGER log_statement AFTER INSERT ON keyed FOR EACH STATEMENT EXECUTE FUNCTION log_statement()" ||
        die "cannot make the triggers" ;;
  esac
  psql_db "$db" 'VACUUM ANALYZE keyed' >/dev/null 2>&1
}

failures=0
# run_case NAME ROWS KIND EVERY: runs corvel once into a prepared table; appends the wall time to
# $work/NAME.times and checks what was reported and stored.
run_case() {
  local name=$1 rows=$2 kind=$3 every=$4 refused=0 start end status reported stored expected logged
  prepare "$rows" "$kind" "$every"
  case $kind in
    clean | trigger_clean) ;;
    trigger) refused=$((rows - $(psql_db "$db" "SELECT count(*) FROM parent"))) ;;
    *) refused=$((rows / every)) ;;
  esac
  server_before=$(server_cpu)
  start=$(date +%s.%N)
  /usr/bin/time -f '%U %S' -o "$work/$name.cpu1" \
    "$corvel" --src="$work/keyed_$rows.xlsx" --dest="$db" --extr_fn --mode=3 "${connection[@]}" >"$work/$name.out" 2>&1
  status=$?
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f\n", b - a }' >>"$work/$name.times"
  awk '{ printf "%.2f\n", $1 + $2 }' "$work/$name.cpu1" >>"$work/$name.cpu"
  sleep 0.2  # the server reaps the session's process
  server_after=$(server_cpu)
  awk -v a="$server_before" -v b="$server_after" 'BEGIN { if (a == "" || b == "") print "-"; else printf "%.2f\n", b - a }' >>"$work/$name.scpu"
  reported=$(grep -c '^Keyed, record #' "$work/$name.out")
  stored=$(psql_db "$db" "SELECT count(*) FROM keyed WHERE num IS NOT NULL")
  expected=$((rows - refused))
  logged=$stored
  case $kind in
    trigger | trigger_clean)
      logged=$(psql_db "$db" "SELECT count(*) FROM row_log")
      psql_db "$db" "SELECT (SELECT last_value FROM taken), (SELECT count(*) FROM statement_log)" |
        tr '|' ' ' >>"$work/$name.fired" ;;
  esac
  if [ "$reported" != "$refused" ] || [ "$stored" != "$expected" ] || [ "$logged" != "$stored" ] ||
    { [ $refused = 0 ] && [ $status != 0 ]; } ||
    { [ $refused != 0 ] && [ $status != 1 ]; }; then
    failures=$((failures + 1))
    say "  $name: WRONG: status $status, $reported rows reported refused (expected $refused), $stored stored" \
      "(expected $expected), $logged logged by the AFTER row trigger"
    head -5 "$work/$name.out" | sed 's/^/    /'
  fi
}

# The CPU seconds of the server's ended sessions (its postmaster's reaped children), when the server
# runs on this machine and its data folder is readable; empty otherwise.
postmaster=''
data_dir=$(psql_db postgres 'SHOW data_directory' 2>/dev/null) && [ -r "$data_dir/postmaster.pid" ] &&
  postmaster=$(head -1 "$data_dir/postmaster.pid")
server_cpu() {
  [ -n "$postmaster" ] && [ -r "/proc/$postmaster/stat" ] || return 0
  sed 's/.*) //' "/proc/$postmaster/stat" | awk -v hz="$(getconf CLK_TCK)" '{ printf "%.2f\n", ($14 + $15) / hz }'
}

# median NAME [times|cpu|scpu]: the median wall seconds, corvel's CPU seconds or the server's.
median() {
  sort -n "$work/$1.${2:-times}" |
    awk '$1 == "-" { none = 1 } { v[NR] = $1 } END { print none ? "-" : (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }

say "refused-row benchmark: $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, server $(psql_db postgres 'SHOW server_version')" \
  "(max_locks_per_transaction $(psql_db postgres 'SHOW max_locks_per_transaction')), load average $(cut -d ' ' -f 1-3 /proc/loadavg)"
say "corvel: $corvel"
generate "$rows"
cases=("clean clean 1" "key_1pct key 100" "key_20pct key 5" "check_1pct check 100" "check_20pct check 5"
  "trigger_clean trigger_clean 1" "trigger_6pct trigger 1")
for ((r = 1; r <= repeat; r++)); do
  for c in "${cases[@]}"; do
    set -- $c
    run_case "$1" "$rows" "$2" "$3"
  done
done

clean=$(median clean)
say ""
say "$rows rows, mode 3 into a table with a primary key; median of $repeat run(s):"
say "| case | refused rows | seconds | ratio to clean | corvel CPU s | server CPU s |"
say "|---|---|---|---|---|---|"
for c in "${cases[@]}"; do
  set -- $c
  case $2 in
    clean | trigger_clean) refused=0 ;;
    trigger) refused=$(grep -c '^Keyed, record #' "$work/$1.out") ;;
    *) refused=$((rows / $3)) ;;
  esac
  say "| $1 | $refused | $(median "$1") | $(ratio "$(median "$1")" "$clean") | $(median "$1" cpu) | $(median "$1" scpu) |"
done
trigger_ratio=$(ratio "$(median trigger_6pct)" "$(median trigger_clean)")
say ""
say "With triggers: 6% refused / clean with the same triggers: $trigger_ratio; last run, sequence values" \
  "taken and statement trigger firings: clean $(tail -1 "$work/trigger_clean.fired"), 6% refused" \
  "$(tail -1 "$work/trigger_6pct.fired") (the rows: $rows)"

if [ $large = 1 ]; then
  generate 1000000
  run_case large_clean 1000000 clean 1
  run_case large_key_20pct 1000000 key 5
  say "| 1,000,000 rows, clean | 0 | $(median large_clean) | 1.00 | $(median large_clean cpu) | $(median large_clean scpu) |"
  say "| 1,000,000 rows, key 20% | 200000 | $(median large_key_20pct) | $(ratio "$(median large_key_20pct)" "$(median large_clean)") |" \
    "$(median large_key_20pct cpu) | $(median large_key_20pct scpu) |"
fi

if [ $smoke = 0 ]; then
  say ""
  say "Goals:"
  for c in key_1pct:1.5:clean check_1pct:1.5:clean key_20pct:4:clean check_20pct:4:clean trigger_6pct:5:trigger_clean; do
    IFS=: read -r name limit base <<<"$c"
    value=$(ratio "$(median "$name")" "$(median "$base")")
    say "  $name / $base: $value (goal <= $limit) $(awk -v v="$value" -v l="$limit" 'BEGIN { print (v + 0 <= l + 0) ? "met" : "MISSED" }')"
  done
fi

if [ $failures -gt 0 ]; then
  say "FAILED: $failures run(s) reported or stored other rows than expected"
  exit 1
fi
exit 0
