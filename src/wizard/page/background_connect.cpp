#include "wizard/page/background_connect.h"

#include <QApplication>
#include <QEventLoop>
#include <QProgressDialog>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <exception>
#include <mutex>
#include <thread>

#include "pgs/pgs_converter_impl.h"
#include "tk/tk_logger.h"
#include "wizard/page/wait_cursor.h"

namespace {

/// Shared by the waiting GUI thread and the attempt's thread; the last one to let go frees it.
struct attempt_state {
  std::atomic<bool> done{false};
  std::unique_ptr<pqxx::connection> connection;
  std::exception_ptr failure;
};

std::mutex opener_mutex;
background_connect_opener opener_fn;

/// The loop of the attempt awaited on the GUI thread (one at a time).
bool* current_abandoned = nullptr;
QEventLoop* current_loop = nullptr;

background_connect_opener current_opener() {
  std::lock_guard lock(opener_mutex);
  return opener_fn;
}

}  // namespace

void set_background_connect_opener(background_connect_opener opener) {
  std::lock_guard lock(opener_mutex);
  opener_fn = std::move(opener);
}

bool background_connect_running() noexcept { return current_abandoned != nullptr; }

void abandon_background_connect() noexcept {
  if (!current_abandoned) return;
  tk_log(2, "The connection attempt is abandoned");
  *current_abandoned = true;
  if (current_loop) current_loop->quit();
}

bool connect_in_background(pgs_converter_impl& converter) {
  const pgs_connect_params params = converter.connect_params();
  const bool case_sensitive = converter.get_engine().is_case_sensitive();
  background_connect_opener open = current_opener();
  if (!open)
    open = [case_sensitive](const pgs_connect_params& p) { return pgs_engine::open_detached(p, case_sensitive); };

  auto state = std::make_shared<attempt_state>();
  std::thread([state, params, open] {
    try {
      state->connection = open(params);
    } catch (...) {
      state->failure = std::current_exception();
    }
    state->done.store(true);
  }).detach();

  bool abandoned = false;
  if (!QCoreApplication::instance()) {
    while (!state->done.load()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  } else {
    wait_cursor busy;
    QEventLoop loop;
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, &loop, [&] {
      if (state->done.load()) loop.quit();
    });
    // With no window to hold a Cancel button (a quick launch), a box of its own offers one.
    std::unique_ptr<QProgressDialog> box;
    if (!QApplication::activeWindow()) {
      box = std::make_unique<QProgressDialog>(QStringLiteral("Connecting to PostgreSQL server..."),
                                              QStringLiteral("Cancel"), 0, 0);
      box->setWindowModality(Qt::ApplicationModal);
      box->setMinimumDuration(500);
      QObject::connect(box.get(), &QProgressDialog::canceled, &loop, [] { abandon_background_connect(); });
    }
    current_abandoned = &abandoned;
    current_loop = &loop;
    probe.start(20);
    if (!state->done.load()) loop.exec();
    current_abandoned = nullptr;
    current_loop = nullptr;
  }
  if (abandoned) return false;  // the attempt's thread frees what it made when it ends
  converter.connect_pgs_server([&](const pgs_connect_params&) {
    if (state->failure) std::rethrow_exception(state->failure);
    return std::move(state->connection);
  });
  return true;
}
