#include <gtest/gtest.h>

#include <type_traits>

#include "ole/ole_variant.h"
#include "tk/tk_exception.h"
#include "udb_fakes.h"

using udb_test::counted_field;
using udb_test::make_record;
using udb_test::memory_recordset;

namespace {

/// A record set that only writes: it keeps nothing and reports nothing of its own.
class write_only_recordset : public udb_recordset {
public:
    using udb_recordset::udb_recordset;
    void append_record(udb_record&) override {}
};

udb_schema schema_of(std::initializer_list<VARTYPE> types)
{
    udb_schema schema;
    int i = 0;
    for (VARTYPE type : types)
        schema.push_back(std::make_unique<t_ftd>(0, L"col" + std::to_wstring(i++), type, false, false, ole_variant(), 0));
    return schema;
}

}  // namespace

TEST(udb_recordset_defaults, base_reads_nothing_and_writes_nothing_pending)
{
    write_only_recordset table(L"Sheet1", true);
    EXPECT_FALSE(table.is_query());
    EXPECT_EQ(table.rec_count, 0);
    EXPECT_EQ(table.n_u_index, -1);
    table.reset();
    int rows = 0;
    for (; !table.is_eof(); table.next())
        ++rows;
    EXPECT_EQ(rows, 0);
    EXPECT_EQ(table.get_item(), nullptr);

    udb_record record = make_record({ole_variant(5)});
    table.update(record);
    table.finish();
    table.finish();
    EXPECT_TRUE(table.take_row_errors().empty());

    write_only_recordset query(L"q", L"SELECT * FROM [Sheet1$]", true);
    EXPECT_TRUE(query.is_query());
    write_only_recordset empty_text(L"q", L"", true);
    EXPECT_FALSE(empty_text.is_query());
}

TEST(udb_recordset_reading, get_item_keeps_ownership_of_the_current_row)
{
    memory_recordset sheet(L"Sheet1", true);
    sheet.rows = {{ole_variant(1)}, {ole_variant(2)}, {ole_variant(3)}};
    sheet.reset();
    std::vector<std::wstring> seen;
    for (; !sheet.is_eof(); sheet.next()) {
        udb_record* record = sheet.get_item();
        ASSERT_NE(record, nullptr);
        seen.push_back(record->at(0).to_wstring());
    }
    EXPECT_EQ(seen, (std::vector<std::wstring>{L"1", L"2", L"3"}));
    EXPECT_EQ(sheet.get_item(), nullptr);
}

TEST(udb_record_ownership, fields_are_destroyed_exactly_once)
{
    int destroyed = 0;
    {
        udb_record record;
        record.push_back(std::make_unique<counted_field>(&destroyed));
        record.push_back(std::make_unique<counted_field>(&destroyed));
        udb_record moved = std::move(record);
        EXPECT_EQ(moved.size(), 2u);
        EXPECT_EQ(destroyed, 0);
    }
    EXPECT_EQ(destroyed, 2);

    // Destroyed through the base, as a recordset does with a side's own record type.
    struct side_record : udb_record {};
    std::unique_ptr<udb_record> side = std::make_unique<side_record>();
    side->push_back(std::make_unique<counted_field>(&destroyed));
    side.reset();
    EXPECT_EQ(destroyed, 3);

    static_assert(!std::is_copy_constructible_v<udb_record>);
    udb_record record;
    EXPECT_THROW(record.push_back(nullptr), std::invalid_argument);
    EXPECT_THROW(record.at(0), std::out_of_range);
}

TEST(udb_row_errors, are_values_that_keep_the_error)
{
    udb_row_error original(12000, tk_exception(std::string("duplicate key"), 0));
    udb_row_error copy = original;
    udb_row_error moved = std::move(original);
    EXPECT_EQ(copy.record_number, 12000);
    EXPECT_STREQ(copy.error.what(), "duplicate key");
    EXPECT_EQ(copy.error.level(), 0);
    EXPECT_EQ(moved.record_number, 12000);
    std::vector<udb_row_error> list{copy, moved};
    EXPECT_EQ(list.size(), 2u);
}

TEST(udb_recordset_convert, fields_take_the_column_types_by_position)
{
    write_only_recordset table(L"t", true);
    table.schema = schema_of({VT_BSTR, VT_R8, VT_I4});
    udb_record record = make_record({ole_variant(42), ole_variant(std::wstring(L"1.5")), ole_variant(std::wstring(L"7"))});
    table.convert_record(record);
    EXPECT_EQ(record[0].get_type(), VT_BSTR);
    EXPECT_EQ(record[0].to_wstring(), L"42");
    EXPECT_EQ(record[1].get_type(), VT_R8);
    EXPECT_EQ(record[2].get_type(), VT_I4);
    EXPECT_EQ(record[2].to_wstring(), L"7");

    // Fewer fields than columns is fine: only the fields present are converted.
    udb_record shorter = make_record({ole_variant(3)});
    table.convert_record(shorter);
    EXPECT_EQ(shorter[0].get_type(), VT_BSTR);
}

TEST(udb_recordset_convert, a_failing_field_keeps_the_earlier_ones_converted)
{
    write_only_recordset table(L"t", true);
    table.schema = schema_of({VT_BSTR, VT_I4, VT_BSTR});
    udb_record record = make_record({ole_variant(1), ole_variant(1e10), ole_variant(2)});
    EXPECT_ANY_THROW(table.convert_record(record));
    EXPECT_EQ(record[0].get_type(), VT_BSTR);
    EXPECT_EQ(record[1].get_type(), VT_R8);
    EXPECT_EQ(record[2].get_type(), VT_I4);
}

TEST(udb_recordset_convert, a_record_wider_than_the_schema_is_refused_unchanged)
{
    write_only_recordset table(L"t", true);
    table.schema = schema_of({VT_BSTR});
    udb_record record = make_record({ole_variant(1), ole_variant(2)});
    try {
        table.convert_record(record);
        FAIL() << "a record wider than its table must be refused";
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.level(), 0);
        EXPECT_STREQ(e.what(), "The structures of data source does not conform to the destination table.");
    }
    EXPECT_EQ(record[0].get_type(), VT_I4);
    EXPECT_EQ(record[1].get_type(), VT_I4);
}
