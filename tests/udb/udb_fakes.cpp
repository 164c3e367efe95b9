#include "udb_fakes.h"

namespace udb_test {

udb_record* memory_recordset::get_item()
{
    if (is_eof())
        return nullptr;
    current = std::make_unique<udb_record>(make_record(rows[position]));
    return current.get();
}

udb_record make_record(const std::vector<ole_variant>& values)
{
    udb_record record;
    for (std::size_t i = 0; i < values.size(); ++i)
        record.push_back(std::make_unique<udb_field>(L"c" + std::to_wstring(i), 0, values[i], false, false));
    return record;
}

}  // namespace udb_test
