// The shell's boxes and help: static, so that they work before the shell exists and after it is
// gone (the program start reports its own failures through them).
#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>
#include <cstdio>
#include <mutex>

#include "wizard/shell/gui_bridge.h"
#include "wizard/shell/wizard_shell.h"
#include "tk/tk_file_name.h"
#include "tk/tk_format.h"
#include "tk/tk_logger.h"
#include "tk/tk_string.h"

namespace {

std::mutex hooks_mutex;
wizard_shell::box_hook box_hook_fn;
wizard_shell::help_opener help_opener_fn;
QString help_dir_override;

constexpr wchar_t help_missing_text[] = L"Help file does not exist. Reinstall the program.";
constexpr char no_browser_text[] =
    "No web browser could be started to show the help.\nThe help pages are in the folder '%s'.";

const char* caption_word(wizard_box::kind kind) {
  switch (kind) {
    case wizard_box::kind::message: return "Message";
    case wizard_box::kind::question: return "Question";
    case wizard_box::kind::error: break;
  }
  return "Error";
}

/// Builds and shows one box on the GUI thread; the answer of a question (true for Yes).
bool show_box_here(wizard_box::kind kind, const std::wstring& text, bool default_no) {
  wizard_box box;
  box.type = kind;
  box.text = QString::fromStdWString(text);
  box.default_no = default_no;
  const QString word = QString::fromLatin1(caption_word(kind));
  if (wizard_shell* shell = wizard_shell::initialized_instance()) {
    box.caption = QString::fromStdWString(shell->title()) + QLatin1Char(' ') + word;
    box.owner = shell;
  } else {
    box.caption = word;
  }

  wizard_shell::box_hook hook;
  {
    std::lock_guard lock(hooks_mutex);
    hook = box_hook_fn;
  }
  if (hook) return hook(box);

  if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
    // No GUI (it could not start): the error stream is all there is.
    std::fprintf(stderr, "%s: %s\n", word.toUtf8().constData(), box.text.toUtf8().constData());
    std::fflush(stderr);
    return !default_no;
  }

  QMessageBox::Icon icon = QMessageBox::Critical;
  QMessageBox::StandardButtons buttons = QMessageBox::Ok;
  if (kind == wizard_box::kind::message) icon = QMessageBox::Information;
  if (kind == wizard_box::kind::question) {
    icon = QMessageBox::Question;
    buttons = QMessageBox::Yes | QMessageBox::No;
  }
  QMessageBox message_box(icon, box.caption, box.text, buttons, box.owner);
  message_box.setWindowModality(Qt::ApplicationModal);
  message_box.setObjectName(QStringLiteral("wizard_box"));
  if (kind == wizard_box::kind::question)
    message_box.setDefaultButton(default_no ? QMessageBox::No : QMessageBox::Yes);
  message_box.exec();
  return message_box.clickedButton() == message_box.button(QMessageBox::Yes);
}

/// Any thread; a box asked for while the wizard closes is answered unseen (OK, or No).
bool show_box(wizard_box::kind kind, const std::wstring& text, bool default_no) {
  return gui_bridge::call<bool>([&] { return show_box_here(kind, text, default_no); }, false);
}

/// Tells that help cannot be shown, and where its pages are to open them by hand.
void show_no_browser(const QString& path) {
  const std::string folder = QFileInfo(path).absolutePath().toStdString();
  wizard_shell::error(tk_format(no_browser_text, folder));
}

/// Opens a page in the browser; false when the opener failed at once. Without a browser, xdg-open
/// starts and then fails (or is missing): the box naming the folder of `help_path` comes when
/// that is known, the wizard is not held up.
bool open_in_browser(const QString& target, const QString& help_path) {
  wizard_shell::help_opener opener;
  {
    std::lock_guard lock(hooks_mutex);
    opener = help_opener_fn;
  }
  if (opener) return opener(target);
  // An argument list, never a shell: nothing in the target is interpreted. No parent: xdg-open
  // may run the browser in its place, which must outlive the wizard rather than be killed with it.
  auto* process = new QProcess;
  QObject::connect(process, &QProcess::finished, process,
                   [process, help_path](int code, QProcess::ExitStatus status) {
                     process->deleteLater();
                     if (status != QProcess::NormalExit || code != 0) show_no_browser(help_path);
                   });
  QObject::connect(process, &QProcess::errorOccurred, process, [process, help_path](QProcess::ProcessError error) {
    if (error != QProcess::FailedToStart) return;
    process->deleteLater();
    show_no_browser(help_path);
  });
  process->start(QStringLiteral("xdg-open"), {target});
  return true;
}

bool open_help(const QString& path) { return open_in_browser(path, path); }

}  // namespace

void wizard_shell::error(const std::wstring& text) {
  tk_log(1, "wizard_shell::error(%s)", text);
  show_box(wizard_box::kind::error, text, false);
  tk_log(3, "%s", text);
}

void wizard_shell::error(const std::string& text) { error(tk_ansi_to_unicode(text)); }

void wizard_shell::logged_error(const std::string& text) {
  show_box(wizard_box::kind::error, tk_ansi_to_unicode(text), false);
}

void wizard_shell::message(const std::wstring& text) {
  tk_log(1, "wizard_shell::message(%s)", text);
  show_box(wizard_box::kind::message, text, false);
  tk_log(3, "%s", text);
}

bool wizard_shell::question(const std::wstring& text, bool default_no) {
  return show_box(wizard_box::kind::question, text, default_no);
}

QString wizard_shell::help_file(const QString& file_name) {
  {
    std::lock_guard lock(hooks_mutex);
    if (!help_dir_override.isEmpty()) return help_dir_override + QLatin1Char('/') + file_name;
  }
  return QString::fromStdString(tk_get_program_file("help/" + file_name.toStdString()));
}

void wizard_shell::display_help(int context_id) {
  tk_log(1, "wizard_shell::display_help(%d)", context_id);
  const QString path = help_file(QStringLiteral("%1.html").arg(context_id));
  const QFileInfo file(path);
  if (!file.isFile() || !file.isReadable()) {
    error(help_missing_text);
    return;
  }
  if (!open_help(path)) show_no_browser(path);
}

bool wizard_shell::display_help_contents() {
  tk_log(1, "wizard_shell::display_help_contents");
  const QString path = help_file(QStringLiteral("index.html"));
  const QFileInfo file(path);
  if (!file.isFile() || !file.isReadable()) {
    error(help_missing_text);
    return false;
  }
  if (!open_help(path)) {
    show_no_browser(path);
    return false;
  }
  return true;
}

void wizard_shell::open_web_page(const QString& url) {
  tk_log(1, "wizard_shell::open_web_page(%s)", url.toStdString());
  // No browser for the page, none for the help either: the box says where the help pages are.
  const QString help_index = help_file(QStringLiteral("index.html"));
  if (!open_in_browser(url, help_index)) show_no_browser(help_index);
}

void wizard_shell::set_box_hook(box_hook hook) {
  std::lock_guard lock(hooks_mutex);
  box_hook_fn = std::move(hook);
}

void wizard_shell::set_help_opener(help_opener opener) {
  std::lock_guard lock(hooks_mutex);
  help_opener_fn = std::move(opener);
}

void wizard_shell::set_help_dir(const QString& dir) {
  std::lock_guard lock(hooks_mutex);
  help_dir_override = dir;
}
