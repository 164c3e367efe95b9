#include "dao/dao_record_appender.h"

#include "dao/dao_exception.h"
#include "dao/dao_record.h"
#include "tk/tk_logger.h"

namespace {

/// The engine's text for a value that does not fit the row.
constexpr const char* record_too_large = "Record is too large.";

ole_variant value_for(const t_ftd& column, const udb_field& field, VARTYPE type) {
  if (column.b_not_null && (type == VT_EMPTY || type == VT_NULL)) {
    tk_log(1, "Got NULL value for not null field");
    return ole_variant::from_wstring(std::wstring(), column.vartype);
  }
  switch (type) {
    case VT_DATE: {
      std::string text = field.to_string();
      const auto zero = text.find("0000-00-00");
      if (zero != std::string::npos) {
        tk_log(1, "Null date has been found");
        text.replace(zero, 10, "1899-12-30");
      }
      return ole_variant::from_string(text, VT_DATE);
    }
    case VT_I1:
    case VT_UI2:
    case VT_UI4:
    case VT_I8:
    case VT_UI8: return dao_get_valid_variant(field);
    default: return static_cast<const ole_variant&>(field);
  }
}

}  // namespace

void dao_append_record(wb_recordset& recordset, udb_recordset& target, udb_record& record) {
  tk_log(1, "dao_recordset::append_record");
  if (record.size() != target.schema.size()) throw tk_exception(dao_append_mismatch_text, tk_level_recoverable);
  target.convert_record(record);
  dao_call([&] { recordset.add_new(); });
  tk_log(1, "\tAdd blank DAO record");
  for (std::size_t i = 0; i < record.size(); ++i) {
    const t_ftd& column = target.schema[i];
    const udb_field& field = record[i];
    const VARTYPE type = field.get_type();
    tk_log(1, "\tAdd field '%s', type=%08X (value=%s)", column.name, static_cast<unsigned>(type), field.to_wstring());
    try {
      const ole_variant value = value_for(column, field, type);
      dao_call([&] { recordset.collect(column.name, value); });
    } catch (const dao_exception& e) {
      if (e.message() != record_too_large) throw;
      tk_log(2, "Record is too large.");
      dao_call([&] { recordset.collect(column.name, ole_variant()); });
    }
  }
  ++target.rec_count;
  dao_call([&] { recordset.update(1, false); });
  tk_log(1, "Commit new record into database");
}
