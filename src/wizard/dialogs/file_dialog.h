#pragma once
// The wizard's file choosers: a profile to load, a workbook to convert, a profile to save.
// The filter is written as "desc|patterns|desc|patterns|" ("All Files (*.*)|*.*|"); the initial
// path proposes a name (without its extension) in its folder.
#include <QFileDialog>
#include <QString>
#include <functional>
#include <optional>
#include <string>

class file_dialog {
 public:
  file_dialog(QWidget* owner, const std::wstring& filter, const std::wstring& title,
              const std::wstring& initial_path);
  virtual ~file_dialog();
  file_dialog(const file_dialog&) = delete;
  file_dialog& operator=(const file_dialog&) = delete;

  /// Shows the dialog; true when the user confirmed (the chosen path is then get_file_name()).
  /** Cancel, or an initial folder that is not valid text, gives false and keeps the name. */
  virtual bool run() = 0;

  /// The chosen path after run(), before it the proposed name.
  const std::wstring& get_file_name() const noexcept { return m_file_name; }

  /// Proposes the initial name with its extension: a workbook's name that opens as it stands.
  void keep_extension();

  /// What the dialog is given.
  const QString& qt_filter() const noexcept { return m_qt_filter; }
  const QString& title() const noexcept { return m_title; }
  const std::wstring& initial_dir() const noexcept { return m_initial_dir; }
  const std::wstring& proposed_name() const noexcept { return m_proposed_name; }
  virtual bool is_save() const noexcept = 0;

  /// "desc|patterns|..." as Qt's filter: "desc (patterns)" joined by ";;", ";" in patterns a
  /// blank, "*.*" as "*".
  static QString to_qt_filter(const std::wstring& filter);
  /// The filter of profile files with this extension, then all files ("|" separated).
  static std::wstring profile_filter(const std::wstring& ext);

  /// Tests: replaces the QFileDialog. Gets the dialog, returns the chosen path or none (Cancel).
  using run_hook = std::function<std::optional<std::wstring>(const file_dialog&)>;
  static void set_run_hook(run_hook hook);

 protected:
  /// Shows a QFileDialog (or the hook); true and the path when confirmed.
  bool show(QFileDialog::AcceptMode accept_mode, QFileDialog::FileMode file_mode);
  void set_file_name(std::wstring name) { m_file_name = std::move(name); }

 private:
  QWidget* m_owner;
  QString m_qt_filter;
  QString m_title;
  std::wstring m_initial_dir;
  std::wstring m_proposed_name;
  std::wstring m_proposed_ext;
  std::wstring m_file_name;
};

/// Chooses an existing file.
class open_file_dialog : public file_dialog {
 public:
  using file_dialog::file_dialog;
  bool run() override;
  bool is_save() const noexcept override { return false; }
};

/// Chooses a file to write; the extension is appended unless the path already holds it. When the
/// name with the extension appended is an existing file, the user is asked before it is replaced
/// (No: run() gives false).
class save_file_dialog : public file_dialog {
 public:
  /// An empty extension is the assertion "g_f_dlg" line 111; "tmd" and ".tmd" are the same.
  save_file_dialog(QWidget* owner, const std::wstring& filter, const std::wstring& title,
                   const std::wstring& initial_path, const std::wstring& extension);
  bool run() override;
  bool is_save() const noexcept override { return true; }
  const std::wstring& default_ext() const noexcept { return m_default_ext; }

  /// The path with the extension appended unless it holds the extension anywhere (exact case).
  static std::wstring with_extension(const std::wstring& path, const std::wstring& default_ext);

 private:
  std::wstring m_default_ext;
};
