#include "wizard/shell/wizard_shell.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <algorithm>

#include "converter/error_handler.h"
#include "wizard/page/wizard_page.h"
#include "wizard/shell/gui_bridge.h"
#include "wizard/shell/shell_frame.h"
#include "wizard/shell/wizard_guard.h"
#include "tk/tk_exception.h"
#include "tk/tk_logger.h"

// Resources of a static library must be registered by hand (at global scope, as the macro needs).
static void init_wizard_resources() { Q_INIT_RESOURCE(wizard); }

namespace {

QString picture_path(int id) { return QStringLiteral(":/wizard/picture_%1.png").arg(id); }

/// Closes the dialogs opened above the wizard, innermost first (a bounded number of tries: a
/// dialog that refuses to close must not keep us here). True when there was one.
bool close_nested_dialogs(QWidget* wizard) {
  bool closed = false;
  for (int tries = 0; tries < 16; ++tries) {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || modal == wizard) break;
    closed = true;
    if (auto* dialog = qobject_cast<QDialog*>(modal))
      dialog->reject();
    else
      modal->close();
  }
  return closed;
}

constexpr int log_ctrl_id = 1016;

}  // namespace

wizard_shell::wizard_shell(const std::wstring& title, int icon_id, int watermark_id, int header_id,
                           QWidget* parent)
    : QWizard(parent), m_title(title), m_icon_id(icon_id), m_frame(std::make_unique<shell_frame>(*this)) {
  tk_log(1, "wizard_shell::ctor(%s)", title);
  gui_bridge::set_closing(false);
  init_wizard_resources();
  setObjectName(QStringLiteral("wizard_shell"));
  // Options only here: setOption later resets the buttons a page has set.
  setWizardStyle(QWizard::ModernStyle);
  setOption(QWizard::HaveHelpButton, true);
  if (watermark_id) m_watermark = QPixmap(picture_path(watermark_id));
  if (header_id) setPixmap(QWizard::LogoPixmap, QPixmap(picture_path(header_id)));

  connect(this, &QWizard::currentIdChanged, this, &wizard_shell::page_activated);
  connect(this, &QWizard::helpRequested, this, &wizard_shell::help_requested);
  // QWizard binds no key to help.
  bind_help_key(this, [this] { help_requested(); });
  connect(&m_timer, &QTimer::timeout, this, &wizard_shell::tick);
}

wizard_shell::~wizard_shell() {
  tk_log(1, "wizard_shell::dtor");
  m_initialized.store(false);
  m_timer.stop();
  m_timer_running.store(false);
  // Work still running on another thread may wait for this window: answer it unseen and stop it.
  gui_bridge::set_closing(true);
  stop_pages_work();
  gui_bridge::set_closing(false);
}

// ---- pages ---------------------------------------------------------------------------------

void wizard_shell::add_page(wizard_page_base* page) {
  if (!page) TK_ASSERT_SITE("g_wiz_sh", 90);
  const int id = page->page_id();
  // Enter means Next: a button of the page must not become the default when it has the focus.
  for (QPushButton* button : page->findChildren<QPushButton*>()) button->setAutoDefault(false);
  if (page->hides_header() && !m_watermark.isNull()) page->setPixmap(QWizard::WatermarkPixmap, m_watermark);
  setPage(id, page);
  m_order.push_back(id);
  if (m_order.size() == 1) setStartId(id);
}

wizard_page_base* wizard_shell::page_by_id(int id) const { return qobject_cast<wizard_page_base*>(page(id)); }

int wizard_shell::nextId() const {
  const int current = currentId();
  if (current < 0) return -1;
  if (current == m_one_shot_from && m_one_shot_to > 0) return m_one_shot_to;
  const auto at = std::find(m_order.begin(), m_order.end(), current);
  if (at == m_order.end() || at + 1 == m_order.end()) return -1;
  return *(at + 1);
}

void wizard_shell::page_activated(int id) {
  m_skipping = false;  // the page arrived at is asked as usual
  if (id < 0 || m_closing) return;
  wizard_page_base* page = page_by_id(id);
  if (!page) return;
  const auto position = [this](int page_id) {
    return std::find(m_order.begin(), m_order.end(), page_id) - m_order.begin();
  };
  const bool forward = m_previous_id < 0 || position(id) >= position(m_previous_id);
  m_previous_id = id;
  m_one_shot_from = m_one_shot_to = -1;

  bool accepted = true;
  const bool ran = wizard_guard([&] {
    tk_log(1, "wizard_page::OnSetActive");
    const int mask = page->buttons();
    if (QAbstractButton* b = button(QWizard::BackButton)) b->setEnabled((mask & wiz_back) != 0);
    if (QAbstractButton* b = button(QWizard::NextButton)) b->setEnabled((mask & wiz_next) != 0);
    if (QAbstractButton* b = button(QWizard::FinishButton)) b->setEnabled((mask & wiz_finish) != 0);
    if (QAbstractButton* b = button(QWizard::HelpButton)) b->setEnabled(page->has_help());
    on_init();
    accepted = page->page_init();
  });
  if (!ran || accepted || m_closing) return;
  // A page that refuses activation is passed over in the direction of travel; it never was the
  // active page, so neither its Next nor its Back operation runs.
  m_skipping = true;
  if (forward)
    next();
  else
    back();
  m_skipping = false;
}

bool wizard_shell::validateCurrentPage() {
  if (m_finishing || m_closing || m_skipping) return true;
  wizard_page_base* page = page_by_id(currentId());
  if (!page) return true;
  return wizard_guarded(
      [&] {
        const int result = page->on_next();
        if (result < 0) return false;
        if (result > 0) {
          m_one_shot_from = page->page_id();
          m_one_shot_to = result;
        }
        const bool leave = page->on_kill_active();
        if (!leave) m_one_shot_from = m_one_shot_to = -1;
        return leave;
      },
      false);
}

void wizard_shell::cleanupPage(int id) {
  // QWizard also cleans every visited page when it is reset on close: that is no Back.
  if (m_closing || m_skipping) return;
  if (wizard_page_base* page = page_by_id(id)) wizard_guard([&] { page->on_back(); });
}

void wizard_shell::show_finish_page() {
  if (!gui_bridge::on_gui_thread()) {
    QPointer<wizard_shell> self(this);
    gui_bridge::post([self] {
      if (self) self->show_finish_page();
    });
    return;
  }
  if (m_closing || m_order.empty()) return;
  const int target = page(116) ? 116 : m_order.back();
  if (currentId() != target) setCurrentId(target);
}

// ---- closing -------------------------------------------------------------------------------

void wizard_shell::accept() {
  if (m_closing) return;
  wizard_page_base* page = page_by_id(currentId());
  const bool finish = !page || wizard_guarded([&] { return page->on_finish(); }, false);
  if (finish && !m_closing) close_with(QDialog::Accepted);
}

void wizard_shell::reject() {
  if (m_closing) return;
  // A disabled Cancel also refuses Escape and the close box.
  if (QAbstractButton* cancel = button(QWizard::CancelButton); cancel && !cancel->isEnabled()) return;
  wizard_page_base* page = page_by_id(currentId());
  const bool cancel = !page || wizard_guarded([&] { return page->on_cancel(); }, false);
  if (cancel && !m_closing) close_with(QDialog::Rejected);
}

void wizard_shell::done(int result) {
  if (!m_closing) {
    close_with(result);
    return;
  }
  QWizard::done(result);
}

void wizard_shell::close_with(int status) {
  if (m_closing) return;
  m_closing = true;
  m_finishing = true;  // no page is validated on the way out
  stop_timer();
  gui_bridge::set_closing(true);
  const bool nested = close_nested_dialogs(this);
  if (!nested && !gui_bridge::serving_request()) {
    stop_pages_work();
    QWizard::done(status);
    return;
  }
  // Called from inside a dialog's event loop (a worker's box, perhaps): that loop can only end
  // once we return, and the worker waiting for its box could never be joined before. The rest
  // follows when the loop has unwound.
  QPointer<wizard_shell> self(this);
  gui_bridge::post([self, status] {
    if (!self) return;
    self->stop_pages_work();
    self->QWizard::done(status);
  });
}

void wizard_shell::stop_pages_work() noexcept {
  for (int id : m_order)
    if (wizard_page_base* page = page_by_id(id)) page->stop_work();
}

void wizard_shell::end_wizard(int status) {
  int expected = -1;
  m_forced_status.compare_exchange_strong(expected, status);
  if (!gui_bridge::on_gui_thread()) {
    QPointer<wizard_shell> self(this);
    gui_bridge::post([self] {
      if (self) self->close_with(self->m_forced_status.load());
    });
    return;
  }
  close_with(m_forced_status.load());
}

bool wizard_shell::return_to_page(int id) {
  if (m_closing) return false;
  const auto target = std::find(m_order.begin(), m_order.end(), id);
  const auto current = std::find(m_order.begin(), m_order.end(), currentId());
  if (target == m_order.end() || current == m_order.end() || target >= current) return false;
  QPointer<wizard_shell> self(this);
  QTimer::singleShot(0, this, [self, id] {
    // Bounded: each Back moves one page, and a page may refuse to be left.
    for (std::size_t steps = 0; self && !self->m_closing && self->currentId() != id && steps < self->m_order.size();
         ++steps)
      self->back();
  });
  return true;
}

std::optional<int> wizard_shell::forced_status() const {
  const int status = m_forced_status.load();
  if (status < 0) return std::nullopt;
  return status;
}

int wizard_shell::run() {
  if (auto status = forced_status()) return *status;
  const int result = exec();
  if (auto status = forced_status()) return *status;
  return result;
}

// ---- frame services ------------------------------------------------------------------------

void wizard_shell::on_init() {
  if (m_initialized.load()) return;
  setWindowTitle(QString::fromStdWString(m_title));
  if (m_icon_id) setWindowIcon(QIcon(picture_path(m_icon_id)));
  if (QScreen* screen = this->screen()) {
    const QRect area = screen->availableGeometry();
    const QSize size = sizeHint().expandedTo(minimumSizeHint());
    move(area.center() - QPoint(size.width() / 2, size.height() / 2));
  }
  m_initialized.store(true);
}

bool wizard_shell::is_initialized() {
  tk_log(1, "wizard_shell::is_initialized");
  wizard_shell* shell = instance_ptr();
  if (!shell) {
    tk_log(1, "Before return false");
    return false;
  }
  tk_log(1, "Singleton has been initialized");
  return shell->m_initialized.load();
}

wizard_shell* wizard_shell::initialized_instance() {
  wizard_shell* shell = instance_ptr();
  return shell && shell->m_initialized.load() ? shell : nullptr;
}

void wizard_shell::start_timer(unsigned period_ms) {
  // Checked on the caller's thread, so a second start fails where it was made.
  if (m_timer_running.exchange(true)) TK_ASSERT_SITE("g_wiz_sh", 260);
  if (gui_bridge::on_gui_thread()) {
    m_timer.start(static_cast<int>(period_ms));
    return;
  }
  QPointer<wizard_shell> self(this);
  gui_bridge::post([self, period_ms] {
    if (self && self->m_timer_running.load()) self->m_timer.start(static_cast<int>(period_ms));
  });
}

void wizard_shell::stop_timer() {
  if (!m_timer_running.exchange(false)) return;
  if (gui_bridge::on_gui_thread()) {
    m_timer.stop();
    return;
  }
  QPointer<wizard_shell> self(this);
  gui_bridge::post([self] {
    if (self && !self->m_timer_running.load()) self->m_timer.stop();
  });
}

void wizard_shell::tick() {
  if (m_closing || !m_timer_running.load()) return;
  if (wizard_page_base* page = page_by_id(currentId())) wizard_guard([&] { page->on_timer(); });
}

void wizard_shell::bind_help_key(QWidget* window, std::function<void()> help) {
  // A window's own shortcut: a modal dialog is a window of its own, which the wizard's F1 misses.
  auto* f1 = new QShortcut(QKeySequence(Qt::Key_F1), window);
  f1->setContext(Qt::WindowShortcut);
  connect(f1, &QShortcut::activated, window, std::move(help));
}

void wizard_shell::help_requested() {
  if (m_closing) return;
  wizard_page_base* page = page_by_id(currentId());
  if (page && page->has_help()) wizard_guard([&] { page->on_help(); });
}

void wizard_shell::write_log(const std::wstring& text) {
  tk_log(1, "wizard_shell::write_log(%s)", text);
  if (gui_bridge::on_gui_thread()) {
    apply_log(text);
    return;
  }
  QPointer<wizard_shell> self(this);
  gui_bridge::post([self, text] {
    if (self) self->apply_log(text);
  });
}

void wizard_shell::apply_log(const std::wstring& text) {
  QWizardPage* page = currentPage();
  if (!page) return;
  auto* log = page->findChild<QPlainTextEdit*>(wizard_page_base::ctrl_name(log_ctrl_id));
  if (!log) {
    tk_log(1, "Editbox failed to be initialized");
    return;
  }
  log->moveCursor(QTextCursor::End);
  log->insertPlainText(QString::fromStdWString(text));
  log->ensureCursorVisible();
}

std::vector<std::string> wizard_shell::errors() const {
  error_handler* handler = error_handler::instance_ptr();
  return handler ? handler->listed_errors() : std::vector<std::string>{};
}

void wizard_shell::mark_run_start() {
  if (m_counted_at_run_start) return;
  error_handler* handler = error_handler::instance_ptr();
  if (handler) handler->clear_listed_errors();
  m_counted_at_run_start = handler ? handler->reported().total() : 0u;
}

bool wizard_shell::errors_counted_since_run_start() const { return errors_since_run_start() > 0; }

unsigned wizard_shell::errors_since_run_start() const {
  error_handler* handler = error_handler::instance_ptr();
  if (!handler || !m_counted_at_run_start) return 0;
  const unsigned total = handler->reported().total();
  return total > *m_counted_at_run_start ? total - *m_counted_at_run_start : 0;
}
