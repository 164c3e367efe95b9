#include "wizard/pages/progress_page.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFontMetrics>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>
#include <QVBoxLayout>
#include <QWizard>
#include <algorithm>
#include <chrono>
#include <thread>

#include "converter/error_handler.h"
#include "converter/exit_signal.h"
#include "converter/frame_services.h"
#include "converter/tamarind_convertor.h"
#include "tk/tk_exception.h"
#include "tk/tk_format.h"
#include "tk/tk_logger.h"
#include "tk/tk_thread.h"
#include "wizard/app/ui_messages.h"
#include "wizard/app/wizard_log.h"
#include "wizard/errors/wizard_error_presenter.h"
#include "wizard/shell/gui_bridge.h"
#include "wizard/shell/wizard_guard.h"
#include "wizard/shell/wizard_shell.h"

namespace {

/// The worker's body: the converter's run, with nothing escaping the thread unreported.
/** The run reports its own errors; only what fails before its error handling is in place (the
    start of the run) or the program's exit signal leaves it. Either way the run counts as
    finished afterwards, so the progress page moves on (or the wizard closes) instead of waiting
    for ever. */
class conversion_body : public tk_thread_functor {
 public:
  void run() override {
    tamarind_convertor& converter = tamarind_convertor::instance();
    try {
      try {
        converter.run();
      } catch (const tk_final_exception&) {
      } catch (const tk_exception& e) {
        tk_log(3, "Got exception: '%s'", e.what());
        if (error_handler* handler = error_handler::instance_ptr()) handler->handle(e, true);
      } catch (const std::exception& e) {
        tk_log(3, "ERROR:\n%s", e.what());
        if (error_handler* handler = error_handler::instance_ptr())
          handler->count_reported_error(tk_level_recoverable);
        wizard_shell::error(std::string(e.what()));
      }
    } catch (const tmd_exit_signal& signal) {
      converter.set_finished(true);
      if (wizard_shell* shell = wizard_shell::instance_ptr()) shell->end_wizard(signal.status());
      return;
    }
    converter.set_finished(true);
  }

  void request_stop() override {
    tk_thread_functor::request_stop();
    if (tamarind_convertor* converter = tamarind_convertor::instance_ptr()) converter->request_stop();
  }
};

class conversion_thread : public tk_thread {
 public:
  conversion_thread() : tk_thread(true) {}

 protected:
  tk_thread_functor* create_functor() override { return new conversion_body; }
};

/// The status line: entry 27 with the worksheet's name shortened in its middle where the whole
/// line would not fit the label, so the row counter at its end stays in view.
QString status_text(const QLabel& label, const std::wstring& sheet, long rows) {
  const auto line = [rows](const std::wstring& name) {
    return QString::fromUtf8(tk_format(ui_messages[27], name, rows).c_str());
  };
  const QString full = line(sheet);
  const QFontMetrics metrics(label.font());
  const int width = label.contentsRect().width();
  if (width <= 0 || metrics.horizontalAdvance(full) <= width) return full;
  const int room = std::max(0, width - metrics.horizontalAdvance(line(std::wstring())));
  return line(metrics.elidedText(QString::fromStdWString(sheet), Qt::ElideMiddle, room).toStdWString());
}

const wchar_t* const exit_rolls_back_text =
    L"Are you sure you want to exit the wizard?\nThe conversion stops: the worksheet under way keeps its table as "
    L"it was and none of its rows are stored; the worksheets converted before it stay, the later ones are not "
    L"converted.";
const wchar_t* const exit_keeps_rows_text =
    L"Are you sure you want to exit the wizard?\nThe conversion stops: the rows of the worksheet under way sent so "
    L"far stay in its table; the worksheets converted before it stay, the later ones are not converted.";

QLabel* make_label(const char* text, int id = 0) {
  auto* label = new QLabel(QString::fromUtf8(text));
  label->setWordWrap(true);
  if (id) wizard_page_base::set_ctrl_id(label, id);
  return label;
}

}  // namespace

progress_page::progress_page(QWidget* parent) : wizard_page(parent) {
  tk_log(2, "progress_page::ctor");
  set_header(ui_messages[25], ui_messages[26]);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(make_label("Database converting is in progress. Please wait until the wizard completes"));
  layout->addWidget(
      make_label("converting the Excel spreadsheet into the PostgreSQL database.", id_xls_source));
  layout->addWidget(make_label("converting the CSV file into the PostgreSQL database.", id_csv_source));
  layout->addSpacing(16);
  QLabel* status = make_label("", id_status);
  status->setWordWrap(false);
  // A long worksheet name must not widen the page: the line is fitted to the width instead.
  status->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  status->setMinimumWidth(1);
  layout->addWidget(status);
  auto* bar = new QProgressBar;
  bar->setRange(0, 100);
  bar->setValue(0);
  set_ctrl_id(bar, id_progress);
  layout->addWidget(bar);
  layout->addStretch(1);
}

progress_page::~progress_page() { stop_work(); }

bool progress_page::is_running() const noexcept { return m_thread && m_thread->is_running(); }

bool progress_page::page_init() {
  tk_log(2, "progress_page::page_init");
  tamarind_convertor& converter = tamarind_convertor::instance();
  if (converter.get_from_xls())
    show_ctrl(id_csv_source, false);
  else
    show_ctrl(id_xls_source, false);
  if (QWizard* sheet = wizard())
    for (auto which : {QWizard::BackButton, QWizard::NextButton, QWizard::FinishButton})
      if (QAbstractButton* button = sheet->button(which)) button->setEnabled(false);
  ctrl_as<QProgressBar>(id_progress)->setValue(0);
  if (is_running()) return true;  // activated again while converting: one run only
  // Some errors of the run are told in a box of their own and never listed: the finish page
  // learns of them by the count.
  wizard_shell* shell = wizard_shell::instance_ptr();
  if (shell) shell->mark_run_start();
  try {
    wizard_log::begin_run(converter);
  } catch (const tk_exception& e) {
    // A log file that is a file the run reads: nothing is converted, and the finish page says so.
    const wizard_error_presenter::no_continue_scope no_continue;
    report_tk_exception(e);
    if (shell) QTimer::singleShot(0, shell, [shell] { shell->frame().show_finish_page(); });
    return true;
  }
  if (!m_thread) m_thread = std::make_unique<conversion_thread>();
  m_thread->start();
  return true;
}

void progress_page::on_timer() {
  tamarind_convertor& converter = tamarind_convertor::instance();
  // May move the wizard to the finish page.
  ctrl_as<QProgressBar>(id_progress)->setValue(converter.get_progress());
  if (!converter.get_from_xls()) return;
  auto* status = ctrl_as<QLabel>(id_status);
  const std::wstring sheet = converter.get_cur_sheet();
  status->setText(sheet.empty() ? QString()
                                : status_text(*status, sheet, static_cast<long>(converter.get_rec_count())));
}

void progress_page::on_help() { wizard_shell::display_help_contents(); }

bool progress_page::on_cancel() {
  if (!is_running()) return wizard_page_base::on_cancel();
  tk_log(2, "progress_page::on_cancel");
  // Mode 1 rolls back the worksheet a stop ends; the other modes keep the rows it sent.
  const bool rolls_back = tamarind_convertor::instance().get_mode() == 1;
  if (!wizard_shell::question(rolls_back ? exit_rolls_back_text : exit_keeps_rows_text, true)) return false;
  if (!is_running()) return true;  // the run ended while the question was open
  wizard_shell* shell = wizard_shell::instance_ptr();
  if (!shell) return true;
  shell->end_wizard(cancelled_run_status);
  return false;
}

void progress_page::stop_work() noexcept {
  if (!m_thread) return;
  try {
    if (m_thread->is_running()) {
      tk_log(2, "progress_page::stop_work");
      // No tick may switch to the finish page while the wizard closes.
      if (wizard_shell* shell = wizard_shell::instance_ptr()) shell->stop_timer();
      // A box the worker asks for from now on is answered unseen.
      const bool was_closing = gui_bridge::closing();
      gui_bridge::set_closing(true);
      if (tamarind_convertor* converter = tamarind_convertor::instance_ptr()) converter->request_stop();
      if (gui_bridge::on_gui_thread() && QCoreApplication::instance()) {
        // Requests the worker made before the stop are answered on this thread: keep events going.
        QEventLoop loop;
        QTimer probe;
        QObject::connect(&probe, &QTimer::timeout, &loop, [&] {
          if (!m_thread->is_running()) loop.quit();
        });
        probe.start(10);
        if (m_thread->is_running()) loop.exec();
      } else {
        while (m_thread->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      gui_bridge::set_closing(was_closing);
    }
    m_thread->close();
    if (std::exception_ptr escaped = m_thread->take_exception()) {
      try {
        std::rethrow_exception(escaped);
      } catch (const std::exception& e) {
        tk_log(3, "progress_page::stop_work: %s", e.what());
      } catch (...) {
        tk_log(3, "progress_page::stop_work: %s", "unknown exception");
      }
    }
  } catch (...) {
    // Called while the wizard closes: nothing may escape.
  }
}
