#pragma once
// Runs a test suite once in the C locale and once in a comma-decimal locale: value texts must not change.
#include <clocale>
#include <string>

#include <gtest/gtest.h>

class locale_param_test : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override
    {
        if (!std::setlocale(LC_ALL, GetParam())) GTEST_SKIP() << "locale " << GetParam() << " is not installed";
    }
    void TearDown() override { std::setlocale(LC_ALL, "C"); }
};

#define TAMARIND_LOCALE_SUITE(suite) \
    INSTANTIATE_TEST_SUITE_P(locales, suite, ::testing::Values("C", "de_DE.UTF-8"), \
                             [](const auto& info) { return std::string(info.param[0] == 'C' ? "c" : "de_DE"); })
