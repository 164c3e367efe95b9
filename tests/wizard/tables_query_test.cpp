// The query dialog: the SELECT check, OK's refusals, Test Query, Cancel.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <cstdio>
#include <functional>

#include "support/wizard_test_app.h"
#include "tk/tk_string.h"
#include "wizard/pages/set_query_dlg.h"

using namespace wizard_test;

TEST(TablesQueryCheck, LeadingBlanksAndLineBreaksBeforeSelectInAnyCasePass) {
  struct check_case {
    std::wstring entered;
    bool not_select;
    std::wstring kept;
  };
  const check_case cases[] = {
      {L"\t\r\n select * from t", false, L"select * from t"},
      {L"SELECT", false, L"SELECT"},
      {L"SeLeCt 1", false, L"SeLeCt 1"},
      {L"selectx", false, L"selectx"},  // only the first six letters count
      {L"selec", true, L"selec"},
      {L"  selec", true, L"selec"},
      {L"update t set a = 1", true, L"update t set a = 1"},
      {L"-- c\nselect 1", true, L"-- c\nselect 1"},
      {L"   \t\n", true, L"   \t\n"},  // made only of skipped characters: kept whole
      {L"", false, L""},
  };
  for (const check_case& c : cases) {
    std::wstring kept = L"stale";
    EXPECT_EQ(set_query_dlg::check_query_text(c.entered, kept), c.not_select) << tk_to_utf8(c.entered);
    EXPECT_EQ(kept, c.kept) << tk_to_utf8(c.entered);
  }
}

namespace {

class TablesQueryDialog : public ::testing::Test {
 protected:
  environment env;
  set_query_dlg dialog{L"q1", L"SELECT 1"};

  void type(const QString& name, const QString& text) {
    find_ctrl<QLineEdit>(&dialog, 1019)->setText(name);
    find_ctrl<QPlainTextEdit>(&dialog, 1020)->setPlainText(text);
  }
  void press(int id) { QTest::mouseClick(find_ctrl<QPushButton>(&dialog, id), Qt::LeftButton); }
};

}  // namespace

TEST_F(TablesQueryDialog, ShowsTheEntryItWasGiven) {
  EXPECT_EQ(find_ctrl<QLineEdit>(&dialog, 1019)->text(), QStringLiteral("q1"));
  EXPECT_EQ(find_ctrl<QPlainTextEdit>(&dialog, 1020)->toPlainText(), QStringLiteral("SELECT 1"));
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Add Query"));
}

TEST_F(TablesQueryDialog, OkRefusesEachFaultWithItsBoxAndStaysOpen) {
  struct refusal {
    QString name, text;
    wizard_box::kind kind;
    QString message;
  };
  const refusal cases[] = {
      {QString(), QStringLiteral("SELECT 1"), wizard_box::kind::message, QStringLiteral("Table name is empty!")},
      {QStringLiteral("t"), QStringLiteral("update t"), wizard_box::kind::error,
       QStringLiteral("The query must start with SELECT.")},
      {QStringLiteral("t"), QStringLiteral("  \n "), wizard_box::kind::error,
       QStringLiteral("The query must start with SELECT.")},
      {QStringLiteral("t"), QString(), wizard_box::kind::error, QStringLiteral("Query is empty!")},
  };
  dialog.show();
  for (const refusal& c : cases) {
    env.boxes().clear();
    type(c.name, c.text);
    press(1);
    ASSERT_EQ(env.boxes().count(), 1u) << c.message.toStdString();
    EXPECT_EQ(env.boxes().boxes().front().type, c.kind);
    EXPECT_EQ(env.boxes().last_text(), c.message);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.name(), L"q1");
  }
}

TEST_F(TablesQueryDialog, OkEndsWithOneAndKeepsTheTrimmedText) {
  dialog.open();
  type(QStringLiteral("Big Orders"), QStringLiteral("\r\n\t select *"));
  press(1);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.result(), 1);
  EXPECT_EQ(dialog.name(), L"Big Orders");
  EXPECT_EQ(dialog.text(), L"select *");
  EXPECT_EQ(env.boxes().count(), 0u);
}

TEST_F(TablesQueryDialog, CancelEscapeAndTheCloseBoxEndWithTwo) {
  const std::function<void()> ways[] = {
      [this] { press(2); },
      [this] { QTest::keyClick(&dialog, Qt::Key_Escape); },
      [this] { dialog.close(); },
  };
  for (const auto& way : ways) {
    dialog.open();
    type(QStringLiteral("changed"), QStringLiteral("SELECT 2"));
    way();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), 2);
  }
  EXPECT_EQ(dialog.name(), L"q1");
  EXPECT_EQ(dialog.text(), L"SELECT 1");
}

TEST_F(TablesQueryDialog, TestQueryChecksAndKeepsTheDialogOpen) {
  dialog.show();
  type(QStringLiteral("t"), QStringLiteral("  SELECT 1"));
  press(129);
  EXPECT_EQ(env.boxes().last_text(), QStringLiteral("The query is correct."));
  EXPECT_EQ(env.boxes().boxes().back().type, wizard_box::kind::message);
  type(QStringLiteral("t"), QStringLiteral("delete from t"));
  press(129);
  EXPECT_EQ(env.boxes().last_text(), QStringLiteral("The query must start with SELECT."));
  // An empty query is not confirmed as correct.
  type(QStringLiteral("t"), QString());
  press(129);
  EXPECT_EQ(env.boxes().last_text(), QStringLiteral("Query is empty!"));
  EXPECT_EQ(env.boxes().count(), 3u);
  EXPECT_TRUE(dialog.isVisible());
  dialog.hide();
}

TEST_F(TablesQueryDialog, HelpOpensItsTopicOrSaysItIsMissing) {
  QString opened;
  wizard_shell::set_help_opener([&](const QString& path) {
    opened = path;
    return true;
  });
  wizard_shell::set_help_dir(QString::fromStdString(env.dir().path()));
  press(9);
  EXPECT_TRUE(opened.isEmpty());
  EXPECT_EQ(env.boxes().last_text(), QStringLiteral("Help file does not exist. Reinstall the program."));

  std::FILE* topic = std::fopen(env.dir().file("1025.html").c_str(), "w");
  ASSERT_NE(topic, nullptr);
  std::fputs("<html></html>", topic);
  std::fclose(topic);
  env.boxes().clear();
  press(9);
  EXPECT_TRUE(opened.endsWith(QStringLiteral("1025.html")));
  EXPECT_EQ(env.boxes().count(), 0u);
  opened.clear();
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
  QTest::keyClick(&dialog, Qt::Key_F1);
  EXPECT_TRUE(opened.endsWith(QStringLiteral("1025.html")));
}
