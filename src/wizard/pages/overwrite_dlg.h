#pragma once
// The two warnings the source page shows before it touches an existing destination: a table that
// already exists (overwrite it, merge into it, or go back) and a database that already exists
// (what to do with it: four modes). Each is run modally; the caller reads `choice()` afterwards.
#include <QDialog>

#include <string>

class QButtonGroup;
class QLabel;
class QPushButton;

/// Shared look of both warnings: caption "<wizard title> Warning", warning icon, the text in 1320.
class overwrite_dlg_base : public QDialog {
  Q_OBJECT

 public:
  /// Dialog result of Cancel, Escape and the close box.
  static constexpr int id_cancel = 2;
  static constexpr int id_help = 9;

  int help_context() const noexcept { return m_help_context; }
  const std::wstring& text() const noexcept { return m_text; }

  /// Cancel, Escape and the close box all end the dialog with 2.
  void reject() override;

 protected:
  overwrite_dlg_base(int dialog_id, int help_context, const std::wstring& text, QWidget* parent);

  /// Title, text, centring, raising and the warning beep, as the dialog comes up.
  void showEvent(QShowEvent* event) override;
  /// Builds a push button with the objectName "id_<id>".
  QPushButton* make_button(const QString& text, int id);
  void on_help();

  QLabel* m_text_label = nullptr;

 private:
  /// Runs once, on the first show (the window's title needs the shell).
  void on_init();

  int m_help_context;
  std::wstring m_text;
  bool m_initialised = false;
};

/// Dialog 120: the destination table exists. Results: 2 Cancel (choice 0), 1 Overwrite (choice 1),
/// 1109 Merge (choice 2). Help leaves the dialog open.
class overwrite_dlg : public overwrite_dlg_base {
  Q_OBJECT

 public:
  static constexpr int dialog_id = 120;
  static constexpr int id_overwrite = 1;
  static constexpr int id_merge = 1109;

  overwrite_dlg(int help_context, const std::wstring& text, QWidget* parent = nullptr);

  /// 0 after construction and after Cancel, 1 Overwrite, 2 Merge.
  int choice() const noexcept { return m_choice; }

 private:
  int m_choice = 0;
};

/// Dialog 121: the destination database exists. OK (1) takes the checked option as the mode
/// (0 overwrite the database, 1 overwrite existing tables, 2 skip them, 3 merge); Cancel is 2.
class overwrite_dlg2 : public overwrite_dlg_base {
  Q_OBJECT

 public:
  static constexpr int dialog_id = 121;
  static constexpr int id_ok = 1;
  static constexpr int first_option_id = 1329;  // 1329..1332, in mode order

  overwrite_dlg2(int help_context, const std::wstring& text, QWidget* parent = nullptr);

  /// The mode chosen with OK; 0 until then.
  int choice() const noexcept { return m_choice; }
  /// Checks the option of this mode (0-3) instead of the first: the user's earlier answer.
  void preselect(int mode);

 private:
  void on_ok();

  QButtonGroup* m_options = nullptr;
  int m_choice = 0;
};
