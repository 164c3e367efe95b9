#include "udb/udb_recordset.h"

#include "tk/tk_exception.h"
#include "tk/tk_logger.h"

udb_recordset::udb_recordset(std::wstring table_name, std::wstring query_text, bool schema_flag)
    : query_text(std::move(query_text)), table_name(std::move(table_name)), schema(schema_flag)
{
}

udb_recordset::udb_recordset(std::wstring table_name, bool schema_flag)
    : table_name(std::move(table_name)), schema(schema_flag)
{
}

void udb_recordset::update(udb_record&)
{
    tk_log(1, "udb_recordset::update");
}

udb_record* udb_recordset::get_item()
{
    return nullptr;
}

bool udb_recordset::is_eof()
{
    return true;
}

void udb_recordset::next() {}
void udb_recordset::prev() {}
void udb_recordset::reset() {}
void udb_recordset::finish() {}

std::vector<udb_row_error> udb_recordset::take_row_errors()
{
    return {};
}

void udb_recordset::add_index(const udb_index& index)
{
    tk_log(1, "udb_recordset::add_index (%s)", index.name);
    if (!indexes.is_acceptable_name(index.name))
        return;
    if (n_u_index == -1 && (index.primary || index.unique)) {
        tk_log(1, "Store primary/unique key");
        n_u_index = static_cast<int>(indexes.size());
    }
    indexes.push_back(index);
}

void udb_recordset::convert_record(udb_record& record) const
{
    tk_log(1, "udb_recordset::convert_record");
    // A record wider than the table has no column for its extra fields: refuse it whole.
    if (record.size() > schema.size())
        throw tk_exception(std::string("The structures of data source does not conform to the destination table."), 0);
    for (std::size_t i = 0; i < record.size(); ++i) {
        udb_field& field = record[i];
        const t_ftd& column = schema[i];
        tk_log(1, "from=%s, to=%s", field.name, column.name);
        field.change_type(column.vartype);
    }
}
