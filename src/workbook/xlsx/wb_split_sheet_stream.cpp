#include "workbook/xlsx/wb_split_sheet_stream.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "workbook/wb_errors.h"
#include "workbook/wb_limits.h"
#include "workbook/xlsx/wb_row_batch.h"
#include "workbook/xlsx/wb_sheet_row_builder.h"
#include "workbook/xlsx/wb_sheet_scanner.h"

namespace {

// Rows go out in batches of about this many cells. A scan that goes on past its own piece lets at
// most `max_waiting_batches` wait for the reading side.
constexpr std::size_t batch_cells = 1024;
constexpr std::size_t max_waiting_batches = 8;
constexpr std::size_t max_spare_batches = 2;
// Without a row start this far into a piece, the piece is cut anyway and the next one is only
// read as the continuation of the scan before it.
constexpr std::size_t longest_piece_factor = 4;
constexpr std::uint64_t no_stop = std::numeric_limits<std::uint64_t>::max();

// Unwinds a scan whose results are no longer wanted.
struct scan_cancelled {};

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

std::string_view local_name(std::string_view qname) {
  const auto colon = qname.rfind(':');
  return colon == std::string_view::npos ? qname : qname.substr(colon + 1);
}

bool name_char(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
         c == '.' || static_cast<unsigned char>(c) >= 0x80;
}

// The prefix ("" or "x:") of the first thing in `text` that looks like the sheetData start tag; false
// when there is none. Only a guess: it chooses where pieces are cut, never what a scan reports.
bool guess_prefix(std::string_view text, std::string& prefix) {
  for (std::size_t at = text.find("sheetData"); at != std::string_view::npos; at = text.find("sheetData", at + 1)) {
    const std::size_t after = at + 9;
    if (after >= text.size() || !(is_space(text[after]) || text[after] == '>' || text[after] == '/')) continue;
    if (at == 0) continue;
    if (text[at - 1] == '<') {
      prefix.clear();
      return true;
    }
    if (text[at - 1] != ':') continue;
    std::size_t b = at - 1;
    while (b > 0 && name_char(text[b - 1])) --b;
    if (b == 0 || b == at - 1 || text[b - 1] != '<') continue;
    prefix = std::string(text.substr(b, at - b));
    return true;
  }
  return false;
}

enum class first_row_state { pending, numbered, doubtful };
enum class scan_end { running, stopped, finished, failed, cancelled };

// A stretch of the part's inflated text and the scan that starts on it.
struct piece {
  std::size_t index = 0;
  std::uint64_t start = 0, end = 0;
  std::shared_ptr<const std::string> bytes;
  bool startable = false;         // begins where a row may begin: scanned on its own
  bool last = false;              // the part ends at `end`, or fails there with `read_error`
  std::exception_ptr read_error;

  std::atomic<bool> cancelled{false};  // its scan's results are not wanted
  bool discarded = false;              // a scan before it went on over it
  bool consumed = false;               // the reading side is done with it
  bool job_exited = false;             // its scan is over (or it has none)
  bool released = false;
  first_row_state first = first_row_state::pending;
  std::uint32_t first_row = 0;
  std::deque<wb_row_batch> batches;
  scan_end outcome = scan_end::running;
  std::exception_ptr error;
  std::size_t stop_piece = 0;  // the scan stopped at the end of this piece (or ended in it)
};

class split_sheet_stream final : public wb_decoding_ahead_stream {
 public:
  split_sheet_stream(wb_xlsx_package& package, zip_uint64_t part, const wb_sheet_split& split)
      : package_(package), split_(split), input_(package.archive(), part, wb_max_part_bytes) {
    split_.piece_bytes = std::max<std::size_t>(split_.piece_bytes, 1);
    split_.pieces_in_flight = std::max(split_.pieces_in_flight, 2u);
    input_.inflate_ahead();
    try {
      cutter_ = std::thread([this] { cut(); });
      for (unsigned i = 0; i < split_.workers; ++i) workers_.emplace_back([this] { work(); });
    } catch (...) {
      shut_down();
      throw;
    }
  }

  ~split_sheet_stream() override { shut_down(); }

  bool next_row(wb_row_view& out) override {
    if (reader_.exhausted()) {
      std::unique_lock lock(mutex_);
      for (;;) {
        if (!reading_) {
          handed_.wait(lock, [this] { return find(reading_index_) != nullptr || stop_; });
          reading_ = find(reading_index_);
          if (!reading_) throw cut_short();
        }
        piece& p = *reading_;
        handed_.wait(lock, [&] { return !p.batches.empty() || p.outcome != scan_end::running; });
        if (!p.batches.empty()) {
          reader_.start(p.batches.front());
          if (spare_.size() < max_spare_batches) spare_.push_back(std::move(p.batches.front()));
          p.batches.pop_front();
          const bool room = p.batches.size() + 1 == max_waiting_batches;  // a scan may wait for it
          lock.unlock();
          if (room) changed_.notify_all();
          break;
        }
        if (p.outcome == scan_end::failed) std::rethrow_exception(p.error);
        if (p.outcome == scan_end::finished) return false;
        if (p.outcome == scan_end::cancelled) throw cut_short();
        p.consumed = true;
        release_if_done(p);
        reading_index_ = p.stop_piece + 1;
        reading_ = nullptr;
        changed_.notify_all();
      }
    }
    reader_.next(out);
    return true;
  }

 private:
  class scan;

  // Only when the cutting thread gave up: the sheet never ends short without an error.
  wb_error cut_short() const {
    return wb_unreadable(package_.path(), "sheet part '" + input_.name() + "' could not be read to its end");
  }

  // --- shared state, under mutex_ ---

  std::shared_ptr<piece> find(std::size_t index) const {
    if (pieces_.empty() || index < pieces_.front()->index || index - pieces_.front()->index >= pieces_.size())
      return nullptr;
    return pieces_[index - pieces_.front()->index];
  }

  // Waits until piece `index` is cut; throws scan_cancelled when `own`'s results are not wanted.
  // `beyond_room`: the scan needs it even when the pieces held are at their limit.
  std::shared_ptr<piece> wait_piece(std::unique_lock<std::mutex>& lock, std::size_t index, const piece& own,
                                    bool beyond_room = false) {
    for (;;) {
      if (stop_ || own.cancelled) throw scan_cancelled{};
      if (index < next_index_) {
        auto p = find(index);
        if (!p || p->released) throw scan_cancelled{};
        return p;
      }
      // A token longer than the pieces held may not starve the scan the reading side waits on.
      if (beyond_room && frontier_ == own.index && !needs_piece_) {
        needs_piece_ = true;
        changed_.notify_all();
      }
      changed_.wait(lock);
    }
  }

  void tell_all() {
    changed_.notify_all();
    handed_.notify_all();
  }

  void release_if_done(piece& p) {
    if (p.released || !p.job_exited || !(p.consumed || p.discarded)) return;
    p.released = true;
    p.bytes.reset();
    p.batches.clear();
    --live_;
    while (!pieces_.empty() && pieces_.front()->released) pieces_.pop_front();
  }

  void discard(piece& p) {
    p.cancelled = true;
    p.discarded = true;
    release_if_done(p);
  }

  // The scan at the frontier is over: the next valid scan starts where it stopped.
  void advance_frontier() {
    for (;;) {
      auto p = find(frontier_);
      if (!p || p->outcome == scan_end::running) return;
      if (p->outcome == scan_end::stopped) {
        frontier_ = p->stop_piece + 1;
        continue;
      }
      // The sheet ends (or fails) in this scan: nothing after it is wanted.
      chain_ended_ = true;
      for (std::size_t i = p->stop_piece + 1; i < next_index_; ++i)
        if (auto q = find(i)) discard(*q);
      return;
    }
  }

  // --- the cutting thread ---

  void cut() {
    std::string pending;
    std::uint64_t start = 0;
    bool startable = true;  // piece 0 is scanned from the part's start
    std::string pattern;    // "<" prefix "row"
    std::size_t searched = 0;
    const std::size_t longest = split_.piece_bytes * longest_piece_factor;
    try {
      pending.reserve(split_.piece_bytes + 2 * wb_sheet_scan_read_bytes);
      for (;;) {
        const std::size_t old = pending.size();
        pending.resize(old + wb_sheet_scan_read_bytes);
        std::size_t n = 0;
        std::exception_ptr failure;
        try {
          n = input_.read(pending.data() + old, wb_sheet_scan_read_bytes);
        } catch (...) {
          failure = std::current_exception();
        }
        pending.resize(old + n);
        if (n == 0) {
          publish(std::move(pending), start, startable, true, failure);
          return;
        }
        while (pending.size() >= split_.piece_bytes) {
          if (pattern.empty()) {
            std::string prefix;
            bool known;
            {
              std::lock_guard lock(mutex_);
              known = seed_ready_;
              if (known) {
                const std::string_view q = seed_.open[1];
                prefix = std::string(q.substr(0, q.size() - local_name(q).size()));
              }
            }
            if (known || guess_prefix(pending, prefix)) pattern = "<" + prefix + "row";
          }
          std::size_t at = std::string::npos;
          bool next_startable = false;
          if (!pattern.empty()) at = find_row_start(pending, std::max(split_.piece_bytes, searched), pattern, searched);
          if (at != std::string::npos) {
            next_startable = true;
            // Cut before the blanks ahead of the row, so a scan of the piece before does not need the
            // next piece's text to end the blank text.
            std::size_t b = at;
            while (b > 0 && is_space(pending[b - 1])) --b;
            if (b < at && b > 0 && pending[b - 1] == '>') at = b;
          } else if (pending.size() >= longest) {
            at = pending.size();
          } else {
            break;
          }
          // The piece gets a string of its own size; `pending` keeps its room for the next one.
          std::string bytes(pending, 0, at);
          pending.erase(0, at);
          if (!publish(std::move(bytes), start, startable, false, nullptr)) return;
          start += at;
          startable = next_startable;
          searched = 0;
        }
        if (stop_ || chain_ended_) return;
      }
    } catch (...) {
      // Out of memory while cutting: the part ends here with that failure, after the text cut so far.
      try {
        publish(std::move(pending), start, startable, true, std::current_exception());
      } catch (...) {
        std::lock_guard lock(mutex_);
        stop_ = true;
        tell_all();
        queued_.notify_all();
      }
    }
  }

  // The first "<row" followed by a blank, '>' or '/' at or after `from`; npos when none is whole yet
  // (`resume` then says where to look again).
  static std::size_t find_row_start(std::string_view s, std::size_t from, std::string_view pattern,
                                    std::size_t& resume) {
    for (std::size_t at = s.find(pattern, from); at != std::string_view::npos; at = s.find(pattern, at + 1)) {
      if (at + pattern.size() >= s.size()) {
        resume = at;
        return std::string_view::npos;
      }
      const char c = s[at + pattern.size()];
      if (is_space(c) || c == '>' || c == '/') return at;
    }
    resume = std::max(from, s.size() >= pattern.size() ? s.size() - pattern.size() + 1 : 0);
    return std::string_view::npos;
  }

  // Adds a piece once there is room; false when the stream is shutting down.
  bool publish(std::string&& bytes, std::uint64_t start, bool startable, bool last, std::exception_ptr error) {
    auto p = std::make_shared<piece>();
    p->start = start;
    p->end = start + bytes.size();
    p->bytes = std::make_shared<const std::string>(std::move(bytes));
    p->startable = startable;
    p->last = last;
    p->read_error = error;
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return live_ < split_.pieces_in_flight || needs_piece_ || stop_ || chain_ended_; });
    if (stop_ || chain_ended_) return false;
    p->index = next_index_++;
    needs_piece_ = false;
    ++live_;
    const bool scan = p->startable;
    if (scan) queue_.push_back(p);
    else p->job_exited = true;
    const bool awaited = !reading_ && p->index == reading_index_;
    pieces_.push_back(std::move(p));
    lock.unlock();
    if (scan) queued_.notify_one();
    if (awaited) handed_.notify_all();
    changed_.notify_all();
    return true;
  }

  // --- the workers ---

  void work();

  void shut_down() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    tell_all();
    queued_.notify_all();
    if (cutter_.joinable()) cutter_.join();
    for (auto& w : workers_)
      if (w.joinable()) w.join();
  }

  wb_xlsx_package& package_;
  wb_sheet_split split_;
  wb_zip_part_stream input_;

  std::mutex mutex_;
  std::condition_variable changed_;  // any change of state but a batch handed out
  std::condition_variable handed_;   // what the reading side waits for
  std::condition_variable queued_;   // a scan waits for a worker
  std::deque<std::shared_ptr<piece>> pieces_;  // by index; released ones leave from the front
  std::deque<std::shared_ptr<piece>> queue_;   // scans waiting for a worker, in file order
  std::size_t next_index_ = 0, live_ = 0;
  std::size_t frontier_ = 0;  // the piece whose scan is known to start where the sheet's scan stands
  bool needs_piece_ = false;
  std::atomic<bool> chain_ended_{false};
  std::atomic<bool> stop_{false};
  wb_xml_scope seed_;  // the scope between two rows: worksheet and sheetData open, their prefixes
  bool seed_ready_ = false;

  std::vector<wb_row_batch> spare_;  // batches read out, their memory reused

  // The reading side's own.
  std::shared_ptr<piece> reading_;
  std::size_t reading_index_ = 0;
  wb_row_batch_reader reader_;

  std::thread cutter_;
  std::vector<std::thread> workers_;
};

// One scan: starts on its own piece and goes on until it can stop at a piece's end, or the part ends.
class split_sheet_stream::scan final : private wb_sheet_bytes, private wb_sheet_scan_stops {
  // A piece's text as a scan reads it.
  struct text {
    text() = default;
    explicit text(const piece& p)
        : bytes(p.bytes), index(p.index), start(p.start), end(p.end), last(p.last), error(p.read_error) {}
    std::shared_ptr<const std::string> bytes;
    std::size_t index = 0;
    std::uint64_t start = 0, end = 0;
    bool last = false;
    std::exception_ptr error;
  };

 public:
  scan(split_sheet_stream& s, std::shared_ptr<piece> own)
      : s_(s),
        own_(std::move(own)),
        cur_(own_->index),
        read_at_(own_->start),
        builder_(s.package_, s.input_.name()),
        scanner_(*this, own_->start, s.input_.name(), builder_, s.package_.path()) {
    builder_.attach(scanner_);
  }

  void run(std::string& buffer) {
    scanner_.lend_buffer(std::move(buffer));
    run();
    buffer = scanner_.return_buffer();
  }

 private:
  void run() {
    scan_end outcome = scan_end::finished;
    std::exception_ptr error;
    wb_row_batch batch;
    try {
      if (own_->index > 0) {
        std::unique_lock lock(s_.mutex_);
        s_.changed_.wait(lock, [this] { return s_.seed_ready_ || own_->cancelled || s_.stop_; });
        if (!s_.seed_ready_) throw scan_cancelled{};
        scanner_.resume_inside(s_.seed_);
        builder_.resume_inside();
      } else {
        confirmed_ = true;
      }
      scanner_.set_stop(this, own_->last ? no_stop : own_->end);
      bool first = own_->index > 0;
      bool seed = own_->index == 0;
      for (;;) {
        builder_.clear_row();
        if (!scanner_.run()) {
          outcome = scanner_.stopped() ? scan_end::stopped : scan_end::finished;
          break;
        }
        if (first) {
          first = false;
          tell_first_row();
        }
        if (seed) seed = !offer_seed();
        wb_row_view row;
        if (builder_.take_row(row)) {
          batch.add(row);
          if (batch.cells.size() >= batch_cells) hand_over(batch);
        }
        if (own_->cancelled || s_.stop_) throw scan_cancelled{};
      }
    } catch (const scan_cancelled&) {
      outcome = scan_end::cancelled;
    } catch (...) {
      outcome = scan_end::failed;
      error = std::current_exception();
    }
    std::unique_lock lock(s_.mutex_);
    if (outcome != scan_end::cancelled && !batch.rows.empty()) own_->batches.push_back(std::move(batch));
    if (own_->first == first_row_state::pending) own_->first = first_row_state::doubtful;
    own_->error = error;
    own_->stop_piece = cur_;
    own_->outcome = outcome;
    own_->job_exited = true;
    if (s_.frontier_ == own_->index) s_.advance_frontier();
    s_.release_if_done(*own_);
    lock.unlock();
    s_.tell_all();
  }

  // --- wb_sheet_bytes: the piece's text, then (as the frontier only) the text after it ---
  std::size_t read(char* buffer, std::size_t size) override {
    // A read ends where one scan over the whole part would end it, so every check made at a read
    // (the token cap, how long text is handed out) falls on the same bytes.
    const std::uint64_t want =
        std::min<std::uint64_t>(read_at_ + size, (read_at_ / wb_sheet_scan_read_bytes + 1) * wb_sheet_scan_read_bytes);
    std::size_t copied = 0;
    while (read_at_ < want) {
      if (!reading_.bytes || read_at_ >= reading_.end) {
        if (reading_.bytes && reading_.last) {
          if (copied > 0) break;
          if (reading_.error) std::rethrow_exception(reading_.error);
          return 0;
        }
        const std::size_t index = reading_.bytes ? reading_.index + 1 : own_->index;
        if (held_.bytes && held_.index == index) {
          reading_ = std::move(held_);
          held_ = text{};
          continue;
        }
        std::unique_lock lock(s_.mutex_);
        if (index > own_->index && !confirmed_) {
          if (copied > 0) break;
          become_frontier(lock);
        }
        // Reading more than a piece ahead of where the scan stands happens only inside a long token,
        // which the token cap bounds.
        reading_ = text(*s_.wait_piece(lock, index, *own_, index > cur_ + 1));
        continue;
      }
      const std::size_t n = static_cast<std::size_t>(std::min(want, reading_.end) - read_at_);
      std::memcpy(buffer + copied, reading_.bytes->data() + (read_at_ - reading_.start), n);
      copied += n;
      read_at_ += n;
    }
    return copied;
  }

  // --- wb_sheet_scan_stops: at the end of the piece the scan is in ---
  bool reached(wb_sheet_scanner& scanner, std::uint64_t offset) override {
    std::unique_lock lock(s_.mutex_);
    for (;;) {
      auto c = s_.find(cur_);
      if (!c) throw scan_cancelled{};
      if (c->last || offset < c->end) {
        scanner.set_stop(this, c->last ? no_stop : c->end);
        return false;
      }
      if (offset == c->end && may_stop(lock)) return true;
      // Going on over the next piece: its own scan guessed wrong, or cannot be trusted.
      become_frontier(lock);
      auto next = s_.wait_piece(lock, cur_ + 1, *own_);
      if (!reading_.bytes || reading_.index < next->index) held_ = text(*next);  // its text is dropped with it
      s_.discard(*next);
      ++cur_;
      lock.unlock();
      s_.changed_.notify_all();
      lock.lock();
    }
  }

  // The scan stands between two rows of sheetData with the same prefixes bound, exactly as the next
  // piece's scan assumed, and the next piece's first row is numbered after this scan's last: the
  // next scan then holds.
  bool may_stop(std::unique_lock<std::mutex>& lock) {
    auto next = s_.wait_piece(lock, cur_ + 1, *own_);
    if (!next->startable || !s_.seed_ready_ || scanner_.scope() != s_.seed_ || !builder_.at_rest() ||
        !builder_.seen_row())
      return false;
    s_.changed_.wait(lock, [&] { return next->first != first_row_state::pending || own_->cancelled || s_.stop_; });
    if (own_->cancelled || s_.stop_) throw scan_cancelled{};
    return next->first == first_row_state::numbered && next->first_row > builder_.last_row();
  }

  // Waits until every scan before this one is confirmed: only then may it read on past its piece.
  void become_frontier(std::unique_lock<std::mutex>& lock) {
    if (confirmed_) return;
    if (own_->first == first_row_state::pending) {
      own_->first = first_row_state::doubtful;
      s_.changed_.notify_all();
    }
    s_.changed_.wait(lock, [this] { return s_.frontier_ == own_->index || own_->cancelled || s_.stop_; });
    if (own_->cancelled || s_.stop_) throw scan_cancelled{};
    confirmed_ = true;
  }

  void tell_first_row() {
    {
      std::lock_guard lock(s_.mutex_);
      if (own_->first != first_row_state::pending) return;
      if (builder_.first_row_known() && builder_.first_row_numbered()) {
        own_->first = first_row_state::numbered;
        own_->first_row = builder_.first_row();
      } else {
        own_->first = first_row_state::doubtful;
      }
    }
    s_.changed_.notify_all();
  }

  // From the scan of the part's start: the elements open between two rows of sheetData, which
  // every later scan starts with. True once given.
  bool offer_seed() {
    const auto& open = scanner_.open_elements();
    if (open.size() != 2 || local_name(open[1]) != "sheetData" || !builder_.at_rest()) return false;
    {
      std::lock_guard lock(s_.mutex_);
      s_.seed_ = scanner_.scope();
      s_.seed_ready_ = true;
    }
    s_.changed_.notify_all();
    return true;
  }

  void hand_over(wb_row_batch& batch) {
    bool awaited = false;
    {
      std::unique_lock lock(s_.mutex_);
      // Past its own piece a scan runs as long as the sheet: the reading side sets the pace.
      if (cur_ > own_->index)
        s_.changed_.wait(lock, [this] {
          return own_->batches.size() < max_waiting_batches || own_->cancelled || s_.stop_;
        });
      if (own_->cancelled || s_.stop_) throw scan_cancelled{};
      own_->batches.push_back(std::move(batch));
      awaited = own_->index == s_.reading_index_;
      if (!s_.spare_.empty()) {
        batch = std::move(s_.spare_.back());
        s_.spare_.pop_back();
      } else {
        batch = wb_row_batch{};
      }
    }
    if (awaited) s_.handed_.notify_all();
    batch.clear();
  }

  split_sheet_stream& s_;
  std::shared_ptr<piece> own_;
  std::size_t cur_;  // the piece the scan stands in
  bool confirmed_ = false;  // every scan before this one is confirmed: it may read on past its piece
  text reading_;            // the piece being read
  text held_;               // a piece taken over before it was read
  std::uint64_t read_at_;
  wb_sheet_row_builder builder_;
  wb_sheet_scanner scanner_;
};

void split_sheet_stream::work() {
  std::string buffer;  // the scanners' buffer, kept from piece to piece
  for (;;) {
    std::shared_ptr<piece> p;
    {
      std::unique_lock lock(mutex_);
      queued_.wait(lock, [this] { return !queue_.empty() || stop_; });
      if (stop_) return;
      p = std::move(queue_.front());
      queue_.pop_front();
      if (p->cancelled) {
        p->job_exited = true;
        p->outcome = scan_end::cancelled;
        release_if_done(*p);
        lock.unlock();
        changed_.notify_all();  // room for the cutting thread
        continue;
      }
    }
    try {
      scan(*this, p).run(buffer);
    } catch (...) {
      // Building the scan failed (out of memory): its piece fails with that.
      std::lock_guard lock(mutex_);
      if (!p->job_exited) {
        p->error = std::current_exception();
        p->outcome = scan_end::failed;
        p->stop_piece = p->index;
        p->job_exited = true;
        if (frontier_ == p->index) advance_frontier();
        release_if_done(*p);
      }
      tell_all();
    }
  }
}

}  // namespace

std::unique_ptr<wb_sheet_stream> wb_open_split_sheet(wb_xlsx_package& package, zip_uint64_t part,
                                                     const wb_sheet_split& split) {
  return std::make_unique<split_sheet_stream>(package, part, split);
}
