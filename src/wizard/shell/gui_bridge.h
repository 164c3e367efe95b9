#pragma once
// Runs work on the GUI thread for other threads: boxes, error dialogs, the log and the timer live
// on the GUI thread. A caller on another thread posts the work (queued) and waits for it; nothing
// here uses a blocking queued connection, which no one could answer while the GUI thread waits
// for that worker. While the wizard closes, pending and later requests are answered at once
// without being shown, so a worker never waits for a dialog that will not come.
#include <chrono>
#include <functional>
#include <optional>

class gui_bridge {
 public:
  /// True on the QApplication's thread, and when no QApplication exists.
  static bool on_gui_thread();

  /// Runs `work` on the GUI thread and waits; true when it ran, false when it was answered unseen
  /// (the wizard is closing). On the GUI thread it simply runs.
  static bool run_and_wait(const std::function<void()>& work);

  /// The same with a result; `unseen` is the answer when it did not run.
  template <class R>
  static R call(const std::function<R()>& work, R unseen) {
    if (on_gui_thread()) return work();
    std::optional<R> result;
    if (!run_and_wait([&] { result = work(); }) || !result) return unseen;
    return *result;
  }

  /// True while the GUI thread runs a request of a waiting thread (its box may be open).
  static bool serving_request();

  /// Queues work for the GUI thread without waiting (it runs unless the application is gone).
  static void post(std::function<void()> work);

  /// While set, waiting requests and later ones are answered unseen.
  static void set_closing(bool closing);
  static bool closing();

  /// Tests only: a wait longer than this is answered unseen (and counted); none by default.
  static void set_wait_limit(std::optional<std::chrono::milliseconds> limit);
  static unsigned timed_out_waits();
};
