#include "pgs/pgs_copy_replay.h"

#include <algorithm>

#include "pgs/pgs_copy_dense.h"
#include "pgs/pgs_copy_savepoints.h"
#include "pgs/pgs_copy_spool.h"
#include "pgs/pgs_copy_stream.h"
#include "pgs/pgs_copy_wire.h"
#include "pgs/pgs_sqlstate.h"
#include "tk/tk_exception.h"
#include "tk/tk_logger.h"

namespace {

using step = pgs_copy_wire::step;

// A probe covers a few times the lines seen between refused lines: long enough that it mostly
// ends on a refused line rather than in one more round, short enough that the lines sent past the
// refused one cost less than a round trip. The server drops those lines unread after most errors;
// a key found twice, though, is seen only when the rows buffered before it go into the index, so
// those lines were parsed and stored in vain, and the probe stays shorter.
bool found_at_index(const std::string& sqlstate) { return sqlstate == "23505" || sqlstate == "23P01"; }

// The screen foresees a key the table holds, a CHECK and a NOT NULL; after a refusal of another kind
// (a foreign key, a value no input function takes, a trigger) it would only delay the pass.
bool screen_foresees(const std::string& sqlstate) {
  return sqlstate == "23505" || sqlstate == "23514" || sqlstate == "23502";
}

double probe_reach(const std::string& sqlstate) { return found_at_index(sqlstate) ? 1.5 : 4.0; }
constexpr std::size_t shortest_probe = 16;

// While the lines taken since the last store are this few, the next probe sends them again ahead
// of its new lines instead of storing them first: one COPY and two round trips a refused line
// rather than two COPYs and three, for a few lines parsed again. Dense refusals gain; sparse ones,
// whose gaps are longer, store as before. After a key's refusal the lines are stored first: the
// rows before a key found twice went into the table and its indexes before the key was seen, and
// sending them again costs more than the round trip.
constexpr std::size_t most_merged_lines = 32;

// Storing lines a probe had passed can fail (see restart()); storing failing this many times in a
// row at the same place ends the worksheet rather than loop.
constexpr int most_restarts = 8;

constexpr std::size_t send_batch_bytes = 64 << 10;

// A probed refused line costs about 1 ms (two COPYs, three round trips), the server-side pass
// about 20 microseconds of server time a line: the pass wins once refused lines are closer than
// about 50 lines. It starts after a few refusals that show it.
constexpr double dense_gap = 40;
constexpr std::size_t dense_after_refusals = 4;

// The screen costs about a microsecond a line it stages and about ten a line it guessed, against a
// millisecond a probed refused line: it wins while refused lines are closer than a few hundred
// lines and several more are to come. It runs once a segment, ahead of the pass.
constexpr double screen_gap = 500;
constexpr double screen_least_gaps = 8;

const char* const not_taken = "The server did not take the replay of refused COPY data";
const char* const replay_failed = "The replay of refused COPY data failed";

}  // namespace

pgs_copy_refusal pgs_copy_replay::classify(const pgs_copy_wire& wire, const std::string& relation) {
  pgs_copy_refusal why;
  const pgs_server_error& error = wire.error();
  why.sqlstate = error.sqlstate;
  std::string detail;
  why.line = pgs_copy_error_line(error.context, relation, &detail);
  why.message = pgs_copy_error_text(error, detail);
  return why;
}

pgs_copy_replay::pgs_copy_replay(pgs_copy_wire& wire_, pgs_copy_spool& spool_, const std::string& copy_sql_,
                                 const std::string& relation_, std::string& owed_, const std::string& dense_setup_)
    : wire(wire_), spool(spool_), copy_sql(copy_sql_), relation(relation_), owed(owed_), dense_setup(dense_setup_) {}

void pgs_copy_replay::failure(step result, const char* what) const {
  const bool told = result == step::failed && !wire.error_message().empty();
  throw tk_exception(told ? wire.error_message() : std::string(what), tk_level_recoverable);
}

void pgs_copy_replay::run(const pgs_copy_refusal& first, const reporter& report_) {
  report = &report_;
  const std::size_t lines = spool.size();
  refused.assign(lines, false);
  settled.assign(lines, false);
  gap = static_cast<double>(std::max<std::size_t>(first.line, 1));
  reach = probe_reach(first.sqlstate);
  probe_lines = std::max(shortest_probe, static_cast<std::size_t>(reach * gap));
  if (first.line >= 1 && first.line <= lines) {
    decided_to = first.line - 1;
    suspect(first.line - 1, first);
  } else {
    // No line named: halves of the segment are probed until the refused line stands alone.
    halving = true;
    probe_lines = std::max<std::size_t>(lines / 2, 1);
  }
  do {
    while (decided_to < lines) {
      if (!screened && last_foreseen && pass_due(screen_gap, screen_least_gaps) && screen_pass()) break;
      if (pass_due(dense_gap, 4) && dense_pass()) break;
      probe();
    }
  } while (!store_decided(true));
  owed += probe_end_statements();
  probe_open = false;
}

std::string pgs_copy_replay::probe_end_statements() const {
  return probe_open ? std::string(pgs_rollback_probe) + pgs_release_probe : std::string();
}

bool pgs_copy_replay::pass_due(double most_gap, double least_gaps) const {
  return !dense_off && !dense_setup.empty() && !halving && found >= dense_after_refusals && gap <= most_gap &&
         static_cast<double>(spool.size() - decided_to) > least_gaps * gap &&
         !unsettled_from(decided_to);  // a suspect ahead is probed first
}

bool pgs_copy_replay::unsettled_from(std::size_t line) const {
  return std::any_of(suspects.begin(), suspects.end(),
                     [&](const auto& pending) { return pending.first >= line && !settled[pending.first]; });
}

bool pgs_copy_replay::screen_pass() {
  screened = true;
  if (!store_decided(true) || unsettled_from(stored_to)) return false;
  const std::size_t from = decided_to;
  if (!stage_and_call(from, pgs_copy_screen_call)) return false;
  const auto& rows = wire.rows();
  if (rows.size() == 1 && rows.front().at(0) == "-1") {
    tk_log(2, "COPY replay: no screen (%s)", rows.front().at(1));
    return false;
  }
  tk_log(2, "COPY replay: screened from line %d, %d refused", static_cast<int>(from), static_cast<int>(rows.size()));
  // The lines it found refused stay refused whatever else is stored: they are never sent again.
  take_refused(from, true);
  decided_to = spool.size();
  return true;
}

bool pgs_copy_replay::stage_and_call(std::size_t from, const char* call) {
  // The staging table and the function are made in a savepoint, released after the call, so that
  // a table the pass cannot handle, or lines the staging COPY refuses, leave the probing to go on.
  const std::size_t lines = spool.size();
  std::string sql;
  sql.swap(owed);
  sql += probe_end_statements();
  probe_open = false;
  sql += pgs_open_stage;
  sql += dense_setup;
  step result = wire.send(sql);
  if (result == step::copy_in) {
    feed_numbered(from, lines);
    result = wire.end_copy();
  }
  if (result != step::done) {
    // A fault of the server or the session (a lost connection, a cancelled statement) ends the
    // worksheet as anywhere else.
    if (result == step::copy_in || pgs_is_session_fault(wire.error_sqlstate())) failure(result, replay_failed);
    tk_log(2, "COPY replay: no server-side pass (%s)", wire.error_message());
    dense_off = true;
    owed = pgs_drop_stage;
    return false;
  }
  // A call that fails leaves the segment as it was before the staging.
  result = wire.send(call);
  if (result == step::failed && pgs_is_row_error(wire.error_sqlstate())) {
    // The pass stores lines it had taken again; a table that answers otherwise the second time (a
    // trigger that reads the clock or other sessions' rows) refuses one then: the probing goes on.
    tk_log(2, "COPY replay: the server-side pass failed (%s); probing from line %d", wire.error_sqlstate(),
           static_cast<int>(from));
    dense_off = true;
    owed = pgs_drop_stage;
    return false;
  }
  if (result != step::done) failure(result, replay_failed);
  owed = pgs_release_stage;
  return true;
}

void pgs_copy_replay::take_refused(std::size_t from, bool settle) {
  const std::size_t lines = spool.size();
  const std::size_t before = suspects.size();
  for (const auto& row : wire.rows()) {
    const std::size_t line = static_cast<std::size_t>(std::stoull(row.at(0)));
    if (line < from || line >= lines || refused[line] ||
        (suspects.size() > before && suspects.back().first >= line))
      failure(step::failed, replay_failed);
    pgs_copy_refusal why;
    why.line = line + 1;
    why.message = pgs_copy_with_column(row.at(1), row.at(2));
    why.sqlstate = row.at(3);
    refused[line] = true;
    settled[line] = settle;
    suspects.emplace_back(line, why);
  }
  found += suspects.size() - before;
  // Lines refused whatever came before them may lie among or after the new ones.
  std::inplace_merge(suspects.begin(), suspects.begin() + static_cast<std::ptrdiff_t>(before), suspects.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
}

bool pgs_copy_replay::dense_pass() {
  if (!store_decided(true) || unsettled_from(stored_to)) return false;
  const std::size_t from = decided_to;
  if (!stage_and_call(from, pgs_copy_dense_call)) return false;
  tk_log(2, "COPY replay: server-side pass from line %d", static_cast<int>(from));
  take_refused(from, false);
  // Every good line is stored: the refused ones are reported in order (a report that ends the
  // writing leaves the lines before its row only).
  decided_to = stored_to = spool.size();
  report_suspects();
  return true;
}

void pgs_copy_replay::probe() {
  const std::size_t from = decided_to;
  const std::size_t to = std::min(spool.size(), from + std::max<std::size_t>(probe_lines, 1));
  const std::size_t unstored = count_sent(stored_to, decided_to);
  // A search for an unnamed line stores as it goes; so does a key's refusal (see most_merged_lines).
  const bool merged = unstored > 0 && unstored <= most_merged_lines && !halving && may_merge && !last_at_index;
  const bool redo = unstored > 0 && !merged;
  if (unstored == 0) stored_to = decided_to;
  const std::size_t sent_from = merged ? stored_to : from;
  // One query: undo the last probe, store what it found good, open the next probe.
  std::string sql;
  sql.swap(owed);
  if (probe_open) sql += pgs_rollback_probe;
  if (probe_open && redo) sql += pgs_release_probe;
  if (redo) sql += copy_sql + "; ";
  if (redo || !probe_open) sql += pgs_open_probe;
  sql += copy_sql;
  probe_open = false;
  step result = wire.send(sql);
  if (redo) {
    if (result != step::copy_in) failure(result, not_taken);
    const std::size_t redo_to = decided_to;
    feed(stored_to, redo_to);
    result = wire.end_copy();
    if (result == step::failed) {
      restart(classify(wire, relation), redo_to);
      return;
    }
    stored_to = redo_to;
  }
  if (result != step::copy_in) failure(result, not_taken);
  probe_open = true;
  feed(sent_from, to);
  result = wire.end_copy();
  // The lines before the suspects are stored now: they are the first refused ones.
  report_suspects();
  if (result == step::done) {
    decided_to = to;
    if (to == spool.size() && stored_to == sent_from && !unsettled_from(0)) {
      // The probe reached the segment's end with nothing before it left to store: it stays.
      stored_to = to;
      probe_open = false;
      owed = pgs_release_probe;
    }
    // Halving, the refused line lies in the next half of what is left.
    probe_lines = halving ? std::max<std::size_t>(probe_lines / 2, 1) : std::min(probe_lines * 2, spool.size());
    return;
  }
  const pgs_copy_refusal why = classify(wire, relation);
  if (!pgs_is_row_error(why.sqlstate)) failure(result, replay_failed);
  const std::size_t sent = count_sent(sent_from, to);
  if (sent == 0) failure(result, replay_failed);
  if (why.line >= 1 && why.line <= sent) {
    // In a merged probe the line may be one taken before: the first refused one is found anew.
    const std::size_t line = nth_sent(sent_from, to, why.line);
    decided_to = line;
    suspect(line, why);
    if (cautious && !found_at_index(why.sqlstate) && count_sent(from, line) > 0) {
      // Keys of the rows before it were not all checked yet: those rows are probed again alone.
      decided_to = from;
      probe_lines = line - from;
    }
  } else if (sent <= 1) {
    const std::size_t line = nth_sent(sent_from, to, 1);
    decided_to = line;
    suspect(line, why);
  } else {
    // The halves of the new lines are probed after the lines before them are stored; a refused
    // line among those is found by storing them.
    halving = true;
    probe_lines = std::max<std::size_t>(count_sent(from, to) / 2, 1);
  }
}

bool pgs_copy_replay::store_decided(bool may_restart) {
  if (count_sent(stored_to, decided_to) == 0) {
    stored_to = decided_to;
    report_suspects();
    return true;
  }
  std::string sql;
  sql.swap(owed);
  sql += probe_end_statements();
  sql += copy_sql;
  probe_open = false;
  const step sent = wire.send(sql);
  if (sent != step::copy_in) failure(sent, not_taken);
  const std::size_t redo_to = decided_to;
  feed(stored_to, redo_to);
  const step result = wire.end_copy();
  if (result == step::failed) {
    if (!may_restart) failure(result, replay_failed);
    restart(classify(wire, relation), redo_to);
    return false;
  }
  stored_to = redo_to;
  report_suspects();
  return true;
}

void pgs_copy_replay::restart(const pgs_copy_refusal& why, std::size_t redo_to) {
  // Storing lines a probe had passed failed: a check the server makes only when buffered rows reach
  // the index (a key) or at a COPY's end (a foreign key) refused one of them, though the probe had
  // failed later, on a row's own data. The segment's savepoint lost all it held: the lines stored
  // before go again, the suspect is not reported, and the line storing failed on is the suspect now
  // (or, unnamed, is searched by halving). Another session changing the table can do the same.
  if (!pgs_is_row_error(why.sqlstate)) failure(step::failed, replay_failed);
  const std::size_t sent = count_sent(stored_to, redo_to);
  const bool named = why.line >= 1 && why.line <= sent;
  const std::size_t line = named ? nth_sent(stored_to, redo_to, why.line) : redo_to;
  const bool progress = stored_to > restart_point || (named && line < restart_line);
  restarts = progress ? 1 : restarts + 1;
  restart_point = stored_to;
  restart_line = line;
  if (restarts > most_restarts)
    throw tk_exception("The server keeps refusing rows it had taken: " + why.message, tk_level_recoverable);
  tk_log(2, "COPY replay: storing refused (%s); the segment's stored lines go again", why.sqlstate);
  cautious = true;
  owed = pgs_rollback_segment;
  probe_open = false;
  const std::size_t stored_before = stored_to;
  stored_to = 0;
  if (named) {
    // The suspects before it were found with the same lines before them; those after it go.
    decided_to = line;
    suspect(line, why);
  } else {
    // Where the refused line lies is not known: every suspect goes, and from now on the lines
    // taken are stored before the next probe, so that a fault seen only at a COPY's end (a
    // foreign key) is found among few lines.
    drop_unsettled(0);
    may_merge = false;
    decided_to = stored_before;
    halving = true;
    probe_lines = std::max<std::size_t>(sent / 2, 1);
  }
}

void pgs_copy_replay::suspect(std::size_t line, const pgs_copy_refusal& why) {
  // Left out of what is sent from now on; reported once the lines before it are stored. Suspects
  // after it are dropped (each is found again if it is refused), but for settled ones.
  drop_unsettled(line);
  refused[line] = true;
  const auto at = std::lower_bound(suspects.begin(), suspects.end(), line,
                                   [](const auto& pending, std::size_t value) { return pending.first < value; });
  suspects.emplace(at, line, why);
  ++found;
  decided_to = line + 1;
  if (!halving) gap = (3 * gap + static_cast<double>(line + 1 - std::min(line, last_refused))) / 4;
  halving = false;
  last_refused = line + 1;
  reach = probe_reach(why.sqlstate);
  last_at_index = found_at_index(why.sqlstate);
  last_foreseen = screen_foresees(why.sqlstate);
  probe_lines = std::max(shortest_probe, static_cast<std::size_t>(reach * gap));
}

void pgs_copy_replay::drop_unsettled(std::size_t from) {
  const auto kept = std::remove_if(suspects.begin(), suspects.end(), [&](const auto& pending) {
    const bool drop = pending.first >= from && !settled[pending.first];
    if (drop) refused[pending.first] = false;
    return drop;
  });
  suspects.erase(kept, suspects.end());
}

void pgs_copy_replay::report_suspects() {
  std::size_t reported = 0;
  try {
    for (; reported < suspects.size() && count_sent(stored_to, suspects[reported].first) == 0; ++reported)
      (*report)(suspects[reported].first, suspects[reported].second);
  } catch (...) {
    // Every line before it is stored; the probe of the lines after it goes, and so do the lines
    // after it a store took with the next suspects.
    owed += probe_end_statements();
    probe_open = false;
    const std::size_t line = suspects[reported].first;
    if (count_sent(line, stored_to) > 0) store_only_before(line);
    throw;
  }
  suspects.erase(suspects.begin(), suspects.begin() + static_cast<std::ptrdiff_t>(reported));
}

void pgs_copy_replay::store_only_before(std::size_t line) noexcept {
  // The segment's savepoint holds the lines before it again, stored in the same order as before.
  try {
    std::string sql;
    sql.swap(owed);
    sql += pgs_rollback_segment;
    sql += copy_sql;
    if (wire.send(sql) != step::copy_in) throw tk_exception(std::string(not_taken), tk_level_recoverable);
    feed(0, line);
    if (wire.end_copy() != step::done)
      throw tk_exception("storing the rows before the refused one failed: " + wire.error_message(), tk_level_recoverable);
    stored_to = line;
  } catch (const std::exception& e) {
    // The transaction cannot commit now: the worksheet keeps none of its rows.
    stored_lines_lost = true;
    tk_log(3, "ERROR: %s", e.what());
  }
}

void pgs_copy_replay::feed(std::size_t first, std::size_t last) {
  batch.clear();
  std::size_t line = first;
  while (line < last) {
    while (line < last && refused[line]) ++line;
    std::size_t run_end = line;
    while (run_end < last && !refused[run_end]) ++run_end;
    spool.read(line, run_end, [&](const std::string& text) {
      batch += text;
      batch += '\n';
      if (batch.size() >= send_batch_bytes) {
        wire.put(batch);
        batch.clear();
      }
    });
    line = run_end;
  }
  if (!batch.empty()) wire.put(batch);
}

void pgs_copy_replay::feed_numbered(std::size_t first, std::size_t last) {
  // Each line but the refused ones goes with its spool line number in front, as the staging
  // table's first column.
  batch.clear();
  std::size_t line = first;
  spool.read(first, last, [&](const std::string& text) {
    if (!refused[line]) {
      batch += std::to_string(line);
      batch += '\t';
      batch += text;
      batch += '\n';
    }
    ++line;
    if (batch.size() >= send_batch_bytes) {
      wire.put(batch);
      batch.clear();
    }
  });
  if (!batch.empty()) wire.put(batch);
}

std::size_t pgs_copy_replay::nth_sent(std::size_t first, std::size_t last, std::size_t nth) const {
  for (std::size_t line = first; line < last; ++line)
    if (!refused[line] && --nth == 0) return line;
  return last;
}

std::size_t pgs_copy_replay::count_sent(std::size_t first, std::size_t last) const {
  std::size_t n = 0;
  for (std::size_t line = first; line < last; ++line) n += refused[line] ? 0 : 1;
  return n;
}
