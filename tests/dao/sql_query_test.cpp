// Queries of the workbook source over a real workbook: a query's rows, schema and record count, and
// the engine errors a bad query gives.
#include <gtest/gtest.h>
#include <xlsxwriter.h>

#include "dao/dao_database.h"
#include "dao/dao_engine.h"
#include "dao/dao_exception.h"
#include "dao_test_support.h"

using namespace dao_test;

namespace {

class DaoSqlQuery : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string path = dir_.file("book.xlsx");
    lxw_workbook* wb = workbook_new(path.c_str());
    lxw_worksheet* orders = workbook_add_worksheet(wb, "Orders");
    worksheet_write_string(orders, 0, 0, "Id", nullptr);
    worksheet_write_string(orders, 0, 1, "Customer", nullptr);
    worksheet_write_string(orders, 0, 2, "Amount", nullptr);
    const char* customers[] = {"ann", "bob", "ann", "cy"};
    for (lxw_row_t r = 1; r <= 4; ++r) {
      worksheet_write_number(orders, r, 0, r, nullptr);
      worksheet_write_string(orders, r, 1, customers[r - 1], nullptr);
      worksheet_write_number(orders, r, 2, r * 10.0, nullptr);
    }
    lxw_worksheet* people = workbook_add_worksheet(wb, "Customer List");
    worksheet_write_string(people, 0, 0, "Customer", nullptr);
    worksheet_write_string(people, 0, 1, "City", nullptr);
    const char* cities[][2] = {{"ann", "Oslo"}, {"bob", "Lima"}};
    for (lxw_row_t r = 0; r < 2; ++r) {
      worksheet_write_string(people, r + 1, 0, cities[r][0], nullptr);
      worksheet_write_string(people, r + 1, 1, cities[r][1], nullptr);
    }
    ASSERT_EQ(workbook_close(wb), LXW_NO_ERROR);
    ASSERT_TRUE(engine_.set_version_if(3));
    db_ = engine_.open_dao_src(wide(path), L"Excel 5.0; IMEX=1;", 1);
    ASSERT_TRUE(db_->test_query(L"SELECT 1 AS one"));
  }

  long error_code(const std::wstring& sql) {
    try {
      db_->get_query(L"q", sql, 1);
    } catch (const dao_exception& e) {
      return e.code() & 0xFFFF;
    }
    return 0;
  }

  temp_dir dir_;
  dao_engine engine_{0};
  std::unique_ptr<dao_database> db_;
};

TEST_F(DaoSqlQuery, RowsSchemaAndCount) {
  auto rs = db_->get_query(L"q",
                           L"SELECT o.Customer, c.City, sum(o.Amount) AS total, count(*) AS n "
                           L"FROM [Orders$] o LEFT JOIN ['Customer List$'] c ON o.Customer = c.Customer "
                           L"WHERE o.Id > 1 GROUP BY o.Customer, c.City ORDER BY total DESC",
                           1);
  ASSERT_NE(rs, nullptr);
  EXPECT_EQ(rs->rec_count, 3);
  ASSERT_EQ(rs->schema.size(), 4u);
  EXPECT_EQ(rs->schema[0].name, L"Customer");
  EXPECT_EQ(rs->schema[0].vartype, VT_BSTR);
  EXPECT_EQ(rs->schema[2].vartype, VT_R8);
  EXPECT_EQ(rs->schema[3].vartype, VT_I4);
  std::vector<std::wstring> order;
  for (; !rs->is_eof(); rs->next()) order.push_back(rs->get_item()->at(0).to_wstring());
  EXPECT_EQ(order, (std::vector<std::wstring>{L"cy", L"ann", L"bob"}));  // 40, 30, 20

  EXPECT_EQ(db_->get_records_count(L"SELECT * FROM [Orders$] WHERE Customer = 'ann';"), 2u);
  EXPECT_TRUE(db_->test_query(L"SELECT Id FROM [Orders$] ORDER BY Id"));
}

TEST_F(DaoSqlQuery, BadQueriesGiveEngineErrors) {
  EXPECT_EQ(error_code(L"SELECT * FROM [Nope$]"), 3078);
  EXPECT_EQ(error_code(L"SELECT Nope FROM [Orders$]"), 3061);
  EXPECT_EQ(error_code(L"SELECT FROM WHERE [Orders$]"), 3141);
  // The count comes first, and a DELETE inside the count wrapper is no statement at all.
  EXPECT_EQ(error_code(L"DELETE FROM [Orders$]"), 3141);
  EXPECT_FALSE(db_->test_query(L"DELETE FROM [Orders$]"));
  EXPECT_FALSE(db_->test_query(L"SELECT Nope FROM [Orders$]"));
}

}  // namespace
