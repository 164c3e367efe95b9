#pragma once
// The "Add Query" dialog: a table name and the SELECT statement whose rows become that table.
#include <QDialog>
#include <string>

class QLineEdit;
class QPlainTextEdit;
class QPushButton;

/// Edits one query entry of the worksheet page.
/** exec() returns 1 after OK (the edited name and the trimmed text are then in name() and
    text()) and 2 after Cancel, Escape or the close box. OK refuses an empty name, a text that is
    not a SELECT statement and an empty text, each with a box, and keeps the dialog open. */
class set_query_dlg : public QDialog {
  Q_OBJECT
 public:
  static constexpr int dialog_id = 128;
  static constexpr int id_name = 1019;
  static constexpr int id_query = 1020;
  static constexpr int id_test = 129;
  static constexpr int id_help = 9;
  static constexpr int help_context = 1025;

  set_query_dlg(const std::wstring& name, const std::wstring& text, QWidget* parent = nullptr);

  const std::wstring& name() const noexcept { return m_name; }
  const std::wstring& text() const noexcept { return m_text; }

  /// True when `entered` is not a SELECT statement; `text` receives it without its leading tabs,
  /// line breaks and blanks (a text made only of those is kept whole). An empty text is false.
  static bool check_query_text(const std::wstring& entered, std::wstring& text);

  void reject() override;

 private:
  void on_init();
  void on_ok();
  void on_test();
  void on_help();
  std::wstring entered_name() const;
  std::wstring entered_text() const;

  std::wstring m_name;
  std::wstring m_text;
  QLineEdit* m_name_edit = nullptr;
  QPlainTextEdit* m_query_edit = nullptr;
};
