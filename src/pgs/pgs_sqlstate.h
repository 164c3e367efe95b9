#pragma once
// What a failure's SQLSTATE class says about the rows of a COPY: a row's own fault lets the rows
// around it be stored; a fault of the server or of the session ends the worksheet.
#include <string>

/// Whether a SQLSTATE is a row's own fault: a data exception (22), an integrity violation (23), a
/// row too large (54), or an error a PL/pgSQL trigger raised for the row (P0), as a CHECK would.
bool pgs_is_row_error(const std::string& sqlstate);

/// Whether a failure is the server's or the session's: a lost connection (08), insufficient
/// resources (53), a cancelled statement or a shutdown (57), a system error (58), an internal
/// error (XX), or a failure without SQLSTATE.
bool pgs_is_session_fault(const std::string& sqlstate);

/// The classes pgs_is_row_error accepts, as an SQL list of literals: "('22', '23', ...)".
std::string pgs_row_error_classes_sql();
