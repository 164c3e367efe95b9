#include "tk/tk_thread.h"

#include <chrono>
#include <system_error>

#include "tk/tk_exception.h"
#include "tk/tk_logger.h"

// ---- tk_thread_functor ----------------------------------------------------------

tk_thread_functor::~tk_thread_functor() = default;

void tk_thread_functor::run() {
  while (!stop_requested() && !is_done()) step();
  finish();
}

bool tk_thread_functor::is_done() { return false; }

void tk_thread_functor::step() { std::this_thread::sleep_for(std::chrono::milliseconds(100)); }

void tk_thread_functor::finish() {}

void tk_thread_functor::request_stop() { m_stop.store(true); }

// ---- tk_thread -------------------------------------------------------------------

namespace {

// The thread's body: nothing may escape a thread entry point, so everything
// is caught, logged and kept for the owner.
int tk_thread_start_routine(tk_thread_functor* functor, std::exception_ptr& escaped) noexcept {
  try {
    if (!functor) TK_ASSERT_SITE("tk_threa", 149);
    functor->run();
  } catch (const std::exception& e) {
    tk_log(3, "tk_thread_start_routine: %s", e.what());
    escaped = std::current_exception();
  } catch (...) {
    tk_log(3, "tk_thread_start_routine: %s", "unknown exception");
    escaped = std::current_exception();
  }
  return 1;
}

}  // namespace

int tk_thread::start_routine(tk_thread_functor* functor, std::atomic<bool>* ended,
                             std::exception_ptr* escaped) noexcept {
  const int result = tk_thread_start_routine(functor, *escaped);
  ended->store(true);  // last: the owner may join from now on
  return result;
}

tk_thread::tk_thread(bool owns_functor) : m_owns_functor(owns_functor) {}

tk_thread::~tk_thread() {
  try {
    if (is_running())
      terminate();
    else
      close();
  } catch (const std::exception& e) {
    tk_log(3, "tk_thread::dtor: %s", e.what());
  } catch (...) {
  }
  // Never destroy a joinable std::thread (that ends the process).
  if (m_thread.joinable()) m_thread.join();
}

bool tk_thread::is_running() const noexcept { return m_thread.joinable() && !m_ended.load(); }

tk_thread_functor* tk_thread::create_functor() {
  m_owns_functor = true;
  return new tk_thread_functor;
}

void tk_thread::start() {
  if (is_running()) TK_ASSERT_SITE("tk_threa", 92);
  close();
  m_functor = create_functor();
  if (!m_functor) TK_ASSERT_SITE("tk_threa", 105);
  // The wizard reuses one converter for every run: an old stop request must not end the new one.
  m_functor->clear_stop_request();
  m_escaped = nullptr;
  m_ended.store(false);
  try {
    m_thread = std::thread(&tk_thread::start_routine, m_functor, &m_ended, &m_escaped);
  } catch (const std::system_error& e) {
    m_ended.store(true);
    throw tk_exception_ex("Cannot start worker thread: ", tk_level_error, e.code().value());
  }
}

void tk_thread::close() {
  if (is_running()) TK_ASSERT_SITE("tk_threa", 71);
  if (m_thread.joinable()) m_thread.join();  // already ended: returns at once
  if (m_functor && m_owns_functor) delete m_functor;
  m_functor = nullptr;
}

void tk_thread::terminate() {
  if (!is_running()) TK_ASSERT_SITE("tk_threa", 55);
  m_functor->request_stop();
  m_thread.join();
  close();
}

std::exception_ptr tk_thread::take_exception() noexcept {
  if (is_running()) return nullptr;
  return std::exchange(m_escaped, nullptr);
}
