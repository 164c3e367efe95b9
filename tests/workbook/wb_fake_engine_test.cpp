// The scripted engine the layers above test against.
#include <gtest/gtest.h>

#include "workbook/fake/wb_fake_engine.h"

namespace {

std::shared_ptr<wb_fake_script> script_with_sheet() {
  auto s = std::make_shared<wb_fake_script>();
  wb_fake_table t;
  t.name = L"Sheet1$";
  t.fields.resize(2);
  t.fields[0].name = L"a", t.fields[0].type = wb_dao_double, t.fields[0].size = 8;
  t.fields[1].name = L"b";
  t.rows.push_back({ole_variant(1.0), ole_variant(std::string("x"))});
  t.rows.push_back({ole_variant(2.0), ole_variant(std::string("y"))});
  s->tables.push_back(t);
  wb_fake_table sys;
  sys.name = L"MSysObjects";
  sys.attributes = static_cast<long>(0x80000002u);
  s->tables.push_back(sys);
  return s;
}

TEST(FakeEngine, ServesScriptedTablesAndLogsWhatItReceives) {
  auto script = script_with_sheet();
  auto engine = wb_make_fake_engine(script);
  auto db = engine->open_database(L"/x.xls", true, true, L"Excel 5.0; HDR=No;");
  EXPECT_EQ(script->connects.at(0), L"Excel 5.0; HDR=No;");
  EXPECT_TRUE(script->exclusive_flags.at(0));
  auto defs = db->tabledefs();
  EXPECT_EQ(defs->count(), 2);
  EXPECT_EQ(defs->item(1)->attributes(), static_cast<long>(0x80000002u));
  EXPECT_EQ(defs->item(L"SHEET1$")->record_count(), 2);
  auto rs = db->create_querydef(L"", L"SELECT * FROM [Sheet1$]")->open_recordset(2, 4);
  EXPECT_EQ(script->sqls.at(0), L"SELECT * FROM [Sheet1$]");
  EXPECT_EQ(script->recordset_options.at(0), 4);
  auto f = rs->fields();
  EXPECT_EQ(f->item(1)->value().to_string(), "x");
  rs->move_next();
  rs->move_next();
  EXPECT_TRUE(rs->eof());
  EXPECT_THROW(f->item(0)->value(), wb_error);
  rs->move_previous();
  EXPECT_EQ(f->item(0)->value().get_double(), 2);
  auto count = db->create_querydef(L"", L"select count(*) from (SELECT * FROM [Sheet1$])")->open_recordset(2, 4);
  EXPECT_EQ(count->fields()->item(0)->value().to_long(), 2);
}

TEST(FakeEngine, InjectedFailuresFillTheErrorList) {
  auto script = script_with_sheet();
  script->failures["open_recordset"] = {3049, L"Cannot open."};
  auto engine = wb_make_fake_engine(script);
  auto db = engine->open_database(L"x", false, true, L"Excel 5.0;");
  try {
    db->create_querydef(L"", L"SELECT * FROM [Sheet1$]")->open_recordset(2, 4);
    FAIL();
  } catch (const wb_error& e) {
    EXPECT_EQ(e.number(), 3049);
  }
  ASSERT_EQ(engine->errors().size(), 1u);
  EXPECT_EQ(engine->errors()[0].description, L"Cannot open.");
  script->fail_without_errors = true;
  EXPECT_THROW(db->create_querydef(L"", L"x")->open_recordset(2, 4), wb_error);
  EXPECT_TRUE(engine->errors().empty());
  script->errors_throw = true;
  EXPECT_THROW(engine->errors(), wb_error);
}

TEST(FakeEngine, BuildsTablesAndAppendsRows) {
  auto script = std::make_shared<wb_fake_script>();
  auto engine = wb_make_fake_engine(script);
  auto db = engine->create_database(L"new.mdb", L";LANGID=0x0409;CP=1252;COUNTRY=0", 0);
  auto td = db->create_tabledef(L"T", 0, L"", L"");
  auto field = td->create_field(L"id", wb_dao_long, 4);
  field->set_required(true);
  td->fields()->append(field.get());
  auto index = td->create_index(L"pk");
  index->set_primary(true);
  index->fields()->append(index->create_field(L"id").get());
  td->indexes()->append(index.get());
  db->tabledefs()->append(td.get());
  ASSERT_EQ(script->created_tables, std::vector<std::wstring>{L"T"});
  EXPECT_TRUE(script->tables.at(0).fields.at(0).required);
  EXPECT_EQ(script->tables.at(0).indexes.at(0).fields, std::vector<std::wstring>{L"id"});
  auto rs = db->create_querydef(L"", L"SELECT * FROM [T]")->open_recordset(2, 8);
  rs->add_new();
  rs->collect(L"id", ole_variant(7));
  rs->update(1, false);
  ASSERT_EQ(script->tables.at(0).rows.size(), 1u);
  EXPECT_EQ(script->tables.at(0).rows[0][0].to_long(), 7);
}

TEST(FakeEngine, FactoryCanFailChosenKeys) {
  auto script = std::make_shared<wb_fake_script>();
  auto previous = wb_install_fake_engine(script, {3});
  EXPECT_FALSE(wb_create_engine(3));
  EXPECT_TRUE(wb_create_engine(0));
  wb_set_engine_factory(previous);
  EXPECT_TRUE(wb_create_engine(3));  // the workbook engine again
}

}  // namespace
