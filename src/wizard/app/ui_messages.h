#pragma once
// The wizard's texts, indexed as the pages, dialogs and the run refer to them. Texts are kept
// exactly as shown, typos included; "%s" and "%ld" entries go through tk_format/tk_wformat.
#include <cstddef>

inline constexpr const wchar_t* ui_messages[] = {
    /* 0 */ L"There were some errors while converting the database.\nClick 'Finish' to exit the wizard.",
    /* 1 */ L"The destination database already exists. Select one of the\noptions below. Click 'Help' button for more information.",
    /* 2 */ L"Failed to load Data Access Objects (DAO) support library.\r\nPlease reinstall the application to repair it.\r\n",
    /* 3 */ L"Failed to recognize table structure.",
    /* 4 */ L"Step 2 of 4",
    /* 5 */ L"Select data sourse and destination",
    /* 6 */ L"You should enter the source file name",
    /* 7 */ L"You should enter PostgreSQL database name",
    /* 8 */ L"Source file does not exist.\r\nPlease verify the correct file name was given.",
    /* 9 */ L"Table with the same name already exists. Click 'Help' button\nfor more information.",
    /* 10 */ L"MS &Excel spreadsheet name:",
    /* 11 */ L"&Comma separated values (CSV) file name:",
    /* 12 */ L"Source file doesn't comply with MS Excel format",
    /* 13 */ L"You should specify PostgreSQL table name",
    /* 14 */ L"Destination database doesn't exist. Create?",
    /* 15 */ L"Destination database already exists. Overwrite?",
    /* 16 */ L"Table with the same name already exists. Overwrite?",
    /* 17 */ L"Select MS Excel spreadsheet to convert and PostgreSQL destination database.\nClick 'Browse' to find data source through directory tree.",
    /* 18 */ L"Select CSV file to convert, PostgreSQL destination database and table name.\nClick 'Browse' to find data source through directory tree.",
    /* 19 */ L"Step 3 of 4",
    /* 20 */ L"Select tables to convert",
    /* 21 */ L"&Available tables:",
    /* 22 */ L"&Selected tables:",
    /* 23 */ L"Choose the worksheets of the workbook that are to become PostgreSQL tables.",
    /* 24 */ L"No tables on the server are visible to this user.",
    /* 25 */ L"Step 4 of 4",
    /* 26 */ L"Database conversion is in progress",
    /* 27 */ L"Processing worksheet '%s' (row #%ld)",
    /* 28 */ L"Processing worksheet '%s' (row %ld of %ld)",
    /* 29 */ L"Step 1 of 4",
    /* 30 */ L"Connect to PostgreSQL server",
    /* 31 */ L"There were some errors while converting the database.\nClick 'Finish' to exit the wizard.",
    /* 32 */ L"The destination database already exists. Select one of the\noptions below. Click 'Help' button for more information.",
    /* 33 */ L"There are no tables selected. Continue anyway?",
};

inline constexpr std::size_t ui_messages_count = sizeof(ui_messages) / sizeof(ui_messages[0]);
static_assert(ui_messages_count == 34, "the message table has 34 entries");

/// The finish page's text after a run without errors.
inline constexpr const wchar_t ui_msg_conversion_succeeded[] =
    L"The spreadsheet has been converted into the PostgreSQL database successfully.\nClick 'Finish' to exit the wizard.";

/// The source page's answer to a source path that names a folder.
inline constexpr const char ui_msg_source_is_folder[] = "'%s' is a folder, not a workbook file.";

/// The finish page's title line: after a run without errors, after one with errors, and when the
/// user chose no worksheet.
inline constexpr const char ui_msg_finish_title[] = "Conversion is Completed";
inline constexpr const char ui_msg_finish_title_errors[] = "Conversion Ended with Errors";
inline constexpr const char ui_msg_finish_title_nothing[] = "Nothing Was Converted";
/// The finish page's text when the user chose no worksheet.
inline constexpr const wchar_t ui_msg_nothing_converted[] =
    L"No worksheet was selected: nothing was converted and the destination database was not changed.\nClick 'Finish' to exit the wizard.";
/// The line after the listed errors when more were reported than listed.
inline constexpr const char ui_msg_further_errors[] = "%u further errors are not listed here.";
inline constexpr const char ui_msg_further_errors_log[] =
    "%u further errors are not listed here; the log file '%s' holds every error.";

/// Shown when a profile file named on the command line or picked in the wizard does not load.
inline constexpr const char ui_msg_cannot_load_profile[] = "Cannot load profile file '%s'.";
/// Shown when the settings cannot be written to the profile file the user chose.
inline constexpr const char ui_msg_cannot_save_profile[] = "Cannot save profile file '%s'.";

/// The wizard's title format, with its version.
inline constexpr const char ui_title_format[] = "Tamarind %d.%d";
inline constexpr int ui_version_major = 1;
inline constexpr int ui_version_minor = 0;

/// The profile files' extension.
inline constexpr const wchar_t ui_profile_ext[] = L"tmd";

/// Save Settings after a run that the user gave no worksheet: such a profile would convert them all.
inline constexpr const wchar_t ui_msg_nothing_to_save[] =
    L"No worksheet was selected for this run, so its settings are not saved: a profile that names no worksheet converts every worksheet.";
