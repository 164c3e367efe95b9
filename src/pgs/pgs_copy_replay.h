#pragma once
// The replay of a COPY segment the server refused: every line it takes is stored, every line it
// refuses is reported, in line order, before any line after it is stored.
//
// The segment's own savepoint (rolled back to) holds what is stored. The next undecided lines go
// as a probe COPY in a savepoint nested in it, which is always rolled back and released again. A
// probe that fails names the line it refused ("COPY <table>, line N"); the lines before it are
// then stored by one COPY in the segment's savepoint, in the same query as the next probe, and the
// line is reported once they are stored: the server checks a key only when the rows buffered
// before it reach the index, and a foreign key at the COPY's end, so a row's own fault can be
// named first though an earlier row is refused too. Storing then fails, and the line is found
// again in order. So a sparse refused row costs two COPY statements and three round trips. When
// refused rows are dense, the few lines taken since the last store are not stored first but sent
// again ahead of the next probe's lines (unless the last refusal was a key's): one COPY and two
// round trips a refused row, and the suspects wait to be reported until a store takes the lines
// before them (a report that ends the writing then rolls the segment back to the lines before
// its row). Whatever the number of refused rows no savepoint is left behind, and the transaction
// keeps at most five subtransactions per segment (the segment, a last probe that reached its end,
// the staging of the screen and of the pass below, the pass's try). When a failure names no line,
// the probe is halved until it holds the refused line alone.
//
// Once refused lines come closer than a few hundred lines, the rest of the segment is screened
// (pgs_copy_dense.h): the lines decided are stored, the rest staged by one COPY, and one function
// call finds the lines the table refuses whatever comes before them (a key it holds, a CHECK, a
// NOT NULL). Those are settled: never sent again, reported in order among the others. The rest
// is stored by one COPY; when that fails, the probing goes on from the line it names.
// The screen runs after refusals of the kinds it foresees only. Once refused lines come dense, the
// rest of the segment is checked in one server-side pass instead (pgs_copy_dense.h): the lines
// decided are stored, the rest staged by one COPY and stored by one function call as COPY would
// store them, which returns the refused ones in order. Only rolled-back subtransactions are added
// per refused line. When the pass fails on a row (a line it had taken refused the second time),
// it is undone to the staging's savepoint and the probing goes on from its first line. A report that ends the writing
// rolls the segment back to the lines before its row, as above.
#include <cstddef>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "pgs/pgs_copy_wire.h"
#include "pgs/pgs_sqlstate.h"

class pgs_copy_spool;

/// Why the server refused a COPY.
struct pgs_copy_refusal {
  std::size_t line = 0;  ///< 1-based line of that COPY the server names; 0 when it names none
  std::string message;   ///< the server's message without its context, for a row error
  std::string sqlstate;
};

class pgs_copy_replay {
 public:
  /// Called for each refused spool line, in order; it may throw to end the writing at that line.
  using reporter = std::function<void(std::size_t line, const pgs_copy_refusal& why)>;

  /// `copy_sql` is the COPY ... FROM STDIN statement, `relation` the table's name as the server
  /// prints it in its errors. `owed` holds the statements to send before the next one; it must
  /// start with the rollback to the segment's savepoint, and ends holding what the replay owes in
  /// turn (the end of its last probe). The segment's savepoint is the caller's. `dense_setup` is
  /// the query that stages lines for the server-side pass (pgs_copy_dense_setup); empty: none.
  pgs_copy_replay(pgs_copy_wire& wire, pgs_copy_spool& spool, const std::string& copy_sql,
                  const std::string& relation, std::string& owed, const std::string& dense_setup);

  /// Stores the spool's lines but the refused ones, which go to `report`. `first` is the refusal
  /// of the segment's COPY. A failure that is no row's fault is a level-0 tk_exception (the
  /// transaction is then in no state to commit). When `report` throws, the lines before the
  /// refused one are stored first, then the exception goes on.
  void run(const pgs_copy_refusal& first, const reporter& report);

  /// The refusal the wire's last failure stands for.
  static pgs_copy_refusal classify(const pgs_copy_wire& wire, const std::string& relation);

  /// After `report` threw: the lines before the refused one could not be stored again, so the
  /// transaction holds none of the segment's lines as it should and must not commit.
  bool lost_stored_lines() const noexcept { return stored_lines_lost; }

 private:
  void probe();
  /// Whether the refused lines seen are dense enough for a server-side pass: closer than `most_gap`
  /// lines, and more than `least_gaps` gaps of lines left.
  bool pass_due(double most_gap, double least_gaps) const;
  /// Whether a suspect not settled lies at or after `line`.
  bool unsettled_from(std::size_t line) const;
  /// Screens the lines from decided_to on (pgs_copy_screen_call): the refused lines it finds are
  /// settled, the rest taken, to be stored; false when it could not run (the probing goes on).
  bool screen_pass();
  /// Checks the lines from decided_to on in the server-side pass; false when it could not run
  /// (the probing goes on).
  bool dense_pass();
  /// Stages the lines from `from` on but the refused ones and runs `call` over them; false when the
  /// staging could not be made (no server-side pass runs for this segment any more).
  bool stage_and_call(std::size_t from, const char* call);
  /// Takes the refused lines the last call returned as suspects (`settle`: settled ones).
  void take_refused(std::size_t from, bool settle);
  /// Drops the suspects at or after `from` but the settled ones.
  void drop_unsettled(std::size_t from);
  void feed_numbered(std::size_t first, std::size_t last);
  /// Stores the decided lines not stored yet; false when the server refused one of them now, which
  /// sends the replay back to the segment's start (or, unless `may_restart`, fails).
  bool store_decided(bool may_restart);
  void restart(const pgs_copy_refusal& why, std::size_t redo_to);
  /// A line a probe failed on: refused once the lines before it are stored.
  void suspect(std::size_t line, const pgs_copy_refusal& why);
  /// Reports the suspects whose lines before them are stored, in order.
  void report_suspects();
  /// After a report ended the writing at `line`, leaves the segment holding the lines before it only.
  void store_only_before(std::size_t line) noexcept;
  void feed(std::size_t first, std::size_t last);
  /// The spool line of the `nth` (1-based) line sent from `first` on, or `last` when beyond it.
  std::size_t nth_sent(std::size_t first, std::size_t last, std::size_t nth) const;
  std::size_t count_sent(std::size_t first, std::size_t last) const;
  std::string probe_end_statements() const;
  [[noreturn]] void failure(pgs_copy_wire::step result, const char* what) const;

  pgs_copy_wire& wire;
  pgs_copy_spool& spool;
  const std::string& copy_sql;
  const std::string& relation;
  std::string& owed;
  const std::string& dense_setup;
  const reporter* report = nullptr;
  std::size_t found = 0;      // refused lines found in the segment
  bool dense_off = false;     // the server-side pass cannot run for this segment
  bool stored_lines_lost = false;

  std::vector<bool> refused;    // per spool line
  std::vector<bool> settled;    // per spool line: refused whatever lines come before it
  bool screened = false;        // the screen ran (or could not) for this segment
  std::size_t stored_to = 0;    // lines before it are stored or refused
  std::size_t decided_to = 0;   // [stored_to, decided_to): taken by the server, to be stored
  bool probe_open = false;      // the probe savepoint exists (its COPY failed, or is to be undone)
  std::size_t probe_lines = 0;  // lines of the next probe
  bool halving = false;         // a failure named no line: the probe shrinks until it does
  bool may_merge = true;        // a probe may send the taken lines not stored yet again (see probe())
  bool last_at_index = false;   // the last refused line was a key found twice
  bool last_foreseen = false;   // the screen foresees the last refused line's kind
  bool cautious = false;        // storing failed once: a row's own fault no longer proves the rows before it
  double gap = 0;               // lines between refused lines, as seen so far
  double reach = 0;             // probe length in gaps, for the last refusal's kind
  std::size_t last_refused = 0;
  std::vector<std::pair<std::size_t, pgs_copy_refusal>> suspects;  // in line order, not reported yet
  int restarts = 0;
  std::size_t restart_point = 0;  // stored_to and the line of the last restart
  std::size_t restart_line = 0;
  std::string batch;
};
