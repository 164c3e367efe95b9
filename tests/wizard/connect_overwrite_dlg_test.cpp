// The two overwrite warnings: what each button returns, which option is preselected, and that
// Help leaves the dialog open.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QLabel>
#include <QRadioButton>
#include <QTest>

#include "connect_test_support.h"
#include "wizard/app/ui_messages.h"
#include "wizard/pages/overwrite_dlg.h"

using connect_test::modal_answer;
using wizard_test::environment;
using wizard_test::find_ctrl;

namespace {

void click(QWidget* dialog, int id) {
  auto* button = find_ctrl<QAbstractButton>(dialog, id);
  ASSERT_NE(button, nullptr) << "no control " << id;
  button->click();
}

}  // namespace

TEST(ConnectOverwriteDlg, DatabaseWarningPreselectsOverwritingTheWholeDatabase) {
  environment env;
  env.shell();
  overwrite_dlg2 dialog(1019, ui_messages[1]);
  bool preselected = false;
  QString caption, text;
  modal_answer answer([&](QWidget* shown) {
    preselected = find_ctrl<QRadioButton>(shown, 1329)->isChecked();
    caption = shown->windowTitle();
    text = find_ctrl<QLabel>(shown, 1320)->text();
    click(shown, overwrite_dlg2::id_ok);
  });
  EXPECT_EQ(dialog.exec(), 1);
  EXPECT_TRUE(preselected);
  EXPECT_EQ(dialog.choice(), 0);
  EXPECT_EQ(caption, QStringLiteral("Tamarind 1.0 Warning"));
  EXPECT_EQ(text, QString::fromWCharArray(ui_messages[1]));
}

TEST(ConnectOverwriteDlg, DatabaseWarningReturnsTheCheckedOptionAsMode) {
  environment env;
  env.shell();
  for (int mode = 0; mode < 4; ++mode) {
    overwrite_dlg2 dialog(1019, ui_messages[1]);
    modal_answer answer([&](QWidget* shown) {
      click(shown, 1329 + mode);
      click(shown, overwrite_dlg2::id_ok);
    });
    EXPECT_EQ(dialog.exec(), 1) << mode;
    EXPECT_EQ(dialog.choice(), mode);
  }
}

TEST(ConnectOverwriteDlg, DatabaseWarningCancelAndEscapeGiveTwo) {
  environment env;
  env.shell();
  {
    overwrite_dlg2 dialog(1019, ui_messages[1]);
    modal_answer answer([](QWidget* shown) {
      click(shown, 1331);
      click(shown, 2);
    });
    EXPECT_EQ(dialog.exec(), 2);
    EXPECT_EQ(dialog.choice(), 0);
  }
  {
    overwrite_dlg2 dialog(1019, ui_messages[1]);
    modal_answer answer([](QWidget* shown) { QTest::keyClick(shown, Qt::Key_Escape); });
    EXPECT_EQ(dialog.exec(), 2);
  }
  {
    overwrite_dlg2 dialog(1019, ui_messages[1]);
    modal_answer answer([](QWidget* shown) { shown->close(); });
    EXPECT_EQ(dialog.exec(), 2);
  }
}

TEST(ConnectOverwriteDlg, TableWarningButtonsAndChoices) {
  environment env;
  env.shell();
  struct {
    int button;
    int result;
    int choice;
  } const cases[] = {{1, 1, 1}, {1109, 1109, 2}, {2, 2, 0}};
  for (const auto& c : cases) {
    overwrite_dlg dialog(1019, ui_messages[9]);
    modal_answer answer([&](QWidget* shown) { click(shown, c.button); });
    EXPECT_EQ(dialog.exec(), c.result) << c.button;
    EXPECT_EQ(dialog.choice(), c.choice) << c.button;
  }
}

TEST(ConnectOverwriteDlg, TableWarningDefaultsToCancel) {
  environment env;
  env.shell();
  {
    overwrite_dlg dialog(1019, ui_messages[9]);
    modal_answer answer([](QWidget* shown) { QTest::keyClick(shown, Qt::Key_Return); });
    EXPECT_EQ(dialog.exec(), 2);
    EXPECT_EQ(dialog.choice(), 0);
  }
  {
    overwrite_dlg dialog(1019, ui_messages[9]);
    modal_answer answer([](QWidget* shown) { QTest::keyClick(shown, Qt::Key_Escape); });
    EXPECT_EQ(dialog.exec(), 2);
    EXPECT_EQ(dialog.choice(), 0);
  }
}

TEST(ConnectOverwriteDlg, HelpOpensTheContextAndLeavesTheDialogOpen) {
  environment env;
  env.shell();
  connect_test::help_pages help(env.dir(), {1019});
  for (int variant = 0; variant < 2; ++variant) {
    std::unique_ptr<overwrite_dlg_base> dialog;
    if (variant == 0)
      dialog = std::make_unique<overwrite_dlg>(1019, ui_messages[9]);
    else
      dialog = std::make_unique<overwrite_dlg2>(1019, ui_messages[1]);
    bool open_after_help = false;
    modal_answer answer([&](QWidget* shown) {
      click(shown, 9);
      wizard_test::pump(30);
      QTest::keyClick(shown, Qt::Key_F1);  // the same help, as on the pages
      wizard_test::pump(30);
      open_after_help = shown->isVisible();
      click(shown, 2);
    });
    EXPECT_EQ(dialog->exec(), 2);
    EXPECT_TRUE(open_after_help) << variant;
  }
  EXPECT_EQ(help.opened, (QStringList{"1019.html", "1019.html", "1019.html", "1019.html"}));
  EXPECT_EQ(env.boxes().count(), 0u);
  EXPECT_FALSE(env.shell().forced_status().has_value());
}

TEST(ConnectOverwriteDlg, NeedsTheShellForItsCaption) {
  environment env;
  EXPECT_THROW(overwrite_dlg(1019, ui_messages[9]), tk_mail_assertion);
  EXPECT_THROW(overwrite_dlg2(1019, ui_messages[1]), tk_mail_assertion);
}
