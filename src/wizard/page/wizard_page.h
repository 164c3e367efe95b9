#pragma once
// The base of every wizard page. A page is a QWizardPage whose id is its dialog id; the shell
// turns the wizard's events into the virtual operations below (always inside its exception
// guard) and sets the buttons from the page's mask each time the page becomes current.
//
//   class sel_file_page : public wizard_page<105, wiz_back | wiz_next, psp_has_help> { ... };
//
// Every control a page looks up by id carries the object name "id_<id>" (set_ctrl_id).
#include <QFont>
#include <QString>
#include <QWizardPage>
#include <string>

class QAbstractButton;

/// Wizard buttons a page enables on activation (the others are disabled).
inline constexpr int wiz_back = 1;
inline constexpr int wiz_next = 2;
inline constexpr int wiz_finish = 4;

/// Page flags.
inline constexpr int psp_has_help = 0x20;
inline constexpr int psp_hide_header = 0x800;
inline constexpr int psp_use_header_title = 0x1000;
inline constexpr int psp_use_header_subtitle = 0x2000;

class wizard_page_base : public QWizardPage {
  Q_OBJECT

 public:
  wizard_page_base(int page_id, int buttons, int flags, QWidget* parent = nullptr);
  ~wizard_page_base() override;

  int page_id() const noexcept { return m_page_id; }
  int buttons() const noexcept { return m_buttons; }
  int flags() const noexcept { return m_flags; }
  bool has_help() const noexcept { return (m_flags & psp_has_help) != 0; }
  bool hides_header() const noexcept { return (m_flags & psp_hide_header) != 0; }

  // ---- operations the shell calls (GUI thread, inside the guard) -------------------------
  /// The page becomes current (every time). False: the page is skipped in the direction of travel.
  virtual bool page_init();
  /// The page is left forwards after on_next returned 0 or a page id. False: it stays.
  virtual bool on_kill_active();
  /// Finish was pressed. False: the wizard stays open.
  virtual bool on_finish();
  /// Help button or F1.
  virtual void on_help();
  /// Next was pressed: 0 goes on, -1 stays, a page id goes to that page.
  virtual int on_next();
  /// Back was pressed (the previous page follows whatever the result).
  virtual int on_back();
  /// Cancel, Escape or the close box: asks "Are you sure you want to exit the wizard?" (No is the
  /// default). True lets the wizard close with 0.
  virtual bool on_cancel();
  /// The shell's progress timer ticked while this page is current.
  virtual void on_timer();
  /// The wizard is about to close (any path): a page that runs work on another thread stops and
  /// joins it here (it may be called again, also from the shell's destructor). Must not throw.
  virtual void stop_work() noexcept;

  // ---- helpers ---------------------------------------------------------------------------
  /// Header title and subtitle (pages that show the header).
  void set_header(const std::wstring& title, const std::wstring& subtitle);

  /// "id_<id>".
  static QString ctrl_name(int id);
  /// Names a control so that ctrl(id) and the tests find it.
  static void set_ctrl_id(QWidget* control, int id);
  /// The control with that id; none is the assertion "..\GUI2/g_wiz_pg" line 123.
  QWidget* ctrl(int id) const;
  /// The same, of a given type (a control of another type counts as missing).
  template <class T>
  T* ctrl_as(int id) const {
    T* control = findChild<T*>(ctrl_name(id));
    if (!control) missing_ctrl();
    return control;
  }

  void show_ctrl(int id, bool show);
  /// Enables or disables; an enabled control also receives the focus.
  void enable_ctrl(int id, bool enable);
  /// Unchecked or indeterminate becomes checked, checked becomes unchecked; returns the new state.
  /** Never call it from the box's own click: a QCheckBox toggles itself. */
  bool invert_chbox(int id);

  /// A font a page made for one of its controls, kept as long as the page.
  QFont& page_font() noexcept { return m_font; }

 protected:
  [[noreturn]] static void missing_ctrl();

 private:
  const int m_page_id;
  const int m_buttons;
  const int m_flags;
  QFont m_font;
};

/// The page template: dialog id, button mask and flags fixed by the derived page.
template <int IDD, int Buttons, int Flags>
class wizard_page : public wizard_page_base {
 public:
  static constexpr int idd = IDD;
  explicit wizard_page(QWidget* parent = nullptr) : wizard_page_base(IDD, Buttons, Flags, parent) {}
};
