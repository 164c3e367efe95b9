#pragma once
// Hands batches from one producer thread to one consumer thread, at most a few waiting, so a
// decoding stage runs ahead of the next in flat memory. Batches read out go back to the producer,
// so their memory is reused.
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <mutex>
#include <utility>
#include <vector>

template <class Batch>
class wb_batch_pipe {
 public:
  explicit wb_batch_pipe(std::size_t capacity) : capacity_(capacity ? capacity : 1) {}

  /// Producer: queues `filling`, waiting while the pipe is full, and hands back a spare batch in
  /// its place (with its old contents: the caller clears it). False once the consumer has left.
  bool put(Batch& filling) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return ready_.size() < capacity_ || left_; });
    if (left_) return false;
    ready_.push_back(std::move(filling));
    if (!spare_.empty()) {
      filling = std::move(spare_.back());
      spare_.pop_back();
    } else {
      filling = Batch{};
    }
    lock.unlock();
    changed_.notify_all();
    return true;
  }

  /// Producer: there are no more batches; `error`, when set, reaches the consumer after the last.
  void close(std::exception_ptr error) {
    {
      std::lock_guard lock(mutex_);
      error_ = std::move(error);
      closed_ = true;
    }
    changed_.notify_all();
  }

  /// Consumer: swaps the next batch into `current` (the batch read out goes back as a spare);
  /// false after the last. Throws the producer's error there, and again on every later call.
  bool take(Batch& current) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !ready_.empty() || closed_; });
    if (ready_.empty()) {
      if (error_) std::rethrow_exception(error_);
      return false;
    }
    std::swap(current, ready_.front());
    spare_.push_back(std::move(ready_.front()));
    ready_.pop_front();
    lock.unlock();
    changed_.notify_all();
    return true;
  }

  /// Consumer: it reads no more; a waiting or later put returns false.
  void leave() {
    {
      std::lock_guard lock(mutex_);
      left_ = true;
    }
    changed_.notify_all();
  }

  /// Consumer: leaves (as leave()) and hands `current` back with the other batches, which the
  /// producer then frees on its own thread (see wait_left).
  void hand_back(Batch& current) {
    {
      std::lock_guard lock(mutex_);
      spare_.push_back(std::move(current));
      left_ = true;
    }
    changed_.notify_all();
  }

  /// Producer, after close(): waits until the consumer has left and takes every batch the pipe
  /// still holds, so that freeing them costs the producer's thread, not the consumer's.
  std::vector<Batch> wait_left() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return left_; });
    std::vector<Batch> held = std::move(spare_);
    spare_.clear();
    for (auto& batch : ready_) held.push_back(std::move(batch));
    ready_.clear();
    return held;
  }

 private:
  std::size_t capacity_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Batch> ready_;
  std::vector<Batch> spare_;
  std::exception_ptr error_;
  bool closed_ = false, left_ = false;
};
