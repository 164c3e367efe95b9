// File dialogs: the filter Qt gets, the proposed name and folder, the appended extension,
// Cancel.
#include <gtest/gtest.h>

#include <QFileDialog>
#include <QLineEdit>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <memory>

#include "support/wizard_test_app.h"
#include "tk/tk_exception.h"
#include "tk/tk_file_name.h"
#include "tk/tk_string.h"
#include "wizard/dialogs/file_dialog.h"

using namespace wizard_test;

TEST(FileDialog, FiltersBecomeQtFilters) {
  EXPECT_EQ(file_dialog::to_qt_filter(L"MS Excel Workbooks (.xls;.xlsx)|*.xls;*.xlsx|All Files (*.*)|*.*|"),
            QStringLiteral("MS Excel Workbooks (.xls;.xlsx) (*.xls *.xlsx);;All Files (*.*) (*)"));
  EXPECT_EQ(file_dialog::to_qt_filter(L"Profile Files (.tmd)|*.tmd|All Files (*.*)|*.*|"),
            QStringLiteral("Profile Files (.tmd) (*.tmd);;All Files (*.*) (*)"));
  EXPECT_EQ(file_dialog::to_qt_filter(L""), QString());
}

TEST(FileDialog, SavedNameGetsTheExtensionUnlessItHoldsItAnywhere) {
  EXPECT_EQ(save_file_dialog::with_extension(L"/d/settings", L".tmd"), L"/d/settings.tmd");
  EXPECT_EQ(save_file_dialog::with_extension(L"/d/settings.tmd", L".tmd"), L"/d/settings.tmd");
  EXPECT_EQ(save_file_dialog::with_extension(L"/d/x.tmd/settings", L".tmd"), L"/d/x.tmd/settings");
  EXPECT_EQ(save_file_dialog::with_extension(L"settings.TMD", L".tmd"), L"settings.TMD.tmd");
}

TEST(FileDialog, InitialPathSplitsIntoNameAndFolder) {
  environment env(false);
  open_file_dialog full(nullptr, L"", L"t", L"/d/Sales Q1.xlsx");
  EXPECT_EQ(full.proposed_name(), L"Sales Q1");
  EXPECT_EQ(full.initial_dir(), L"/d/");
  open_file_dialog empty(nullptr, L"", L"t", L"");
  EXPECT_EQ(empty.proposed_name(), L"");
  EXPECT_EQ(empty.initial_dir(), tk_utf8_to_unicode(tk_get_module_dir()));
  open_file_dialog bare(nullptr, L"", L"t", L"book.xlsx");
  EXPECT_EQ(bare.proposed_name(), L"book");
  EXPECT_EQ(bare.initial_dir(), tk_utf8_to_unicode(std::filesystem::current_path().string() + "/"));
}

TEST(FileDialog, SaveNeedsAnExtensionWithOrWithoutItsDot) {
  environment env(false);
  EXPECT_THROW(save_file_dialog(nullptr, L"", L"t", L"", L""), tk_mail_assertion);
  EXPECT_EQ(save_file_dialog(nullptr, L"", L"t", L"", L"tmd").default_ext(), L".tmd");
  EXPECT_EQ(save_file_dialog(nullptr, L"", L"t", L"", L".tmd").default_ext(), L".tmd");
}

TEST(FileDialog, HookedRunsConfirmOrCancel) {
  environment env(false);
  std::optional<std::wstring> answer = L"/d/settings";
  QString seen_title;
  file_dialog::set_run_hook([&](const file_dialog& dialog) {
    seen_title = dialog.title();
    return answer;
  });
  save_file_dialog save(nullptr, L"Profile Files (.tmd)|*.tmd|", L"Select Profile File", L"", L"tmd");
  ASSERT_TRUE(save.run());
  EXPECT_EQ(save.get_file_name(), L"/d/settings.tmd");
  EXPECT_EQ(seen_title, QStringLiteral("Select Profile File"));
  answer.reset();
  open_file_dialog open(nullptr, L"", L"t", L"/d/previous.tmd");
  EXPECT_FALSE(open.run());
  EXPECT_EQ(open.get_file_name(), L"previous") << "Cancel keeps the proposed name";
}

TEST(FileDialog, RealDialogCancelledLeavesTheWorkingFolder) {
  environment env(false);
  const auto before = std::filesystem::current_path();
  open_file_dialog open(nullptr, L"All Files (*.*)|*.*|", L"Select", tk_utf8_to_unicode(env.dir().file("a.xlsx")));
  QString folder;
  when_modal([&](QWidget* modal) {
    if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
      folder = dialog->directory().absolutePath();
      dialog->reject();
    } else {
      modal->close();
    }
  });
  EXPECT_FALSE(open.run());
  EXPECT_EQ(folder, QString::fromStdString(env.dir().path()));
  EXPECT_EQ(std::filesystem::current_path(), before);
}

TEST(FileDialog, RealSaveDialogAcceptsATypedName) {
  environment env(false);
  save_file_dialog save(nullptr, L"Profile Files (.tmd)|*.tmd|", L"Save", tk_utf8_to_unicode(env.dir().file("x")), L"tmd");
  when_modal([&](QWidget* modal) {
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    ASSERT_NE(dialog, nullptr);
    auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(name, nullptr);
    name->setText(QString::fromStdString(env.dir().file("profile")));
    static_cast<QDialog*>(dialog)->accept();
  });
  ASSERT_TRUE(save.run());
  EXPECT_EQ(save.get_file_name(), tk_utf8_to_unicode(env.dir().file("profile.tmd")));
}

TEST(FileDialog, SaveAsksBeforeReplacingTheFileTheExtensionLeadsTo) {
  environment env(false);
  const std::string typed = env.dir().file("settings");
  std::ofstream(typed + ".tmd") << "[Generic settings]\n";
  std::ofstream(env.dir().file("exact.tmd")) << "[Generic settings]\n";
  std::optional<std::wstring> answer = tk_utf8_to_unicode(typed);
  file_dialog::set_run_hook([&](const file_dialog&) { return answer; });
  const auto save = [] {
    auto dialog = std::make_unique<save_file_dialog>(nullptr, L"Profile Files (.tmd)|*.tmd|", L"Select Profile File",
                                                     L"", L"tmd");
    return dialog;
  };

  // "settings" becomes "settings.tmd", which exists: asked, No as the default.
  env.boxes().answer_next(false);
  auto refused = save();
  EXPECT_FALSE(refused->run());
  ASSERT_EQ(env.boxes().count(), 1u);
  const wizard_box box = env.boxes().boxes()[0];
  EXPECT_EQ(box.type, wizard_box::kind::question);
  EXPECT_TRUE(box.default_no);
  EXPECT_EQ(box.text, QString::fromStdString(typed + ".tmd already exists.\nDo you want to replace it?"));

  env.boxes().answer_next(true);
  auto replaced = save();
  ASSERT_TRUE(replaced->run());
  EXPECT_EQ(replaced->get_file_name(), tk_utf8_to_unicode(typed + ".tmd"));
  EXPECT_EQ(env.boxes().count(), 2u);

  // A name the dialog itself checked (it holds the extension), or a new file: nothing asked.
  for (const std::string& name : {env.dir().file("exact.tmd"), env.dir().file("fresh")}) {
    answer = tk_utf8_to_unicode(name);
    auto quiet = save();
    EXPECT_TRUE(quiet->run()) << name;
  }
  EXPECT_EQ(env.boxes().count(), 2u);
}
