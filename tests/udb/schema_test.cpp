#include <gtest/gtest.h>

#include "ole/ole_variant.h"
#include "tk/tk_exception.h"
#include "udb/udb_recordset.h"
#include "udb/udb_types.h"
#include "udb_fakes.h"

namespace {

udb_index make_index(const std::wstring& name, bool unique, bool primary, std::vector<std::wstring> fields)
{
    return udb_index{name, unique, primary, std::move(fields)};
}

/// A side's descriptor type that counts its destructions.
struct counted_ftd : t_ftd {
    int* destroyed;
    counted_ftd(const std::wstring& name, int* destroyed)
        : t_ftd(0, name, VT_BSTR, false, false, ole_variant(), 0), destroyed(destroyed)
    {
    }
    ~counted_ftd() override { ++*destroyed; }
};

class write_only_recordset : public udb_recordset {
public:
    using udb_recordset::udb_recordset;
    void append_record(udb_record&) override {}
};

}  // namespace

TEST(t_ftd_construction, from_a_field_takes_the_sides_type)
{
    udb_test::typed_field field(L"Amount", VT_CY);
    field.size = 8;
    field.b_not_null = true;
    field.auto_increment = true;
    const t_ftd descriptor(field, ole_variant(5), udb_reserved_date_time);
    EXPECT_EQ(descriptor.name, L"Amount");
    EXPECT_EQ(descriptor.size, 8u);
    EXPECT_EQ(descriptor.vartype, VT_CY);  // the field's own mapping, not the empty value's type
    EXPECT_TRUE(descriptor.b_not_null);
    EXPECT_TRUE(descriptor.auto_increment);
    EXPECT_EQ(descriptor.value.get_type(), VT_I4);
    EXPECT_EQ(descriptor.reserved, 1);
    EXPECT_TRUE(descriptor.second_text.empty());
    EXPECT_TRUE(descriptor.third_text.empty());

    const t_ftd decimal(0, L"d", VT_DECIMAL, false, false, ole_variant(), udb_decimal_reserved(18, 4), L"x");
    EXPECT_EQ(udb_decimal_precision(decimal.reserved), 18);
    EXPECT_EQ(udb_decimal_scale(decimal.reserved), 4);
    EXPECT_EQ(decimal.second_text, L"x");
}

TEST(udb_schema_lookup, names_compare_without_case_and_a_miss_is_the_empty_descriptor)
{
    udb_schema schema;
    EXPECT_FALSE(schema.find_field(L"amount"));

    schema.push_back(std::make_unique<t_ftd>(10, L"Name", VT_BSTR, true, false, ole_variant(), 0));
    schema.push_back(std::make_unique<t_ftd>(8, L"Amount", VT_R8, false, false, ole_variant(), 0));
    schema.push_back(std::make_unique<t_ftd>(4, L"AMOUNT", VT_I4, false, false, ole_variant(), 0));
    EXPECT_TRUE(schema.find_field(L"amount"));
    EXPECT_TRUE(schema.find_field(L"NAME"));
    EXPECT_EQ(schema.get_field1(L"amount").vartype, VT_R8);  // the first of equal names
    EXPECT_EQ(schema.get_field2(L"name").size, 10u);

    const t_ftd& missing = schema.get_field2(L"nope");
    const t_ftd& missing_again = schema.get_field1(L"other");
    // Read after the calls: the miss answer must still be alive.
    EXPECT_EQ(missing.vartype, VT_EMPTY);
    EXPECT_EQ(missing.size, 0u);
    EXPECT_TRUE(missing.name.empty());
    EXPECT_FALSE(missing.b_not_null);
    EXPECT_FALSE(missing.auto_increment);
    EXPECT_EQ(missing.value.get_type(), VT_EMPTY);
    EXPECT_EQ(missing.reserved, 0);
    EXPECT_EQ(missing_again.vartype, VT_EMPTY);
}

TEST(udb_schema_ownership, descriptors_are_destroyed_once_through_the_base)
{
    int destroyed = 0;
    {
        udb_schema schema(false);  // the flag does not change ownership
        schema.push_back(std::make_unique<counted_ftd>(L"a", &destroyed));
        schema.push_back(std::make_unique<counted_ftd>(L"b", &destroyed));
        udb_schema moved = std::move(schema);
        EXPECT_EQ(moved.size(), 2u);
        EXPECT_EQ(destroyed, 0);
    }
    EXPECT_EQ(destroyed, 2);

    {
        write_only_recordset table(L"t", false);
        table.schema.push_back(std::make_unique<counted_ftd>(L"c", &destroyed));
    }
    EXPECT_EQ(destroyed, 3);
}

struct merge_case {
    const char* label;
    udb_index first;
    udb_index second;
    udb_index expected;
};

TEST(udb_indexes_merge, a_second_index_of_the_same_name_merges_by_rank)
{
    const std::vector<merge_case> cases = {
        {"plain then primary upgrades", make_index(L"ix", false, false, {L"a"}),
         make_index(L"IX", true, true, {L"b", L"c"}), make_index(L"IX", true, true, {L"b", L"c"})},
        {"plain then unique upgrades", make_index(L"ix", false, false, {L"a"}),
         make_index(L"Ix", true, false, {L"b"}), make_index(L"Ix", true, false, {L"b"})},
        {"unique then primary upgrades", make_index(L"ix", true, false, {L"a"}),
         make_index(L"IX", false, true, {L"b"}), make_index(L"IX", false, true, {L"b"})},
        {"primary then unique stays", make_index(L"ix", true, true, {L"a"}),
         make_index(L"IX", true, false, {L"b"}), make_index(L"ix", true, true, {L"a"})},
        {"unique then plain stays", make_index(L"ix", true, false, {L"a"}),
         make_index(L"IX", false, false, {L"b"}), make_index(L"ix", true, false, {L"a"})},
        {"plain then plain stays", make_index(L"ix", false, false, {L"a"}),
         make_index(L"IX", false, false, {L"b"}), make_index(L"ix", false, false, {L"a"})},
        {"unique then unique stays", make_index(L"ix", true, false, {L"a"}),
         make_index(L"IX", true, false, {L"b"}), make_index(L"ix", true, false, {L"a"})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        udb_indexes list;
        list.push_back(c.first);
        list.push_back(c.second);
        ASSERT_EQ(list.size(), 1u);
        EXPECT_EQ(list[0].name, c.expected.name);
        EXPECT_EQ(list[0].unique, c.expected.unique);
        EXPECT_EQ(list[0].primary, c.expected.primary);
        EXPECT_EQ(list[0].fields, c.expected.fields);
    }
}

TEST(udb_indexes_lookup, find_get_and_acceptable_names)
{
    udb_indexes list;
    list.push_back(make_index(L"Straße_ix", false, false, {L"a"}));
    list.push_back(make_index(L"other", true, false, {L"b"}));
    EXPECT_FALSE(list.find2(L"STRASSE_IX"));  // simple case folding: ß is not SS
    EXPECT_TRUE(list.find2(L"STRAßE_IX"));
    EXPECT_FALSE(list.is_acceptable_name(L"OTHER"));
    EXPECT_TRUE(list.is_acceptable_name(L"third"));
    EXPECT_EQ(list.get_index(L"Other").fields, std::vector<std::wstring>{L"b"});
    try {
        list.get_index(L"missing");
        FAIL() << "a missing index is an internal error";
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.level(), 2);
        EXPECT_TRUE(std::string(e.what()).ends_with("2e2e5c5544422f7564625f6964785c313837")) << e.what();
    }
}

TEST(udb_recordset_add_index, the_first_primary_or_unique_key_is_the_update_key)
{
    write_only_recordset unique_first(L"t", true);
    unique_first.add_index(make_index(L"plain", false, false, {L"x"}));
    EXPECT_EQ(unique_first.n_u_index, -1);
    unique_first.add_index(make_index(L"u", true, false, {L"a"}));
    unique_first.add_index(make_index(L"p", true, true, {L"b"}));
    EXPECT_EQ(unique_first.indexes.size(), 3u);
    EXPECT_EQ(unique_first.n_u_index, 1);

    write_only_recordset primary_first(L"t", true);
    primary_first.add_index(make_index(L"pk", true, true, {L"id"}));
    primary_first.add_index(make_index(L"u", true, false, {L"code"}));
    EXPECT_EQ(primary_first.indexes.size(), 2u);
    EXPECT_EQ(primary_first.n_u_index, 0);

    // A name already present, in another case: nothing stored, nothing merged, key untouched.
    write_only_recordset present(L"t", true);
    present.add_index(make_index(L"ix", false, false, {L"a"}));
    present.add_index(make_index(L"IX", true, true, {L"b"}));
    EXPECT_EQ(present.indexes.size(), 1u);
    EXPECT_FALSE(present.indexes[0].primary);
    EXPECT_EQ(present.n_u_index, -1);
}
