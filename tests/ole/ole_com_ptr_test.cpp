// The interface pointer, the reference count probe and the two conversion errors.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "ole/ole_com_ptr.h"
#include "ole/ole_exceptions.h"
#include "ole/ole_variant.h"
#include "tk/tk_exception.h"
#include "tk/tk_logger.h"

namespace {
struct probe : ref_counted_object {
    explicit probe(int& deleted) : deleted_(deleted) {}
    ~probe() override { ++deleted_; }
    int value() const { return 42; }
    int& deleted_;
};

// An engine-style factory: hands out a new reference through an out parameter.
void make_probe(int& deleted, probe** out) { *out = new probe(deleted); }
}  // namespace

TEST(ole_com_ptr, owns_one_reference)
{
    int deleted = 0;
    {
        ole_com_ptr<probe> empty;  // nothing to release
        ole_com_ptr<probe> p;
        make_probe(deleted, p.out());
        EXPECT_EQ(p->value(), 42);
        EXPECT_EQ(ole_get_ref_count(p.get()), 1);
        p.get()->AddRef();
        EXPECT_EQ(ole_get_ref_count(p.get()), 2);
        p.get()->Release();
    }
    EXPECT_EQ(deleted, 1);
}

TEST(ole_com_ptr, out_releases_what_it_held)
{
    int first = 0, second = 0;
    ole_com_ptr<probe> p;
    make_probe(first, p.out());
    make_probe(second, p.out());
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 0);
    p.release();
    EXPECT_EQ(second, 1);
    EXPECT_FALSE(p);
}

TEST(ole_com_ptr, moves_transfer_the_reference)
{
    int deleted = 0;
    ole_com_ptr<probe> a;
    make_probe(deleted, a.out());
    ole_com_ptr<probe> b(std::move(a));
    EXPECT_FALSE(a);
    ole_com_ptr<probe> c;
    c = std::move(b);
    EXPECT_EQ(deleted, 0);
    EXPECT_EQ(ole_get_ref_count(c.get()), 1);
    c = ole_com_ptr<probe>();
    EXPECT_EQ(deleted, 1);
    static_assert(!std::is_copy_constructible_v<ole_com_ptr<probe>>);
    static_assert(!std::is_copy_assignable_v<ole_com_ptr<probe>>);
}

TEST(ole_com_ptr, null_use_is_an_internal_error)
{
    ole_com_ptr<probe> empty;
    try {
        (void)empty->value();
        FAIL() << "no assertion";
    } catch (const tk_mail_assertion& e) {
        EXPECT_EQ(std::string(e.what()), "Internal error: \ncode=2e2e5c4f4c452f6f6c655f7074725c3934");
    }
    EXPECT_THROW(ole_get_ref_count(nullptr), tk_mail_assertion);
}

TEST(ole_exceptions, texts_levels_and_type_predicates)
{
    try {
        throw ole_cast_exception();
    } catch (const tk_exception& e) {
        EXPECT_STREQ(e.what(), "Cannot cast from source type to destination type");
        EXPECT_EQ(e.level(), 1);
    }
    const ole_type_exception type_error;
    const ole_type_exception copy(type_error);
    EXPECT_STREQ(copy.what(), "The operating type is not supported yet");
    EXPECT_EQ(copy.level(), 1);
    EXPECT_TRUE(ole_is_string_or_date(VT_BSTR));
    EXPECT_TRUE(ole_is_string_or_date(VT_DATE));
    for (VARTYPE vt : {VT_EMPTY, VT_I4, static_cast<VARTYPE>(VT_ARRAY | VT_UI1)}) EXPECT_FALSE(ole_is_string_or_date(vt));
    EXPECT_TRUE(ole_is_binary(VT_BLOB));
    EXPECT_TRUE(ole_is_binary(VT_BLOB_OBJECT));
    EXPECT_TRUE(ole_is_binary(VT_ARRAY | VT_UI1));
    EXPECT_FALSE(ole_is_binary(27));
}

TEST(ole_com_ptr, release_is_logged_with_the_count_left)
{
    const std::string log_name = ::testing::TempDir() + "ole_com_ptr_release.log";
    std::remove(log_name.c_str());
    int deleted = 0;
    {
        tk_logger logger(log_name.c_str(), true, 1);
        { ole_com_ptr<probe> empty; }
        ole_com_ptr<probe> held;
        make_probe(deleted, held.out());
        probe* raw = held.get();
        raw->AddRef();
        held.release();  // one reference stays with us
        make_probe(deleted, held.out());
        held.release();
        ole_com_ptr<probe> last(raw);
        (void)last;
    }
    std::ifstream in(log_name, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "ole_com_ptr<T>::~ole_com_ptr() - 1 refs left\r\n"
                    "ole_com_ptr<T>::~ole_com_ptr() - 0 refs left\r\n"
                    "ole_com_ptr<T>::~ole_com_ptr() - 0 refs left\r\n");
    EXPECT_EQ(deleted, 2);
    std::remove(log_name.c_str());
}
