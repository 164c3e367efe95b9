#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "udb/t_ftd.h"

/// The columns of one record set, in column order. The schema owns its descriptors.
class udb_schema {
public:
    using iterator = std::vector<std::unique_ptr<t_ftd>>::iterator;
    using const_iterator = std::vector<std::unique_ptr<t_ftd>>::const_iterator;

    /// The flag is the record set's schema flag; it is kept but never consulted, since the schema
    /// always owns its descriptors.
    explicit udb_schema(bool owner_flag = true) : owner_flag(owner_flag) {}
    udb_schema(udb_schema&&) = default;
    udb_schema& operator=(udb_schema&&) = default;
    udb_schema(const udb_schema&) = delete;
    udb_schema& operator=(const udb_schema&) = delete;
    virtual ~udb_schema() = default;

    /// True when a column of that name (case-insensitive) exists.
    bool find_field(const std::wstring& name) const;
    /// The first column of that name (case-insensitive). A missing name logs an error and yields
    /// the empty descriptor, which stays valid for the life of the program.
    const t_ftd& get_field1(const std::wstring& name) const;
    const t_ftd& get_field2(const std::wstring& name) const;

    void push_back(std::unique_ptr<t_ftd> descriptor);

    std::size_t size() const { return descriptors.size(); }
    bool empty() const { return descriptors.empty(); }
    t_ftd& operator[](std::size_t i) { return *descriptors[i]; }
    const t_ftd& operator[](std::size_t i) const { return *descriptors[i]; }
    t_ftd& at(std::size_t i) { return *descriptors.at(i); }
    const t_ftd& at(std::size_t i) const { return *descriptors.at(i); }
    iterator begin() { return descriptors.begin(); }
    iterator end() { return descriptors.end(); }
    const_iterator begin() const { return descriptors.begin(); }
    const_iterator end() const { return descriptors.end(); }
    void clear() { descriptors.clear(); }

private:
    const t_ftd* find_descriptor(const std::wstring& name) const;
    const t_ftd& get_field(const std::wstring& name) const;

    bool owner_flag;
    std::vector<std::unique_ptr<t_ftd>> descriptors;
};
