#pragma once
// Constraints a table checks at commit (DEFERRABLE INITIALLY DEFERRED). One refused row among them
// would fail the commit and the whole worksheet, with no line to tell which row it was. Where
// checking such a constraint as each COPY ends refuses exactly the rows the commit would refuse,
// it is checked so, and its refused rows are found by their line as any other's:
// - a unique, primary key or exclusion constraint: a row in conflict when it is stored is still in
//   conflict at commit, as rows are only added;
// - a foreign key to another table: rows are added to this table only, so a missing referenced row
//   is still missing at commit.
// Not so a foreign key to the table itself (a later row of the sheet may be the one referenced),
// a constraint trigger, nor anything on a table with triggers of its own (they may change other
// rows, or the referenced table, before the commit). Those stay checked at commit.
#include <string>

/// The statements that make the constraints of `table` (quoted, qualified) that can be checked as
/// each COPY ends so checked, then return one row: the names of those still checked at commit,
/// empty when there are none. Empty when the name cannot go into them.
std::string pgs_copy_deferred_setup(const std::string& table);
