#include "converter/error_tables.h"

#include <iterator>

#include "converter/error_handler.h"

// The codes are those the workbook side carries: 0x10000 | the engine's error number.
namespace {

constexpr const char* unrecognized_format =
    "Cannot recognize MS Access database format. See 'Troubleshooting'\n"
    "article of the product documentation for solution.";
constexpr const char* invalid_workgroup_file =
    "Invalid workgroup information file. Return to the previous\n"
    "wizard page and verify the correct path was given.";
constexpr const char* unrecognized_structure =
    "Failed to recognize table structure in the worksheet.\n"
    "You can migrate the data manually via CSV format. See\n"
    "'CSV Files' article in the documentation for details.";

}  // namespace

const tk_error_entry engine_error_table[] = {
    {68585, unrecognized_format},
    {68591,
     "Not a valid MS Access database name. Use the following characters\n"
     "to compose new database name: alphanumerics (A-Z, a-z, 0-9),\n"
     "underscore characters (_) and spaces."},
    {68558,
     "Duplicate field values being used for an unique index were found.\n"
     "See 'Troubleshooting' article of the product documentation\n"
     "for solution."},
    {68565,
     "Not a valid account name or password has been specified\n"
     "in MS Access user-level security settings"},
    {68648,
     "Cannot extract relationships information. See 'Troubleshooting'\n"
     "article of the product documentation for solution."},
    {68709, invalid_workgroup_file},
    {68894, invalid_workgroup_file},
    {68957,
     "Data type conversion error. Please contact support@hollowmere.example\n"
     "for the solution."},
    {68879, unrecognized_format},
};
const std::size_t engine_error_table_size = std::size(engine_error_table);

const tk_error_entry pgs_error_table[] = {
    {-1032, "Cannot connect to pgs server. Check to verify that pgs server is launched and allows connection."},
    {-30082, "Incorrect username or password"},
};
const std::size_t pgs_error_table_size = std::size(pgs_error_table);

const tk_error_entry workbook_error_table[] = {
    {68697,
     "The workbook and/or one of its workseets is password protected.\n"
     "You should unprotect it first. Open it with MS Excel,\n"
     "remove the password and run Tamarind again.\n"},
    {68726, unrecognized_structure},
    {68810, unrecognized_structure},
};
const std::size_t workbook_error_table_size = std::size(workbook_error_table);

void load_further_error_tables(error_handler& handler) {
  handler.load_err_map(pgs_error_table_size, pgs_error_table);
  handler.load_err_map(workbook_error_table_size, workbook_error_table);
}
