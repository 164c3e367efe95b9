#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/auto_number.h"
#include "tk/tk_exception.h"
#include "tk/tk_format.h"
#include "tk/tk_string.h"
#include "udb_fakes.h"

using udb_test::file_engine;
using udb_test::memory_database;

TEST(udb_database_tables, equality_follows_the_case_flag)
{
    memory_database folding(false);
    folding.tables = {L"Sheet1", L"Ärger"};
    EXPECT_TRUE(folding.is_table_exist(L"SHEET1"));
    EXPECT_TRUE(folding.is_table_exist(L"ÄRGER"));
    EXPECT_FALSE(folding.is_table_exist(L"Sheet2"));

    memory_database exact(true);
    exact.tables = {L"Sheet1", L"Ärger"};
    EXPECT_TRUE(exact.is_table_exist(L"Sheet1"));
    EXPECT_FALSE(exact.is_table_exist(L"SHEET1"));
    EXPECT_FALSE(exact.is_table_exist(L"ÄRGER"));

    memory_database empty;
    EXPECT_FALSE(empty.is_table_exist(L"Sheet1"));
}

TEST(udb_database_tables, delete_tab_removes_only_the_first_equal_name)
{
    memory_database db(false);
    db.tables = {L"a", L"Sheet1", L"b", L"SHEET1", L"c"};
    EXPECT_TRUE(db.delete_tab(L"sheet1"));
    EXPECT_EQ(db.get_tables(), (std::vector<std::wstring>{L"a", L"b", L"SHEET1", L"c"}));

    EXPECT_FALSE(db.delete_tab(L"missing"));
    EXPECT_EQ(db.get_tables().size(), 4u);

    memory_database exact(true);
    exact.tables = {L"Sheet1"};
    EXPECT_FALSE(exact.delete_tab(L"SHEET1"));
    EXPECT_EQ(exact.tables.size(), 1u);
}

TEST(udb_database_defaults, base_operations)
{
    memory_database db;
    std::vector<std::wstring> schemas{L"left over"};
    db.get_schema_info(schemas);
    EXPECT_TRUE(schemas.empty());

    db.create_indexes(L"t", udb_indexes{});
    EXPECT_TRUE(db.created_indexes.empty());

    udb_indexes three;
    for (const wchar_t* name : {L"i3", L"i1", L"i2"})
        three.push_back(udb_index{name, false, false, {L"x"}});
    db.create_indexes(L"t", three);
    EXPECT_EQ(db.created_indexes, (std::vector<std::wstring>{L"t:i3", L"t:i1", L"t:i2"}));

    try {
        db.query(L"SELECT 1");
        FAIL() << "query on the base must be an internal error";
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.level(), 2);
        const std::string message = e.what();
        EXPECT_TRUE(message.ends_with("7564625f64625c3836")) << message;
    }
}

TEST(udb_database_ownership, factories_hand_out_objects_the_caller_owns)
{
    file_engine engine;
    std::unique_ptr<udb_database> db = engine.create_db(L"x");
    std::unique_ptr<udb_recordset> table = db->create_table(L"public.t", udb_schema{}, udb_indexes{});
    EXPECT_EQ(table->table_name, L"public.t");
    EXPECT_TRUE(db->is_table_exist(L"PUBLIC.T"));
    std::unique_ptr<udb_recordset> query = db->get_query(L"q", L"SELECT 1", 0);
    EXPECT_TRUE(query->is_query());
    EXPECT_FALSE(table->is_query());
    // Record sets go before their database, the database before the engine.
    table.reset();
    query.reset();
    db.reset();

    std::unique_ptr<udb_engine> as_base = std::make_unique<file_engine>();
    as_base->set_param(7);
    EXPECT_EQ(as_base->param, 7);
}

class udb_engine_files : public ::testing::Test {
protected:
    std::filesystem::path dir;
    void SetUp() override
    {
        char pattern[] = "/tmp/udb_engine_XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    std::wstring wide(const std::filesystem::path& p) { return tk_utf8_to_unicode(p.string()); }
};

TEST_F(udb_engine_files, delete_db_reports_the_system_error)
{
    file_engine engine;
    try {
        engine.delete_db(wide(dir / "missing.xls"));
        FAIL() << "deleting a missing file must throw";
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.level(), 1);
        EXPECT_EQ(e.code(), ENOENT);
    }

    const auto folder = dir / "folder";
    std::filesystem::create_directory(folder);
    EXPECT_THROW(engine.delete_db(wide(folder)), tk_exception);
    EXPECT_TRUE(std::filesystem::is_directory(folder));

    const auto file = dir / "Bücher.xls";
    std::ofstream(file) << "x";
    engine.delete_db(wide(file));
    EXPECT_FALSE(std::filesystem::exists(file));
}

TEST_F(udb_engine_files, is_db_exist_wants_a_readable_regular_file)
{
    file_engine engine;
    const auto file = dir / "Übersicht.xlsx";
    std::ofstream(file) << "x";
    EXPECT_TRUE(engine.is_db_exist(wide(file)));
    EXPECT_FALSE(engine.is_db_exist(wide(dir)));
    EXPECT_FALSE(engine.is_db_exist(wide(dir / "missing.xlsx")));
}

TEST_F(udb_engine_files, regression_special_files_wide_characters_and_the_smallest_currency)
{
    // A FIFO without a writer and a device "open" for reading, but are no database file.
    file_engine engine;
    ASSERT_EQ(::mkfifo((dir / "book.xls").c_str(), 0600), 0);
    EXPECT_FALSE(engine.is_db_exist(wide(dir / "book.xls")));
    EXPECT_FALSE(engine.is_db_exist(L"/dev/null"));
    // %c with a wide character (or a one-character text) prints it, width and '*' included.
    EXPECT_EQ(tk_format("%c|%C|%-3c|%c", L'\u00e4', L'\u20ac', L'x', 'n'), "\u00e4|\u20ac|x  |n");
    EXPECT_EQ(tk_format("%*d%c '%c'", 3, 7, L'\u0436', std::wstring(1, L'\u00df')), "  7\u0436 '\u00df'");
    // The currency range is one unit longer below zero.
    CY cy{};
    ASSERT_EQ(platform::cy_from_text("-922337203685477.5808", cy), S_OK);
    EXPECT_EQ(platform::cy_to_text(cy), "-922337203685477.5808");
    EXPECT_EQ(platform::cy_from_text("-922337203685477.5809", cy), DISP_E_OVERFLOW);
}
