#pragma once

#include <memory>
#include <string>

#include "udb/udb_database.h"

/// Creates, opens, deletes and tests databases of one side. Databases it hands out belong to the
/// caller and must be destroyed before the engine.
class udb_engine {
public:
    int param = 0;  ///< written by set_param; nothing reads it

    udb_engine() = default;
    udb_engine(const udb_engine&) = delete;
    udb_engine& operator=(const udb_engine&) = delete;
    virtual ~udb_engine() = default;

    virtual std::unique_ptr<udb_database> create_db(const std::wstring& name) = 0;
    virtual std::unique_ptr<udb_database> open_db(const std::wstring& name, int mode, const std::wstring& password) = 0;
    /// Deletes the database file; a failure throws with the system's error text (level 1).
    virtual void delete_db(const std::wstring& name);
    /// True when the name is a regular file that opens for reading.
    virtual bool is_db_exist(const std::wstring& name);
    virtual void set_param(int value);
};
