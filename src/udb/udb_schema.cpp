#include "udb/udb_schema.h"

#include <stdexcept>

#include "tk/tk_logger.h"
#include "tk/tk_string.h"

const t_ftd* udb_schema::find_descriptor(const std::wstring& name) const
{
    for (const auto& descriptor : descriptors)
        if (tk_compare_no_case(descriptor->name, name) == 0)
            return descriptor.get();
    return nullptr;
}

bool udb_schema::find_field(const std::wstring& name) const
{
    tk_log(1, "udb_schema::find_field(%s)", name);
    tk_log(1, "Schema size=%d", static_cast<int>(descriptors.size()));
    int position = 0;
    for (const auto& descriptor : descriptors) {
        tk_log(1, "Processing field #%d, ptr=%p", position++, static_cast<const void*>(descriptor.get()));
        tk_log(1, "Field name: '%s'", descriptor->name);
        if (tk_compare_no_case(descriptor->name, name) == 0)
            return true;
    }
    return false;
}

const t_ftd& udb_schema::get_field(const std::wstring& name) const
{
    if (const t_ftd* descriptor = find_descriptor(name))
        return *descriptor;
    tk_log(3, "Field '%s' not found", name);
    // Callers keep the reference past the call, so the miss answer must outlive it.
    static const t_ftd empty_descriptor;
    return empty_descriptor;
}

const t_ftd& udb_schema::get_field1(const std::wstring& name) const
{
    tk_log(1, "udb_schema::get_field1(%s)", name);
    return get_field(name);
}

const t_ftd& udb_schema::get_field2(const std::wstring& name) const
{
    tk_log(1, "udb_schema::get_field2(%s)", name);
    return get_field(name);
}

void udb_schema::push_back(std::unique_ptr<t_ftd> descriptor)
{
    if (!descriptor)
        throw std::invalid_argument("udb_schema::push_back: null descriptor");
    descriptors.push_back(std::move(descriptor));
}
