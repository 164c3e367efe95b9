// The shell's walk through the pages: order, buttons, refused pages, Next/Back results, closing.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QSignalSpy>
#include <QTest>

#include "shell_test_pages.h"
#include "support/wizard_test_app.h"
#include "wizard/shell/wizard_shell.h"

using namespace wizard_test;

namespace {

bool enabled(wizard_shell& shell, QWizard::WizardButton which) {
  QAbstractButton* b = shell.button(which);
  return b && b->isEnabled();
}

}  // namespace

TEST(ShellNavigation, WalksThePagesInTheOrderAddedNotByIdAndStartsOnTheFirst) {
  environment env(false);
  wizard_shell& shell = env.shell();
  six_pages p = add_six_pages(shell);
  EXPECT_EQ(shell.page_order(), (std::vector<int>{103, 134, 105, 127, 107, 116}));
  env.show();
  ASSERT_EQ(shell.currentId(), 103);
  EXPECT_EQ(shell.windowTitle(), QStringLiteral("Tamarind 1.0"));
  EXPECT_TRUE(wizard_shell::is_initialized());
  EXPECT_FALSE(shell.windowIcon().isNull());
  // The watermark belongs to the pages without a header, the logo to the header.
  EXPECT_FALSE(p.welcome->pixmap(QWizard::WatermarkPixmap).isNull());
  EXPECT_FALSE(p.finish->pixmap(QWizard::WatermarkPixmap).isNull());
  EXPECT_TRUE(p.connection->pixmap(QWizard::WatermarkPixmap).isNull());
  EXPECT_FALSE(shell.pixmap(QWizard::LogoPixmap).isNull());
  for (int expected : {134, 105, 127, 107, 116}) {
    shell.next();
    pump(0);
    EXPECT_EQ(shell.currentId(), expected);
  }
  EXPECT_EQ(shell.current_wizard_page(), p.finish);
  // Each page was asked once on the way, and left through on_next and on_kill_active.
  EXPECT_EQ(p.connection->count("init"), 1u);
  EXPECT_EQ(p.connection->count("next"), 1u);
  EXPECT_EQ(p.connection->count("kill"), 1u);
}

TEST(ShellNavigation, IsInitialisedOnlyOnceAShellShowedItsFirstPage) {
  environment env(false);
  EXPECT_FALSE(wizard_shell::is_initialized());
  wizard_shell& shell = env.shell();
  shell.add_page(new scripted_page(1, wiz_next, 0));
  EXPECT_FALSE(wizard_shell::is_initialized());
  env.show();
  EXPECT_TRUE(wizard_shell::is_initialized());
  env.destroy_shell();
  EXPECT_FALSE(wizard_shell::is_initialized());
}

TEST(ShellNavigation, ButtonsFollowEachPagesMask) {
  environment env(false);
  wizard_shell& shell = env.shell();
  add_six_pages(shell);
  env.show();
  // The welcome page: Next only, Help on.
  EXPECT_FALSE(enabled(shell, QWizard::BackButton));
  EXPECT_TRUE(enabled(shell, QWizard::NextButton));
  EXPECT_TRUE(enabled(shell, QWizard::HelpButton));
  shell.next();
  EXPECT_TRUE(enabled(shell, QWizard::BackButton));
  EXPECT_TRUE(enabled(shell, QWizard::NextButton));
  for (int i = 0; i < 4; ++i) shell.next();
  ASSERT_EQ(shell.currentId(), 116);
  // The finish page: Finish only, no Help.
  EXPECT_FALSE(enabled(shell, QWizard::BackButton));
  EXPECT_TRUE(enabled(shell, QWizard::FinishButton));
  EXPECT_FALSE(shell.button(QWizard::FinishButton)->isHidden());
  EXPECT_FALSE(enabled(shell, QWizard::HelpButton));
}

TEST(ShellNavigation, PageThatRefusesActivationIsSkippedInBothDirections) {
  environment env(false);
  wizard_shell& shell = env.shell();
  auto* a = new scripted_page(10, wiz_next, 0);
  auto* b = new scripted_page(20, wiz_back | wiz_next, 0);
  auto* c = new scripted_page(30, wiz_back | wiz_next, 0);
  b->init_result = false;
  for (auto* page : {a, b, c}) shell.add_page(page);
  env.show();
  shell.next();
  pump(0);
  EXPECT_EQ(shell.currentId(), 30);
  shell.back();
  pump(0);
  EXPECT_EQ(shell.currentId(), 10);
  EXPECT_EQ(b->count("init"), 2u);
  EXPECT_EQ(c->count("back"), 1u);
  // The refused page never was active: it is neither left forwards nor backwards.
  EXPECT_EQ(b->count("next"), 0u);
  EXPECT_EQ(b->count("back"), 0u);
}

TEST(ShellNavigation, NextResultStaysOrJumpsOnceAndKillActiveCanRefuse) {
  environment env(false);
  wizard_shell& shell = env.shell();
  auto* a = new scripted_page(1, wiz_next, 0);
  auto* b = new scripted_page(2, wiz_back | wiz_next, 0);
  auto* c = new scripted_page(3, wiz_back | wiz_next, 0);
  auto* d = new scripted_page(4, wiz_back | wiz_finish, 0);
  for (auto* page : {a, b, c, d}) shell.add_page(page);
  env.show();

  a->next_result = -1;
  shell.next();
  EXPECT_EQ(shell.currentId(), 1);
  EXPECT_EQ(a->count("kill"), 0u) << "a page that stays is not asked to be left";

  a->next_result = 0;
  a->kill_result = false;
  shell.next();
  EXPECT_EQ(shell.currentId(), 1);

  a->kill_result = true;
  a->next_result = 4;  // straight to the last page
  shell.next();
  EXPECT_EQ(shell.currentId(), 4);
  EXPECT_EQ(b->count("init"), 0u);
  // The jump is used once: on the last page there is nothing after it.
  EXPECT_EQ(shell.nextId(), -1);
  EXPECT_FALSE(shell.button(QWizard::FinishButton)->isHidden());
}

TEST(ShellNavigation, BackRunsTheLeavingPagesOnBackThenThePreviousPagesInit) {
  environment env(false);
  wizard_shell& shell = env.shell();
  six_pages p = add_six_pages(shell);
  env.show();
  shell.next();
  shell.next();
  ASSERT_EQ(shell.currentId(), 105);
  p.connection->calls.clear();
  p.source->calls.clear();
  shell.back();
  EXPECT_EQ(shell.currentId(), 134);
  EXPECT_EQ(p.source->calls, (std::vector<std::string>{"back"}));
  EXPECT_EQ(p.connection->calls, (std::vector<std::string>{"init"}));
}

TEST(ShellClosing, CancelAsksWithNoAsDefaultAndNoKeepsTheWizardOpen) {
  environment env(false);
  wizard_shell& shell = env.shell();
  six_pages p = add_six_pages(shell);
  env.show();
  env.boxes().answer_next(false);
  shell.button(QWizard::CancelButton)->click();
  ASSERT_EQ(env.boxes().count(), 1u);
  const wizard_box box = env.boxes().boxes()[0];
  EXPECT_EQ(box.type, wizard_box::kind::question);
  EXPECT_EQ(box.text, QStringLiteral("Are you sure you want to exit the wizard?"));
  EXPECT_EQ(box.caption, QStringLiteral("Tamarind 1.0 Question"));
  EXPECT_TRUE(box.default_no);
  EXPECT_EQ(box.owner, &shell);
  EXPECT_TRUE(shell.isVisible());

  // Escape and the close box ask the same question.
  env.boxes().answer_next(false);
  QTest::keyClick(&shell, Qt::Key_Escape);
  env.boxes().answer_next(false);
  shell.close();
  EXPECT_EQ(env.boxes().count(), 3u);
  EXPECT_TRUE(shell.isVisible());
  EXPECT_EQ(p.welcome->count("stop"), 0u);

  env.boxes().answer_next(true);
  shell.button(QWizard::CancelButton)->click();
  EXPECT_FALSE(shell.isVisible());
  EXPECT_EQ(shell.result(), 0);
  // Every page was told to stop its work, and no page got a Back on the way out.
  EXPECT_EQ(p.finish->count("stop"), 1u);
  EXPECT_EQ(p.welcome->count("back"), 0u);
}

TEST(ShellClosing, DisabledCancelRefusesEscapeAndTheCloseBoxWithoutAsking) {
  environment env(false);
  wizard_shell& shell = env.shell();
  auto* page = new scripted_page(116, wiz_finish, 0);
  page->init_hook = [&] { shell.button(QWizard::CancelButton)->setEnabled(false); };
  shell.add_page(page);
  env.show();
  QTest::keyClick(&shell, Qt::Key_Escape);
  shell.close();
  EXPECT_EQ(env.boxes().count(), 0u);
  EXPECT_TRUE(shell.isVisible());
}

TEST(ShellClosing, FinishClosesWithOneOnlyWhenThePageAgrees) {
  environment env(false);
  wizard_shell& shell = env.shell();
  auto* page = new scripted_page(116, wiz_finish, 0);
  page->finish_result = false;
  shell.add_page(page);
  env.show();
  shell.button(QWizard::FinishButton)->click();
  EXPECT_TRUE(shell.isVisible());
  page->finish_result = true;
  shell.button(QWizard::FinishButton)->click();
  EXPECT_FALSE(shell.isVisible());
  EXPECT_EQ(shell.result(), 1);
  EXPECT_EQ(page->count("next"), 0u) << "Finish is no Next";
}

TEST(ShellClosing, EndWizardFromAnotherThreadClosesWithItsStatusAndTheFirstStatusWins) {
  environment env(false);
  wizard_shell& shell = env.shell();
  auto* page = new scripted_page(1, wiz_next, 0);
  shell.add_page(page);
  env.show();
  std::thread worker([&] {
    shell.end_wizard(255);
    shell.end_wizard(0);
  });
  worker.join();
  ASSERT_TRUE(wait_until([&] { return !shell.isVisible(); }));
  EXPECT_EQ(shell.forced_status(), 255);
  EXPECT_EQ(page->count("stop"), 1u);
  // run() after the end gives the status at once.
  EXPECT_EQ(shell.run(), 255);
}

TEST(ShellHelp, HelpButtonAndF1ReachTheCurrentPageOnlyWhenItHasHelp) {
  environment env(false);
  wizard_shell& shell = env.shell();
  six_pages p = add_six_pages(shell);
  env.show();
  shell.button(QWizard::HelpButton)->click();
  QTest::keyClick(&shell, Qt::Key_F1);
  EXPECT_EQ(p.welcome->count("help"), 2u);
  for (int i = 0; i < 5; ++i) shell.next();
  ASSERT_EQ(shell.currentId(), 116);
  QTest::keyClick(&shell, Qt::Key_F1);
  EXPECT_EQ(p.finish->count("help"), 0u);
}
