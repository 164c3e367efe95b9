#include "pgs/pgs_copy_dense.h"

#include "pgs/pgs_sql_text.h"

namespace {

const char* const setup_quote = "$tmd_setup$";

// %1$s the table, %2$s its column list, %3$s the values of `v` in that order, %4$L the column names.
// Like COPY, the insert takes a value given for an identity column generated always.
// A refused line's message is laid out as the server lays out a COPY's error (without its
// context); for a value its column's input function refused, the column is found again and named
// as COPY's context names it.
const char* const pass_body = R"SQL(
DECLARE r record; v %1$s; ok boolean; converting boolean; c text; val text; hint text;
BEGIN
  FOR r IN SELECT * FROM pg_temp.tmd_stage ORDER BY "tmd:line" LOOP
    ok := false;
    converting := true;
    BEGIN
      v := json_populate_record(NULL::%1$s, to_json(r));
      converting := false;
      INSERT INTO %1$s (%2$s) OVERRIDING SYSTEM VALUE VALUES (%3$s);
      RAISE SQLSTATE 'TMD01';
    EXCEPTION
      WHEN SQLSTATE 'TMD01' THEN ok := true;
      WHEN OTHERS THEN
        GET STACKED DIAGNOSTICS tmd_state = RETURNED_SQLSTATE, tmd_message = MESSAGE_TEXT,
          tmd_detail = PG_EXCEPTION_DETAIL, hint = PG_EXCEPTION_HINT;
        IF left(tmd_state, 2) NOT IN ('22', '23', '54') THEN RAISE; END IF;
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
    END;
    IF ok THEN
      INSERT INTO %1$s (%2$s) OVERRIDING SYSTEM VALUE VALUES (%3$s);
    ELSE
      tmd_line := r."tmd:line";
      RETURN NEXT;
    END IF;
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
                    "; cols text[]; staged text; list text; vals text; body text := " + pgs_sql_literal(pass_body) +
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
  SELECT string_agg(quote_ident(c) || ' text', ', ' ORDER BY o), string_agg(quote_ident(c), ', ' ORDER BY o),
         string_agg('v.' || quote_ident(c), ', ' ORDER BY o)
    INTO staged, list, vals FROM unnest(cols) WITH ORDINALITY AS u(c, o);
  IF to_regclass('pg_temp.tmd_stage') IS NOT NULL THEN DROP TABLE pg_temp.tmd_stage; END IF;  -- without a notice
  EXECUTE format('CREATE TEMP TABLE tmd_stage ("tmd:line" int, %s) ON COMMIT DROP', staged);
  EXECUTE format('CREATE OR REPLACE FUNCTION pg_temp.tmd_dense() RETURNS TABLE(tmd_line int, tmd_message text, '
                 'tmd_detail text, tmd_state text) LANGUAGE plpgsql AS %L', format(body, target, list, vals, cols));
END )SQL" + std::string(setup_quote) + "; COPY pg_temp.tmd_stage FROM STDIN";
  return sql;
}
