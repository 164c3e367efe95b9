#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tk/tk_singleton.h"
#include "udb/t_ftd.h"

/// A converter that may take over the column type of a field in the table builder.
class udb_custom_converter {
public:
    virtual ~udb_custom_converter() = default;
    virtual bool is_acceptable(const t_ftd& field) const = 0;
    /// The column type text for a field it accepts.
    virtual std::wstring handle(const t_ftd& field) const = 0;
};

/// The process-wide list of custom converters. Without an instance nothing is taken over.
class udb_custom_conversion : public tk_singleton<udb_custom_conversion> {
public:
    std::vector<std::unique_ptr<udb_custom_converter>> converters;  ///< asked in list order

    /// True when a registered converter accepts the field; false without an instance or converters.
    static bool is_acceptable1(const t_ftd& field);
    /// The text of the first converter that accepts the field; empty when none does.
    static std::wstring handle1(const t_ftd& field);
};
