#include "wizard/dialogs/file_dialog.h"

#include <QFileInfo>
#include <mutex>

#include "tk/tk_exception.h"
#include "tk/tk_file_name.h"
#include "tk/tk_format.h"
#include "tk/tk_logger.h"
#include "tk/tk_string.h"
#include "wizard/shell/wizard_shell.h"

namespace {

std::mutex hook_mutex;
file_dialog::run_hook run_hook_fn;

}  // namespace

file_dialog::file_dialog(QWidget* owner, const std::wstring& filter, const std::wstring& title,
                         const std::wstring& initial_path)
    : m_owner(owner), m_qt_filter(to_qt_filter(filter)), m_title(QString::fromStdWString(title)) {
  // Made absolute first: an empty path is the program's folder, a bare name the working folder.
  const tk_file_wname parts(initial_path);
  m_proposed_name = parts.name();
  m_proposed_ext = parts.ext();
  m_initial_dir = parts.get_path();
  m_file_name = m_proposed_name;
}

void file_dialog::keep_extension() {
  if (m_proposed_name.empty()) return;
  m_proposed_name += m_proposed_ext;
  m_proposed_ext.clear();
  m_file_name = m_proposed_name;
}

file_dialog::~file_dialog() = default;

QString file_dialog::to_qt_filter(const std::wstring& filter) {
  const QStringList items = QString::fromStdWString(filter).split(QLatin1Char('|'));
  QStringList parts;
  for (qsizetype i = 0; i + 1 < items.size(); i += 2) {
    if (items[i].isEmpty() && items[i + 1].isEmpty()) break;
    // Qt reads "a;b" as one pattern, and "*.*" would hide names without a dot.
    QStringList patterns = items[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (QString& pattern : patterns)
      if (pattern == QLatin1String("*.*")) pattern = QStringLiteral("*");
    parts << items[i] + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
  }
  return parts.join(QStringLiteral(";;"));
}

std::wstring file_dialog::profile_filter(const std::wstring& ext) {
  return tk_wformat(L"Profile Files (.%s)|*.%s|All Files (*.*)|*.*|", ext, ext);
}

void file_dialog::set_run_hook(run_hook hook) {
  std::lock_guard lock(hook_mutex);
  run_hook_fn = std::move(hook);
}

bool file_dialog::show(QFileDialog::AcceptMode accept_mode, QFileDialog::FileMode file_mode) {
  // A folder that is no valid text cannot be handed on; nothing is shown then.
  tk_free_buffer<char> narrow_dir;
  if (!tk_to_narrow(m_initial_dir.c_str(), narrow_dir)) return false;

  run_hook hook;
  {
    std::lock_guard lock(hook_mutex);
    hook = run_hook_fn;
  }
  if (hook) {
    const std::optional<std::wstring> chosen = hook(*this);
    if (!chosen) return false;
    m_file_name = *chosen;
    return true;
  }

  // The folder goes to the dialog, never to chdir: the working folder is the whole process's.
  QFileDialog dialog(m_owner, m_title, QString::fromStdWString(m_initial_dir), m_qt_filter);
  dialog.setObjectName(QStringLiteral("file_dialog"));
  dialog.setOption(QFileDialog::DontUseNativeDialog, true);
  dialog.setAcceptMode(accept_mode);
  dialog.setFileMode(file_mode);
  dialog.setWindowModality(Qt::ApplicationModal);
  if (!m_proposed_name.empty()) dialog.selectFile(QString::fromStdWString(m_proposed_name));
  if (dialog.exec() != QDialog::Accepted) return false;
  const QStringList files = dialog.selectedFiles();
  if (files.isEmpty()) return false;
  m_file_name = files.first().toStdWString();
  return true;
}

bool open_file_dialog::run() {
  tk_log(1, "open_file_dialog::run");
  return show(QFileDialog::AcceptOpen, QFileDialog::ExistingFile);
}

save_file_dialog::save_file_dialog(QWidget* owner, const std::wstring& filter, const std::wstring& title,
                                   const std::wstring& initial_path, const std::wstring& extension)
    : file_dialog(owner, filter, title, initial_path) {
  if (extension.empty()) TK_ASSERT_SITE("g_f_dlg", 111);
  m_default_ext = extension.front() == L'.' ? extension : L"." + extension;
}

std::wstring save_file_dialog::with_extension(const std::wstring& path, const std::wstring& default_ext) {
  // A plain substring test, as users of the profile files know it: "x.tmd/settings" stays.
  if (path.find(default_ext) != std::wstring::npos) return path;
  return path + default_ext;
}

bool save_file_dialog::run() {
  tk_log(1, "save_file_dialog::run");
  if (!show(QFileDialog::AcceptSave, QFileDialog::AnyFile)) return false;
  const std::wstring typed = get_file_name();
  const std::wstring path = with_extension(typed, m_default_ext);
  // The dialog asked about replacing the name as typed; with the extension it is another file.
  if (path != typed && QFileInfo::exists(QString::fromStdWString(path)) &&
      !wizard_shell::question(tk_wformat(L"%s already exists.\nDo you want to replace it?", path), true))
    return false;
  set_file_name(path);
  return true;
}
