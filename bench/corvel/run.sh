#!/usr/bin/env bash
# Times corvel against `ogr2ogr -f PostgreSQL` and against psql's \copy of the same data as CSV (the
# COPY ceiling), on one machine and one server, and checks that corvel's tables hold exactly the
# generated values. Per data shape it prints wall seconds, CPU seconds and peak memory of each tool,
# and the ratios corvel/ogr2ogr and corvel/\copy.
#
#   bench/corvel/run.sh [--smoke] [--repeat=K] [--build=DIR] [--corvel=PROGRAM] [--generator=PROGRAM]
#                       [--work=DIR] [--keep]
#
# corvel and \copy run --repeat times per shape (default 3; the \copy tables are emptied between
# runs, outside the timing) and the run of median wall time counts; ogr2ogr runs once. Wall time is
# taken to the millisecond.
# Server: the one PGHOST/PGPORT (with PGUSER/PGPASSWORD) name; without them a throwaway PostgreSQL 15
# cluster (pg_virtualenv, port 54350). The full run installs what only it needs (gdal-bin,
# python3-xlwt, time) and builds corvel and the generator into DIR (default build/bench).
#
# --smoke: a few thousand rows and the committed .xls of tests/fixtures/bench; installs nothing,
# leaves out ogr2ogr when it is missing, and exits 77 (skipped) when no server is named.
# Exit status: 0 when every tool ran and corvel's tables match, 1 otherwise, 2 on a usage error.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
smoke=0 keep=0 repeat=3 build=$root/build/bench corvel='' generator='' work=''
for arg in "$@"; do
  case $arg in
    --smoke) smoke=1 repeat=1 ;;
    --repeat=*) repeat=${arg#*=} ;;
    --keep) keep=1 ;;
    --build=*) build=${arg#*=} ;;
    --corvel=*) corvel=${arg#*=} ;;
    --generator=*) generator=${arg#*=} ;;
    --work=*) work=${arg#*=} ;;
    -h | --help) sed -n '2,21p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "run.sh: unknown argument $arg" >&2; exit 2 ;;
  esac
done
case $repeat in '' | *[!0-9]* | 0) echo "run.sh: --repeat takes a number of at least 1" >&2; exit 2 ;; esac

say() { printf '%s\n' "$*"; }
die() { printf 'run.sh: %s\n' "$*" >&2; exit 1; }

install_packages() {
  local missing=()
  command -v ogr2ogr >/dev/null 2>&1 || missing+=(gdal-bin)
  /usr/bin/python3 -c 'import xlwt' >/dev/null 2>&1 || missing+=(python3-xlwt)
  [ -x /usr/bin/time ] || missing+=(time)
  [ ${#missing[@]} -eq 0 ] && return
  say "installing ${missing[*]}"
  local sudo=()
  [ "$(id -u)" = 0 ] || sudo=(sudo -n)
  "${sudo[@]}" apt-get install -y "${missing[@]}" >/dev/null ||
    { "${sudo[@]}" apt-get update >/dev/null && "${sudo[@]}" apt-get install -y "${missing[@]}" >/dev/null; } ||
    die "could not install ${missing[*]}"
}

# Without a named server: the smoke run is skipped, the full run makes its own cluster and runs
# again inside it (pg_virtualenv exports PGHOST, PGPORT, PGUSER and PGPASSWORD).
if [ -z "${PGHOST:-}" ] && [ -z "${PGPORT:-}" ]; then
  if [ $smoke = 1 ]; then
    say "SKIP: no server (PGHOST/PGPORT unset)"
    exit 77
  fi
  install_packages
  exec pg_virtualenv -t -v 15 -c '-p 54350' "$0" "$@"
fi
[ $smoke = 1 ] || install_packages

if [ -z "$work" ]; then
  work=$(mktemp -d "${TMPDIR:-/tmp}/corvel-bench.XXXXXX") || die "no temporary folder"
  [ $keep = 1 ] || trap 'cleanup; rm -rf "$work"' EXIT
else
  mkdir -p "$work" || die "cannot make $work"
  trap cleanup EXIT
fi

# Databases of this run: one per tool, remade for every shape.
db_corvel=tmd_bench_$$_corvel db_ogr=tmd_bench_$$_ogr db_copy=tmd_bench_$$_copy
psql_admin() { psql -X -q -v ON_ERROR_STOP=1 -d postgres "$@"; }
drop_databases() {
  local db
  for db in "$db_corvel" "$db_ogr" "$db_copy"; do
    psql_admin -c "DROP DATABASE IF EXISTS \"$db\"" >/dev/null 2>&1
  done
}
cleanup() { [ $keep = 1 ] || drop_databases; }

psql_admin -Atc 'SELECT 1' >/dev/null || die "cannot reach the server (PGHOST=${PGHOST:-} PGPORT=${PGPORT:-})"

# Programs: given, or built here.
if [ -z "$corvel" ] || [ -z "$generator" ]; then
  cmake -S "$root" -B "$build" >/dev/null || die "cmake configure failed"
  cmake --build "$build" --target corvel -j4 >"$work/build.log" 2>&1 ||
    { tail -20 "$work/build.log"; die "corvel does not build"; }
  [ -n "$corvel" ] || corvel=$build/src/agent/corvel
  if [ -z "$generator" ]; then
    generator=$build/bench/corvel/corvel_bench_generate
    if ! cmake --build "$build" --target corvel_bench_generate -j4 >>"$work/build.log" 2>&1; then
      # The folder is not part of the build tree yet: compile the one file directly.
      generator=$work/corvel_bench_generate
      c++ -std=c++20 -O2 "$here/corvel_bench_generate.cpp" $(pkg-config --cflags --libs xlsxwriter) \
        -o "$generator" || die "the generator does not build (libxlsxwriter-dev?)"
    fi
  fi
fi
[ -x "$corvel" ] || die "no corvel at $corvel"
[ -x "$generator" ] || die "no generator at $generator"

have_ogr=0
command -v ogr2ogr >/dev/null 2>&1 && have_ogr=1
[ $have_ogr = 1 ] || say "note: ogr2ogr is not installed; its column is left out"
have_time=0
[ -x /usr/bin/time ] && have_time=1

# measure RESULT COMMAND...: runs the command (output to RESULT.log) and writes
# "wall_seconds cpu_seconds peak_kb" to RESULT; returns the command's status.
measure() {
  local result=$1 rc start end
  shift
  start=$(date +%s.%N)
  if [ $have_time = 1 ]; then
    /usr/bin/time -f '%e %U %S %M' -o "$result.time" "$@" >"$result.log" 2>&1
    rc=$?
    end=$(date +%s.%N)
    # time writes "Command exited with non-zero status N" first when the command fails.
    tail -n 1 "$result.time" | awk -v a="$start" -v b="$end" '{ printf "%.3f %.2f %s\n", b - a, $2 + $3, $4 }' >"$result"
  else
    "$@" >"$result.log" 2>&1
    rc=$?
    end=$(date +%s.%N)
    awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f 0 0\n", b - a }' >"$result"
  fi
  return $rc
}

# measure_median RESULT PREPARE COMMAND...: runs COMMAND $repeat times, the shell command PREPARE
# before every run but the first (outside the timing), and keeps the run of median wall time in
# RESULT (and its output in RESULT.log). Fails at the first run that fails, with that run's output.
measure_median() {
  local result=$1 prepare=$2 i
  shift 2
  for ((i = 1; i <= repeat; i++)); do
    if [ $i -gt 1 ] && [ -n "$prepare" ]; then eval "$prepare" || return 1; fi
    if ! measure "$result.$i" "$@"; then
      cp "$result.$i.log" "$result.log"
      return 1
    fi
  done
  i=$(for ((k = 1; k <= repeat; k++)); do printf '%s %s\n' "$(cut -d ' ' -f 1 "$result.$k")" "$k"; done |
    sort -n | awk '{ run[NR] = $2 } END { print run[int((NR + 1) / 2)] }')
  cp "$result.$i" "$result"
  cp "$result.$i.log" "$result.log"
}

corvel_connection=(--pgport="${PGPORT:-5432}")
[ -n "${PGHOST:-}" ] && corvel_connection+=(--host="$PGHOST")
[ -n "${PGUSER:-}" ] && corvel_connection+=(--user="$PGUSER")
[ -n "${PGPASSWORD:-}" ] && corvel_connection+=(--pswd="$PGPASSWORD")

# fingerprint DB TABLE [COLUMNS]: an order-independent fingerprint of a table (or of the given
# column expressions): row count and the md5 of its sorted row md5s. TABLE is SQL, quoted as needed.
fingerprint() {
  local row=t
  [ -n "${3:-}" ] && row="row($3)"
  psql -X -At -v ON_ERROR_STOP=1 -d "$1" -c \
    "SELECT count(*) || ' ' || coalesce(md5(string_agg(md5($row::text), '' ORDER BY md5($row::text))), '-')
       FROM $2 t" 2>&1
}

show_difference() {
  local table=$1 a=$work/diff_corvel.txt b=$work/diff_copy.txt
  local query="COPY (SELECT * FROM \"$table\" t ORDER BY t::text COLLATE \"C\") TO STDOUT"
  psql -X -q -d "$db_corvel" -c "$query" >"$a" 2>&1
  psql -X -q -d "$db_copy" -c "$query" >"$b" 2>&1
  say "    first differences (< corvel, > CSV loaded by \\copy):"
  diff "$a" "$b" | head -n 8 | cut -c 1-200 | sed 's/^/    /'
}

tool_title() { case $1 in corvel) echo corvel ;; ogr) echo ogr2ogr ;; copy) echo '\copy' ;; esac; }
# cell SHAPE TOOL: "seconds s, MB MB" for the summary table.
cell() {
  if [ -s "$work/$1.$2" ]; then awk '{ printf "%.2f s, %.0f MB", $1, $3 / 1024 }' "$work/$1.$2"; else echo "-"; fi
}

summary=()      # one Markdown row per shape
failures=0
declare -A seconds cpu peak

# run_shape NAME DESCRIPTION WORKBOOK CSV_DIR
run_shape() {
  local name=$1 what=$2 book=$3 dir=$4 table rows
  local size
  size=$(du -k "$book" | awk '{ printf "%.1f", $1 / 1024 }')
  say ""
  say "== $name: $what ($(basename "$book"), $size MB)"
  drop_databases
  local db
  for db in "$db_corvel" "$db_ogr" "$db_copy"; do
    psql_admin -c "CREATE DATABASE \"$db\"" >/dev/null || die "cannot create database $db"
  done

  # corvel into an empty database (mode 1 replaces tables only: no database is made inside the timing).
  local corvel_ok=1
  if ! measure_median "$work/$name.corvel" '' "$corvel" --src="$book" --dest="$db_corvel" --extr_fn --mode=1 \
      "${corvel_connection[@]}"; then
    corvel_ok=0
    say "  corvel FAILED:"
    tail -n 15 "$work/$name.corvel.log" | sed 's/^/    /'
  fi

  # ogr2ogr with headers forced and COPY on, into tables of the same names.
  local ogr_ok=0
  if [ $have_ogr = 1 ]; then
    local headers=(-oo HEADERS=FORCE)
    case $book in *.xls) headers=(--config OGR_XLS_HEADERS FORCE) ;; esac
    if measure "$work/$name.ogr" ogr2ogr -f PostgreSQL "PG:dbname=$db_ogr" "$book" "${headers[@]}" \
        --config PG_USE_COPY YES; then
      ogr_ok=1
    else
      say "  ogr2ogr FAILED:"
      tail -n 15 "$work/$name.ogr.log" | sed 's/^/    /'
    fi
  fi

  # \copy into the definition corvel made (or the plain one when corvel made none).
  local tables=0
  if [ $corvel_ok = 1 ] && [ "$(psql -X -At -d "$db_corvel" -c \
      "SELECT count(*) FROM pg_tables WHERE schemaname = 'public'")" -gt 0 ]; then
    pg_dump -s -O -x -d "$db_corvel" | psql -X -q -v ON_ERROR_STOP=1 -d "$db_copy" >/dev/null ||
      die "cannot copy corvel's table definitions"
  else
    psql -X -q -v ON_ERROR_STOP=1 -d "$db_copy" -f "$dir/schema.sql" >/dev/null || die "bad schema.sql"
  fi
  : >"$work/$name.copy.sql"
  local emptied=''
  while IFS=$'\t' read -r table rows; do
    printf '\\copy "%s" FROM '"'"'%s'"'"' WITH (FORMAT csv, HEADER true)\n' "$table" "$dir/$table.csv" \
      >>"$work/$name.copy.sql"
    emptied+="${emptied:+, }\"$table\""
    tables=$((tables + 1))
  done <"$dir/manifest.tsv"
  local copy_ok=1
  if ! measure_median "$work/$name.copy" "psql -X -q -v ON_ERROR_STOP=1 -d '$db_copy' -c 'TRUNCATE $emptied'" \
      psql -X -q -v ON_ERROR_STOP=1 -d "$db_copy" -f "$work/$name.copy.sql"; then
    copy_ok=0
    say "  \\copy FAILED:"
    tail -n 15 "$work/$name.copy.log" | sed 's/^/    /'
  fi

  # Values, twice: corvel's tables against the CSV loaded into the same definitions, which finds any
  # changed value, and against the CSV loaded into plain tables of the generated types, with corvel's
  # columns cast to those types, which finds a value the chosen column type altered (digits lost).
  local values="not checked" bad=0 total=0 ogr_rows=0 fc fq fo columns
  if [ $corvel_ok = 1 ] && [ $copy_ok = 1 ]; then
    psql -X -q -v ON_ERROR_STOP=1 -d "$db_copy" -c 'CREATE SCHEMA plain' >/dev/null &&
      PGOPTIONS='-c search_path=plain' psql -X -q -v ON_ERROR_STOP=1 -d "$db_copy" -f "$dir/schema.sql" >/dev/null &&
      sed 's/^\\copy "/\\copy "plain"."/' "$work/$name.copy.sql" |
        psql -X -q -v ON_ERROR_STOP=1 -d "$db_copy" >/dev/null || die "cannot load the plain tables"
    while IFS=$'\t' read -r table rows; do
      total=$((total + rows))
      fc=$(fingerprint "$db_corvel" "\"$table\"")
      fq=$(fingerprint "$db_copy" "\"$table\"")
      if [ "$fc" != "$fq" ] || [ "${fq%% *}" != "$rows" ]; then
        bad=$((bad + 1))
        if [ $bad -le 3 ]; then
          say "  MISMATCH in table $table: corvel [$fc], \\copy [$fq], generated $rows rows"
          show_difference "$table"
        fi
        continue
      fi
      columns=$(psql -X -At -d "$db_copy" -c "SELECT string_agg(format('%I::%s', attname,
        format_type(atttypid, atttypmod)), ', ' ORDER BY attnum) FROM pg_attribute
        WHERE attrelid = 'plain.\"$table\"'::regclass AND attnum > 0 AND NOT attisdropped")
      fc=$(fingerprint "$db_corvel" "\"$table\"" "$columns")
      fq=$(fingerprint "$db_copy" "plain.\"$table\"" "$columns")
      if [ "$fc" != "$fq" ]; then
        bad=$((bad + 1))
        [ $bad -le 3 ] && say "  MISMATCH in table $table as generated types ($columns): corvel [$fc], CSV [$fq]"
      fi
      if [ $ogr_ok = 1 ]; then
        fo=$(psql -X -At -d "$db_ogr" -c "SELECT count(*) FROM \"$table\"" 2>/dev/null || echo 0)
        ogr_rows=$((ogr_rows + ${fo:-0}))
      fi
    done <"$dir/manifest.tsv"
    if [ $bad = 0 ]; then
      values="match ($tables table(s), $total rows)"
    else
      values="MISMATCH in $bad of $tables table(s)"
    fi
  fi
  [ $corvel_ok = 1 ] && [ $copy_ok = 1 ] && [ $bad = 0 ] || failures=$((failures + 1))
  if [ $have_ogr = 1 ] && [ $ogr_ok = 0 ]; then failures=$((failures + 1)); fi

  # Report.
  local tool file w c m
  printf '  %-8s %9s %9s %9s\n' tool seconds cpu_s peak_MB
  for tool in corvel ogr copy; do
    file=$work/$name.$tool
    [ -s "$file" ] || continue
    read -r w c m <"$file"
    seconds[$name.$tool]=$w
    cpu[$name.$tool]=$c
    peak[$name.$tool]=$m
    printf '  %-8s %9s %9s %9.1f\n' "$(tool_title $tool)" "$w" "$c" "$(awk -v k="$m" 'BEGIN { print k / 1024 }')"
  done
  local r_ogr="-" r_ogr_cpu="-" r_ogr_mem="-" r_copy="-"
  if [ $corvel_ok = 1 ] && [ $ogr_ok = 1 ]; then
    r_ogr=$(awk -v a="${seconds[$name.corvel]}" -v b="${seconds[$name.ogr]}" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }')
    r_ogr_cpu=$(awk -v a="${cpu[$name.corvel]}" -v b="${cpu[$name.ogr]}" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }')
    r_ogr_mem=$(awk -v a="${peak[$name.corvel]}" -v b="${peak[$name.ogr]}" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }')
  fi
  if [ $corvel_ok = 1 ] && [ $copy_ok = 1 ]; then
    r_copy=$(awk -v a="${seconds[$name.corvel]}" -v b="${seconds[$name.copy]}" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }')
  fi
  say "  corvel/ogr2ogr: time $r_ogr, cpu $r_ogr_cpu, memory $r_ogr_mem   corvel/\\copy: time $r_copy"
  say "  values: $values"
  if [ $ogr_ok = 1 ] && [ $corvel_ok = 1 ] && [ $copy_ok = 1 ] && [ $bad = 0 ] && [ "$ogr_rows" != "$total" ]; then
    say "  note: ogr2ogr's tables hold $ogr_rows rows, not $total"
  fi
  if [ $corvel_ok = 1 ]; then
    say "  corvel's column types: $(psql -X -At -d "$db_corvel" -c "SELECT string_agg(DISTINCT
      format_type(atttypid, atttypmod), ', ') FROM pg_attribute a JOIN pg_class c ON c.oid = attrelid
      JOIN pg_namespace n ON n.oid = relnamespace WHERE nspname = 'public' AND relkind = 'r' AND attnum > 0
      AND NOT attisdropped")"
  fi
  summary+=("| $name | $(cell "$name" corvel) | $(cell "$name" ogr) | $(cell "$name" copy) | $r_ogr | $r_copy | ${values%% (*} |")
}

# generate NAME SHAPE ROWS [SHEETS]: a workbook and its CSV folder under the work folder.
generate() {
  local name=$1 shape=$2 rows=$3 sheets=${4:-1}
  mkdir -p "$work/$name" || die "cannot make $work/$name"
  "$generator" --shape="$shape" --rows="$rows" --sheets="$sheets" --xlsx="$work/$name.xlsx" \
    --csv-dir="$work/$name" || die "generating $name failed"
}

say "corvel benchmark: $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, server $(psql -X -At -d postgres \
  -c 'SHOW server_version') at ${PGHOST:-socket}:${PGPORT:-5432}, load average $(cut -d ' ' -f 1-3 /proc/loadavg)"
say "corvel: $corvel"
[ $have_ogr = 1 ] && say "ogr2ogr: $(ogr2ogr --version)"

if [ $smoke = 1 ]; then
  generate narrow_3k narrow 3000 && run_shape narrow_3k "3,000 rows x 5" "$work/narrow_3k.xlsx" "$work/narrow_3k"
  generate wide_300 wide 300 && run_shape wide_300 "300 rows x 60" "$work/wide_300.xlsx" "$work/wide_300"
  generate text_500 text 500 && run_shape text_500 "500 rows of long text" "$work/text_500.xlsx" "$work/text_500"
  generate sheets_5x200 narrow 200 5 &&
    run_shape sheets_5x200 "5 worksheets of 200 rows" "$work/sheets_5x200.xlsx" "$work/sheets_5x200"
  fixtures=$root/tests/fixtures/bench
  run_shape xls_small ".xls, $(cut -f 2 "$fixtures/manifest.tsv") rows x 5" "$fixtures/legacy.xls" "$fixtures"
else
  generate narrow_100k narrow 100000 &&
    run_shape narrow_100k "100,000 rows x 5" "$work/narrow_100k.xlsx" "$work/narrow_100k"
  generate narrow_1m narrow 1000000 &&
    run_shape narrow_1m "1,000,000 rows x 5" "$work/narrow_1m.xlsx" "$work/narrow_1m"
  generate wide_100k wide 100000 && run_shape wide_100k "100,000 rows x 60" "$work/wide_100k.xlsx" "$work/wide_100k"
  generate text_200k text 200000 &&
    run_shape text_200k "200,000 rows of long text" "$work/text_200k.xlsx" "$work/text_200k"
  generate sheets_100x5k narrow 5000 100 &&
    run_shape sheets_100x5k "100 worksheets of 5,000 rows" "$work/sheets_100x5k.xlsx" "$work/sheets_100x5k"
  mkdir -p "$work/xls_65535"
  /usr/bin/python3 "$here/make_xls.py" --rows=65535 --xls="$work/xls_65535.xls" --csv-dir="$work/xls_65535" ||
    die "generating the .xls failed"
  run_shape xls_65535 ".xls at its row limit: 65,535 rows x 5 and the header" "$work/xls_65535.xls" "$work/xls_65535"
fi

say ""
say "load average at the end: $(cut -d ' ' -f 1-3 /proc/loadavg)"
say "| shape | corvel | ogr2ogr | \\copy | corvel/ogr2ogr | corvel/\\copy | values |"
say "|---|---|---|---|---|---|---|"
for row in "${summary[@]}"; do say "$row"; done

if [ $smoke = 0 ]; then
  say ""
  say "Goals:"
  goal() { awk -v v="$2" -v lim="$3" -v what="$1" 'BEGIN {
    if (v == "" || v == "-") { printf "  %-48s not measured\n", what; exit }
    printf "  %-48s %6.2f (goal <= %s) %s\n", what, v, lim, (v + 0 <= lim + 0) ? "met" : "MISSED" }'; }
  ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a == "" || b == "" || b == 0) print "-"; else printf "%.3f", a / b }'; }
  shapes=(narrow_100k narrow_1m wide_100k text_200k sheets_100x5k xls_65535)
  goal "corvel/\\copy time, narrow_1m" "$(ratio "${seconds[narrow_1m.corvel]:-}" "${seconds[narrow_1m.copy]:-}")" 1.25
  for name in "${shapes[@]}"; do
    goal "corvel/\\copy time, $name" "$(ratio "${seconds[$name.corvel]:-}" "${seconds[$name.copy]:-}")" 1.5
  done
  for name in "${shapes[@]}"; do
    goal "corvel/ogr2ogr time, $name" "$(ratio "${seconds[$name.corvel]:-}" "${seconds[$name.ogr]:-}")" 0.333
  done
  for name in "${shapes[@]}"; do
    goal "corvel peak memory in MB, $name" "$(ratio "${peak[$name.corvel]:-}" 1024)" 64
  done
  goal "corvel peak memory, 1,000,000 / 100,000 rows" "$(ratio "${peak[narrow_1m.corvel]:-}" "${peak[narrow_100k.corvel]:-}")" 1.5
fi

if [ $failures -gt 0 ]; then
  say ""
  say "FAILED: $failures shape(s) with a failing tool or mismatching values (logs in $work with --keep)"
  exit 1
fi
exit 0
