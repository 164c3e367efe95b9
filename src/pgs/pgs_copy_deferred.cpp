#include "pgs/pgs_copy_deferred.h"

#include "pgs/pgs_sql_text.h"

namespace {

const char* const deferred_quote = "$tmd_deferred$";

}  // namespace

std::string pgs_copy_deferred_setup(const std::string& table) {
  if (table.find(deferred_quote) != std::string::npos) return {};
  return std::string("DO ") + deferred_quote + " DECLARE target regclass := to_regclass(" + pgs_sql_literal(table) +
         R"SQL(); at_once text; left_over text;
BEGIN
  IF target IS NULL THEN RETURN; END IF;
  SELECT string_agg(format('%I.%I', n.nspname, k.conname), ', ') FILTER (WHERE safe),
         string_agg(k.conname, ', ') FILTER (WHERE NOT safe)
    INTO at_once, left_over
    FROM (SELECT c.*, (c.contype IN ('p', 'u', 'x') OR (c.contype = 'f' AND c.confrelid <> c.conrelid))
                      AND NOT EXISTS (SELECT FROM pg_trigger t WHERE t.tgrelid = target AND NOT t.tgisinternal) AS safe
            FROM pg_constraint c WHERE c.conrelid = target AND c.condeferred) AS k
    JOIN pg_namespace n ON n.oid = k.connamespace;
  IF at_once IS NOT NULL THEN EXECUTE 'SET CONSTRAINTS ' || at_once || ' IMMEDIATE'; END IF;
  PERFORM set_config('tamarind.checked_at_commit', coalesce(left_over, ''), true);
END )SQL" + deferred_quote +
         "; SELECT coalesce(current_setting('tamarind.checked_at_commit', true), '')";
}
