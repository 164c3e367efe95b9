// The page template's helpers and defaults.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QVBoxLayout>

#include "shell_test_pages.h"
#include "support/wizard_test_app.h"
#include "tk/tk_exception.h"
#include "wizard/page/wizard_page.h"

using namespace wizard_test;

namespace {

class control_page : public wizard_page<105, wiz_back | wiz_next, psp_has_help> {
 public:
  control_page() {
    auto* layout = new QVBoxLayout(this);
    box = new QCheckBox(QStringLiteral("box"), this);
    box->setTristate(true);
    set_ctrl_id(box, 1222);
    edit = new QLineEdit(this);
    set_ctrl_id(edit, 1003);
    layout->addWidget(box);
    layout->addWidget(edit);
  }
  QCheckBox* box;
  QLineEdit* edit;
};

}  // namespace

TEST(PageTemplate, TemplateArgumentsBecomeIdMaskAndFlags) {
  environment env(false);
  control_page page;
  EXPECT_EQ(control_page::idd, 105);
  EXPECT_EQ(page.page_id(), 105);
  EXPECT_EQ(page.buttons(), 3);
  EXPECT_TRUE(page.has_help());
  EXPECT_FALSE(page.hides_header());
  EXPECT_EQ(wizard_page_base::ctrl_name(1016), QStringLiteral("id_1016"));
}

TEST(PageTemplate, InvertChboxHandlesAllThreeStates) {
  environment env(false);
  control_page page;
  page.box->setCheckState(Qt::Unchecked);
  EXPECT_TRUE(page.invert_chbox(1222));
  EXPECT_EQ(page.box->checkState(), Qt::Checked);
  EXPECT_FALSE(page.invert_chbox(1222));
  EXPECT_EQ(page.box->checkState(), Qt::Unchecked);
  page.box->setCheckState(Qt::PartiallyChecked);
  EXPECT_TRUE(page.invert_chbox(1222));
  EXPECT_EQ(page.box->checkState(), Qt::Checked);
}

TEST(PageTemplate, ShowEnableAndMissingControls) {
  environment env(false);
  wizard_shell& shell = env.shell();
  auto* page = new control_page;
  shell.add_page(page);
  env.show();
  page->show_ctrl(1003, false);
  EXPECT_TRUE(page->edit->isHidden());
  page->show_ctrl(1003, true);
  EXPECT_FALSE(page->edit->isHidden());
  page->enable_ctrl(1003, false);
  EXPECT_FALSE(page->edit->isEnabled());
  page->enable_ctrl(1003, true);
  EXPECT_TRUE(page->edit->isEnabled());
  EXPECT_TRUE(wait_until([&] { return page->edit->hasFocus(); }, 1000) || QApplication::focusWidget() == page->edit);
  // A missing control, or a control of another kind, is an internal error with the page's site.
  try {
    page->show_ctrl(4242, true);
    FAIL();
  } catch (const tk_mail_assertion& e) {
    EXPECT_EQ(std::string(e.what()), tk_mail_assertion::make_message("..\\GUI2/g_wiz_pg", 123));
  }
  EXPECT_THROW(page->invert_chbox(1003), tk_mail_assertion);
}

TEST(PageTemplate, DefaultOperations) {
  environment env(false);
  scripted_page probe(1, wiz_next, 0);
  wizard_page_base& base = probe;
  EXPECT_TRUE(base.wizard_page_base::page_init());
  EXPECT_TRUE(base.wizard_page_base::on_kill_active());
  EXPECT_TRUE(base.wizard_page_base::on_finish());
  EXPECT_EQ(base.wizard_page_base::on_next(), 0);
  EXPECT_EQ(base.wizard_page_base::on_back(), 0);
  env.boxes().answer_next(true);
  EXPECT_TRUE(base.wizard_page_base::on_cancel());
  env.boxes().answer_next(false);
  EXPECT_FALSE(base.wizard_page_base::on_cancel());
}
