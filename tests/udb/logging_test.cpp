#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>
#include <sstream>

#include "tk/tk_logger.h"
#include "udb/udb_names_map.h"
#include "udb/udb_relationships.h"
#include "udb/udb_validator.h"
#include "udb_fakes.h"

// Every entry line goes through the printf-style formatter: a format that does not fit its
// arguments would show up in the log as a format error instead of the line.
TEST(udb_logging, lines_are_formatted_as_written)
{
    char path[] = "/tmp/udb_log_XXXXXX";
    const int fd = ::mkstemp(path);
    ASSERT_GE(fd, 0);
    ::close(fd);
    {
        tk_logger logger(path, true, 1);

        udb_validator v(63);
        v.illegal = {L'!', L'.'};
        v.add_existing_name(L"Umsätze");
        v.is_acceptable(L"a.b!c");
        v.get_safe_name(L"UMSÄTZE");
        v.add_mapped_pair(L"a", L"b");
        udb_validator euro(0);
        euro.illegal = {L'€'};
        euro.is_acceptable(L"5€");

        udb_test::memory_database db;
        db.tables = {L"Sheet1"};
        db.is_table_exist(L"sheet1");
        db.delete_tab(L"nope");

        udb_schema schema;
        schema.push_back(std::make_unique<t_ftd>(4, L"Größe", VT_I4, true, false, ole_variant(), 2));
        schema.find_field(L"größe");
        schema.get_field1(L"missing");

        udb_test::memory_recordset table(L"t", true);
        table.add_index(udb_index{L"pk", true, true, {L"id"}});
        table.indexes.get_index(L"PK");

        udb_names_map map;
        map.tables = {{L"A", L"a"}};
        map.get_tn_mapped_name(L"a", false);
        map.get_fn_mapped_name(L"A", L"c", false);

        udb_relationships list;
        list.emplace_back(L"FK_B_A", L"", L"A", L"B", std::vector<std::wstring>{}, std::vector<std::wstring>{}, L"");
        list.gen_relship_name(list.front());
    }
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    ::unlink(path);
    const std::string log = text.str();

    EXPECT_EQ(log.find("format error"), std::string::npos) << log;
    for (const char* line : {"The name contains illegal: !\r\n", "The name contains illegal: €\r\n", "udb_validator::get_safe_name(UMSÄTZE)\r\n",
                             "udb_database::is_table_exist(sheet1,case_sensitive=0)\r\n", "Table not found!\r\n",
                             "\tfield name='Größe', vartype=3, size=4, b_not_null=1, reserved=2\r\n",
                             "Field 'missing' not found\r\n", "Store primary/unique key\r\n",
                             "Comparing with (A,a)\r\n", "Table 'A' not found\r\n",
                             "FK_B_A is not acceptable as a FK name\r\n"})
        EXPECT_NE(log.find(line), std::string::npos) << line;
}
