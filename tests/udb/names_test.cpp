#include <gtest/gtest.h>

#include "ole/ole_variant.h"
#include "udb/udb_custom_conversion.h"
#include "udb/udb_names_map.h"
#include "udb/udb_relationships.h"

TEST(udb_names_map_lookup, generated_names_and_unknown_names)
{
    udb_names_map map;
    map.tables = {{L"Sheet1", L"sheet1"}, {L"Q1 Sales", L"q1_sales"}};
    EXPECT_EQ(map.get_tn_mapped_name(L"SHEET1", false), L"sheet1");
    EXPECT_EQ(map.get_tn_mapped_name(L"SHEET1", true), L"SHEET1");
    EXPECT_EQ(map.get_tn_mapped_name(L"Q1 Sales", true), L"q1_sales");
    EXPECT_EQ(map.get_tn_mapped_name(L"unknown", false), L"unknown");

    map.add_fn_map(L"Sheet1", {{L"Order Date", L"order date"}, {L"Größe", L"groesse"}});
    EXPECT_EQ(map.get_fn_mapped_name(L"Sheet1", L"ORDER DATE", false), L"order date");
    EXPECT_EQ(map.get_fn_mapped_name(L"Sheet1", L"GRÖSSE", false), L"GRÖSSE");  // ß folds to itself only
    EXPECT_EQ(map.get_fn_mapped_name(L"Sheet1", L"GRÖßE", false), L"groesse");
    EXPECT_EQ(map.get_fn_mapped_name(L"Sheet1", L"ORDER DATE", true), L"ORDER DATE");
    // The table is found by exact key only, whatever the column rule.
    EXPECT_EQ(map.get_fn_mapped_name(L"sheet1", L"Order Date", false), L"Order Date");
    EXPECT_EQ(map.get_fn_mapped_name(L"Other", L"x", false), L"x");

    map.add_fn_map(L"Sheet1", {{L"Order Date", L"changed"}});
    EXPECT_EQ(map.get_fn_mapped_name(L"Sheet1", L"Order Date", true), L"order date");
}

TEST(udb_relationships_names, generated_names_are_unique_in_the_list)
{
    udb_relationships list;
    udb_relationship first(L"A", L"B", {L"b_id"}, {L"id"}, L"");
    EXPECT_TRUE(first.name.empty());
    first.name = list.gen_relship_name(first);
    EXPECT_EQ(first.name, L"FK_B_A");
    list.push_back(first);

    udb_relationship second(L"A", L"B", {L"b2_id"}, {L"id"}, L"ON DELETE CASCADE");
    second.name = list.gen_relship_name(second);
    EXPECT_EQ(second.name, L"FK_B_A_");
    list.push_back(second);

    EXPECT_EQ(list.gen_relship_name(second), L"FK_B_A_1");
    EXPECT_FALSE(list.is_acceptable_name(L"fk_b_a"));
    EXPECT_TRUE(list.is_acceptable_name(L"FK_B_A_1"));

    // Suffixes accumulate cyclically.
    udb_relationships taken;
    for (const wchar_t* name : {L"fk_b_a", L"FK_B_A_", L"FK_B_A_1", L"FK_B_A_1_", L"FK_B_A_1_2", L"FK_B_A_1_2_",
                                L"FK_B_A_1_2_3"})
        taken.emplace_back(name, L"", L"A", L"B", std::vector<std::wstring>{}, std::vector<std::wstring>{}, L"");
    EXPECT_EQ(taken.gen_relship_name(first), L"FK_B_A_1_2_3_");

    const udb_relationship from_server(L"fk_orders", L"", L"public.orders", L"public.customers", {L"cust"},
                                       {L"id"}, L"ON DELETE SET NULL");
    EXPECT_EQ(from_server.name, L"fk_orders");
    EXPECT_EQ(from_server.ref_columns, std::vector<std::wstring>{L"id"});
}

namespace {

class prefix_converter : public udb_custom_converter {
public:
    std::wstring prefix;
    std::wstring type_text;
    prefix_converter(std::wstring prefix, std::wstring type_text) : prefix(std::move(prefix)), type_text(std::move(type_text)) {}
    bool is_acceptable(const t_ftd& field) const override { return field.name.starts_with(prefix); }
    std::wstring handle(const t_ftd&) const override { return type_text; }
};

}  // namespace

TEST(udb_custom_conversion_hook, answers_false_without_converters)
{
    const t_ftd field(0, L"geo_point", VT_BSTR, false, false, ole_variant(), 0);
    EXPECT_FALSE(udb_custom_conversion::is_acceptable1(field));
    EXPECT_EQ(udb_custom_conversion::handle1(field), L"");

    udb_custom_conversion conversion;
    EXPECT_FALSE(udb_custom_conversion::is_acceptable1(field));
    EXPECT_EQ(udb_custom_conversion::handle1(field), L"");

    conversion.converters.push_back(std::make_unique<prefix_converter>(L"x", L"xml"));
    conversion.converters.push_back(std::make_unique<prefix_converter>(L"geo", L"point"));
    conversion.converters.push_back(std::make_unique<prefix_converter>(L"geo_", L"geometry"));
    EXPECT_TRUE(udb_custom_conversion::is_acceptable1(field));
    EXPECT_EQ(udb_custom_conversion::handle1(field), L"point");

    const t_ftd plain(0, L"name", VT_BSTR, false, false, ole_variant(), 0);
    EXPECT_FALSE(udb_custom_conversion::is_acceptable1(plain));
    EXPECT_EQ(udb_custom_conversion::handle1(plain), L"");
}
