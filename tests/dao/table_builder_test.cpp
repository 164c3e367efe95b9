// Building engine tables from a source's field and index lists, the engine's name rules, and
// appending rows, against the scripted engine and a recording cursor.
#include <gtest/gtest.h>

#include <map>
#include <memory>

#include "dao/dao_engine.h"
#include "dao/dao_exception.h"
#include "dao/dao_record_appender.h"
#include "dao/dao_table_builder.h"
#include "dao/dao_validator.h"
#include "dao_test_support.h"
#include "ole/ole_exceptions.h"
#include "tk/tk_string.h"

using namespace dao_test;

namespace {

std::unique_ptr<t_ftd> column(const std::wstring& name, VARTYPE vt, std::uint32_t size = 8, bool not_null = false,
                              bool counter = false, const ole_variant& def = ole_variant()) {
  return std::make_unique<t_ftd>(size, name, vt, not_null, counter, def, 0);
}

/// A new table of the scripted engine, not yet appended.
struct new_table {
  fake_engine_scope fake;
  ole_com_ptr<wb_engine> engine = wb_create_engine(0);
  ole_com_ptr<wb_database> db = engine->open_database(L"x.mdb", false, false, L"Excel 5.0;");
  ole_com_ptr<wb_tabledef> table = db->create_tabledef(L"T", 0, L"", L"");

  std::vector<std::wstring> field_names() {
    std::vector<std::wstring> names;
    auto fields = table->fields();
    for (int i = 0; i < fields->count(); ++i) names.push_back(fields->item(i)->name());
    return names;
  }
  ole_com_ptr<wb_field> field(int i) { return table->fields()->item(i); }
  std::vector<std::pair<std::wstring, std::vector<std::wstring>>> index_list() {
    std::vector<std::pair<std::wstring, std::vector<std::wstring>>> out;
    auto indexes = table->indexes();
    for (int i = 0; i < indexes->count(); ++i) {
      auto index = indexes->item(i);
      std::vector<std::wstring> fields;
      auto f = index->fields();
      for (int k = 0; k < f->count(); ++k) fields.push_back(f->item(k)->name());
      out.emplace_back(index->name(), fields);
    }
    return out;
  }
};

TEST(DaoValidator, EngineNameRules) {
  dao_validator v;
  for (const wchar_t* bad : {L"a.b", L"a!b", L" a", L"a ", L"", L"a`b", L"a[b", L"a]b", L"a/b", L"a'b"})
    EXPECT_FALSE(v.is_acceptable(bad)) << std::wstring(bad).size();
  EXPECT_TRUE(v.is_acceptable(L"a b"));
  EXPECT_EQ(v.get_safe_name(L"  a.b  "), L"a_b");
  EXPECT_EQ(v.max_len, 0);

  udb_schema fields;
  fields.push_back(column(L"x", VT_I4));
  dao_fn_validator fn(fields);
  EXPECT_TRUE(fn.is_duplicated(L"X"));
  udb_indexes indexes;
  indexes.push_back(udb_index{L"pk", false, true, {L"x"}});
  dao_in_validator in(indexes);
  EXPECT_TRUE(in.is_duplicated(L"PK"));
}

TEST(DaoTableBuilder, ColumnsGetDistinctSafeNamesAndEngineTypes) {
  new_table t;
  udb_schema source;
  source.push_back(column(L"a.b", VT_BSTR, 50));
  source.push_back(column(L"a!b", VT_BSTR, 50));
  source.push_back(column(L"a_b", VT_R8));
  source.push_back(column(L"id", VT_I4, 4, true, true));
  source.push_back(column(L" note", VT_BSTR, 300));
  dao_schema_initializer columns(t.table.get(), source);
  columns.initialize();

  const auto names = t.field_names();
  ASSERT_EQ(names.size(), 5u);
  EXPECT_EQ(names[2], L"a_b");  // an acceptable name stays
  EXPECT_EQ(names[3], L"id");
  EXPECT_EQ(names[4], L"note");
  for (std::size_t i = 0; i < names.size(); ++i)
    for (std::size_t k = i + 1; k < names.size(); ++k) EXPECT_NE(names[i], names[k]);
  EXPECT_EQ(columns.name_map().at(L"a.b"), names[0]);
  EXPECT_EQ(columns.name_map().count(L"a_b"), 0u);

  EXPECT_EQ(t.field(0)->type(), wb_dao_text);
  EXPECT_EQ(t.field(2)->type(), wb_dao_double);
  EXPECT_EQ(t.field(4)->type(), wb_dao_memo);
  EXPECT_TRUE(t.field(3)->required());
  EXPECT_FALSE(t.field(0)->required());
  EXPECT_EQ(t.field(3)->attributes() & 0x10, 0x10);
  EXPECT_EQ(t.field(0)->attributes() & 0x10, 0);
}

TEST(DaoTableBuilder, DefaultValues) {
  EXPECT_EQ(dao_schema_initializer::quote_def_value(L"abc"), L"\"abc\"");
  EXPECT_EQ(dao_schema_initializer::quote_def_value(L"say \"hi\""), L"'say \"hi\"'");
  EXPECT_EQ(dao_schema_initializer::quote_def_value(L"it's"), L"\"it's\"");
  EXPECT_EQ(dao_schema_initializer::quote_def_value(L"it's \"x\""), L"\"it's 'x'\"");

  new_table t;
  udb_schema source;
  source.push_back(column(L"txt", VT_BSTR, 20, false, false, ole_variant(L"say \"hi\"")));
  source.push_back(column(L"day", VT_DATE, 8, false, false, ole_variant(L"2001-02-03")));
  source.push_back(column(L"bad_day", VT_DATE, 8, false, false, ole_variant(L"not a date")));
  source.push_back(column(L"n", VT_I4, 4, false, false, ole_variant(5)));
  source.push_back(column(L"u", VT_I4, 4, false, false, ole_variant(static_cast<unsigned short>(7))));
  source.push_back(column(L"none", VT_BSTR, 20));
  dao_schema_initializer columns(t.table.get(), source);
  columns.initialize();
  EXPECT_EQ(t.field(0)->default_value(), L"'say \"hi\"'");
  EXPECT_EQ(t.field(1)->default_value(), L"\"2001-02-03\"");
  EXPECT_EQ(t.field(2)->default_value(), L"");  // a date default that does not parse sets none
  EXPECT_EQ(t.field(3)->default_value(), L"5");
  EXPECT_EQ(t.field(4)->default_value(), L"7");
  EXPECT_EQ(t.field(5)->default_value(), L"");
}

TEST(DaoTableBuilder, IndexesTheEngineCanHold) {
  new_table t;
  udb_schema source;
  source.push_back(column(L"id", VT_I4, 4));
  source.push_back(column(L"memo", VT_BSTR, 300));
  source.push_back(column(L"bin", VT_BLOB, 0));
  source.push_back(column(L"my.col", VT_BSTR, 20));
  udb_indexes indexes;
  indexes.push_back(udb_index{L"pk", true, true, {L"id"}});
  indexes.push_back(udb_index{L"by memo", false, false, {L"id", L"memo"}});
  indexes.push_back(udb_index{L"by bin", false, false, {L"bin"}});
  indexes.push_back(udb_index{L"wide", false, false, std::vector<std::wstring>(11, L"id")});
  indexes.push_back(udb_index{L"by.col", false, true, {L"MY.COL"}});
  dao_build_table(t.table.get(), source, indexes);

  const auto built = t.index_list();
  ASSERT_EQ(built.size(), 2u);
  EXPECT_EQ(built[0].first, L"pk");
  EXPECT_EQ(built[1].first, L"by_col");
  EXPECT_EQ(built[1].second, std::vector<std::wstring>{L"my_col"});  // the column's generated name
  auto pk = t.table->indexes()->item(0);
  EXPECT_TRUE(pk->primary());
  EXPECT_TRUE(pk->unique());

  new_table many;
  udb_indexes forty;
  for (int i = 0; i < 40; ++i) forty.push_back(udb_index{L"i" + std::to_wstring(i), false, false, {L"id"}});
  dao_build_table(many.table.get(), source, forty);
  const auto created = many.index_list();
  ASSERT_EQ(created.size(), dao_indexes_initializer::max_indexes);
  EXPECT_EQ(created.back().first, L"i31");

  new_table missing;
  udb_indexes unknown;
  unknown.push_back(udb_index{L"u", false, false, {L"nope"}});
  EXPECT_THROW(dao_build_table(missing.table.get(), source, unknown), ole_type_exception);
}

/// An engine whose error list a test sets, so errors raised by the cursor below read as engine errors.
class listed_errors_engine final : public wb_engine {
 public:
  explicit listed_errors_engine(std::shared_ptr<std::vector<wb_error_item>> list) : list_(std::move(list)) {}
  ole_com_ptr<wb_database> open_database(const std::wstring&, bool, bool, const std::wstring&) override { return {}; }
  ole_com_ptr<wb_database> create_database(const std::wstring&, const std::wstring&, int) override { return {}; }
  std::vector<wb_error_item> errors() const override { return *list_; }

 private:
  std::shared_ptr<std::vector<wb_error_item>> list_;
};

/// A cursor that records the rows added; collecting a non-empty value into `refused` fails.
class recording_cursor final : public wb_recordset {
 public:
  explicit recording_cursor(std::shared_ptr<std::vector<wb_error_item>> list) : list_(std::move(list)) {}
  bool eof() const override { return true; }
  bool bof() const override { return true; }
  ole_com_ptr<wb_fields> fields() override { return {}; }
  void move_first() override {}
  void move_next() override {}
  void move_previous() override {}
  void add_new() override {
    ++add_news;
    pending.clear();
  }
  void collect(const std::wstring& name, const ole_variant& value) override {
    if (name == refused && !value.is_empty()) {
      *list_ = {{3047, refusal}};
      throw wb_error(3047, tk_to_utf8(refusal));
    }
    pending[name] = value;
  }
  void update(int type, bool force) override {
    EXPECT_EQ(type, 1);
    EXPECT_FALSE(force);
    rows.push_back(pending);
  }
  void close() override {}

  std::wstring refused, refusal = L"Record is too large.";
  int add_news = 0;
  std::map<std::wstring, ole_variant> pending;
  std::vector<std::map<std::wstring, ole_variant>> rows;

 private:
  std::shared_ptr<std::vector<wb_error_item>> list_;
};

struct target_set : udb_recordset {
  target_set() : udb_recordset(L"T", true) {}
  void append_record(udb_record&) override {}
};

/// A date field that prints the zero date as the workbook side does.
struct zero_date_field : udb_field {
  using udb_field::udb_field;
  std::string to_string() const override { return "0000-00-00 10:15:00"; }
};

class DaoAppend : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = wb_set_engine_factory(
        [list = list_](int) { return ole_com_ptr<wb_engine>(new listed_errors_engine(list)); });
    engine_ = std::make_unique<dao_engine>(0);
    ASSERT_TRUE(engine_->set_version_if(0));
    cursor_ = ole_com_ptr<recording_cursor>(new recording_cursor(list_));
    target_.schema.push_back(column(L"txt", VT_BSTR, 20, true));
    target_.schema.push_back(column(L"num", VT_I4, 4, true));
    target_.schema.push_back(column(L"opt", VT_I4, 4));
    target_.schema.push_back(column(L"day", VT_DATE, 8));
  }
  void TearDown() override {
    cursor_.release();
    engine_.reset();
    wb_set_engine_factory(previous_);
  }
  static ole_variant null() {
    ole_variant v;
    v.set_null();
    return v;
  }
  udb_record record(const ole_variant& txt, const ole_variant& num, const ole_variant& opt, const ole_variant& day) {
    udb_record r;
    r.push_back(std::make_unique<udb_field>(L"txt", 20, txt, true, false));
    r.push_back(std::make_unique<udb_field>(L"num", 4, num, true, false));
    r.push_back(std::make_unique<udb_field>(L"opt", 4, opt, false, false));
    r.push_back(std::make_unique<udb_field>(L"day", 8, day, false, false));
    return r;
  }

  std::shared_ptr<std::vector<wb_error_item>> list_ = std::make_shared<std::vector<wb_error_item>>();
  wb_engine_factory previous_;
  std::unique_ptr<dao_engine> engine_;
  ole_com_ptr<recording_cursor> cursor_;
  target_set target_;
};

TEST_F(DaoAppend, NullsIntoRequiredAndNullableColumns) {
  auto r = record(null(), null(), null(), null());
  dao_append_record(*cursor_.get(), target_, r);
  ASSERT_EQ(cursor_->rows.size(), 1u);
  auto& row = cursor_->rows[0];
  EXPECT_EQ(row[L"txt"].get_type(), VT_BSTR);
  EXPECT_EQ(row[L"txt"].get_bstr(), L"");
  EXPECT_EQ(row[L"num"].get_type(), VT_EMPTY);
  EXPECT_EQ(row[L"opt"].get_type(), VT_NULL);
  EXPECT_EQ(target_.rec_count, 1);
}

TEST_F(DaoAppend, ValuesAreConvertedAndZeroDatesRestored) {
  auto r = record(ole_variant(L"x"), ole_variant(L"42"), ole_variant(static_cast<unsigned short>(65535)), null());
  // The record's day field prints the zero date with a time, as a workbook field does.
  udb_record with_zero;
  for (std::size_t i = 0; i < 3; ++i)
    with_zero.push_back(std::make_unique<udb_field>(r[i].name, r[i].size, static_cast<const ole_variant&>(r[i]), false, false));
  with_zero.push_back(std::make_unique<zero_date_field>(L"day", 8, ole_variant(L"1899-12-30 10:15:00"), false, false));
  dao_append_record(*cursor_.get(), target_, with_zero);
  ASSERT_EQ(cursor_->rows.size(), 1u);
  auto& row = cursor_->rows[0];
  EXPECT_EQ(row[L"num"].get_type(), VT_I4);  // converted to the column's type first
  EXPECT_EQ(row[L"num"].to_long(), 42);
  EXPECT_EQ(row[L"opt"].to_long(), 65535);
  ASSERT_EQ(row[L"day"].get_type(), VT_DATE);
  EXPECT_NEAR(row[L"day"].get_date(), 10.25 / 24, 1e-6);
}

TEST_F(DaoAppend, FieldCountMismatchAddsNothing) {
  udb_record r;
  r.push_back(std::make_unique<udb_field>(L"txt", 20, ole_variant(L"x"), false, false));
  try {
    dao_append_record(*cursor_.get(), target_, r);
    FAIL() << "no exception";
  } catch (const tk_exception& e) {
    EXPECT_EQ(e.level(), tk_level_recoverable);
    EXPECT_STREQ(e.what(), dao_append_mismatch_text);
  }
  EXPECT_EQ(cursor_->add_news, 0);
  EXPECT_EQ(target_.rec_count, 0);
}

TEST_F(DaoAppend, TooLargeValueLeavesOnlyThatFieldEmpty) {
  cursor_->refused = L"txt";
  auto r = record(ole_variant(L"long text"), ole_variant(1), ole_variant(2), null());
  dao_append_record(*cursor_.get(), target_, r);
  ASSERT_EQ(cursor_->rows.size(), 1u);
  EXPECT_EQ(cursor_->rows[0][L"txt"].get_type(), VT_EMPTY);
  EXPECT_EQ(cursor_->rows[0][L"num"].to_long(), 1);

  cursor_->refusal = L"Record is too large";  // any other engine error goes on to the caller
  EXPECT_THROW(dao_append_record(*cursor_.get(), target_, r), dao_exception);
  EXPECT_EQ(cursor_->rows.size(), 1u);
}

}  // namespace
