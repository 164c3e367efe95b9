#pragma once
// A converter whose run follows the test: it starts the progress timer as a real run does, then
// converts named worksheets one at a time when the test opens the gate, and can report errors.
#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "converter/error_handler.h"
#include "converter/frame_services.h"
#include "converter/init_conversion.h"
#include "converter/tamarind_convertor.h"

namespace run_test {

class scripted_convertor : public tamarind_convertor {
 public:
  scripted_convertor() : tamarind_convertor(tmd_front_end::wizard) {}

  /// Worksheets the run goes through; each reports its errors (level 0) after its records.
  struct sheet {
    std::wstring name;
    int records = 7;
    std::vector<std::string> errors;
  };
  std::vector<sheet> sheets;
  /// Without gating every worksheet follows at once (after `pause` each).
  bool gated = true;
  std::chrono::milliseconds pause{0};
  /// Replaces the whole run when set (for runs that fail before they start).
  std::function<void()> body;
  /// Worksheets the run reports missing as a real run does: counted, then named through the frame.
  std::vector<std::wstring> missing;

  /// Lets the run go on to the next worksheet.
  void open_gate() { m_gate.fetch_add(1); }
  bool started() const { return m_started.load(); }
  int sheets_converted() const { return sheets_done.load(); }

  void run() override {
    if (body) {
      body();
      return;
    }
    init_conversion bracket(&finished, 1, get_frame());
    m_started.store(true);
    if (!missing.empty()) {
      for (std::size_t i = 0; i < missing.size(); ++i) error_handler::instance().count_reported_error();
      get_frame()->worksheets_not_found(missing);
    }
    sheets_total.store(static_cast<int>(sheets.size()));
    for (std::size_t i = 0; i < sheets.size(); ++i) {
      while (gated && m_gate.load() <= static_cast<int>(i)) {
        if (stop_requested()) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      if (stop_requested()) return;
      set_cur_sheet(sheets[i].name);
      rec_count.store(sheets[i].records);
      for (const std::string& text : sheets[i].errors) {
        error_handler::instance().set_context(sheets[i].name);
        try {
          error_handler::instance().handle(tk_exception(text, tk_level_recoverable), false);
        } catch (const tk_final_exception&) {
          return;
        }
      }
      std::this_thread::sleep_for(pause);
      sheets_done.fetch_add(1);
    }
  }

 private:
  std::atomic<int> m_gate{0};
  std::atomic<bool> m_started{false};
};

}  // namespace run_test
