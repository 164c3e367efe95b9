#pragma once
// "Step 4 of 4": runs the conversion on a worker thread from the moment the page becomes active
// and shows its progress on every tick of the shell's timer. The converter's progress query
// moves the wizard to the finish page once the run has ended.
#include <memory>

#include "wizard/page/wizard_page.h"

class tk_thread;

class progress_page : public wizard_page<107, wiz_back | wiz_next, psp_has_help> {
 public:
  static constexpr int id_xls_source = 1324;
  static constexpr int id_csv_source = 1325;
  static constexpr int id_status = 1323;
  static constexpr int id_progress = 1321;

  explicit progress_page(QWidget* parent = nullptr);
  /// A run still going is stopped and joined.
  ~progress_page() override;

  /// Starts the run; Back, Next and Finish stay disabled while it goes on (Cancel stays).
  bool page_init() override;
  void on_timer() override;
  /// The help contents; a missing help file is reported and the run goes on.
  void on_help() override;
  /// Stops a running conversion cooperatively and waits for its thread (events keep flowing).
  void stop_work() noexcept override;
  /// While the run goes on, the exit question says what becomes of the worksheet under way; Yes
  /// stops the run and closes the wizard with cancelled_run_status.
  bool on_cancel() override;

  /// The wizard's status after Cancel stopped a run: the conversion did not do all it was asked.
  static constexpr int cancelled_run_status = 1;

  bool is_running() const noexcept;

 private:
  std::unique_ptr<tk_thread> m_thread;
};
