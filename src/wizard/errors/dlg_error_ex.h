#pragma once
// The internal-error dialog: the message, "Send bug" (default), "OK" and "Copy to clipboard".
// Every button closes it; its result is the button's id (Escape and the close box give OK).
#include <QDialog>
#include <string>

class dlg_error_ex : public QDialog {
  Q_OBJECT

 public:
  static constexpr int idd = 114;
  static constexpr int id_ok = 1;
  static constexpr int id_copy = 1108;
  static constexpr int id_send_bug = 1112;
  static constexpr int id_message = 1320;

  explicit dlg_error_ex(const std::wstring& message, QWidget* parent = nullptr);

  const std::wstring& text() const noexcept { return m_message; }

  void reject() override;  // Escape, the close box: OK

 private:
  void copy_to_clipboard();
  void send_bug();

  std::wstring m_message;
};
