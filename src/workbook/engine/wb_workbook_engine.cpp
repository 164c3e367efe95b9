// The workbook engine: a read-only database whose tables are the worksheets of one workbook.
#include <algorithm>
#include <cerrno>
#include <mutex>

#include "platform/auto_date.h"
#include "platform/unicode_text.h"
#include "tk/tk_string.h"
#include "workbook/engine/wb_engine_support.h"
#include "workbook/engine/wb_layout_ahead.h"
#include "workbook/engine/wb_row_prefetch.h"
#include "workbook/engine/wb_typing_passes.h"
#include "workbook/engine/wb_select.h"
#include "workbook/wb_sheet_model.h"
#include "workbook/sql/wb_sql_query.h"

namespace {

struct sheet_table {
  std::size_t index = 0;
  std::wstring engine_name;
  std::unique_ptr<wb_sheet_layout> layout;  // the first pass, run at the first need
  std::exception_ptr failure;               // the first pass typed ahead that failed
};

/// One worksheet's rows, decoded and turned into values on a worker thread a few batches ahead of
/// the caller (on a big sheet, the caller writes them to the server meanwhile). Each row's values
/// are followed by one more, so it travels with its row: empty, or the text of what the row lacks
/// (wb_row_cursor::problem).
class sheet_row_stream {
 public:
  /// Starts reading at once. `reader` and `layout` must outlive the stream.
  sheet_row_stream(wb_reader& reader, std::size_t index, const wb_sheet_layout& layout)
      : reader_(reader),
        index_(index),
        layout_(layout),
        // About a few thousand values a batch, whatever the sheet's width.
        prefetch_([this](std::vector<ole_variant>& r) { return read_now(r); },
                  std::max<std::size_t>(16, 4096 / std::max<std::size_t>(1, layout.columns.size()))) {}
  std::size_t index() const { return index_; }
  bool next(std::vector<ole_variant>& row) { return prefetch_.next(row); }
  /// Whether the sheet has been read to its end (its last rows may still wait to be taken).
  bool read_to_end() const { return prefetch_.read_to_end(); }

 private:
  // On the prefetch worker.
  bool read_now(std::vector<ole_variant>& row);

  wb_reader& reader_;
  std::size_t index_;
  const wb_sheet_layout& layout_;
  std::unique_ptr<wb_row_cursor> cursor_;
  std::vector<wb_value> values_;
  bool ended_ = false;
  wb_row_prefetch prefetch_;  // last: started once everything above exists, stopped first
};

/// One open workbook; every object of the database holds it, so it lives as long as any of them.
struct database_state {
  wb_error_list_ptr errors;
  std::string path;
  std::unique_ptr<wb_reader> reader;
  bool header = true;
  bool closed = false;
  std::vector<std::shared_ptr<sheet_table>> tables;

  void check_open() const {
    if (closed) throw wb_closed();
  }
  /// The next worksheet's first pass, run while the rows of another are read. Declared after the
  /// reader, so it is stopped before the reader goes.
  std::unique_ptr<wb_layout_ahead> ahead;
  bool typed_together = false;  // type_tables ran: no sheet is profiled ahead any more
  /// The tables typed together, in the order they were asked for: the order a conversion reads
  /// their rows in.
  std::vector<std::size_t> typed_order;
  /// Their typing passes, which may still run while the first tables are read: a table's result is
  /// taken when the table is used. Declared after the reader and the tables.
  std::unique_ptr<wb_background_typing> typing;
  /// The rows of the table a conversion reads next, started once the current table has been read
  /// to its end while its last rows are written, so that the next worksheet's first rows are ready
  /// when its table has been made, and at most two worksheets are open at once. Declared after the
  /// reader and the tables, so it is stopped before they go.
  std::unique_ptr<sheet_row_stream> rows_ahead;

  /// Takes the result of `t`'s typing pass when one was started for it: waits for it with `wait`,
  /// otherwise only when it has ended.
  void settle_typing(sheet_table& t, bool wait) {
    if (t.layout || t.failure || !typing) return;
    const auto& sheets = typing->sheets();
    const auto at = std::find(sheets.begin(), sheets.end(), t.index);
    if (at == sheets.end()) return;
    const std::size_t i = static_cast<std::size_t>(at - sheets.begin());
    if (!wait && !typing->finished(i)) return;
    wb_typing_result result = typing->take(i);
    if (result.layout)
      t.layout = std::make_unique<wb_sheet_layout>(std::move(*result.layout));
    else
      t.failure = result.failure;
  }
  const wb_sheet_layout& layout(sheet_table& t) {
    settle_typing(t, true);
    if (!t.layout) {
      if (t.failure) std::rethrow_exception(t.failure);
      if (ahead && ahead->index() == t.index) {
        const auto pass = std::move(ahead);
        t.layout = std::make_unique<wb_sheet_layout>(pass->take());
      } else {
        t.layout = std::make_unique<wb_sheet_layout>(wb_profile_sheet(*reader, t.index, header));
      }
    }
    return *t.layout;
  }
  /// Starts the first pass of the worksheet after `t`, the one a conversion of every sheet needs
  /// next; a pass started earlier for another sheet that was not asked for is dropped.
  void profile_next(const sheet_table& t) {
    // The tables a conversion needs were typed together before it began: the next sheet in the
    // workbook may be one nobody asked for.
    if (typed_together) return;
    const std::size_t next = t.index + 1;
    if (next >= tables.size() || tables[next]->layout || tables[next]->failure || (ahead && ahead->index() == next))
      return;
    ahead.reset();
    ahead = std::make_unique<wb_layout_ahead>(*reader, next, header);
  }
  /// The rows of `t`: those read ahead for it, or a stream started now.
  std::unique_ptr<sheet_row_stream> open_rows(sheet_table& t) {
    std::unique_ptr<sheet_row_stream> rows;
    if (rows_ahead && rows_ahead->index() == t.index) rows = std::move(rows_ahead);
    rows_ahead.reset();  // read ahead for a table that is not read next: dropped
    if (!rows) rows = std::make_unique<sheet_row_stream>(*reader, t.index, layout(t));
    return rows;
  }
  /// Starts reading the table after `t` in the typed order ahead, unless it was started already.
  void read_ahead_after(const sheet_table& t) {
    const auto at = std::find(typed_order.begin(), typed_order.end(), t.index);
    if (at != typed_order.end() && at + 1 != typed_order.end()) {
      sheet_table& next = *tables[*(at + 1)];
      settle_typing(next, false);
      // A table whose typing pass failed is left to report that failure in its turn.
      if (next.layout && next.index != t.index && !(rows_ahead && rows_ahead->index() == next.index))
        rows_ahead = std::make_unique<sheet_row_stream>(*reader, next.index, *next.layout);
    }
  }
  /// Starts the first passes of the tables at these positions, side by side in that order; each
  /// result or failure is kept for the table's use.
  void start_typing(const std::vector<int>& positions) {
    ahead.reset();  // its sheet, when asked for, is typed below with the others
    typed_together = true;
    // Passes started before are taken first: their tables are not typed again.
    if (typing)
      for (const std::size_t index : typing->sheets()) settle_typing(*tables[index], true);
    std::vector<std::size_t> indexes;
    typed_order.clear();
    for (const int position : positions) {
      const auto t = at(position);
      if (!t) continue;
      typed_order.push_back(t->index);
      if (t->layout || t->failure || std::find(indexes.begin(), indexes.end(), t->index) != indexes.end()) continue;
      indexes.push_back(t->index);
    }
    const unsigned threads = wb_typing_threads(indexes.size());
    typing = std::make_unique<wb_background_typing>(*reader, std::move(indexes), header, threads);
  }
  /// The first passes of the tables at these positions, side by side, waited for. Whether each can
  /// be read, in the order of `positions`.
  std::vector<bool> type_tables(const std::vector<int>& positions) {
    start_typing(positions);
    std::vector<bool> readable;
    for (const int position : positions) {
      const auto t = at(position);
      if (t) settle_typing(*t, true);
      readable.push_back(!t || !t->failure);  // an unknown position fails where it is used, as before
    }
    typing.reset();
    return readable;
  }
  /// The first passes of the tables at these positions, side by side, waited for only until one
  /// of them proves readable (true) or all have failed (false); the others go on in the background.
  bool type_tables_until_readable(const std::vector<int>& positions, const std::function<void()>& meanwhile) {
    start_typing(positions);
    if (meanwhile) meanwhile();
    for (const int position : positions) {
      const auto t = at(position);
      if (t) settle_typing(*t, true);
      if (!t || !t->failure) return true;  // an unknown position fails where it is used, as before
    }
    return false;
  }
  std::shared_ptr<sheet_table> at(int position) const {
    if (position < 0 || static_cast<std::size_t>(position) >= tables.size()) return nullptr;
    return tables[static_cast<std::size_t>(position)];
  }
  std::shared_ptr<sheet_table> find(const std::wstring& name) const {
    std::vector<std::wstring> names;
    names.reserve(tables.size());
    for (const auto& t : tables) names.push_back(t->engine_name);
    const auto found = wb_find_table_name(name, names);
    return found ? tables[*found] : nullptr;
  }
};
using state_ptr = std::shared_ptr<database_state>;

// The value into a row's slot, reusing the slot's memory. A text stays in UTF-8 when it is
// well-formed (it reads back the same through the wide form), so that it reaches the destination
// as bytes; other text is widened with every ill-formed part as U+FFFD, as before.
void assign_variant(ole_variant& into, const wb_value& v) {
  switch (v.k) {
    case wb_value::kind::boolean: into = ole_variant(v.boolean); return;
    case wb_value::kind::number: into = ole_variant(v.number); return;
    case wb_value::kind::currency: {
      CY cy;
      cy.int64 = v.currency;
      into = ole_variant(cy);
      return;
    }
    case wb_value::kind::date: {
      SYSTEMTIME st{};
      if (!platform::date_to_systemtime(v.number, st)) throw wb_error(wb_err_unreadable, "A date is out of range.");
      into = ole_variant(st);
      return;
    }
    case wb_value::kind::text:
      if (platform::utf8_valid_prefix(v.text) == v.text.size())
        into.attach_utf8(v.text);
      else
        into = ole_variant(wb_widen(v.text));
      return;
    case wb_value::kind::null: break;
  }
  into.set_null();
}

bool sheet_row_stream::read_now(std::vector<ole_variant>& row) {
  if (ended_) return false;
  if (!cursor_) cursor_ = std::make_unique<wb_row_cursor>(reader_, index_, layout_);
  if (!cursor_->read(values_)) {
    cursor_.reset();  // the sheet's stream and its buffers go before the next sheet is opened
    ended_ = true;
    return false;
  }
  row.resize(values_.size() + 1);
  for (std::size_t i = 0; i < values_.size(); ++i) assign_variant(row[i], values_[i]);
  if (cursor_->problem().empty())
    row.back().set_null();
  else
    row.back() = ole_variant(wb_widen(cursor_->problem()));
  return true;
}

/// A column of a worksheet as a field: name, type and size, no attributes or default, and every
/// setter refused with the engine's read-only error. The kinds differ only in their value.
class column_field : public wb_field {
 public:
  column_field(wb_error_list_ptr errors, const wb_column& c)
      : errors_(std::move(errors)), name_(wb_widen(c.name)), type_(c.type), size_(c.size) {}
  std::wstring name() const override { return name_; }
  int type() const override { return type_; }
  long size() const override { return size_; }
  long attributes() const override { return 0; }
  bool required() const override { return false; }
  std::wstring default_value() const override { return {}; }
  void set_required(bool) override { refuse(); }
  void set_allow_zero_length(bool) override { refuse(); }
  void set_default_value(const std::wstring&) override { refuse(); }
  void set_attributes(long) override { refuse(); }

 private:
  void refuse() {
    wb_guarded(errors_, []() -> void { throw wb_read_only(); });
  }
  wb_error_list_ptr errors_;
  std::wstring name_;
  int type_;
  long size_;
};

/// A field of a definition: no value.
class definition_field final : public column_field {
 public:
  using column_field::column_field;
  ole_variant value() const override { return ole_variant(); }
};

ole_com_ptr<wb_fields> definition_fields(const state_ptr& db, const std::vector<wb_column>& columns) {
  auto* list = new wb_field_list(db->errors);
  for (const auto& c : columns)
    list->add(ole_com_ptr<wb_field>(new definition_field(db->errors, c)));
  return ole_com_ptr<wb_fields>(list);
}

class empty_indexes final : public wb_indexes {
 public:
  explicit empty_indexes(wb_error_list_ptr errors) : errors_(std::move(errors)) {}
  int count() const override { return 0; }
  ole_com_ptr<wb_index> item(int index) override {
    return wb_guarded(errors_, [&]() -> ole_com_ptr<wb_index> { throw wb_no_item(std::to_wstring(index)); });
  }
  void append(wb_index*) override {
    wb_guarded(errors_, []() -> void { throw wb_read_only(); });
  }

 private:
  wb_error_list_ptr errors_;
};

/// Where a recordset's rows come from; restart() goes back before the first row.
class row_source {
 public:
  virtual ~row_source() = default;
  virtual const std::vector<wb_column>& columns() const = 0;
  virtual void restart() = 0;
  virtual bool read(std::vector<ole_variant>& row) = 0;
};

class sheet_rows final : public row_source {
 public:
  sheet_rows(state_ptr db, std::shared_ptr<sheet_table> table)
      : db_(std::move(db)), table_(std::move(table)), layout_(db_->layout(*table_)) {}
  const std::vector<wb_column>& columns() const override { return layout_.columns; }
  void restart() override { rows_.reset(); }
  bool read(std::vector<ole_variant>& row) override {
    if (!rows_) {
      db_->profile_next(*table_);
      rows_ = db_->open_rows(*table_);
      next_started_ = false;
    }
    const bool more = rows_->next(row);
    if (!next_started_ && (!more || rows_->read_to_end())) {
      db_->read_ahead_after(*table_);
      next_started_ = true;
    }
    return more;
  }

 private:
  state_ptr db_;
  std::shared_ptr<sheet_table> table_;
  const wb_sheet_layout& layout_;
  std::unique_ptr<sheet_row_stream> rows_;
  bool next_started_ = false;  // the next table's rows were started once this one was read to its end
};

class count_rows final : public row_source {
 public:
  explicit count_rows(std::uint64_t count) : count_(count), columns_{{"Count", wb_dao_long, 4}} {}
  const std::vector<wb_column>& columns() const override { return columns_; }
  void restart() override { done_ = false; }
  bool read(std::vector<ole_variant>& row) override {
    if (done_) return false;
    done_ = true;
    row.assign(1, ole_variant(static_cast<int>(count_)));
    return true;
  }

 private:
  std::uint64_t count_;
  std::vector<wb_column> columns_;
  bool done_ = false;
};

/// The position and current row of a recordset, which its fields read.
struct cursor_state {
  std::vector<ole_variant> row;
  long position = -1;  // -1 BOF; rows read so far otherwise
  bool bof = true, eof = true, closed = false;
};

class row_field final : public column_field {
 public:
  row_field(state_ptr db, std::shared_ptr<cursor_state> cursor, std::size_t column, const wb_column& c)
      : column_field(db->errors, c), db_(std::move(db)), cursor_(std::move(cursor)), column_(column) {}
  ole_variant value() const override { return current(); }
  void read_value(ole_variant& into) const override { into = current(); }

 private:
  const ole_variant& current() const {
    return wb_guarded(db_->errors, [&]() -> const ole_variant& {
      db_->check_open();
      if (cursor_->closed) throw wb_closed();
      if (cursor_->bof || cursor_->eof) throw wb_no_current_row();
      return cursor_->row.at(column_);
    });
  }

  state_ptr db_;
  std::shared_ptr<cursor_state> cursor_;
  std::size_t column_;
};

class workbook_recordset final : public wb_recordset {
 public:
  workbook_recordset(state_ptr db, std::unique_ptr<row_source> source)
      : db_(std::move(db)), source_(std::move(source)), cursor_(std::make_shared<cursor_state>()) {
    auto* list = new wb_field_list(db_->errors);
    const auto& columns = source_->columns();
    for (std::size_t i = 0; i < columns.size(); ++i)
      list->add(ole_com_ptr<wb_field>(new row_field(db_, cursor_, i, columns[i])));
    fields_ = ole_com_ptr<wb_fields>(list);
    first();
  }

  bool eof() const override { return cursor_->eof; }
  bool bof() const override { return cursor_->bof; }
  ole_com_ptr<wb_fields> fields() override {
    return wb_guarded(db_->errors, [&] {
      check();
      return ole_share(fields_.get());
    });
  }
  void move_first() override {
    wb_guarded(db_->errors, [&] {
      check();
      if (cursor_->bof && cursor_->eof) throw wb_no_current_row();
      first();
    });
  }
  void move_next() override {
    wb_guarded(db_->errors, [&] {
      check();
      if (cursor_->eof) throw wb_no_current_row();
      if (cursor_->bof) {  // before the first row: the next is the first
        first();
        return;
      }
      advance();
    });
  }
  void move_previous() override {
    wb_guarded(db_->errors, [&] {
      check();
      if (cursor_->bof) throw wb_no_current_row();
      const long target = cursor_->position - 1;  // from EOF, position is one past the last row
      // Rows stream forward only: go back by reading again up to the row before.
      source_->restart();
      cursor_->position = -1;
      cursor_->bof = true;
      cursor_->eof = false;
      if (target < 0) return;
      for (long i = 0; i <= target; ++i) {
        if (!source_->read(cursor_->row)) throw wb_error(wb_err_unreadable, "The worksheet changed while it was being read.");
      }
      cursor_->position = target;
      cursor_->bof = false;
    });
  }
  void add_new() override { refuse(); }
  void collect(const std::wstring&, const ole_variant&) override { refuse(); }
  void update(int, bool) override { refuse(); }
  void close() override { cursor_->closed = true; }
  std::wstring row_problem() const override {
    // A sheet's rows carry one value past their fields: what the row lacks (sheet_row_stream).
    const auto& row = cursor_->row;
    if (cursor_->closed || cursor_->bof || cursor_->eof || row.size() <= source_->columns().size() ||
        row.back().is_null())
      return {};
    return row.back().to_wstring();
  }

 private:
  void check() const {
    db_->check_open();
    if (cursor_->closed) throw wb_closed();
  }
  void refuse() {
    wb_guarded(db_->errors, [&]() -> void {
      check();
      throw wb_read_only();
    });
  }
  void first() {
    source_->restart();
    cursor_->position = -1;
    cursor_->bof = false;
    cursor_->eof = false;
    advance();
    cursor_->bof = cursor_->eof;  // an empty set is at BOF and EOF at once
  }
  void advance() {
    if (source_->read(cursor_->row)) {
      ++cursor_->position;
    } else {
      cursor_->eof = true;
      cursor_->position += 1;
    }
  }

  state_ptr db_;
  std::unique_ptr<row_source> source_;
  std::shared_ptr<cursor_state> cursor_;
  ole_com_ptr<wb_fields> fields_;
};

class sql_rows_source final : public row_source {
 public:
  explicit sql_rows_source(std::unique_ptr<wb_sql_rows> rows) : rows_(std::move(rows)) {}
  const std::vector<wb_column>& columns() const override { return rows_->columns(); }
  void restart() override { rows_->restart(); }
  bool read(std::vector<ole_variant>& row) override { return rows_->read(row); }
 private:
  std::unique_ptr<wb_sql_rows> rows_;
};

wb_sql_workbook sql_workbook(const state_ptr& db) {
  wb_sql_workbook w;
  w.reader = db->reader.get();
  for (const auto& t : db->tables) w.tables.push_back({t->engine_name, t->index});
  w.layout = [db](std::size_t sheet) -> const wb_sheet_layout& { return db->layout(*db->tables.at(sheet)); };
  return w;
}

class workbook_querydef final : public wb_querydef {
 public:
  workbook_querydef(state_ptr db, std::wstring name, std::wstring sql)
      : db_(std::move(db)), name_(std::move(name)), sql_(std::move(sql)) {}
  std::wstring name() const override { return name_; }
  std::wstring sql() const override { return sql_; }
  ole_com_ptr<wb_fields> fields() override {
    return wb_guarded(db_->errors, [&] { return definition_fields(db_, source()->columns()); });
  }
  ole_com_ptr<wb_recordset> open_recordset(int, int options) override {
    return wb_guarded(db_->errors, [&] {
      db_->check_open();
      if (options & wb_open_append_only) throw wb_read_only();
      return ole_com_ptr<wb_recordset>(new workbook_recordset(db_, source()));
    });
  }

 private:
  std::unique_ptr<row_source> source() {
    db_->check_open();
    const auto select = wb_parse_select(sql_);
    if (!select) return std::make_unique<sql_rows_source>(wb_open_sql_rows(sql_workbook(db_), sql_));
    auto table = db_->find(select->table);
    if (!table)
      throw wb_error(wb_err_no_such_sheet, "No worksheet named '" + wb_narrow(select->table) + "' in the workbook.");
    if (select->count) return std::make_unique<count_rows>(db_->layout(*table).record_count);
    return std::make_unique<sheet_rows>(db_, table);
  }

  state_ptr db_;
  std::wstring name_, sql_;
};

class workbook_tabledef final : public wb_tabledef {
 public:
  workbook_tabledef(state_ptr db, std::shared_ptr<sheet_table> table) : db_(std::move(db)), table_(std::move(table)) {}
  std::wstring name() const override { return table_->engine_name; }
  long attributes() const override { return 0; }
  long record_count() override {
    return wb_guarded(db_->errors, [&] {
      db_->check_open();
      return static_cast<long>(db_->layout(*table_).record_count);
    });
  }
  ole_com_ptr<wb_fields> fields() override {
    return wb_guarded(db_->errors, [&] {
      db_->check_open();
      return definition_fields(db_, db_->layout(*table_).columns);
    });
  }
  ole_com_ptr<wb_indexes> indexes() override {
    return wb_guarded(db_->errors, [&] {
      db_->check_open();
      return ole_com_ptr<wb_indexes>(new empty_indexes(db_->errors));
    });
  }
  ole_com_ptr<wb_field> create_field(const std::wstring&, int, long) override {
    return wb_guarded(db_->errors, []() -> ole_com_ptr<wb_field> { throw wb_read_only(); });
  }
  ole_com_ptr<wb_index> create_index(const std::wstring&) override {
    return wb_guarded(db_->errors, []() -> ole_com_ptr<wb_index> { throw wb_read_only(); });
  }
  ole_com_ptr<wb_recordset> open_recordset(int, int options) override {
    return wb_guarded(db_->errors, [&] {
      db_->check_open();
      if (options & wb_open_append_only) throw wb_read_only();
      return ole_com_ptr<wb_recordset>(new workbook_recordset(db_, std::make_unique<sheet_rows>(db_, table_)));
    });
  }

 private:
  state_ptr db_;
  std::shared_ptr<sheet_table> table_;
};

class workbook_tabledefs final : public wb_tabledefs {
 public:
  explicit workbook_tabledefs(state_ptr db) : db_(std::move(db)) {}
  short count() const override { return static_cast<short>(db_->tables.size()); }
  ole_com_ptr<wb_tabledef> item(int index) override {
    return wb_guarded(db_->errors, [&] {
      db_->check_open();
      if (index < 0 || static_cast<std::size_t>(index) >= db_->tables.size()) throw wb_no_item(std::to_wstring(index));
      return ole_com_ptr<wb_tabledef>(new workbook_tabledef(db_, db_->tables[static_cast<std::size_t>(index)]));
    });
  }
  ole_com_ptr<wb_tabledef> item(const std::wstring& name) override {
    return wb_guarded(db_->errors, [&] {
      db_->check_open();
      const auto t = db_->find(name);
      if (!t) throw wb_no_item(name);
      return ole_com_ptr<wb_tabledef>(new workbook_tabledef(db_, t));
    });
  }
  void remove(const std::wstring&) override { refuse(); }
  void append(wb_tabledef*) override { refuse(); }

 private:
  void refuse() {
    wb_guarded(db_->errors, []() -> void { throw wb_read_only(); });
  }
  state_ptr db_;
};

class no_querydefs final : public wb_querydefs {
 public:
  explicit no_querydefs(wb_error_list_ptr errors) : errors_(std::move(errors)) {}
  int count() const override { return 0; }
  ole_com_ptr<wb_querydef> item(int index) override {
    return wb_guarded(errors_, [&]() -> ole_com_ptr<wb_querydef> { throw wb_no_item(std::to_wstring(index)); });
  }

 private:
  wb_error_list_ptr errors_;
};

class workbook_database final : public wb_database {
 public:
  explicit workbook_database(state_ptr db) : db_(std::move(db)) {}
  ole_com_ptr<wb_tabledefs> tabledefs() override {
    return wb_guarded(db_->errors, [&] {
      db_->check_open();
      return ole_com_ptr<wb_tabledefs>(new workbook_tabledefs(db_));
    });
  }
  ole_com_ptr<wb_querydefs> querydefs() override {
    return wb_guarded(db_->errors, [&] {
      db_->check_open();
      return ole_com_ptr<wb_querydefs>(new no_querydefs(db_->errors));
    });
  }
  ole_com_ptr<wb_querydef> create_querydef(const std::wstring& name, const std::wstring& sql) override {
    return wb_guarded(db_->errors, [&] {
      db_->check_open();
      if (!name.empty()) throw wb_read_only();  // a stored query would be a write
      return ole_com_ptr<wb_querydef>(new workbook_querydef(db_, name, sql));
    });
  }
  ole_com_ptr<wb_tabledef> create_tabledef(const std::wstring&, long, const std::wstring&, const std::wstring&) override {
    return wb_guarded(db_->errors, [&]() -> ole_com_ptr<wb_tabledef> {
      db_->check_open();
      throw wb_read_only();
    });
  }
  void close() override {
    db_->closed = true;
    db_->rows_ahead.reset();
    db_->typing.reset();
  }
  std::vector<bool> type_tables(const std::vector<int>& positions) override {
    return wb_guarded(db_->errors, [&] {
      db_->check_open();
      return db_->type_tables(positions);
    });
  }
  bool type_tables_until_readable(const std::vector<int>& positions, const std::function<void()>& meanwhile) override {
    return wb_guarded(db_->errors, [&] {
      db_->check_open();
      return db_->type_tables_until_readable(positions, meanwhile);
    });
  }

 private:
  state_ptr db_;
};

struct connect_options {
  bool workbook = false;
  bool header = true;
};

connect_options parse_connect(const std::wstring& connect) {
  connect_options o;
  std::size_t start = 0;
  bool first = true;
  while (start <= connect.size()) {
    auto end = connect.find(L';', start);
    if (end == std::wstring::npos) end = connect.size();
    std::wstring token = connect.substr(start, end - start);
    while (!token.empty() && std::iswspace(static_cast<wint_t>(token.front()))) token.erase(0, 1);
    while (!token.empty() && std::iswspace(static_cast<wint_t>(token.back()))) token.pop_back();
    if (first) {
      o.workbook = token.size() >= 5 && tk_compare_no_case(std::wstring_view(token).substr(0, 5), L"excel") == 0;
      first = false;
    } else {
      const auto eq = token.find(L'=');
      if (eq != std::wstring::npos && tk_compare_no_case(tk_trim(token.substr(0, eq)), L"hdr") == 0) {
        const std::wstring v = tk_trim(token.substr(eq + 1));
        if (tk_compare_no_case(v, L"no") == 0) o.header = false;
        else if (tk_compare_no_case(v, L"yes") == 0) o.header = true;
      }
    }
    start = end + 1;
  }
  return o;
}

class workbook_engine final : public wb_engine {
 public:
  ole_com_ptr<wb_database> open_database(const std::wstring& path, bool, bool, const std::wstring& connect) override {
    return wb_guarded(errors_, [&] {
      const std::string narrow = wb_narrow(path);
      const connect_options o = parse_connect(connect);
      if (!o.workbook)
        throw wb_error(wb_err_not_a_workbook_db, "File '" + narrow + "' is not a database this engine can open.");
      auto db = std::make_shared<database_state>();
      db->errors = errors_;
      db->path = narrow;
      db->header = o.header;
      db->reader = wb_open_workbook(narrow);
      const auto& sheets = db->reader->sheets();
      for (std::size_t i = 0; i < sheets.size(); ++i) {
        auto t = std::make_shared<sheet_table>();
        t->index = i;
        t->engine_name = wb_engine_table_name(wb_widen(sheets[i].name));
        db->tables.push_back(std::move(t));
      }
      return ole_com_ptr<wb_database>(new workbook_database(std::move(db)));
    });
  }
  ole_com_ptr<wb_database> create_database(const std::wstring&, const std::wstring&, int) override {
    return wb_guarded(errors_, []() -> ole_com_ptr<wb_database> { throw wb_not_supported(); });
  }
  std::vector<wb_error_item> errors() const override { return errors_->items; }

 private:
  wb_error_list_ptr errors_ = std::make_shared<wb_error_list>();
};

std::mutex factory_mutex;
wb_engine_factory current_factory;

}  // namespace

ole_com_ptr<wb_engine> wb_make_workbook_engine() { return ole_com_ptr<wb_engine>(new workbook_engine()); }

ole_com_ptr<wb_engine> wb_create_engine(int key) {
  wb_engine_factory factory;
  {
    std::lock_guard lock(factory_mutex);
    factory = current_factory;
  }
  if (factory) return factory(key);
  if (key < 0 || key > 3) return {};
  return wb_make_workbook_engine();
}

wb_engine_factory wb_set_engine_factory(wb_engine_factory factory) {
  std::lock_guard lock(factory_mutex);
  return std::exchange(current_factory, std::move(factory));
}
