#include <gtest/gtest.h>

#include "tk/tk_exception.h"
#include "tk/tk_string.h"
#include "udb/udb_validator.h"

namespace {

std::wstring repeat(wchar_t c, std::size_t n)
{
    return std::wstring(n, c);
}

/// Every name is taken: no numbered candidate can ever be found.
class everything_taken : public udb_validator {
public:
    using udb_validator::udb_validator;
    int duplicate_tests = 0;
    std::wstring last_candidate;
    bool is_duplicated(const std::wstring& name) override
    {
        ++duplicate_tests;
        last_candidate = name;
        return true;
    }
};

void expect_vali_assertion(udb_validator& validator, const std::wstring& name)
{
    try {
        validator.get_safe_name(name);
        FAIL() << "no candidate can be found";
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.level(), 2);
        EXPECT_TRUE(std::string(e.what()).ends_with("7564625f76616c695c3534")) << e.what();
    }
}

}  // namespace

TEST(udb_validator_rules, acceptable_names)
{
    udb_validator v(10);
    v.illegal = {L'.', L'!'};
    v.restricted = {L"Select", L"ÄRA"};
    EXPECT_TRUE(v.is_acceptable(L"Sheet1"));
    EXPECT_TRUE(v.is_acceptable(repeat(L'x', 10)));
    EXPECT_FALSE(v.is_acceptable(repeat(L'x', 11)));
    EXPECT_FALSE(v.is_acceptable(L"SELECT"));
    EXPECT_FALSE(v.is_acceptable(L"ära"));
    EXPECT_FALSE(v.is_acceptable(L"a!b.c"));
    EXPECT_FALSE(v.is_acceptable(L"a.b"));

    udb_validator unlimited(0);
    EXPECT_TRUE(unlimited.is_acceptable(repeat(L'x', 5000)));
    EXPECT_TRUE(unlimited.is_acceptable(L""));

    v.add_existing_name(L"Umsätze");
    EXPECT_TRUE(v.is_duplicated(L"UMSÄTZE"));
    EXPECT_FALSE(v.is_duplicated(L"Umsatz"));
    // Restricted words are not duplicates, and existing names are still acceptable.
    EXPECT_FALSE(v.is_duplicated(L"select"));
    EXPECT_TRUE(v.is_acceptable(L"Umsätze"));

    v.add_mapped_pair(L"Sheet 1", L"Sheet_1");
    EXPECT_EQ(v.mapped.at(L"Sheet 1"), L"Sheet_1");
}

TEST(udb_validator_safe_names, cuts_and_replaces)
{
    udb_validator v(63);
    const std::wstring seventy = repeat(L'a', 62) + repeat(L'b', 8);
    EXPECT_EQ(v.get_safe_name(seventy), repeat(L'a', 62));
    EXPECT_EQ(v.get_safe_name(repeat(L'a', 63)), repeat(L'a', 63));

    v.illegal = {L'.', L' '};
    EXPECT_EQ(v.get_safe_name(L"Sales 2024.Q1"), L"Sales_2024_Q1");

    udb_validator unlimited(0);
    const std::wstring long_name = repeat(L'z', 300);
    EXPECT_EQ(unlimited.get_safe_name(long_name), long_name);
    unlimited.add_existing_name(long_name);
    EXPECT_EQ(unlimited.get_safe_name(long_name), long_name + L"00000");
}

TEST(udb_validator_safe_names, used_names_get_a_number_case_insensitively)
{
    udb_validator v(63);
    const std::wstring sixty = repeat(L'n', 60);
    v.add_existing_name(sixty);
    const std::wstring first = v.get_safe_name(sixty);
    EXPECT_EQ(first, repeat(L'n', 57) + L"00000");
    EXPECT_LE(first.size(), 62u);
    v.add_existing_name(first);
    EXPECT_EQ(v.get_safe_name(sixty), repeat(L'n', 57) + L"00001");

    udb_validator short_names(63);
    short_names.add_existing_name(L"Data");
    short_names.add_existing_name(L"DATA00000");
    EXPECT_EQ(short_names.get_safe_name(L"data"), L"data00001");

    udb_validator restricted(63);
    restricted.restricted = {L"id"};
    EXPECT_EQ(restricted.get_safe_name(L"ID"), L"ID00000");
}

TEST(udb_validator_safe_names, results_are_unique_when_recorded)
{
    udb_validator v(63);
    std::vector<std::wstring> made;
    const std::wstring base = repeat(L'q', 70);
    for (int i = 0; i < 20; ++i) {
        std::wstring name = v.get_safe_name(i % 2 ? base : L"Q" + repeat(L'q', 69));
        v.add_existing_name(name);
        made.push_back(name);
    }
    for (std::size_t i = 0; i < made.size(); ++i) {
        EXPECT_LE(made[i].size(), 62u);
        for (std::size_t j = i + 1; j < made.size(); ++j)
            EXPECT_NE(tk_compare_no_case(made[i], made[j]), 0) << i << " " << j;
    }
}

TEST(udb_validator_bytes, a_byte_limit_counts_utf8_and_keeps_whole_characters)
{
    udb_validator bytes(63, udb_name_measure::utf8_bytes);
    EXPECT_EQ(bytes.name_length(L"aé€😀"), 1 + 2 + 3 + 4);
    EXPECT_FALSE(bytes.is_acceptable(repeat(L'é', 32)));  // 64 bytes
    EXPECT_TRUE(bytes.is_acceptable(repeat(L'é', 31)));

    EXPECT_EQ(bytes.get_safe_name(repeat(L'é', 40)), repeat(L'é', 31));  // 62 bytes
    EXPECT_EQ(bytes.get_safe_name(repeat(L'€', 30)), repeat(L'€', 20));  // 60 bytes, never half of one

    // Numbered names keep within the limit too: stem of at most 57 bytes plus five digits.
    const std::wstring cyrillic = repeat(L'ж', 31);
    bytes.add_existing_name(cyrillic);
    const std::wstring numbered = bytes.get_safe_name(cyrillic);
    EXPECT_EQ(numbered, repeat(L'ж', 28) + L"00000");
    EXPECT_LE(bytes.name_length(numbered), 62);

    udb_validator chars(63);
    EXPECT_EQ(chars.get_safe_name(repeat(L'é', 40)), repeat(L'é', 40));
}

TEST(udb_validator_exhaustion, ends_in_the_assertion_without_hanging)
{
    everything_taken full(63);
    expect_vali_assertion(full, L"name");
    EXPECT_EQ(full.last_candidate, L"name99999");
    EXPECT_EQ(full.duplicate_tests, 100001);

    // A limit too small for any numbered name: the same assertion, no negative cut.
    for (int limit : {1, 3, 4}) {
        SCOPED_TRACE(limit);
        udb_validator tiny(limit);
        tiny.add_existing_name(L"a");
        expect_vali_assertion(tiny, L"a");
    }
    // From 5 on the number alone fits.
    udb_validator five(5);
    five.add_existing_name(L"abcde");
    EXPECT_EQ(five.get_safe_name(L"abcde"), L"00000");
}
