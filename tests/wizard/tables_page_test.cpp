// The worksheet page: the two lists over the sample workbook, moving entries, the question on an
// empty choice, the hand-over to the converter and query entries that come from a profile.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QDialog>
#include <cstdio>

#include "support/wizard_test_app.h"
#include "tk/tk_string.h"
#include "udb/udb_profile.h"
#include "wizard/pages/set_query_dlg.h"
#include "wizard/pages/tmd_sel_tables_page.h"

using namespace wizard_test;

namespace {

using strings = std::vector<std::wstring>;

/// A page after the worksheet page, so that Next has somewhere to go.
class next_page : public wizard_page<134, wiz_back | wiz_next, 0> {};

/// The first page, so that Back has somewhere to go.
class previous_page : public wizard_page<105, wiz_back | wiz_next, 0> {};

std::wstring sample_book() { return tk_utf8_to_unicode(std::string(TAMARIND_SOURCE_DIR) + "/samples/sample.xlsx"); }

class TablesPage : public ::testing::Test {
 protected:
  TablesPage() {
    // A query dialog left open fails the test instead of hanging it.
    watchdog.setInterval(15000);
    QObject::connect(&watchdog, &QTimer::timeout, [this] {
      if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
        watchdog_fired = true;
        dialog->reject();
      }
    });
    watchdog.start();
  }
  ~TablesPage() override { EXPECT_FALSE(watchdog_fired) << "a dialog was left open"; }

  void SetUp() override {
    env.converter().set_src(sample_book());
    env.shell().add_page(first = new previous_page);
    env.shell().add_page(page = new tmd_sel_tables_page);
    env.shell().add_page(new next_page);
  }

  /// Shows the wizard and moves on to the worksheet page.
  void open() {
    env.show();
    env.shell().next();
    pump();
    ASSERT_EQ(env.shell().currentId(), 127);
  }

  QListWidget* available() { return find_ctrl<QListWidget>(page, 1317); }
  QListWidget* selected() { return find_ctrl<QListWidget>(page, 1318); }
  strings left() { return sel_tables_page::entries(*available()); }
  strings right() { return sel_tables_page::entries(*selected()); }
  void click(int id) { QTest::mouseClick(find_ctrl<QPushButton>(page, id), Qt::LeftButton); }
  void choose_left(const std::wstring& name) {
    const auto items = available()->findItems(QString::fromStdWString(name), Qt::MatchExactly);
    ASSERT_EQ(items.size(), 1);
    available()->setCurrentItem(items.front());
  }
  void choose_right(const std::wstring& name) {
    const auto items = selected()->findItems(QString::fromStdWString(name), Qt::MatchExactly);
    ASSERT_EQ(items.size(), 1);
    selected()->setCurrentItem(items.front());
  }
  void next() {
    env.shell().next();
    pump();
  }
  void back() {
    env.shell().back();
    pump();
  }
  /// Loads a profile holding these selected entries and stored queries (without listing).
  void load_profile(const std::vector<std::pair<std::wstring, std::wstring>>& selected_entries,
                    const std::vector<std::pair<std::wstring, std::wstring>>& queries) {
    udb_profile profile;
    for (const auto& [name, text] : selected_entries)
      profile.set_value(udb_profile::selected_tables_section, name, text);
    for (const auto& [name, text] : queries) profile.set_value(udb_profile::available_queries_section, name, text);
    const std::wstring path = tk_utf8_to_unicode(env.dir().file("in.tmd"));
    ASSERT_TRUE(profile.store(path));
    ASSERT_TRUE(env.converter().load_profile_file(path, false));
  }

  environment env;
  QTimer watchdog;
  bool watchdog_fired = false;
  previous_page* first = nullptr;
  tmd_sel_tables_page* page = nullptr;
};

}  // namespace

TEST_F(TablesPage, OffersTheWorksheetsSortedIgnoringCaseWithTheirTexts) {
  open();
  // A case-sensitive sort would put "sales.q1" last.
  EXPECT_EQ(left(), (strings{L"Orders", L"Products", L"sales.q1", L"Visits"}));
  EXPECT_TRUE(right().empty());
  EXPECT_EQ(available()->currentRow(), 0);
  EXPECT_EQ(find_ctrl<QLabel>(page, 1334)->text(), QStringLiteral("&Available tables:"));
  EXPECT_EQ(find_ctrl<QLabel>(page, 1312)->text(), QStringLiteral("&Selected tables:"));
  EXPECT_FALSE(find_ctrl<QLabel>(page, 1337)->text().isEmpty());
  // The wizard adds no query.
  EXPECT_TRUE(find_ctrl<QPushButton>(page, 1114)->isHidden());
  EXPECT_TRUE(env.shell().button(QWizard::BackButton)->isEnabled());
  EXPECT_TRUE(env.shell().button(QWizard::NextButton)->isEnabled());
}

TEST_F(TablesPage, MovesOneEntryAndKeepsANeighbourSelected) {
  open();
  choose_left(L"Visits");
  click(1101);
  EXPECT_EQ(left(), (strings{L"Orders", L"Products", L"sales.q1"}));
  EXPECT_EQ(right(), (strings{L"Visits"}));
  // The last row went: the new last row is current.
  EXPECT_EQ(available()->currentRow(), 2);
  choose_left(L"Orders");
  click(1101);
  EXPECT_EQ(right(), (strings{L"Orders", L"Visits"}));
  EXPECT_EQ(available()->currentRow(), 0);

  choose_right(L"Orders");
  click(1111);
  EXPECT_EQ(left(), (strings{L"Orders", L"Products", L"sales.q1"}));
  EXPECT_EQ(right(), (strings{L"Visits"}));
  EXPECT_EQ(selected()->currentRow(), 0);
}

TEST_F(TablesPage, NothingChosenMovesNothing) {
  open();
  available()->setCurrentRow(-1);
  available()->clearSelection();
  click(1101);
  click(1111);
  EXPECT_EQ(left().size(), 4u);
  EXPECT_TRUE(right().empty());
}

TEST_F(TablesPage, MovingTheLastEntryPassesTheFocusToTheOtherList) {
  env.show();
  env.shell().activateWindow();
  env.shell().next();
  pump();
  click(1102);  // all right
  EXPECT_TRUE(left().empty());
  EXPECT_EQ(right(), (strings{L"Orders", L"Products", L"sales.q1", L"Visits"}));
  EXPECT_EQ(page->focusWidget(), selected());
  EXPECT_EQ(selected()->currentRow(), 0);

  click(1110);  // all back
  EXPECT_EQ(left(), (strings{L"Orders", L"Products", L"sales.q1", L"Visits"}));
  EXPECT_TRUE(right().empty());
  EXPECT_EQ(page->focusWidget(), available());

  // One left: adding it moves the focus right; removing the only one moves it back.
  click(1102);
  choose_right(L"Orders");
  click(1111);
  choose_left(L"Orders");
  click(1101);
  EXPECT_EQ(page->focusWidget(), selected());
  EXPECT_EQ(selected()->currentRow(), 0);
}

TEST_F(TablesPage, DoubleClickOnTheLeftAdds) {
  open();
  choose_left(L"Products");
  QListWidgetItem* item = available()->currentItem();
  emit available()->itemDoubleClicked(item);
  EXPECT_EQ(right(), (strings{L"Products"}));
  // A worksheet on the right has nothing to edit: no dialog, nothing changes.
  choose_right(L"Products");
  emit selected()->itemDoubleClicked(selected()->currentItem());
  EXPECT_EQ(right(), (strings{L"Products"}));
  EXPECT_EQ(env.boxes().count(), 0u);
}

TEST_F(TablesPage, NextWithNothingChosenAsksWithNoAsDefault) {
  open();
  env.boxes().answer_next(false);
  next();
  ASSERT_EQ(env.boxes().count(), 1u);
  const wizard_box box = env.boxes().boxes().front();
  EXPECT_EQ(box.type, wizard_box::kind::question);
  EXPECT_EQ(box.text, QStringLiteral("There are no tables selected. Continue anyway?"));
  EXPECT_TRUE(box.default_no);
  EXPECT_EQ(env.shell().currentId(), 127);

  env.boxes().answer_next(true);
  next();
  EXPECT_EQ(env.shell().currentId(), 134);
  EXPECT_TRUE(env.converter().get_selected().empty());
  EXPECT_TRUE(env.converter().get_worksheets().empty());
  EXPECT_FALSE(env.converter().selection_requested());
}

TEST_F(TablesPage, NothingIsAskedWhenTheWorkbookOffersNothing) {
  // A file of no workbook kind lists nothing (and is no error here).
  const std::string plain = env.dir().file("plain.txt");
  std::FILE* file = std::fopen(plain.c_str(), "w");
  ASSERT_NE(file, nullptr);
  std::fputs("no workbook at all\n", file);
  std::fclose(file);
  env.converter().set_src(tk_utf8_to_unicode(plain));
  open();
  EXPECT_TRUE(left().empty());
  next();
  EXPECT_EQ(env.boxes().count(), 0u);
  EXPECT_EQ(env.shell().currentId(), 134);
}

TEST_F(TablesPage, NextHandsTheChoiceToTheConverterAndARevisitShowsIt) {
  open();
  choose_left(L"sales.q1");
  click(1101);
  choose_left(L"Orders");
  click(1101);
  next();
  ASSERT_EQ(env.shell().currentId(), 134);
  EXPECT_TRUE(env.converter().selection_requested());
  const auto& sheets = env.converter().get_worksheets();
  ASSERT_EQ(sheets.size(), 2u);
  EXPECT_TRUE(sheets.count(L"Orders"));
  EXPECT_TRUE(sheets.count(L"sales.q1"));
  EXPECT_EQ(env.converter().get_selected().size(), 2u);

  back();
  ASSERT_EQ(env.shell().currentId(), 127);
  // Rebuilt from the workbook (all four listed again) and the converter's choice.
  EXPECT_EQ(left(), (strings{L"Products", L"Visits"}));
  EXPECT_EQ(right(), (strings{L"Orders", L"sales.q1"}));
}

TEST_F(TablesPage, AProfileSelectionAppearsAndANameNotInTheWorkbookIsLeftOut) {
  load_profile({{L"Visits", L""}, {L"Nowhere", L""}}, {});
  open();
  EXPECT_EQ(right(), (strings{L"Visits"}));
  EXPECT_EQ(left(), (strings{L"Orders", L"Products", L"sales.q1"}));
}

TEST_F(TablesPage, ProfileQueriesSurviveNextBackNextAndSave) {
  load_profile({{L"Orders", L""}, {L"big_orders", L"SELECT * FROM [Orders$] WHERE Amount > 100"}},
               {{L"cheap", L"SELECT * FROM [Products$] WHERE Price < 10"}});
  open();
  EXPECT_EQ(right(), (strings{L"big_orders", L"Orders"}));
  EXPECT_EQ(left(), (strings{L"cheap", L"Products", L"sales.q1", L"Visits"}));

  // The stored query moves right, the chosen one back left.
  choose_left(L"cheap");
  click(1101);
  choose_right(L"big_orders");
  click(1111);
  EXPECT_EQ(right(), (strings{L"cheap", L"Orders"}));
  EXPECT_EQ(page->selected_queries().count(L"cheap"), 1u);
  EXPECT_EQ(page->available_queries().count(L"big_orders"), 1u);

  next();
  ASSERT_EQ(env.shell().currentId(), 134);
  // The run converts worksheets only.
  ASSERT_EQ(env.converter().get_worksheets().size(), 1u);
  EXPECT_TRUE(env.converter().get_worksheets().count(L"Orders"));
  back();
  EXPECT_EQ(right(), (strings{L"cheap", L"Orders"}));
  EXPECT_EQ(left(), (strings{L"big_orders", L"Products", L"sales.q1", L"Visits"}));
  next();
  ASSERT_EQ(env.shell().currentId(), 134);

  const std::wstring saved = tk_utf8_to_unicode(env.dir().file("out.tmd"));
  ASSERT_TRUE(env.converter().save_profile_file(saved));
  udb_profile profile;
  ASSERT_TRUE(profile.load(saved));
  EXPECT_EQ(profile.get_value(udb_profile::selected_tables_section, L"cheap"),
            L"SELECT * FROM [Products$] WHERE Price < 10");
  EXPECT_EQ(profile.get_sel_tables().count(L"Orders"), 1u);
  EXPECT_EQ(profile.get_sel_tables().count(L"big_orders"), 0u);
  EXPECT_EQ(profile.get_value(udb_profile::available_queries_section, L"big_orders"),
            L"SELECT * FROM [Orders$] WHERE Amount > 100");
  EXPECT_EQ(profile.get_queries().count(L"cheap"), 0u);
}

TEST_F(TablesPage, AQueryThatIsAlsoStoredIsListedOnce) {
  load_profile({{L"q", L"SELECT 1"}}, {{L"q", L"SELECT 1"}});
  open();
  // The profile names no worksheet: every worksheet is selected, beside the query.
  EXPECT_EQ(right(), (strings{L"Orders", L"Products", L"q", L"sales.q1", L"Visits"}));
  EXPECT_EQ(left(), (strings{}));
}

// ---- editing a query entry -------------------------------------------------------------------

namespace {

/// Fills the open query dialog and presses OK.
void fill_and_ok(QWidget* dialog, const QString& name, const QString& text) {
  find_ctrl<QLineEdit>(dialog, 1019)->setText(name);
  find_ctrl<QPlainTextEdit>(dialog, 1020)->setPlainText(text);
  QTest::mouseClick(find_ctrl<QPushButton>(dialog, 1), Qt::LeftButton);
}

}  // namespace

TEST_F(TablesPage, EditingAQueryRenamesItAndStoresTheTrimmedText) {
  load_profile({{L"big", L"SELECT 1"}}, {});
  open();
  choose_right(L"big");
  QString shown_name, shown_text;
  when_modal(
      [&](QWidget* dialog) {
        shown_name = find_ctrl<QLineEdit>(dialog, 1019)->text();
        shown_text = find_ctrl<QPlainTextEdit>(dialog, 1020)->toPlainText();
        fill_and_ok(dialog, QStringLiteral("Huge"), QStringLiteral("\n  select 2"));
      },
      &env.shell());
  page->on_edit_query();
  EXPECT_EQ(shown_name, QStringLiteral("big"));
  EXPECT_EQ(shown_text, QStringLiteral("SELECT 1"));
  EXPECT_EQ(right(), (strings{L"Huge", L"Orders", L"Products", L"sales.q1", L"Visits"}));
  ASSERT_EQ(page->selected_queries().size(), 1u);
  EXPECT_EQ(page->selected_queries().at(L"Huge"), L"select 2");
}

TEST_F(TablesPage, EditingOntoATakenNameAsksAgainAndKeepsBothEntries) {
  load_profile({{L"Orders", L""}, {L"big", L"SELECT 1"}}, {{L"other", L"SELECT 3"}});
  open();
  choose_right(L"big");
  int dialogs = 0;
  std::function<void(QWidget*)> answer = [&](QWidget* dialog) {
    ++dialogs;
    if (dialogs == 1) {
      when_modal(answer, dialog);  // the dialog comes again after the box
      fill_and_ok(dialog, QStringLiteral("orders"), QStringLiteral("SELECT 2"));  // a chosen worksheet
    } else if (dialogs == 2) {
      EXPECT_EQ(find_ctrl<QLineEdit>(dialog, 1019)->text(), QStringLiteral("orders"));
      when_modal(answer, dialog);
      fill_and_ok(dialog, QStringLiteral("OTHER"), QStringLiteral("SELECT 2"));  // an offered query
    } else {
      // The entry's own name in another case is no clash.
      fill_and_ok(dialog, QStringLiteral("BIG"), QStringLiteral("SELECT 2"));
    }
  };
  when_modal(answer, &env.shell());
  page->on_edit_query();
  EXPECT_EQ(dialogs, 3);
  const auto boxes = env.boxes().boxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].text, QStringLiteral("Duplicate table name. Try again."));
  EXPECT_EQ(boxes[1].text, QStringLiteral("Duplicate table name. Try again."));
  EXPECT_EQ(right(), (strings{L"BIG", L"Orders"}));
  EXPECT_EQ(page->selected_queries().at(L"BIG"), L"SELECT 2");
  EXPECT_EQ(page->available_queries().at(L"other"), L"SELECT 3");
}

TEST_F(TablesPage, CancellingTheEditChangesNothing) {
  load_profile({{L"big", L"SELECT 1"}}, {});
  open();
  choose_right(L"big");
  when_modal([](QWidget* dialog) { QTest::keyClick(dialog, Qt::Key_Escape); }, &env.shell());
  page->on_edit_query();
  EXPECT_EQ(right(), (strings{L"big", L"Orders", L"Products", L"sales.q1", L"Visits"}));
  EXPECT_EQ(page->selected_queries().at(L"big"), L"SELECT 1");
}
