#include "udb/udb_indexes.h"

#include "tk/tk_exception.h"
#include "tk/tk_logger.h"
#include "tk/tk_string.h"

namespace {

bool same_index_name(const std::wstring& a, const std::wstring& b)
{
    return tk_compare_no_case(a, b) == 0;
}

void take_over(udb_index& old, const udb_index& upgrade)
{
    old.name = upgrade.name;
    old.unique = upgrade.unique;
    old.primary = upgrade.primary;
    old.fields = upgrade.fields;
}

}  // namespace

const udb_index* udb_indexes::find_entry(const std::wstring& name) const
{
    for (const auto& entry : entries)
        if (same_index_name(entry.name, name))
            return &entry;
    return nullptr;
}

udb_index* udb_indexes::find_entry(const std::wstring& name)
{
    return const_cast<udb_index*>(static_cast<const udb_indexes*>(this)->find_entry(name));
}

bool udb_indexes::find2(const std::wstring& name) const
{
    tk_log(1, "udb_indexes::find2");
    return find_entry(name) != nullptr;
}

const udb_index& udb_indexes::get_index(const std::wstring& name) const
{
    tk_log(1, "udb_indexes::get_index(%s)", name);
    const udb_index* entry = find_entry(name);
    if (!entry)
        TK_ASSERT_SITE("..\\UDB/udb_idx", 187);
    return *entry;
}

bool udb_indexes::is_acceptable_name(const std::wstring& name) const
{
    tk_log(1, "udb_indexes::is_acceptable_name(%s)", name);
    return find_entry(name) == nullptr;
}

void udb_indexes::push_back(const udb_index& index)
{
    tk_log(1, "udb_indexes::push_back(%s)", index.name);
    udb_index* old = find_entry(index.name);
    if (!old) {
        tk_log(2, "Index does not exist, add it");
        entries.push_back(index);
        return;
    }
    if (old->primary) {
        tk_log(2, "Primary key with the same name exists, skip it.");
        return;
    }
    if (index.primary) {
        tk_log(2, "Upgrade existing index to primary key.");
        take_over(*old, index);
        return;
    }
    if (old->unique) {
        tk_log(2, "Unique index with the same name exists, skip it.");
        return;
    }
    if (index.unique) {
        tk_log(2, "Set unique attribute for existing index.");
        take_over(*old, index);
    }
}
