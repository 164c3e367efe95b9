#pragma once

#include <cstdint>
#include <string>

#include "ole/ole_variant.h"
#include "udb/udb_types.h"

class udb_field;

/// Field type descriptor: the shape of one column, as the two sides hand it to each other.
/** The PostgreSQL side derives its own descriptor from this one, and schemas destroy
    descriptors through this base, hence the virtual destructor. */
struct t_ftd {
    std::uint32_t size = 0;          ///< column size as the source reports it
    std::wstring name;
    VARTYPE vartype = VT_EMPTY;      ///< type of the column's values
    std::wstring second_text;        ///< carried along, empty in this system
    bool auto_increment = false;
    bool b_not_null = false;
    ole_variant value;               ///< default value; VT_EMPTY when there is none
    int reserved = 0;                ///< date precision or decimal shape, see udb_types.h
    std::wstring third_text;         ///< not used by this layer

    /// The empty descriptor: size 0, no name, VT_EMPTY, no flags, no default, reserved 0.
    t_ftd() = default;
    /// From a record field: the type comes from the field's own get_type, so a side's type mapping applies.
    t_ftd(const udb_field& source, const ole_variant& value, int reserved);
    t_ftd(std::uint32_t size, std::wstring name, VARTYPE vartype, bool b_not_null, bool auto_increment,
          const ole_variant& value, int reserved, std::wstring second_text = {});

    t_ftd(const t_ftd&) = default;
    t_ftd(t_ftd&&) = default;
    t_ftd& operator=(const t_ftd&) = default;
    t_ftd& operator=(t_ftd&&) = default;
    virtual ~t_ftd() = default;

private:
    void log_fields() const;
};
