#include "tk/tk_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>

#include "tk/tk_exception.h"

namespace {

using namespace std::chrono_literals;
using steady = std::chrono::steady_clock;

std::string site(int line) { return tk_mail_assertion::make_message("tk_threa", line); }

template <class F>
bool wait_for(F condition, std::chrono::milliseconds limit = 5s) {
  const auto end = steady::now() + limit;
  while (!condition()) {
    if (steady::now() > end) return false;
    std::this_thread::sleep_for(2ms);
  }
  return true;
}

// Counts its steps and finishes after `steps`; counts its own destruction.
struct counting_functor : tk_thread_functor {
  explicit counting_functor(int steps, std::atomic<int>* destroyed = nullptr) : steps(steps), destroyed(destroyed) {}
  ~counting_functor() override {
    if (destroyed) ++*destroyed;
  }
  bool is_done() override { return done_steps.load() >= steps; }
  void step() override {
    ++done_steps;
    std::this_thread::sleep_for(1ms);
  }
  void finish() override { finished = true; }
  int steps;
  std::atomic<int>* destroyed;
  std::atomic<int> done_steps{0};
  std::atomic<bool> finished{false};
};

class owning_thread : public tk_thread {
 public:
  explicit owning_thread(int steps) : steps_(steps) {}
  std::atomic<int> destroyed{0};
  int created = 0;

 protected:
  tk_thread_functor* create_functor() override {
    set_owns_functor(true);
    ++created;
    return new counting_functor(steps_, &destroyed);
  }

 private:
  int steps_;
};

// Hands out a functor it does not own, as the wizard's pages do with the converter.
class lending_thread : public tk_thread {
 public:
  explicit lending_thread(tk_thread_functor* functor) : tk_thread(false), functor_(functor) {}

 protected:
  tk_thread_functor* create_functor() override { return functor_; }

 private:
  tk_thread_functor* functor_;
};

class null_thread : public tk_thread {
 protected:
  tk_thread_functor* create_functor() override { return nullptr; }
};

struct throwing_functor : tk_thread_functor {
  void run() override { throw std::runtime_error("boom"); }
};

TEST(TkThreadFunctor, DefaultRunEndsOnStopRequest) {
  tk_thread_functor functor;
  functor.request_stop();
  const auto start = steady::now();
  functor.run();
  EXPECT_LT(steady::now() - start, 50ms);
}

TEST(TkThread, StartWhileRunningAssertsThenRunsFreshFunctorAfterEnd) {
  owning_thread thread(1000000);
  thread.start();
  EXPECT_TRUE(thread.is_running());
  try {
    thread.start();
    FAIL() << "second start accepted";
  } catch (const tk_exception& e) {
    EXPECT_EQ(e.message(), site(92));
  }
  try {
    thread.close();
    FAIL() << "close of a running thread accepted";
  } catch (const tk_exception& e) {
    EXPECT_EQ(e.message(), site(71));
  }
  thread.terminate();
  EXPECT_FALSE(thread.is_running());
  EXPECT_EQ(thread.destroyed.load(), 1);

  try {
    thread.terminate();
    FAIL() << "terminate of an idle thread accepted";
  } catch (const tk_exception& e) {
    EXPECT_EQ(e.message(), site(55));
  }
}

TEST(TkThread, FinishedThreadRestartsAndFreesTheOldFunctor) {
  owning_thread thread(3);
  thread.start();
  auto* first = static_cast<counting_functor*>(thread.functor());
  ASSERT_TRUE(wait_for([&] { return !thread.is_running(); }));
  EXPECT_TRUE(first->finished.load());
  thread.start();
  EXPECT_EQ(thread.created, 2);
  EXPECT_EQ(thread.destroyed.load(), 1);
  ASSERT_TRUE(wait_for([&] { return !thread.is_running(); }));
}

TEST(TkThread, DestroyingARunningDefaultThreadStopsItPromptly) {
  const auto start = steady::now();
  {
    tk_thread thread;
    thread.start();
    EXPECT_TRUE(thread.is_running());
    EXPECT_TRUE(thread.owns_functor());
  }
  EXPECT_LT(steady::now() - start, 1s);
}

TEST(TkThread, UnownedFunctorSurvivesAndRunsAgain) {
  std::atomic<int> destroyed{0};
  counting_functor functor(1000000, &destroyed);
  {
    lending_thread thread(&functor);
    thread.start();
    ASSERT_TRUE(wait_for([&] { return functor.done_steps.load() > 0; }));
  }
  EXPECT_EQ(destroyed.load(), 0);
  EXPECT_TRUE(functor.stop_requested());

  // The next start clears the old stop request.
  lending_thread thread(&functor);
  const int before = functor.done_steps.load();
  thread.start();
  ASSERT_TRUE(wait_for([&] { return functor.done_steps.load() > before + 2; }));
  thread.terminate();
  EXPECT_EQ(destroyed.load(), 0);
}

TEST(TkThread, NullFunctorAsserts) {
  null_thread thread;
  try {
    thread.start();
    FAIL();
  } catch (const tk_exception& e) {
    EXPECT_EQ(e.message(), site(105));
  }
  EXPECT_FALSE(thread.is_running());
}

TEST(TkThread, ThrowingRunIsCaughtAndKeptForTheOwner) {
  throwing_functor functor;
  lending_thread thread(&functor);
  thread.start();
  ASSERT_TRUE(wait_for([&] { return !thread.is_running(); }));
  const std::exception_ptr escaped = thread.take_exception();
  ASSERT_TRUE(escaped);
  EXPECT_THROW(std::rethrow_exception(escaped), std::runtime_error);
  EXPECT_FALSE(thread.take_exception());
}

}  // namespace
