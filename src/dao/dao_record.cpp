#include "dao/dao_record.h"

#include "dao/dao_exception.h"
#include "ole/ole_exceptions.h"
#include "platform/auto_date.h"
#include "tk/tk_logger.h"

namespace {

template <class String>
String fix_zero_date(String text, const String& day0, const String& blank_day, const String& midnight) {
  const auto pos = text.find(day0);
  if (pos == String::npos) return text;
  tk_log(1, "Fake date has been found");
  if (text.size() > day0.size()) {
    text.replace(pos, day0.size(), blank_day);
  } else {
    tk_log(1, "Transform pure fake date to pure time");
    text.replace(pos, day0.size(), midnight);
  }
  return text;
}

}  // namespace

std::wstring dao_fix_zero_date(std::wstring text) {
  return fix_zero_date<std::wstring>(std::move(text), L"1899-12-30", L"0000-00-00", L"00:00:00");
}

std::string dao_fix_zero_date(std::string text) {
  return fix_zero_date<std::string>(std::move(text), "1899-12-30", "0000-00-00", "00:00:00");
}

dao_field::dao_field(wb_field* f) : field(ole_share(f)) {
  tk_log(1, "dao_field::ctor");
  if (!field) TK_ASSERT_SITE("dao_rec", 27);
  dao_call([&] {
    name = field->name();
    size = static_cast<int>(field->size());
  });
  tk_log(1, "Field name='%s', size=%d", name, size);
  dao_call([&] {
    b_not_null = field->required();
    auto_increment = (field->attributes() & 0x10) != 0;
  });
  source_name = name;
  source_size = size;
  source_not_null = b_not_null;
  source_auto_increment = auto_increment;
  read_value();
}

void dao_field::reread() {
  name = source_name;
  size = source_size;
  b_not_null = source_not_null;
  auto_increment = source_auto_increment;
  read_value();
}

void dao_field::read_value() {
  // Outside a current row the engine has no value: the field stays VT_EMPTY and reports its
  // column's type instead.
  try {
    field->read_value(*this);  // into this field's memory, kept from row to row
  } catch (const wb_error&) {
    ole_variant::operator=(ole_variant());
  }
  if (ole_variant::get_type() == VT_NULL) {
    tk_log(1, "*** NULL *** ");
  } else if (ole_variant::get_type() == VT_DATE) {
    tk_log(1, "Special processing for VT_DATE");
    // The printed date comes from the broken-down copy: rebuild it from the serial, rounded to
    // the millisecond, so 10:15 never prints as 10:14:59.
    SYSTEMTIME st{};
    if (platform::date_to_systemtime(get_date(), st))
      ole_variant::operator=(ole_variant(st));
    else
      tk_log(2, "Failed to convert VARIANT->SYSTEMTIME");
  }
  // The text is built only for the log: it costs a conversion per value.
  if (tk_log_enabled(1)) tk_log(1, "Got DAO field: %s", to_string());
}

dao_field::~dao_field() = default;

VARTYPE dao_field::get_type() const {
  tk_log(1, "dao_field::get_type");
  const VARTYPE vt = ole_variant::get_type();
  if (vt != VT_EMPTY) {
    tk_log(1, "Use ole_variant::get_type");
    tk_log(1, "vt1=%08X", static_cast<unsigned>(vt));
    return vt;
  }
  if (!field) TK_ASSERT_SITE("dao_rec", 306);
  tk_log(1, "Use DAO methods to extract field type");
  const VARTYPE vt2 = get_vartype(static_cast<short>(dao_call([&] { return field->type(); })));
  tk_log(1, "vt2=%08X", static_cast<unsigned>(vt2));
  return vt2;
}

std::wstring dao_field::to_wstring() const {
  const VARTYPE vt = get_type();
  tk_log(1, "dao_field::to_wstring(vt=%08X)", static_cast<unsigned>(vt));
  if (vt == VT_DATE) return dao_fix_zero_date(ole_variant::to_wstring());
  return ole_variant::to_wstring();
}

std::string dao_field::to_string() const {
  const VARTYPE vt = get_type();
  tk_log(1, "dao_field::to_string(vt=%08X)", static_cast<unsigned>(vt));
  if (!field) TK_ASSERT_SITE("dao_rec", 176);
  if (vt == VT_DATE) return dao_fix_zero_date(ole_variant::to_string());
  return ole_variant::to_string();
}

VARTYPE dao_field::get_vartype(short dao_type) {
  tk_log(1, "dao_field::get_vartype(%d)", static_cast<int>(dao_type));
  switch (dao_type) {
    case wb_dao_boolean: return VT_BOOL;
    case wb_dao_byte: return VT_UI1;
    case wb_dao_integer: return VT_I2;
    case wb_dao_long: return VT_I4;
    case wb_dao_currency: return VT_CY;
    case wb_dao_single: return VT_R4;
    case wb_dao_double:
    case dao_type_numeric:
    case dao_type_decimal:
    case dao_type_float: return VT_R8;
    case wb_dao_date:
    case dao_type_time: return VT_DATE;
    case wb_dao_text:
    case wb_dao_memo: return VT_BSTR;
    default: return VT_BLOB;
  }
}

short dao_field::get_native_type(const t_ftd& descriptor) {
  tk_log(1, "dao_field::get_native_type(%d)", static_cast<int>(descriptor.vartype));
  const bool short_size = descriptor.size > 0 && descriptor.size < 256;
  switch (descriptor.vartype) {
    case VT_I2:
    case VT_I1: return wb_dao_integer;
    case VT_I4:
    case VT_UI2: return wb_dao_long;
    case VT_R4: return wb_dao_single;
    case VT_R8:
    case VT_DECIMAL:
    case VT_UI4:
    case VT_I8:
    case VT_UI8: return wb_dao_double;
    case VT_CY: return wb_dao_currency;
    case VT_DATE: return wb_dao_date;
    case VT_BSTR: return short_size ? wb_dao_text : wb_dao_memo;
    case VT_BOOL: return wb_dao_boolean;
    case VT_UI1: return wb_dao_byte;
    default:
      if (ole_is_binary(descriptor.vartype)) return short_size ? wb_dao_binary : wb_dao_long_binary;
      throw ole_type_exception();
  }
}

ole_variant dao_get_valid_variant(const udb_field& field) {
  tk_log(1, "dao_get_valid_variant");
  VARTYPE target = VT_EMPTY;
  switch (field.get_type()) {
    case VT_I1:
      tk_log(1, "Converting VT_I1 value to short");
      target = VT_I2;
      break;
    case VT_UI2:
      tk_log(1, "Converting VT_UI2 value to integer");
      target = VT_I4;
      break;
    case VT_UI4:
      tk_log(1, "Converting VT_UI4 value to double");
      target = VT_R8;
      break;
    case VT_I8:
    case VT_UI8:
      tk_log(1, "Converting BIGINT value to double");
      target = VT_R8;
      break;
    default: return ole_variant();
  }
  ole_variant result = ole_variant::from_string(field.to_string(), target);
  tk_log(1, ">>> %s", result.to_string());
  return result;
}

dao_record::dao_record(wb_fields* f) : fields(ole_share(f)) {
  if (!fields) TK_ASSERT_SITE("dao_rec", 356);
  tk_log(1, "dao_record::dao_record: n_refs = %d", ole_get_ref_count(fields.get()));
  const int n = dao_call([&] { return fields->count(); });
  for (int i = 0; i < n; ++i) {
    ole_com_ptr<wb_field> f1 = dao_non_null(dao_call([&] { return fields->item(i); }));
    auto field = std::make_unique<dao_field>(f1.get());
    own.push_back(field.get());
    push_back(std::move(field));
  }
}

dao_record::~dao_record() = default;

bool dao_record::reads(wb_fields* other) const {
  if (other != fields.get()) return false;
  const int n = dao_call([&] { return fields->count(); });
  if (n < 0 || static_cast<std::size_t>(n) != size()) return false;
  // The fields are still the ones this record made, in their places.
  for (std::size_t i = 0; i < size(); ++i)
    if (&(*this)[i] != own[i]) return false;
  return true;
}

void dao_record::reread() {
  for (dao_field* field : own) field->reread();
}
