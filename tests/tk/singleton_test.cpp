#include "tk/tk_singleton.h"

#include <gtest/gtest.h>

namespace {

class registered_service : public tk_singleton<registered_service> {
 public:
  explicit registered_service(int value) : value(value) {}
  int value;
};

std::string site(const char* file, int line) { return tk_mail_assertion::make_message(file, line); }

TEST(TkSingleton, SecondInstanceAssertsAndFirstStaysRegistered) {
  registered_service first(1);
  try {
    registered_service second(2);
    FAIL() << "second instance accepted";
  } catch (const tk_mail_assertion& e) {
    EXPECT_EQ(e.message(), site("..\\TK/tk_singl", 35));
  }
  EXPECT_EQ(registered_service::instance().value, 1);
  EXPECT_EQ(&registered_service::get_instance(), &first);
}

TEST(TkSingleton, NewInstanceAfterTheFirstIsDestroyed) {
  { registered_service first(1); }
  EXPECT_FALSE(registered_service::has_instance());
  registered_service again(3);
  EXPECT_TRUE(registered_service::has_instance());
  EXPECT_EQ(registered_service::instance().value, 3);
}

TEST(TkSingleton, AccessorsWithoutInstanceAssertWithTheirSites) {
  ASSERT_EQ(registered_service::instance_ptr(), nullptr);
  try {
    registered_service::instance();
    FAIL();
  } catch (const tk_exception& e) {
    EXPECT_EQ(e.message(), site("..\\TK/tk_singl", 59));
  }
  try {
    registered_service::get_instance();
    FAIL();
  } catch (const tk_exception& e) {
    EXPECT_EQ(e.message(), site("..\\TK/tk_singl", 66));
  }
}

}  // namespace
