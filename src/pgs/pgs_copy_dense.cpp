#include "pgs/pgs_copy_dense.h"

#include "pgs/pgs_sql_text.h"
#include "pgs/pgs_sqlstate.h"

namespace {

const char* const setup_quote = "$tmd_setup$";

// %1$s the table, %2$s its column list, %3$s the values of `v` in that order, %4$L the column names,
// %5$s the statement that picks the screened lines into `picked` (see pgs_copy_screen_call), %6$s
// the values of `g` in that order, %7$s the guess that `v` is refused (see the setup), %8$s the
// SQLSTATE classes of a row's own fault, an SQL list (pgs_row_error_classes_sql).
// Like COPY, the insert takes a value given for an identity column generated always.
//
// The pass stores the lines in line order in one try (an exception block) that stays when it
// reaches the end, so that its subtransactions that stay do not grow with the lines or refusals.
// Lines go in runs of up to 256, one statement a run, as COPY sends them. A line is tried alone,
// in a block that is always undone (its locks go with it), and inserted once more only when it
// passed: when the guess suspects it, after a run was refused (its lines up to the refused one),
// and every line once a refusal the guess did not foresee was found (such refusals could undo the
// try again and again). A refused run undoes the try: the lines it had stored go again by one
// statement. So while the guess foresees every refusal a line is inserted once; otherwise twice,
// and the lines stored before the first refusal it missed once more.
//
// A refused line's message is laid out as the server lays out a COPY's error (without its
// context); for a value its column's input function refused, the column is found again and named
// as COPY's context names it.
const char* const pass_body = R"SQL(
#variable_conflict use_column
DECLARE r pg_temp.tmd_stage; staged pg_temp.tmd_stage[]; v %1$s; run %1$s[]; gone boolean[]; i int;
  k int := 1; at int; n int; run_from int; alone_until int := 0; missed boolean := false;
  guessing boolean := true; alone boolean; guessed boolean; stage text; passed boolean; failed boolean;
  converting boolean; c text; val text; hint text; picked int[];
  source text := 'SELECT array(SELECT s FROM pg_temp.tmd_stage s ORDER BY s."tmd:line")';
BEGIN
  IF screen THEN
    -- Nothing is written here: the block's subtransaction takes no lock that outlives it.
    BEGIN
      %5$s;
    EXCEPTION WHEN OTHERS THEN
      tmd_line := -1; tmd_message := SQLERRM; tmd_state := SQLSTATE; RETURN NEXT; RETURN;
    END;
    source := 'SELECT array(SELECT s FROM pg_temp.tmd_stage s WHERE s."tmd:line" = ANY ($1) ORDER BY s."tmd:line")';
  END IF;
  EXECUTE source INTO staged USING picked;
  n := coalesce(array_length(staged, 1), 0);
  gone := array_fill(false, ARRAY[n]);
  WHILE k <= n LOOP
    at := k;
    run_from := k;  -- the lines from k up to it not gone are stored in this try
    run := '{}';
    failed := false;
    BEGIN
      WHILE at <= n LOOP
        IF NOT gone[at] THEN
          r := staged[at];
          alone := screen OR missed OR at < alone_until;
          guessed := false;
          IF NOT alone THEN
            stage := 'convert';
            v := json_populate_record(NULL::%1$s, to_json(r));
            stage := 'guess';
            guessed := guessing AND %7$s;
            alone := guessed;
          END IF;
          IF alone THEN
            stage := 'run';
            IF cardinality(run) > 0 THEN
              INSERT INTO %1$s (%2$s) OVERRIDING SYSTEM VALUE SELECT %6$s FROM unnest(run) AS g;
              run := '{}';
            END IF;
            run_from := at;
            stage := NULL;  -- from here on, a failure fails the call
            passed := false;
            BEGIN
              converting := true;
              v := json_populate_record(NULL::%1$s, to_json(r));
              converting := false;
              INSERT INTO %1$s (%2$s) OVERRIDING SYSTEM VALUE VALUES (%3$s);
              RAISE SQLSTATE 'TMD01';
            EXCEPTION
              WHEN SQLSTATE 'TMD01' THEN passed := true;
              WHEN OTHERS THEN
                GET STACKED DIAGNOSTICS tmd_state = RETURNED_SQLSTATE, tmd_message = MESSAGE_TEXT,
                  tmd_detail = PG_EXCEPTION_DETAIL, hint = PG_EXCEPTION_HINT;
                IF left(tmd_state, 2) NOT IN %8$s THEN RAISE; END IF;
            END;
            IF passed THEN
              IF NOT screen THEN INSERT INTO %1$s (%2$s) OVERRIDING SYSTEM VALUE VALUES (%3$s); END IF;
            ELSE
              gone[at] := true;
              missed := missed OR NOT guessed;
              -- A foreign key, or a trigger's own check, may be met by an earlier line.
              IF NOT screen OR (tmd_state <> '23503' AND left(tmd_state, 2) <> 'P0') THEN
                tmd_message := 'ERROR:  ' || tmd_message
                  || CASE WHEN tmd_detail <> '' THEN E'\nDETAIL:  ' || tmd_detail ELSE '' END
                  || CASE WHEN hint <> '' THEN E'\nHINT:  ' || hint ELSE '' END;
                tmd_detail := '';
                IF converting THEN
                  FOREACH c IN ARRAY %4$L::text[] LOOP
                    val := to_json(r) ->> c;
                    BEGIN
                      PERFORM json_populate_record(NULL::%1$s, json_build_object(c, val));
                    EXCEPTION WHEN OTHERS THEN
                      tmd_detail := ', column ' || c || ': ' || CASE WHEN val IS NULL THEN 'null input'
                        WHEN octet_length(val) > 100 THEN '"' || left(val, 100) || '..."' ELSE '"' || val || '"' END;
                      EXIT;
                    END;
                  END LOOP;
                END IF;
                tmd_line := r."tmd:line";
                RETURN NEXT;
              END IF;
            END IF;
            run_from := at + 1;
          ELSE
            run := run || v;
            -- A run a refusal undoes costs its lines again: it is kept short.
            IF cardinality(run) >= 256 THEN
              stage := 'run';
              INSERT INTO %1$s (%2$s) OVERRIDING SYSTEM VALUE SELECT %6$s FROM unnest(run) AS g;
              run := '{}';
              run_from := at + 1;
            END IF;
          END IF;
        END IF;
        at := at + 1;
      END LOOP;
      stage := 'run';
      IF cardinality(run) > 0 THEN
        INSERT INTO %1$s (%2$s) OVERRIDING SYSTEM VALUE SELECT %6$s FROM unnest(run) AS g;
      END IF;
    EXCEPTION WHEN OTHERS THEN
      failed := true;
      GET STACKED DIAGNOSTICS tmd_state = RETURNED_SQLSTATE;
      -- A guess that fails on this table's values (class 22 or 42) only stops the guessing.
      IF stage IS NULL OR (left(tmd_state, 2) NOT IN %8$s AND NOT (stage = 'guess' AND left(tmd_state, 2) = '42')) THEN
        RAISE;
      END IF;
    END;
    IF NOT failed THEN EXIT; END IF;
    -- The try was undone: the lines it had stored go again by one statement, converted as they were.
    run := '{}';
    FOR i IN k .. run_from - 1 LOOP
      IF NOT gone[i] THEN run := run || json_populate_record(NULL::%1$s, to_json(staged[i])); END IF;
    END LOOP;
    IF cardinality(run) > 0 THEN
      INSERT INTO %1$s (%2$s) OVERRIDING SYSTEM VALUE SELECT %6$s FROM unnest(run) AS g;
    END IF;
    IF stage = 'guess' THEN
      guessing := false;  -- the rest goes unguessed
    ELSE
      alone_until := at + 1;  -- the lines of the refused run, or up to a value refused, go alone
    END IF;
    k := run_from;
  END LOOP;
END
)SQL";

}  // namespace

std::string pgs_copy_dense_setup(const std::string& table, const std::vector<std::string>& columns) {
  // The names go as literals inside the setup's dollar quotes: a name that would end them (a
  // sheet's name is the workbook's) leaves the segment to the probing replay.
  if (table.find(setup_quote) != std::string::npos) return {};
  for (const auto& column : columns)
    if (column.find(setup_quote) != std::string::npos) return {};
  std::string given = "NULL";
  if (!columns.empty()) {
    given = "ARRAY[";
    for (std::size_t i = 0; i < columns.size(); ++i) given += (i ? ", " : "") + pgs_sql_literal(columns[i]);
    given += "]::text[]";
  }
  std::string sql = std::string("DO ") + setup_quote + " DECLARE target regclass := " + pgs_sql_literal(table) +
                    "::regclass; quoted text[] := " + given +
                    "; cols text[]; staged text; list text; vals text; kept text; casts text; tests text; fk_tests text;"
                    " guess text := 'false'; body text := " +
                    pgs_sql_literal(pass_body) +
                    R"SQL(;
BEGIN
  IF quoted IS NULL THEN
    SELECT array_agg(attname::text ORDER BY attnum) INTO cols FROM pg_attribute
     WHERE attrelid = target AND attnum > 0 AND NOT attisdropped AND attgenerated = '';
  ELSE
    SELECT array_agg((parse_ident(q))[1] ORDER BY o) INTO cols FROM unnest(quoted) WITH ORDINALITY AS u(q, o);
  END IF;
  IF EXISTS (SELECT FROM unnest(cols) AS c LEFT JOIN pg_attribute a ON a.attrelid = target AND a.attname = c
       AND a.attnum > 0 AND NOT a.attisdropped LEFT JOIN pg_type t ON t.oid = a.atttypid
       WHERE t.oid IS NULL OR t.typtype NOT IN ('b', 'e') OR t.typcategory = 'A'
          OR t.oid IN ('json'::regtype, 'jsonb'::regtype) OR c = 'tmd:line') THEN
    RAISE EXCEPTION 'the table has a column the dense refusal pass does not handle';
  END IF;
  -- An insert would be rewritten by the table's rules, which COPY does not apply.
  IF EXISTS (SELECT FROM pg_rewrite WHERE ev_class = target AND ev_type = '3') THEN
    RAISE EXCEPTION 'the table has rules on insert';
  END IF;
  -- The screen's guess at the lines the table refuses whatever lines come before them: a key the
  -- table holds (unique indexes on plain columns that are checked at once), a CHECK, a NOT NULL,
  -- among the columns given. Each guess is tried before it counts.
  SELECT string_agg(format('%I::%s AS %I', c, format_type(a.atttypid, a.atttypmod), c), ', ' ORDER BY o)
    INTO casts FROM unnest(cols) WITH ORDINALITY AS u(c, o) JOIN pg_attribute a ON a.attrelid = target AND a.attname = c;
  SELECT string_agg(test, ' OR ') INTO tests FROM (
    SELECT format('EXISTS (SELECT FROM %s tmd_t WHERE (%s) = (%s))', target,
             string_agg('tmd_t.' || quote_ident(a.attname), ', ' ORDER BY k.o),
             string_agg('tmd_s.' || quote_ident(a.attname), ', ' ORDER BY k.o)) AS test
      FROM pg_index i CROSS JOIN LATERAL unnest(i.indkey::int2[]) WITH ORDINALITY AS k(attnum, o)
      JOIN pg_attribute a ON a.attrelid = target AND a.attnum = k.attnum
     WHERE i.indrelid = target AND i.indisunique AND i.indimmediate AND i.indisready
       AND i.indpred IS NULL AND i.indexprs IS NULL AND k.o <= i.indnkeyatts
     GROUP BY i.indexrelid HAVING bool_and(a.attname = ANY (cols))
    UNION ALL
    SELECT format('NOT coalesce((%s), true)', pg_get_expr(k.conbin, k.conrelid)) FROM pg_constraint k
     WHERE k.conrelid = target AND k.contype = 'c' AND NOT EXISTS (SELECT FROM unnest(k.conkey) AS n(attnum)
       JOIN pg_attribute a ON a.attrelid = target AND a.attnum = n.attnum WHERE NOT a.attname = ANY (cols))
    UNION ALL
    SELECT format('tmd_s.%I IS NULL', a.attname) FROM pg_attribute a
     WHERE a.attrelid = target AND a.attnotnull AND a.attname = ANY (cols)) AS t;
  -- The pass's guess at a line the table refuses with the lines before it stored: the same, and a
  -- foreign key whose referenced row is missing. A guess only decides which lines are tried alone.
  SELECT string_agg(format('(%s) IS NOT NULL AND NOT EXISTS (SELECT FROM %s tmd_r WHERE (%s) = (%s))',
                           f.given, k.confrelid::regclass, f.referenced, f.given), ' OR ')
    INTO fk_tests FROM pg_constraint k CROSS JOIN LATERAL (
      SELECT string_agg('tmd_s.' || quote_ident(a.attname), ', ' ORDER BY u.o) AS given,
             string_agg('tmd_r.' || quote_ident(ra.attname), ', ' ORDER BY u.o) AS referenced,
             bool_and(a.attname = ANY (cols)) AS complete
        FROM unnest(k.conkey, k.confkey) WITH ORDINALITY AS u(attnum, refnum, o)
        JOIN pg_attribute a ON a.attrelid = target AND a.attnum = u.attnum
        JOIN pg_attribute ra ON ra.attrelid = k.confrelid AND ra.attnum = u.refnum) AS f
   WHERE k.conrelid = target AND k.contype = 'f' AND f.complete;
  IF concat_ws(' OR ', tests, fk_tests) <> '' THEN
    BEGIN
      EXECUTE format('SELECT EXISTS (SELECT FROM (SELECT (v).*) AS tmd_s WHERE %s) FROM (SELECT NULL::%s AS v) AS tmd_v',
                     concat_ws(' OR ', tests, fk_tests), target);
      guess := format('EXISTS (SELECT FROM (SELECT (v).*) AS tmd_s WHERE %s)', concat_ws(' OR ', tests, fk_tests));
    EXCEPTION WHEN OTHERS THEN
      NULL;  -- no guess: every line goes in runs
    END;
  END IF;
  SELECT string_agg(quote_ident(c) || ' text', ', ' ORDER BY o), string_agg(quote_ident(c), ', ' ORDER BY o),
         string_agg('v.' || quote_ident(c), ', ' ORDER BY o), string_agg('g.' || quote_ident(c), ', ' ORDER BY o)
    INTO staged, list, vals, kept FROM unnest(cols) WITH ORDINALITY AS u(c, o);
  IF to_regclass('pg_temp.tmd_stage') IS NOT NULL THEN DROP TABLE pg_temp.tmd_stage; END IF;  -- without a notice
  EXECUTE format('CREATE TEMP TABLE tmd_stage ("tmd:line" int, %s) ON COMMIT DROP', staged);
  -- The staging table has no statistics: its queries would look costly enough to be compiled,
  -- which costs more than they do.
  EXECUTE format('CREATE OR REPLACE FUNCTION pg_temp.tmd_dense(screen boolean) RETURNS TABLE(tmd_line int, '
                 'tmd_message text, tmd_detail text, tmd_state text) LANGUAGE plpgsql SET jit = off AS %L',
                 format(body, target, list, vals, cols,
                        format('SELECT array_agg("tmd:line") INTO picked FROM (SELECT "tmd:line", %s '
                               'FROM pg_temp.tmd_stage) AS tmd_s WHERE %s', casts, coalesce(tests, 'false')), kept, guess,
                        )SQL" + pgs_sql_literal(pgs_row_error_classes_sql()) + R"SQL());
END )SQL" + std::string(setup_quote) + "; COPY pg_temp.tmd_stage FROM STDIN";
  return sql;
}
