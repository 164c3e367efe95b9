#include "wizard/shell/gui_bridge.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "tk/tk_logger.h"

namespace {

/// One waiting request. The GUI thread claims it before running it, the closer before answering
/// it unseen; whoever claims first decides, so the waiter's captures are never used after it left.
struct request {
  enum state { pending, running, finished };
  std::function<void()> work;
  std::mutex mutex;
  std::condition_variable cv;
  state current = pending;
  bool ran = false;

  bool claim() {
    std::lock_guard lock(mutex);
    if (current != pending) return false;
    current = running;
    return true;
  }
  void finish(bool did_run) {
    {
      std::lock_guard lock(mutex);
      current = finished;
      ran = did_run;
    }
    cv.notify_all();
  }
  /// Answers unseen when nobody has started it.
  void cancel() {
    {
      std::lock_guard lock(mutex);
      if (current != pending) return;
      current = finished;
      ran = false;
    }
    cv.notify_all();
  }
};

std::mutex registry_mutex;
std::vector<std::shared_ptr<request>> waiting;
std::atomic<bool> is_closing{false};
std::mutex limit_mutex;
std::optional<std::chrono::milliseconds> wait_limit;
std::atomic<unsigned> timed_out{0};
std::atomic<int> serving{0};

void forget(const std::shared_ptr<request>& r) {
  std::lock_guard lock(registry_mutex);
  waiting.erase(std::remove(waiting.begin(), waiting.end(), r), waiting.end());
}

}  // namespace

bool gui_bridge::on_gui_thread() {
  QCoreApplication* app = QCoreApplication::instance();
  return !app || app->thread() == QThread::currentThread();
}

bool gui_bridge::run_and_wait(const std::function<void()>& work) {
  if (on_gui_thread()) {
    work();
    return true;
  }
  if (is_closing.load()) return false;
  auto r = std::make_shared<request>();
  r->work = work;
  {
    std::lock_guard lock(registry_mutex);
    waiting.push_back(r);
  }
  // Checked again under the registry: a close that began meanwhile has cancelled every request
  // registered before it, and this one would otherwise wait for nothing.
  if (is_closing.load()) r->cancel();

  QCoreApplication* app = QCoreApplication::instance();
  QMetaObject::invokeMethod(
      app,
      [r] {
        if (!r->claim()) return;
        bool ok = false;
        ++serving;
        try {
          r->work();
          ok = true;
        } catch (...) {
          // The work reports its own failures; the waiter only learns that it did not finish.
          tk_log(3, "gui_bridge: a request failed");
        }
        --serving;
        r->finish(ok);
      },
      Qt::QueuedConnection);

  std::optional<std::chrono::milliseconds> limit;
  {
    std::lock_guard lock(limit_mutex);
    limit = wait_limit;
  }
  std::unique_lock lock(r->mutex);
  if (limit) {
    if (!r->cv.wait_for(lock, *limit, [&] { return r->current == request::finished; })) {
      if (r->current == request::pending) {
        r->current = request::finished;
        r->ran = false;
        ++timed_out;
      } else {
        r->cv.wait(lock, [&] { return r->current == request::finished; });
      }
    }
  } else {
    r->cv.wait(lock, [&] { return r->current == request::finished; });
  }
  const bool ran = r->ran;
  lock.unlock();
  forget(r);
  return ran;
}

bool gui_bridge::serving_request() { return serving.load() > 0; }

void gui_bridge::post(std::function<void()> work) {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app) {
    work();
    return;
  }
  QMetaObject::invokeMethod(app, std::move(work), Qt::QueuedConnection);
}

void gui_bridge::set_closing(bool closing) {
  is_closing.store(closing);
  if (!closing) return;
  std::vector<std::shared_ptr<request>> pending;
  {
    std::lock_guard lock(registry_mutex);
    pending = waiting;
  }
  for (const auto& r : pending) r->cancel();
}

bool gui_bridge::closing() { return is_closing.load(); }

void gui_bridge::set_wait_limit(std::optional<std::chrono::milliseconds> limit) {
  std::lock_guard lock(limit_mutex);
  wait_limit = limit;
}

unsigned gui_bridge::timed_out_waits() { return timed_out.load(); }
