#include "dao/dao_table_builder.h"

#include <memory>

#include "dao/dao_exception.h"
#include "dao/dao_record.h"
#include "ole/ole_date.h"
#include "tk/tk_logger.h"
#include "tk/tk_string.h"

namespace {

constexpr long attribute_auto_increment = 0x10;

/// The generated name of a source column (compared case-insensitively), or the name itself.
std::wstring mapped_name(const std::map<std::wstring, std::wstring>& map, const std::wstring& name) {
  tk_log(1, "t_names_map::get_mapped_name(%s)", name);
  for (const auto& [source, generated] : map)
    if (tk_compare_no_case(source, name) == 0) return generated;
  return name;
}

bool valid_variant_type(VARTYPE vt) { return vt == VT_I1 || vt == VT_UI2 || vt == VT_UI4 || vt == VT_I8 || vt == VT_UI8; }

}  // namespace

dao_schema_initializer::dao_schema_initializer(wb_tabledef* target, const udb_schema& source)
    : table(ole_share(target)), validator(source) {
  tk_log(2, "dao_schema_initializer::ctor");
  for (const auto& d : source) {
    const bool acceptable = validator.is_acceptable(d->name);
    const std::wstring safe = acceptable ? d->name : validator.get_safe_name(d->name);
    push_back(std::make_unique<t_ftd>(d->size, safe, d->vartype, d->b_not_null, d->auto_increment, d->value,
                                      d->reserved));
    if (!acceptable) {
      tk_log(2, "Store generated column name '%s'", safe);
      validator.add_existing_name(safe);
      validator.add_mapped_pair(d->name, safe);
    }
    validator.restricted.push_back(safe);  // no later column gets the same name
  }
}

std::wstring dao_schema_initializer::quote_def_value(const std::wstring& text) {
  tk_log(1, "dao_schema_initializer::quote_def_value(%s)", text);
  const bool apostrophe = text.find(L'\'') != std::wstring::npos;
  const bool quote = text.find(L'"') != std::wstring::npos;
  if (quote && !apostrophe) return L"'" + text + L"'";
  std::wstring body = text;
  if (quote) {
    for (auto& c : body)
      if (c == L'"') c = L'\'';
  }
  return L"\"" + body + L"\"";
}

void dao_schema_initializer::initialize() {
  tk_log(2, "dao_schema_initializer::initialize");
  ole_com_ptr<wb_fields> fields = dao_non_null(dao_call([&] { return table->fields(); }));
  long total = 0;
  for (std::size_t i = 0; i < size(); ++i) {
    const t_ftd& d = (*this)[i];
    const short type = dao_field::get_native_type(d);
    total += static_cast<long>(d.size);
    tk_log(2, "Field #%d, type=%d, size=%d, total size=%d", static_cast<int>(i), static_cast<int>(d.vartype),
           static_cast<int>(d.size), static_cast<int>(total));
    ole_com_ptr<wb_field> field =
        dao_non_null(dao_call([&] { return table->create_field(d.name, type, static_cast<long>(d.size)); }));
    // Every property is set before the field joins the table, so the table receives it whole.
    dao_call([&] { field->set_required(d.b_not_null); });
    dao_call([&] { field->set_allow_zero_length(true); });

    const std::wstring text = d.value.to_wstring();
    if (!text.empty()) {
      const VARTYPE vt = d.value.get_type();
      tk_log(1, "Putting default value: (%d, %s)", static_cast<int>(vt), text);
      if (valid_variant_type(vt)) {
        const udb_field value(d.name, static_cast<int>(d.size), d.value, false, false);
        const std::wstring valid = dao_get_valid_variant(value).to_wstring();
        dao_call([&] { field->set_default_value(valid); });
      } else if (d.vartype == VT_BSTR || d.vartype == VT_DATE) {
        bool set = true;
        if (d.vartype == VT_DATE) {
          tk_log(1, "Got DATE def value");
          const std::wstring canonical = ole_date(text).to_wstring(false);
          tk_log(1, "After canonization: %s", canonical);
          set = !canonical.empty();
        }
        if (set) dao_call([&] { field->set_default_value(quote_def_value(text)); });
      } else {
        dao_call([&] { field->set_default_value(text); });
      }
    }
    if (type == wb_dao_long && d.auto_increment) {
      const long attributes = dao_call([&] { return field->attributes(); });
      dao_call([&] { field->set_attributes(attributes | attribute_auto_increment); });
    }
    dao_call([&] { fields->append(field.get()); });
  }
}

dao_indexes_initializer::dao_indexes_initializer(wb_tabledef* target, const dao_schema_initializer& column_builder,
                                                 const udb_indexes& source,
                                                 const std::map<std::wstring, std::wstring>& names)
    : table(ole_share(target)), validator(source), columns(column_builder), name_map(names) {
  tk_log(2, "dao_indexes_initializer::ctor");
  for (const auto& index : source) {
    if (index.fields.size() > max_index_fields) continue;
    const bool acceptable = validator.is_acceptable(index.name);
    const std::wstring safe = acceptable ? index.name : validator.get_safe_name(index.name);
    udb_index built{safe, index.unique, index.primary, {}};
    bool usable = true;
    for (const auto& field : index.fields) {
      const std::wstring mapped = mapped_name(name_map, field);
      const t_ftd& d = columns.get_field2(mapped);
      if (d.vartype == VT_BLOB || (d.vartype == VT_BSTR && d.size > 255)) {
        tk_log(2, "Field '%s' cannot be part of index", mapped);
        usable = false;
        break;
      }
      built.fields.push_back(mapped);
    }
    if (!usable) continue;
    indexes.push_back(built);
    if (!acceptable) {
      tk_log(2, "Store generated index name '%s'", safe);
      validator.add_existing_name(safe);
    }
    validator.restricted.push_back(safe);
  }
}

void dao_indexes_initializer::initialize() {
  tk_log(2, "dao_indexes_initializer::initialize");
  ole_com_ptr<wb_indexes> engine_indexes = dao_non_null(dao_call([&] { return table->indexes(); }));
  for (std::size_t n = 0; n < indexes.size() && n < max_indexes; ++n) {
    const udb_index& index = indexes[n];
    tk_log(2, "Process index %s", index.name);
    ole_com_ptr<wb_index> created = dao_non_null(dao_call([&] { return table->create_index(index.name); }));
    ole_com_ptr<wb_index_fields> index_fields = dao_non_null(dao_call([&] { return created->fields(); }));
    for (const auto& name : index.fields) {
      tk_log(2, "Process index field %s", name);
      // The type check raises for a name that is no column of the table.
      dao_field::get_native_type(columns.get_field2(name));
      ole_com_ptr<wb_field> field = dao_non_null(dao_call([&] { return created->create_field(name); }));
      dao_call([&] { index_fields->append(field.get()); });
    }
    dao_call([&] { created->set_primary(index.primary); });
    dao_call([&] { created->set_unique(index.unique); });
    dao_call([&] { engine_indexes->append(created.get()); });
  }
}

void dao_build_table(wb_tabledef* table, const udb_schema& fields, const udb_indexes& index_list) {
  dao_schema_initializer columns(table, fields);
  columns.initialize();
  dao_indexes_initializer indexes(table, columns, index_list, columns.name_map());
  indexes.initialize();
}
