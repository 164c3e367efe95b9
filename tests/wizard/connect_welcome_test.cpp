// The welcome page: its texts and the profile loader behind "&Load Settings".
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <fstream>
#include <optional>

#include "connect_test_support.h"
#include "wizard/app/ui_messages.h"
#include "wizard/dialogs/file_dialog.h"
#include "wizard/pages/pgs_settings_page.h"
#include "wizard/pages/welcome_page.h"

using wizard_test::environment;
using wizard_test::find_ctrl;

namespace {

void write_text(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

/// A welcome page (with "tmd") and the connection page after it, in a shown wizard.
struct two_pages {
  explicit two_pages(environment& env) {
    welcome = new welcome_page;
    welcome->set_profile_ext(ui_profile_ext);
    settings = new pgs_settings_page;
    env.shell().add_page(welcome);
    env.shell().add_page(settings);
    env.show();
  }
  welcome_page* welcome;
  pgs_settings_page* settings;
};

}  // namespace

TEST(ConnectWelcome, ShowsTitleTextsAndTheMakersLink) {
  environment env;
  two_pages pages(env);
  auto* title = find_ctrl<QLabel>(pages.welcome, welcome_page::id_title);
  ASSERT_NE(title, nullptr);
  EXPECT_EQ(title->text(), QStringLiteral("Tamarind\nConversion Wizard"));
  EXPECT_EQ(title->font().pointSize(), 13);
  auto* link = find_ctrl<QLabel>(pages.welcome, welcome_page::id_link);
  ASSERT_NE(link, nullptr);
  EXPECT_TRUE(link->openExternalLinks());
  EXPECT_TRUE(link->text().contains(QStringLiteral("https://www.hollowmere.example/")));
  QStringList texts;
  for (QLabel* label : pages.welcome->findChildren<QLabel*>()) texts << label->text();
  EXPECT_TRUE(texts.contains(QStringLiteral("This wizard helps you to convert Microsoft Excel ")));
  EXPECT_TRUE(texts.contains(QStringLiteral("spreadsheet into PostgreSQL database.")));
  EXPECT_TRUE(texts.contains(QStringLiteral("Click 'Next' to continue.")));
  EXPECT_EQ(find_ctrl<QPushButton>(pages.welcome, welcome_page::id_load)->text(), QStringLiteral("&Load Settings"));
}

TEST(ConnectWelcome, LoadAsksForAProfileAndCancelChangesNothing) {
  environment env;
  two_pages pages(env);
  env.converter().set_src(L"/kept/book.xlsx");
  std::optional<QString> filter, title;
  std::wstring proposed = L"unset";
  file_dialog::set_run_hook([&](const file_dialog& dialog) -> std::optional<std::wstring> {
    filter = dialog.qt_filter();
    title = dialog.title();
    proposed = dialog.proposed_name();
    return std::nullopt;
  });
  find_ctrl<QPushButton>(pages.welcome, welcome_page::id_load)->click();
  ASSERT_TRUE(filter.has_value());
  EXPECT_EQ(welcome_page::profile_filter(L"tmd"), L"Profile Files (.tmd)|*.tmd|All Files (*.*)|*.*|");
  EXPECT_EQ(*filter, QStringLiteral("Profile Files (.tmd) (*.tmd);;All Files (*.*) (*)"));
  EXPECT_EQ(*title, QStringLiteral("Select Profile File"));
  EXPECT_EQ(proposed, L"");
  EXPECT_EQ(env.converter().get_src(), L"/kept/book.xlsx");
  EXPECT_EQ(env.boxes().count(), 0u);
  EXPECT_EQ(env.shell().currentId(), 103);
}

TEST(ConnectWelcome, LoadedProfileFillsTheConnectionPage) {
  environment env;
  two_pages pages(env);
  const std::string profile = env.dir().file("settings.tmd");
  write_text(profile, "[Generic settings]\nsrc=" + connect_test::fixture("xls/basic.xls") +
                          "\ndest=sales\n[pgs settings]\nhost=db.example\nuser=loader\npassword=s3cret\nport=5544\n");
  file_dialog::set_run_hook(
      [&](const file_dialog&) -> std::optional<std::wstring> { return connect_test::wide(profile); });
  find_ctrl<QPushButton>(pages.welcome, welcome_page::id_load)->click();
  EXPECT_EQ(env.boxes().count(), 0u) << env.boxes().last_text().toStdString();
  EXPECT_EQ(env.shell().currentId(), 103);  // the page stays
  EXPECT_EQ(env.converter().get_dest(), L"sales");

  env.shell().next();
  ASSERT_TRUE(wizard_test::wait_until([&] { return env.shell().currentId() == 134; }));
  EXPECT_TRUE(find_ctrl<QRadioButton>(pages.settings, pgs_settings_page::id_remote)->isChecked());
  EXPECT_EQ(find_ctrl<QLineEdit>(pages.settings, pgs_settings_page::id_host)->text(), QStringLiteral("db.example"));
  EXPECT_EQ(find_ctrl<QLineEdit>(pages.settings, pgs_settings_page::id_user)->text(), QStringLiteral("loader"));
  EXPECT_EQ(find_ctrl<QLineEdit>(pages.settings, pgs_settings_page::id_password)->text(), QStringLiteral("s3cret"));
  EXPECT_EQ(find_ctrl<QLineEdit>(pages.settings, pgs_settings_page::id_port)->text(), QStringLiteral("5544"));
}

TEST(ConnectWelcome, ProfileThatDoesNotLoadIsToldAndThePageStays) {
  environment env;
  two_pages pages(env);
  // A key before the first section: the file reads but is no profile.
  const std::string broken = env.dir().file("broken.tmd");
  write_text(broken, "mode=1\n[Generic settings]\n");
  file_dialog::set_run_hook(
      [&](const file_dialog&) -> std::optional<std::wstring> { return connect_test::wide(broken); });
  find_ctrl<QPushButton>(pages.welcome, welcome_page::id_load)->click();
  ASSERT_EQ(env.boxes().count(), 1u);
  EXPECT_EQ(env.boxes().boxes()[0].type, wizard_box::kind::error);
  EXPECT_EQ(env.boxes().last_text(), QString::fromStdString("Cannot load profile file '" + broken + "'."));
  EXPECT_EQ(env.shell().currentId(), 103);
  EXPECT_FALSE(env.shell().forced_status().has_value());
}

TEST(ConnectWelcome, ErrorRaisedByTheLoadGoesToTheHandlerAndTheWizardStays) {
  environment env;
  two_pages pages(env);
  const std::string missing = env.dir().file("missing.tmd");
  const std::string bad_mode = env.dir().file("bad_mode.tmd");
  write_text(bad_mode, "[Generic settings]\nmode=7\ndest=other\n");
  for (const std::string& path : {missing, bad_mode}) {
    env.boxes().clear();
    file_dialog::set_run_hook(
        [&](const file_dialog&) -> std::optional<std::wstring> { return connect_test::wide(path); });
    find_ctrl<QPushButton>(pages.welcome, welcome_page::id_load)->click();
    EXPECT_EQ(env.boxes().count(), 1u) << path;
    EXPECT_EQ(env.shell().currentId(), 103);
    EXPECT_FALSE(env.shell().forced_status().has_value()) << path;
  }
  EXPECT_NE(env.converter().get_dest(), L"other");
  EXPECT_EQ(env.converter().get_mode(), 0);
}

TEST(ConnectWelcome, ProfileExtensionMustHaveThreeOrFourCharacters) {
  environment env;
  env.shell();
  welcome_page page;
  file_dialog::set_run_hook([](const file_dialog&) -> std::optional<std::wstring> { return std::nullopt; });
  for (const wchar_t* bad : {L"", L"tm", L"tmdxx"}) {
    page.set_profile_ext(bad);
    EXPECT_THROW(page.on_load(), tk_mail_assertion);
  }
  for (const wchar_t* good : {L"tmd", L"tmdx"}) {
    page.set_profile_ext(good);
    EXPECT_EQ(page.on_load(), 0);
  }
}

TEST(ConnectWelcome, WorksheetsMissingFromTheProfilesWorkbookAreNamedInOneBox) {
  environment env;
  two_pages pages(env);
  env.converter().set_src(connect_test::wide(connect_test::fixture("xls/basic.xls")));
  std::vector<std::wstring> sheets;
  ASSERT_TRUE(env.converter().get_all_sheets(sheets));
  ASSERT_FALSE(sheets.empty());
  const std::string profile = env.dir().file("partly.tmd");
  write_text(profile, "[Generic settings]\nsrc=" + connect_test::fixture("xls/basic.xls") +
                          "\n[Selected Tables]\n" + QString::fromStdWString(sheets[0]).toStdString() +
                          "\nNo Such Sheet\nAnother Missing\n");
  file_dialog::set_run_hook(
      [&](const file_dialog&) -> std::optional<std::wstring> { return connect_test::wide(profile); });
  find_ctrl<QPushButton>(pages.welcome, welcome_page::id_load)->click();
  ASSERT_EQ(env.boxes().count(), 1u);
  const std::string text = env.boxes().last_text().toStdString();
  EXPECT_EQ(text.rfind("These worksheets were not found in the workbook:\n", 0), 0u) << text;
  EXPECT_NE(text.find("\nNo Such Sheet"), std::string::npos) << text;
  EXPECT_NE(text.find("\nAnother Missing"), std::string::npos) << text;
  EXPECT_EQ(env.shell().currentId(), 103);
  EXPECT_EQ(env.converter().get_worksheets().size(), 1u);
}
