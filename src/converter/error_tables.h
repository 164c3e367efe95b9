#pragma once

#include <cstddef>

#include "tk/tk_error_converter.h"

// Friendlier texts for the error codes that the workbook and database sides carry. Both programs
// load them in this order: the engine table first (given to the error handler's constructor), then
// the PostgreSQL table, then the workbook table; a code keeps the text of the first table that has it.

extern const tk_error_entry engine_error_table[];
extern const std::size_t engine_error_table_size;

extern const tk_error_entry pgs_error_table[];
extern const std::size_t pgs_error_table_size;

extern const tk_error_entry workbook_error_table[];
extern const std::size_t workbook_error_table_size;

class error_handler;

/// Adds the PostgreSQL and workbook tables to a handler built with the engine table.
void load_further_error_tables(error_handler& handler);

/// Shown when the workbook engine cannot be created, by the source page's check and by the run.
inline constexpr wchar_t ui_msg_engine_load_failed[] =
    L"Failed to load Data Access Objects (DAO) support library.\r\nPlease reinstall the application to repair it.\r\n";
