#include "workbook/fake/wb_fake_engine.h"

#include "tk/tk_string.h"
#include "workbook/engine/wb_engine_support.h"
#include "workbook/engine/wb_select.h"

namespace {

using script_ptr = std::shared_ptr<wb_fake_script>;

struct fake_context {
  script_ptr script;
  wb_error_list_ptr errors = std::make_shared<wb_error_list>();

  void fail_if(const std::string& op) const {
    const auto f = script->failures.find(op);
    if (f == script->failures.end()) return;
    throw wb_error(f->second.number, wb_narrow(f->second.description));
  }
  template <class F>
  auto run(const std::string& op, F&& f) const -> decltype(f()) {
    try {
      fail_if(op);
      return f();
    } catch (const wb_error& e) {
      errors->items.clear();
      if (!script->fail_without_errors) errors->items.push_back({e.number(), wb_widen(e.what())});
      throw;
    }
  }
  bool null_result(const std::string& op) const { return script->null_results.count(op) != 0; }
  /// The table named exactly so, else the first equal but for case.
  wb_fake_table* table(const std::wstring& name) const {
    for (auto& t : script->tables)
      if (t.name == name) return &t;
    for (auto& t : script->tables)
      if (tk_compare_no_case(t.name, name) == 0) return &t;
    return nullptr;
  }
};
using context_ptr = std::shared_ptr<fake_context>;

/// A field: of a definition (its data is the descriptor) or of a row (value from the cursor).
class fake_field final : public wb_field {
 public:
  fake_field(context_ptr ctx, wb_fake_field data, std::function<ole_variant()> value = {})
      : ctx_(std::move(ctx)), data_(std::move(data)), value_(std::move(value)) {}
  std::wstring name() const override { return data_.name; }
  int type() const override { return data_.type; }
  long size() const override { return data_.size; }
  ole_variant value() const override {
    return ctx_->run("value", [&] { return value_ ? value_() : ole_variant(); });
  }
  long attributes() const override { return data_.attributes; }
  bool required() const override { return data_.required; }
  std::wstring default_value() const override { return data_.default_value; }
  void set_required(bool r) override { data_.required = r; }
  void set_allow_zero_length(bool a) override { data_.allow_zero_length = a; }
  void set_default_value(const std::wstring& v) override { data_.default_value = v; }
  void set_attributes(long a) override { data_.attributes = a; }
  const wb_fake_field& data() const { return data_; }

 private:
  context_ptr ctx_;
  wb_fake_field data_;
  std::function<ole_variant()> value_;
};

/// Fields of a definition; appending adds to `sink` when one is given.
class fake_fields final : public wb_fields {
 public:
  fake_fields(context_ptr ctx, std::function<std::vector<wb_fake_field>*()> sink = {})
      : ctx_(std::move(ctx)), sink_(std::move(sink)) {}
  void add(ole_com_ptr<wb_field> f) { fields_.push_back(std::move(f)); }
  int count() const override { return static_cast<int>(fields_.size()); }
  ole_com_ptr<wb_field> item(int index) override {
    return ctx_->run("field_item_call", [&] {
      if (index < 0 || static_cast<std::size_t>(index) >= fields_.size()) throw wb_no_item(std::to_wstring(index));
      if (ctx_->null_result("field_item")) return ole_com_ptr<wb_field>();
      return ole_share(fields_[static_cast<std::size_t>(index)].get());
    });
  }
  void append(wb_field* field) override {
    ctx_->run("append_field", [&] {
      auto* list = sink_ ? sink_() : nullptr;
      if (!list) throw wb_read_only();
      list->push_back(static_cast<fake_field*>(field)->data());
      fields_.push_back(ole_share(field));
    });
  }

 private:
  context_ptr ctx_;
  std::function<std::vector<wb_fake_field>*()> sink_;
  std::vector<ole_com_ptr<wb_field>> fields_;
};

ole_com_ptr<wb_fields> definition_fields(const context_ptr& ctx, const std::vector<wb_fake_field>& fields,
                                         std::function<std::vector<wb_fake_field>*()> sink = {}) {
  auto* list = new fake_fields(ctx, std::move(sink));
  for (const auto& f : fields) list->add(ole_com_ptr<wb_field>(new fake_field(ctx, f)));
  return ole_com_ptr<wb_fields>(list);
}

class fake_index_fields final : public wb_index_fields {
 public:
  fake_index_fields(context_ptr ctx, std::shared_ptr<wb_fake_index> index) : ctx_(std::move(ctx)), index_(std::move(index)) {}
  int count() const override { return static_cast<int>(index_->fields.size()); }
  ole_com_ptr<wb_field> item(int i) override {
    return ctx_->run("index_field_item_call", [&] {
      if (i < 0 || static_cast<std::size_t>(i) >= index_->fields.size()) throw wb_no_item(std::to_wstring(i));
      if (ctx_->null_result("index_field_item")) return ole_com_ptr<wb_field>();
      wb_fake_field f;
      f.name = index_->fields[static_cast<std::size_t>(i)];
      return ole_com_ptr<wb_field>(new fake_field(ctx_, f));
    });
  }
  void append(wb_field* field) override { index_->fields.push_back(field->name()); }

 private:
  context_ptr ctx_;
  std::shared_ptr<wb_fake_index> index_;
};

class fake_index final : public wb_index {
 public:
  fake_index(context_ptr ctx, std::shared_ptr<wb_fake_index> data) : ctx_(std::move(ctx)), data_(std::move(data)) {}
  std::wstring name() const override { return data_->name; }
  bool primary() const override { return data_->primary; }
  bool unique() const override { return data_->unique; }
  ole_com_ptr<wb_index_fields> fields() override {
    if (ctx_->null_result("index_fields")) return {};
    return ole_com_ptr<wb_index_fields>(new fake_index_fields(ctx_, data_));
  }
  ole_com_ptr<wb_field> create_field(const std::wstring& name) override {
    return ctx_->run("create_field", [&] {
      wb_fake_field f;
      f.name = name;
      return ole_com_ptr<wb_field>(new fake_field(ctx_, f));
    });
  }
  void set_primary(bool p) override { data_->primary = p; }
  void set_unique(bool u) override { data_->unique = u; }
  const wb_fake_index& data() const { return *data_; }

 private:
  context_ptr ctx_;
  std::shared_ptr<wb_fake_index> data_;
};

class fake_indexes final : public wb_indexes {
 public:
  fake_indexes(context_ptr ctx, std::function<wb_fake_table*()> table) : ctx_(std::move(ctx)), table_(std::move(table)) {}
  int count() const override {
    auto* t = table_();
    return t ? static_cast<int>(t->indexes.size()) : 0;
  }
  ole_com_ptr<wb_index> item(int i) override {
    return ctx_->run("index_item", [&] {
      auto* t = table_();
      if (!t || i < 0 || static_cast<std::size_t>(i) >= t->indexes.size()) throw wb_no_item(std::to_wstring(i));
      return ole_com_ptr<wb_index>(
          new fake_index(ctx_, std::make_shared<wb_fake_index>(t->indexes[static_cast<std::size_t>(i)])));
    });
  }
  void append(wb_index* index) override {
    ctx_->run("append_index", [&] {
      auto* t = table_();
      if (!t) throw wb_read_only();
      t->indexes.push_back(static_cast<fake_index*>(index)->data());
    });
  }

 private:
  context_ptr ctx_;
  std::function<wb_fake_table*()> table_;
};

class fake_tabledef final : public wb_tabledef {
 public:
  // A table of the script (looked up by name at each use) or a new one not yet appended.
  fake_tabledef(context_ptr ctx, std::wstring name, std::shared_ptr<wb_fake_table> own = {})
      : ctx_(std::move(ctx)), name_(std::move(name)), own_(std::move(own)) {}
  // The table at a position of the script, which a twin of the same name does not hide.
  fake_tabledef(context_ptr ctx, std::size_t position)
      : ctx_(std::move(ctx)), name_(ctx_->script->tables.at(position).name), position_(position) {}
  std::wstring name() const override { return name_; }
  long attributes() const override {
    auto* t = table();
    return t ? t->attributes : 0;
  }
  long record_count() override {
    return ctx_->run("record_count", [&] {
      auto* t = table();
      return t ? static_cast<long>(t->rows.size()) : 0L;
    });
  }
  ole_com_ptr<wb_fields> fields() override {
    return ctx_->run("fields", [&] {
      auto* t = table();
      return definition_fields(ctx_, t ? t->fields : std::vector<wb_fake_field>{}, [this] {
        auto* tt = table();
        return tt ? &tt->fields : nullptr;
      });
    });
  }
  ole_com_ptr<wb_indexes> indexes() override {
    return ctx_->run("indexes", [&] { return ole_com_ptr<wb_indexes>(new fake_indexes(ctx_, [this] { return table(); })); });
  }
  ole_com_ptr<wb_field> create_field(const std::wstring& name, int type, long size) override {
    return ctx_->run("create_field", [&] {
      wb_fake_field f;
      f.name = name, f.type = type, f.size = size;
      return ole_com_ptr<wb_field>(new fake_field(ctx_, f));
    });
  }
  ole_com_ptr<wb_index> create_index(const std::wstring& name) override {
    return ctx_->run("create_index", [&] {
      auto data = std::make_shared<wb_fake_index>();
      data->name = name;
      return ole_com_ptr<wb_index>(new fake_index(ctx_, data));
    });
  }
  ole_com_ptr<wb_recordset> open_recordset(int type, int options) override;
  std::shared_ptr<wb_fake_table> own() const { return own_; }

 private:
  wb_fake_table* table() const {
    if (own_) return own_.get();
    auto& tables = ctx_->script->tables;
    if (position_ && *position_ < tables.size() && tables[*position_].name == name_) return &tables[*position_];
    return ctx_->table(name_);
  }
  context_ptr ctx_;
  std::wstring name_;
  std::shared_ptr<wb_fake_table> own_;
  std::optional<std::size_t> position_;
};

class fake_tabledefs final : public wb_tabledefs {
 public:
  explicit fake_tabledefs(context_ptr ctx) : ctx_(std::move(ctx)) {}
  short count() const override { return static_cast<short>(ctx_->script->tables.size()); }
  ole_com_ptr<wb_tabledef> item(int i) override {
    return ctx_->run("tabledef_item", [&] {
      const auto& tables = ctx_->script->tables;
      if (i < 0 || static_cast<std::size_t>(i) >= tables.size()) throw wb_no_item(std::to_wstring(i));
      return ole_com_ptr<wb_tabledef>(new fake_tabledef(ctx_, static_cast<std::size_t>(i)));
    });
  }
  ole_com_ptr<wb_tabledef> item(const std::wstring& name) override {
    return ctx_->run("tabledef_item", [&] {
      auto* t = ctx_->table(name);
      if (!t) throw wb_no_item(name);
      return ole_com_ptr<wb_tabledef>(new fake_tabledef(ctx_, t->name));
    });
  }
  void remove(const std::wstring& name) override {
    ctx_->run("remove_table", [&] {
      auto& tables = ctx_->script->tables;
      for (auto it = tables.begin(); it != tables.end(); ++it)
        if (tk_compare_no_case(it->name, name) == 0) {
          tables.erase(it);
          ctx_->script->removed_tables.push_back(name);
          return;
        }
      throw wb_no_item(name);
    });
  }
  void append(wb_tabledef* table) override {
    ctx_->run("append_table", [&] {
      auto own = static_cast<fake_tabledef*>(table)->own();
      if (!own) throw wb_error(3012, "Object '" + wb_narrow(table->name()) + "' already exists.");
      ctx_->script->tables.push_back(*own);
      ctx_->script->created_tables.push_back(own->name);
    });
  }

 private:
  context_ptr ctx_;
};

struct fake_cursor {
  std::vector<std::vector<ole_variant>> rows;
  long position = 0;
  bool bof = true, eof = true, closed = false;
  std::map<std::wstring, ole_variant> pending;  // the row being added
  bool adding = false;
};

class fake_recordset final : public wb_recordset {
 public:
  fake_recordset(context_ptr ctx, std::vector<wb_fake_field> fields, std::vector<std::vector<ole_variant>> rows,
                 std::wstring append_table)
      : ctx_(std::move(ctx)), fields_(std::move(fields)), cursor_(std::make_shared<fake_cursor>()),
        append_table_(std::move(append_table)) {
    cursor_->rows = std::move(rows);
    cursor_->bof = cursor_->eof = cursor_->rows.empty();
  }
  bool eof() const override { return cursor_->eof; }
  bool bof() const override { return cursor_->bof; }
  ole_com_ptr<wb_fields> fields() override {
    return ctx_->run("recordset_fields", [&] {
      auto* list = new fake_fields(ctx_);
      for (std::size_t i = 0; i < fields_.size(); ++i) {
        auto c = cursor_;
        list->add(ole_com_ptr<wb_field>(new fake_field(ctx_, fields_[i], [c, i] {
          if (c->bof || c->eof) throw wb_no_current_row();
          const auto& row = c->rows[static_cast<std::size_t>(c->position)];
          return i < row.size() ? row[i] : ole_variant();
        })));
      }
      return ole_com_ptr<wb_fields>(list);
    });
  }
  void move_first() override {
    ctx_->run("move_first", [&] {
      if (cursor_->rows.empty()) throw wb_no_current_row();
      cursor_->position = 0;
      cursor_->bof = cursor_->eof = false;
    });
  }
  void move_next() override {
    ctx_->run("move_next", [&] {
      if (cursor_->eof) throw wb_no_current_row();
      if (cursor_->bof) {
        cursor_->bof = false;
        cursor_->position = 0;
      } else {
        ++cursor_->position;
      }
      cursor_->eof = static_cast<std::size_t>(cursor_->position) >= cursor_->rows.size();
    });
  }
  void move_previous() override {
    ctx_->run("move_previous", [&] {
      if (cursor_->bof) throw wb_no_current_row();
      --cursor_->position;
      cursor_->eof = false;
      cursor_->bof = cursor_->position < 0;
    });
  }
  void add_new() override {
    ctx_->run("add_new", [&] {
      if (append_table_.empty()) throw wb_read_only();
      cursor_->pending.clear();
      cursor_->adding = true;
    });
  }
  void collect(const std::wstring& name, const ole_variant& value) override {
    ctx_->run("collect", [&] {
      if (!cursor_->adding) throw wb_no_current_row();
      cursor_->pending[name] = value;
    });
  }
  void update(int, bool) override {
    ctx_->run("update", [&] {
      if (!cursor_->adding) throw wb_no_current_row();
      auto* t = ctx_->table(append_table_);
      if (!t) throw wb_no_item(append_table_);
      std::vector<ole_variant> row;
      for (const auto& f : t->fields) {
        const auto v = cursor_->pending.find(f.name);
        row.push_back(v == cursor_->pending.end() ? ole_variant() : v->second);
      }
      t->rows.push_back(std::move(row));
      cursor_->adding = false;
    });
  }
  void close() override {
    ctx_->run("close", [&] { cursor_->closed = true; });
  }

 private:
  context_ptr ctx_;
  std::vector<wb_fake_field> fields_;
  std::shared_ptr<fake_cursor> cursor_;
  std::wstring append_table_;
};

ole_com_ptr<wb_recordset> fake_tabledef::open_recordset(int type, int options) {
  return ctx_->run("open_recordset", [&] {
    ctx_->script->recordset_types.push_back(type);
    ctx_->script->recordset_options.push_back(options);
    if (ctx_->null_result("open_recordset")) return ole_com_ptr<wb_recordset>();
    auto* t = table();
    if (!t) throw wb_no_item(name_);
    const bool append = (options & wb_open_append_only) != 0;
    return ole_com_ptr<wb_recordset>(
        new fake_recordset(ctx_, t->fields, append ? decltype(t->rows){} : t->rows, append ? t->name : std::wstring()));
  });
}

class fake_querydef final : public wb_querydef {
 public:
  fake_querydef(context_ptr ctx, std::wstring name, std::wstring sql, std::vector<wb_fake_field> fields = {})
      : ctx_(std::move(ctx)), name_(std::move(name)), sql_(std::move(sql)), stored_fields_(std::move(fields)) {}
  std::wstring name() const override { return name_; }
  std::wstring sql() const override { return sql_; }
  ole_com_ptr<wb_fields> fields() override {
    return ctx_->run("query_fields", [&] {
      if (!stored_fields_.empty()) return definition_fields(ctx_, stored_fields_);
      return definition_fields(ctx_, result(false).fields);
    });
  }
  ole_com_ptr<wb_recordset> open_recordset(int type, int options) override {
    return ctx_->run("open_recordset", [&] {
      ctx_->script->recordset_types.push_back(type);
      ctx_->script->recordset_options.push_back(options);
      if (ctx_->null_result("open_recordset")) return ole_com_ptr<wb_recordset>();
      const bool append = (options & wb_open_append_only) != 0;
      wb_fake_table t = result(append);
      return ole_com_ptr<wb_recordset>(
          new fake_recordset(ctx_, t.fields, append ? decltype(t.rows){} : t.rows, append ? t.name : std::wstring()));
    });
  }

 private:
  wb_fake_table result(bool append) const {
    const auto r = ctx_->script->results.find(sql_);
    if (r != ctx_->script->results.end()) return r->second;
    const auto select = wb_parse_select(sql_);
    if (!select) throw wb_not_supported();
    auto* t = ctx_->table(select->table);
    if (!t) throw wb_error(wb_err_no_such_sheet, "No worksheet named '" + wb_narrow(select->table) + "' in the workbook.");
    if (!select->count || append) return *t;
    wb_fake_table count;
    count.name = t->name;
    wb_fake_field field;
    field.name = L"Count", field.type = wb_dao_long, field.size = 4;
    count.fields.push_back(field);
    count.rows.push_back({ole_variant(static_cast<int>(t->rows.size()))});
    return count;
  }

  context_ptr ctx_;
  std::wstring name_, sql_;
  std::vector<wb_fake_field> stored_fields_;
};

class fake_querydefs final : public wb_querydefs {
 public:
  explicit fake_querydefs(context_ptr ctx) : ctx_(std::move(ctx)) {}
  int count() const override { return static_cast<int>(ctx_->script->queries.size()); }
  ole_com_ptr<wb_querydef> item(int i) override {
    return ctx_->run("querydef_item", [&] {
      const auto& q = ctx_->script->queries;
      if (i < 0 || static_cast<std::size_t>(i) >= q.size()) throw wb_no_item(std::to_wstring(i));
      const auto& s = q[static_cast<std::size_t>(i)];
      return ole_com_ptr<wb_querydef>(new fake_querydef(ctx_, s.name, s.sql, s.fields));
    });
  }

 private:
  context_ptr ctx_;
};

class fake_database final : public wb_database {
 public:
  explicit fake_database(context_ptr ctx) : ctx_(std::move(ctx)) {}
  ole_com_ptr<wb_tabledefs> tabledefs() override {
    return ctx_->run("tabledefs", [&] { return ole_com_ptr<wb_tabledefs>(new fake_tabledefs(ctx_)); });
  }
  ole_com_ptr<wb_querydefs> querydefs() override {
    return ctx_->run("querydefs", [&] { return ole_com_ptr<wb_querydefs>(new fake_querydefs(ctx_)); });
  }
  ole_com_ptr<wb_querydef> create_querydef(const std::wstring& name, const std::wstring& sql) override {
    return ctx_->run("create_querydef", [&] {
      ctx_->script->sqls.push_back(sql);
      return ole_com_ptr<wb_querydef>(new fake_querydef(ctx_, name, sql));
    });
  }
  ole_com_ptr<wb_tabledef> create_tabledef(const std::wstring& name, long attributes, const std::wstring&,
                                           const std::wstring&) override {
    return ctx_->run("create_tabledef", [&] {
      auto t = std::make_shared<wb_fake_table>();
      t->name = name;
      t->attributes = attributes;
      return ole_com_ptr<wb_tabledef>(new fake_tabledef(ctx_, name, t));
    });
  }
  void close() override {
    ctx_->run("close", [&] { ++ctx_->script->closes; });
  }

 private:
  context_ptr ctx_;
};

class fake_engine final : public wb_engine {
 public:
  explicit fake_engine(script_ptr script) : ctx_(std::make_shared<fake_context>()) { ctx_->script = std::move(script); }
  ole_com_ptr<wb_database> open_database(const std::wstring& path, bool exclusive, bool read_only,
                                         const std::wstring& connect) override {
    auto& s = *ctx_->script;
    s.opened_paths.push_back(path);
    s.connects.push_back(connect);
    s.exclusive_flags.push_back(exclusive);
    s.read_only_flags.push_back(read_only);
    return ctx_->run("open_database", [&] { return ole_com_ptr<wb_database>(new fake_database(ctx_)); });
  }
  ole_com_ptr<wb_database> create_database(const std::wstring& path, const std::wstring& locale, int) override {
    ctx_->script->created_databases.push_back(path);
    ctx_->script->connects.push_back(locale);
    return ctx_->run("create_database", [&] { return ole_com_ptr<wb_database>(new fake_database(ctx_)); });
  }
  std::vector<wb_error_item> errors() const override {
    if (ctx_->script->errors_throw) throw wb_error(3000, "The error list cannot be read.");
    return ctx_->errors->items;
  }

 private:
  context_ptr ctx_;
};

}  // namespace

ole_com_ptr<wb_engine> wb_make_fake_engine(std::shared_ptr<wb_fake_script> script) {
  return ole_com_ptr<wb_engine>(new fake_engine(std::move(script)));
}

wb_engine_factory wb_install_fake_engine(std::shared_ptr<wb_fake_script> script, std::set<int> failing) {
  return wb_set_engine_factory([script, failing](int key) -> ole_com_ptr<wb_engine> {
    if (failing.count(key)) return {};
    return wb_make_fake_engine(script);
  });
}
