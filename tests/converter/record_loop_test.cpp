// The record loop and the progress query, over in-memory record sets.
#include <functional>
#include <set>

#include "converter/exit_signal.h"
#include "converter_test_support.h"
#include "workbook/wb_engine.h"
#include "pgs/pgs_exception.h"
#include "tk/tk_exception.h"
#include "udb/udb_record.h"
#include "udb/udb_recordset.h"

using namespace conv_test;

namespace {

/// `count` rows of two fields; an optional hook runs when a row is read.
class scripted_source : public udb_recordset {
 public:
  explicit scripted_source(int count) : udb_recordset(L"src", false), count(count) {}
  void append_record(udb_record&) override {}
  bool is_eof() override { return position >= count; }
  void next() override { ++position; }
  udb_record* get_item() override {
    current = udb_record();
    current.push_back(std::make_unique<udb_field>());
    current.push_back(std::make_unique<udb_field>());
    if (on_read) on_read(position + 1);
    return &current;
  }
  std::function<void(int)> on_read;
  int reads() const { return position; }

 private:
  int count;
  int position = 0;
  udb_record current;
};

/// Counts appended rows; throws pgs_exception for some, refuses others later as row errors.
class scripted_destination : public udb_recordset {
 public:
  scripted_destination() : udb_recordset(L"dest", false) {}
  void append_record(udb_record&) override {
    ++appended;
    if (throw_at.count(appended)) throw pgs_exception(std::string("bad value"));
    if (plain_throw_at == appended) throw tk_exception("connection lost", tk_level_recoverable);
    if (refuse_at.count(appended)) pending.emplace_back(appended, tk_exception("refused row", tk_level_recoverable));
  }
  std::vector<udb_row_error> take_row_errors() override {
    std::vector<udb_row_error> taken;
    taken.swap(pending);
    return taken;
  }
  int appended = 0;
  std::set<int> throw_at, refuse_at;
  int plain_throw_at = -1;

 private:
  std::vector<udb_row_error> pending;
};

class record_loop_test : public converter_fixture {
 protected:
  tamarind_convertor& start(const std::wstring& sheet = L"Sheet1") {
    tamarind_convertor& c = conv();
    c.set_cur_sheet(sheet);
    return c;
  }
};

}  // namespace

TEST_F(record_loop_test, a_refused_record_is_reported_with_its_number_and_the_rest_are_written) {
  tamarind_convertor& c = start();
  scripted_source source(6);
  scripted_destination dest;
  dest.throw_at = {3};
  dest.refuse_at = {5};
  c.convert_step(&source, &dest, nullptr);
  EXPECT_EQ(dest.appended, 6);
  EXPECT_EQ(presenter.reports(),
            (std::vector<std::string>{"Sheet1, record #3: bad value", "Sheet1, record #5: refused row"}));
  EXPECT_EQ(c.get_rec_count(), 0);
  EXPECT_EQ(frame.events(), std::vector<std::string>{"worksheet Sheet1"});
  EXPECT_EQ(handler->reported().level0, 2u);
}

TEST_F(record_loop_test, an_empty_worksheet_writes_nothing) {
  tamarind_convertor& c = start();
  scripted_source source(0);
  scripted_destination dest;
  c.convert_step(&source, &dest, nullptr);
  EXPECT_EQ(dest.appended, 0);
  EXPECT_EQ(c.get_rec_count(), 0);
  EXPECT_TRUE(presenter.reports().empty());
}

TEST_F(record_loop_test, without_a_spreadsheet_source_no_worksheet_line_and_no_record_context) {
  tamarind_convertor& c = start();
  c.set_from_xls(false);
  scripted_source source(4);
  scripted_destination dest;
  dest.throw_at = {2};
  c.convert_step(&source, &dest, nullptr);
  EXPECT_EQ(presenter.reports(), std::vector<std::string>{"bad value"});
  EXPECT_TRUE(frame.events().empty());
}

TEST_F(record_loop_test, other_failures_leave_the_loop_with_the_count_kept) {
  tamarind_convertor& c = start();
  scripted_source source(5);
  scripted_destination dest;
  dest.plain_throw_at = 3;
  EXPECT_THROW(c.convert_step(&source, &dest, nullptr), tk_exception);
  EXPECT_EQ(c.get_rec_count(), 2);
  EXPECT_TRUE(presenter.reports().empty());  // the worksheet loop reports it

  EXPECT_THROW(c.convert_step(nullptr, &dest, nullptr), tk_mail_assertion);
  EXPECT_THROW(c.convert_step(&source, nullptr, nullptr), tk_mail_assertion);
}

TEST_F(record_loop_test, a_stop_request_ends_the_loop_between_records) {
  tamarind_convertor& c = start();
  scripted_source source(10);
  scripted_destination dest;
  source.on_read = [&](int n) {
    if (n == 3) c.request_stop();
  };
  EXPECT_THROW(c.convert_step(&source, &dest, nullptr), tk_final_exception);
  EXPECT_EQ(dest.appended, 3);  // the record read before the stop is still written
  EXPECT_TRUE(presenter.reports().empty());
}

TEST_F(record_loop_test, progress_is_sent_to_the_finish_page_once) {
  tamarind_convertor& c = conv(tmd_front_end::wizard);
  EXPECT_EQ(c.get_progress(), 0);
  EXPECT_EQ(frame.finish_pages, 0);
  c.set_finished(true);
  EXPECT_EQ(c.get_progress(), 0);
  EXPECT_EQ(c.get_progress(), 0);
  EXPECT_EQ(frame.timer_stops, 1);
  EXPECT_EQ(frame.finish_pages, 1);

  // The agent's converter has no finish page.
  drop_converter();
  tamarind_convertor& agent = conv(tmd_front_end::agent);
  agent.set_finished(true);
  agent.get_progress();
  EXPECT_EQ(frame.finish_pages, 1);
}

TEST_F(record_loop_test, without_a_workbook_engine_the_run_reports_once_and_touches_no_server) {
  write_workbook(dir.file("b.xlsx"), {numbered_sheet("Sheet1", 2)});
  const wb_engine_factory previous = wb_set_engine_factory([](int) { return ole_com_ptr<wb_engine>(); });
  tamarind_convertor& c = conv();
  c.set_src(wide(dir.file("b.xlsx")));
  c.set_dest(L"never_created");
  // Not connected: any server statement would fail with another message.
  EXPECT_THROW(c.run(), tmd_exit_signal);  // level 1 ends the agent
  wb_set_engine_factory(previous);
  EXPECT_TRUE(c.is_finished());
  ASSERT_EQ(presenter.reports().size(), 1u);
  EXPECT_EQ(presenter.reports()[0].rfind("Failed to load Data Access Objects (DAO) support library.", 0), 0u);
  EXPECT_EQ(frame.events(), std::vector<std::string>{});  // the exit signal passes run_finished by
}
