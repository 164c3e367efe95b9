#pragma once
// The server-side pass for a segment whose refused rows are dense: its remaining lines go by one
// COPY into a staging table of text columns (COPY's text format decodes them as for the table),
// then one call of a temporary function stores them in line order as one COPY would: the lines go
// in runs, one INSERT a run, within one exception block that stays when it reaches the end; a line
// a guess suspects (a key held, a CHECK, a NOT NULL, a missing referenced row) is tried alone in a
// block that is always undone (its subtransaction and locks go with it) and inserted only when it
// passed. A refusal the guess missed undoes the try: its stored lines go again by one statement,
// and the run that failed goes line by line to its refused line. The refused lines are returned
// with their errors; a failure of that second store (a table that answers otherwise the second
// time) fails the call. Each value goes through its column's input function with the
// column's type modifier (json_populate_record), as COPY does; tables with a column of another kind
// (arrays, composites, json, domains) or with rules on insert are left to the probing replay.
#include <string>
#include <vector>

/// The query that makes the staging table and the function for `table` (quoted, qualified) and
/// `columns` (quoted; empty: the table's columns that COPY fills), then opens the staging COPY.
/// It fails when the table has a column the pass does not handle; empty when the names cannot go
/// into it.
std::string pgs_copy_dense_setup(const std::string& table, const std::vector<std::string>& columns);

/// The query that runs the pass over the staged lines: rows (line, message, context detail, SQLSTATE).
inline constexpr const char* pgs_copy_dense_call = "SELECT * FROM pg_temp.tmd_dense(false)";

/// The query that screens the staged lines instead: the lines the table would refuse whatever
/// lines come before them (a key it holds, a CHECK, a NOT NULL) are guessed in one statement, each
/// guess is tried as the pass tries a line, and the refused ones are returned as the pass returns
/// them (a foreign key's refusal or a trigger's not: an earlier line may meet it); nothing is
/// stored. A single row of line -1 says the guess could not be made (its message and SQLSTATE
/// follow).
inline constexpr const char* pgs_copy_screen_call = "SELECT * FROM pg_temp.tmd_dense(true)";
