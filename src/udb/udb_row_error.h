#pragma once

#include <utility>

#include "tk/tk_exception.h"

/// A row the destination refused: its record number (counted from 1) and the error it got.
struct udb_row_error {
    int record_number = 0;
    tk_exception error;

    udb_row_error(int record_number, tk_exception error) : record_number(record_number), error(std::move(error)) {}
};
