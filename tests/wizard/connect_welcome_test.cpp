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
  EXPECT_TRUE(link->text().contains(QStringLiteral("https://www.hollowmere.example/")));
  // The wizard opens it as it opens help: without a browser a box says where the help pages are.
  QString opened;
  wizard_shell::set_help_dir(QString::fromStdString(env.dir().path()));
  wizard_shell::set_help_opener([&](const QString& target) { opened = target; return false; });
  emit link->linkActivated(QString::fromUtf8(welcome_page::maker_site));
  EXPECT_EQ(opened, QString::fromUtf8(welcome_page::maker_site));
  EXPECT_EQ(env.boxes().last_text().toStdString(), "No web browser could be started to show the help.\nThe help "
                                                   "pages are in the folder '" + env.dir().path() + "'.");
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
  EXPECT_EQ(file_dialog::profile_filter(L"tmd"), L"Profile Files (.tmd)|*.tmd|All Files (*.*)|*.*|");
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

namespace {

/// Loads a profile through "&Load Settings" as the user would.
void load_through_the_page(welcome_page* welcome, const std::string& profile) {
  file_dialog::set_run_hook(
      [profile](const file_dialog&) -> std::optional<std::wstring> { return connect_test::wide(profile); });
  find_ctrl<QPushButton>(welcome, welcome_page::id_load)->click();
}

}  // namespace

TEST(ConnectWelcome, ALoadedProfileKeepsItsQueriesAndASecondOneReplacesTheSelection) {
  environment env;
  two_pages pages(env);
  const std::string book = connect_test::fixture("xls/basic.xls");
  const std::string first = env.dir().file("first.tmd");
  write_text(first, "[Generic settings]\nsrc=" + book +
                        "\n[Selected Tables]\nData=\nbig_rows=SELECT * FROM [Data$]\n"
                        "[Available Queries]\nstored=SELECT 1\n");
  load_through_the_page(pages.welcome, first);
  EXPECT_EQ(env.boxes().count(), 0u) << env.boxes().last_text().toStdString();
  // Listing the workbook and selecting its worksheets leaves the query entry selected.
  const auto& selected = env.converter().get_selected();
  ASSERT_EQ(selected.count(L"big_rows"), 1u);
  EXPECT_EQ(selected.at(L"big_rows"), L"SELECT * FROM [Data$]");
  EXPECT_EQ(selected.count(L"Data"), 1u);
  EXPECT_EQ(env.converter().get_worksheets().count(L"Data"), 1u);

  // The user picked the wrong profile and loads another: only its choice remains.
  const std::string second = env.dir().file("second.tmd");
  write_text(second, "[Generic settings]\nsrc=" + book + "\n[Selected Tables]\nHidden=\n");
  load_through_the_page(pages.welcome, second);
  EXPECT_EQ(env.boxes().count(), 0u) << env.boxes().last_text().toStdString();
  ASSERT_EQ(env.converter().get_worksheets().size(), 1u);
  EXPECT_EQ(env.converter().get_worksheets().count(L"Hidden"), 1u);
  EXPECT_EQ(env.converter().get_sel_tables(), std::vector<std::wstring>{L"Hidden"});
  EXPECT_EQ(selected.size(), 1u);
  EXPECT_TRUE(env.converter().get_available_queries().empty());
}

TEST(ConnectWelcome, AProfileThatFailsToLoadLeavesTheSettingsAsTheyWere) {
  environment env;
  two_pages pages(env);
  env.converter().set_connection_params("kept.example", "keeper", "pw", 5433);
  env.converter().set_dest(L"kept");
  // No source before and none in the profile (a first start, a hand-written profile).
  const std::string no_source = env.dir().file("no_source.tmd");
  write_text(no_source, "[Generic settings]\ndest=other\n[Selected Tables]\nData=\n"
                        "[pgs settings]\nhost=other.example\nuser=intruder\nport=6000\n");
  // A source that is no workbook (text of a kind the engine does not know).
  const std::string notes = env.dir().file("notes.xls");
  write_text(notes, "just some text, not a workbook");
  const std::string no_workbook = env.dir().file("no_workbook.tmd");
  write_text(no_workbook, "[Generic settings]\nsrc=" + notes +
                              "\ndest=other\n[pgs settings]\nhost=other.example\nuser=intruder\nport=6000\n");
  for (const std::string& profile : {no_source, no_workbook}) {
    SCOPED_TRACE(profile);
    env.boxes().clear();
    load_through_the_page(pages.welcome, profile);
    ASSERT_EQ(env.boxes().count(), 1u);
    EXPECT_EQ(env.boxes().last_text(), QString::fromStdString("Cannot load profile file '" + profile + "'."));
    EXPECT_TRUE(env.internal_errors().empty());
    EXPECT_FALSE(env.shell().forced_status().has_value());
    EXPECT_EQ(env.shell().currentId(), 103);
    EXPECT_TRUE(env.converter().get_src().empty());
    EXPECT_EQ(env.converter().get_dest(), L"kept");
    EXPECT_EQ(env.converter().get_host(), "kept.example");
    EXPECT_EQ(env.converter().get_port(), 5433);
    EXPECT_TRUE(env.converter().get_sel_tables().empty());
  }
  // The connection page shows the settings from before the load.
  env.shell().next();
  ASSERT_TRUE(wizard_test::wait_until([&] { return env.shell().currentId() == 134; }));
  EXPECT_EQ(find_ctrl<QLineEdit>(pages.settings, pgs_settings_page::id_host)->text(), QStringLiteral("kept.example"));
  EXPECT_EQ(find_ctrl<QLineEdit>(pages.settings, pgs_settings_page::id_user)->text(), QStringLiteral("keeper"));
}
