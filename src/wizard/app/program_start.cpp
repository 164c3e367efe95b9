#include "wizard/app/program_start.h"

#include <exception>
#include <memory>
#include <optional>

#include "converter/error_handler.h"
#include "converter/error_tables.h"
#include "converter/exit_signal.h"
#include "converter/tamarind_convertor.h"
#include "tk/tk_exception.h"
#include "tk/tk_format.h"
#include "tk/tk_logger.h"
#include "tk/tk_string.h"
#include "wizard/app/ui_messages.h"
#include "wizard/app/wizard_log.h"
#include "wizard/dialogs/init_gui.h"
#include "wizard/errors/wizard_error_presenter.h"
#include "wizard/page/background_connect.h"
#include "wizard/pages/gui_finish_page.h"
#include "wizard/pages/pgs_settings_page.h"
#include "wizard/pages/progress_page.h"
#include "wizard/pages/sel_file_page.h"
#include "wizard/pages/tmd_sel_tables_page.h"
#include "wizard/pages/welcome_page.h"
#include "wizard/shell/wizard_guard.h"
#include "wizard/shell/wizard_shell.h"

namespace {

/// Gives the converter and the error handler the shell's frame while the shell lives.
class frame_attachment {
 public:
  frame_attachment(error_handler& handler, tamarind_convertor& converter, frame_services& frame)
      : m_handler(handler), m_converter(converter) {
    handler.set_frame(&frame);
    converter.set_frame(&frame);
  }
  ~frame_attachment() {
    m_converter.set_frame(nullptr);
    m_handler.set_frame(nullptr);
  }
  frame_attachment(const frame_attachment&) = delete;
  frame_attachment& operator=(const frame_attachment&) = delete;

 private:
  error_handler& m_handler;
  tamarind_convertor& m_converter;
};

/// Attaches the wizard's presenter to the handler for the program's life.
class presenter_attachment {
 public:
  explicit presenter_attachment(error_handler& handler) : m_handler(handler) { handler.set_presenter(&m_presenter); }
  ~presenter_attachment() { m_handler.set_presenter(nullptr); }
  presenter_attachment(const presenter_attachment&) = delete;
  presenter_attachment& operator=(const presenter_attachment&) = delete;

 private:
  error_handler& m_handler;
  wizard_error_presenter m_presenter;
};

void add_interactive_pages(wizard_shell& shell) {
  auto* welcome = new welcome_page;
  welcome->set_profile_ext(ui_profile_ext);
  shell.add_page(welcome);
  shell.add_page(new pgs_settings_page);
  shell.add_page(new sel_file_page);
  auto* tables = new tmd_sel_tables_page;
  tables->set_header(ui_messages[19], ui_messages[20]);
  shell.add_page(tables);
}

void add_run_pages(wizard_shell& shell) {
  shell.add_page(new progress_page);
  auto* finish = new gui_finish_page_t(ui_msg_conversion_succeeded, ui_messages[0]);
  finish->set_profile_ext(ui_profile_ext);
  shell.add_page(finish);
}

/// Connects before the unattended run, off the GUI thread. The program's status when it did not:
/// an error's when the server refused (told with OK: nothing can go on), 0 when the user cancelled.
std::optional<int> connect_at_quick_launch(tamarind_convertor& converter) {
  try {
    if (!connect_in_background(converter)) return 0;
  } catch (const tk_exception& e) {
    const wizard_error_presenter::no_continue_scope no_continue;
    report_tk_exception(e);
    return error_status;
  }
  return std::nullopt;
}

}  // namespace

std::wstring wizard_title() { return tk_wformat(ui_title_format, ui_version_major, ui_version_minor); }

std::string wizard_command_line(const std::vector<std::string>& arguments) {
  // The shell has already removed the quotes: a quoted path with blanks arrives as one argument.
  std::string line;
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    if (i > 1) line += ' ';
    line += arguments[i];
  }
  return line;
}

int run_wizard_program(error_handler& handler, const std::string& command_line,
                       const wizard_start_options& options) {
  try {
    // Made before anything logs, as corvel makes its own; it outlives the converter and the run.
    wizard_log log;
    tamarind_convertor converter(tmd_front_end::wizard);
    // The shell exists before the profile loads, so worksheets it names that the workbook lacks
    // are reported through its frame; nothing of it is shown yet.
    wizard_shell shell(wizard_title(), 501, 311, 312);
    frame_attachment attachment(handler, converter, shell.frame());

    const bool quick_launch = !command_line.empty();
    if (quick_launch) {
      tk_log(2, "QUICK LAUNCH: profile=%s", command_line);
      // Loading is part of the unattended run: what it reports (worksheets the workbook lacks)
      // belongs to the run's outcome on the finish page.
      shell.mark_run_start();
      // A profile that does not load stops here, before anything on the server is touched.
      const std::wstring profile = tk_utf8_to_unicode(command_line);
      wizard_log::note_input(profile);
      if (!converter.load_profile_file(profile)) {
        wizard_shell::error(tk_wformat(ui_msg_cannot_load_profile, command_line));
        return error_status;
      }
      // As corvel's, the log begins before the connection: a refused one is in it too.
      wizard_log::begin_run(converter);
      if (const std::optional<int> failed = connect_at_quick_launch(converter)) return *failed;
      converter.check_dest();
    } else {
      add_interactive_pages(shell);
    }
    add_run_pages(shell);

    return options.exec ? options.exec(shell) : shell.run();
  } catch (const tk_exception& e) {
    // Nothing goes on after it: OK, not Continue.
    const wizard_error_presenter::no_continue_scope no_continue;
    report_tk_exception(e);
  } catch (const std::exception& e) {
    wizard_shell::error(std::string(e.what()));
  }
  return error_status;
}

int tamarind_main(int argc, char** argv) {
  try {
    error_handler handler(engine_error_table_size, engine_error_table);
    load_further_error_tables(handler);
    presenter_attachment presenter(handler);
    std::unique_ptr<QApplication> app = init_gui(argc, argv);
    // Taken after Qt removed its own options (-platform, -style, ...).
    std::vector<std::string> arguments;
    for (const QString& argument : QCoreApplication::arguments()) arguments.push_back(argument.toStdString());
    return run_wizard_program(handler, wizard_command_line(arguments));
  } catch (const tmd_exit_signal& signal) {
    // An internal error: every object above has been destroyed in order.
    return signal.status();
  }
}
