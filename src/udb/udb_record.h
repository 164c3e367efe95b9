#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "udb/udb_field.h"

/// One row: its fields in column order. The record owns its fields.
/** Move-only. A side derives its own record from it (the workbook side does), so the destructor is
    virtual. */
class udb_record {
public:
    using iterator = std::vector<std::unique_ptr<udb_field>>::iterator;
    using const_iterator = std::vector<std::unique_ptr<udb_field>>::const_iterator;

    udb_record() = default;
    udb_record(udb_record&&) = default;
    udb_record& operator=(udb_record&&) = default;
    udb_record(const udb_record&) = delete;
    udb_record& operator=(const udb_record&) = delete;
    virtual ~udb_record() = default;

    void push_back(std::unique_ptr<udb_field> field);

    std::size_t size() const { return fields.size(); }
    bool empty() const { return fields.empty(); }
    /// Bounds-checked access (std::out_of_range past the end).
    udb_field& at(std::size_t i) { return *fields.at(i); }
    const udb_field& at(std::size_t i) const { return *fields.at(i); }
    udb_field& operator[](std::size_t i) { return *fields[i]; }
    const udb_field& operator[](std::size_t i) const { return *fields[i]; }
    iterator begin() { return fields.begin(); }
    iterator end() { return fields.end(); }
    const_iterator begin() const { return fields.begin(); }
    const_iterator end() const { return fields.end(); }

private:
    std::vector<std::unique_ptr<udb_field>> fields;
};
