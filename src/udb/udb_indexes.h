#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "udb/udb_index.h"

/// The indexes of one record set, in insertion order.
/** Names compare case-insensitively, and the list never holds two indexes of the same name:
    push_back merges a second one into the first by the rank plain < unique < primary. */
class udb_indexes {
public:
    using const_iterator = std::vector<udb_index>::const_iterator;

    /// True when an index of that name exists.
    bool find2(const std::wstring& name) const;
    /// The first index of that name; a missing name is an internal error.
    const udb_index& get_index(const std::wstring& name) const;
    /// True when no index of that name exists yet.
    bool is_acceptable_name(const std::wstring& name) const;
    /// Appends a new name; merges into an existing entry of the same name (see the class comment).
    void push_back(const udb_index& index);

    std::size_t size() const { return entries.size(); }
    bool empty() const { return entries.empty(); }
    const udb_index& operator[](std::size_t i) const { return entries[i]; }
    const udb_index& at(std::size_t i) const { return entries.at(i); }
    const_iterator begin() const { return entries.begin(); }
    const_iterator end() const { return entries.end(); }

private:
    udb_index* find_entry(const std::wstring& name);
    const udb_index* find_entry(const std::wstring& name) const;

    std::vector<udb_index> entries;
};
