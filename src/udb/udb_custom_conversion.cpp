#include "udb/udb_custom_conversion.h"

#include "tk/tk_logger.h"

bool udb_custom_conversion::is_acceptable1(const t_ftd& field)
{
    tk_log(1, "udb_custom_conversion::is_acceptable1");
    if (!has_instance())
        return false;
    for (const auto& converter : instance().converters)
        if (converter->is_acceptable(field))
            return true;
    return false;
}

std::wstring udb_custom_conversion::handle1(const t_ftd& field)
{
    tk_log(1, "udb_custom_conversion::handle1");
    if (!has_instance())
        return {};
    for (const auto& converter : instance().converters)
        if (converter->is_acceptable(field))
            return converter->handle(field);
    return {};
}
