#pragma once
// The recoverable-error dialog: the message, "Continue" (default; also Escape and the close box),
// "Abort", and "Do not show this dialog box again". The result is the button's id.
#include <QDialog>
#include <string>

class dlg_error_continue : public QDialog {
  Q_OBJECT

 public:
  static constexpr int idd = 115;
  static constexpr int id_abort = 1;
  static constexpr int id_continue = 2;
  static constexpr int id_do_not_show = 1222;
  static constexpr int id_message = 1320;

  explicit dlg_error_continue(const std::wstring& message, QWidget* parent = nullptr);

  bool do_not_show_again() const noexcept { return m_do_not_show; }
  void reject() override;  // Escape, the close box: Continue

 private:
  void toggle_do_not_show();

  std::wstring m_message;
  bool m_do_not_show = false;
};

/// The caption of the error dialogs: the wizard's title + " Error" once it is initialised, else "Error".
QString error_dialog_caption();
