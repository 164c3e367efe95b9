#include "workbook/wb_sheet_model.h"

#include <map>
#include <unordered_set>

#include "platform/unicode_text.h"
#include "workbook/wb_limits.h"
#include "workbook/wb_values.h"

namespace {

enum class cell_kind : std::uint8_t { empty, error, boolean, number, currency, date, text };

struct classified {
  cell_kind kind = cell_kind::empty;
  double date = 0;
};

classified classify(const wb_cell& c, wb_date_system dates) {
  switch (c.kind) {
    case wb_value_kind::text:
      return {c.text.empty() ? cell_kind::empty : cell_kind::text};
    case wb_value_kind::boolean:
      return {cell_kind::boolean};
    case wb_value_kind::error:
    case wb_value_kind::missing:
      return {cell_kind::error};
    case wb_value_kind::number:
      break;
  }
  if (c.style == wb_number_style::date) {
    if (const auto d = wb_serial_date(c.number, dates)) return {cell_kind::date, *d};
  }
  return {c.style == wb_number_style::currency ? cell_kind::currency : cell_kind::number};
}

std::string render(const wb_cell& c, const classified& v) {
  switch (v.kind) {
    case cell_kind::text: return std::string(c.text);
    case cell_kind::boolean: return wb_render_boolean(c.boolean);
    case cell_kind::number:
    case cell_kind::currency: return wb_render_number(c.number);
    case cell_kind::date: return wb_render_date(v.date);
    default: return {};
  }
}

struct column_stats {
  unsigned kinds = 0;  // bit per cell_kind seen
  std::size_t longest_text = 0;
  bool currency_exact = true;
};

unsigned bit(cell_kind k) { return 1u << static_cast<unsigned>(k); }

wb_column type_column(const column_stats& s) {
  wb_column c;
  const unsigned k = s.kinds;
  if (k == bit(cell_kind::boolean)) {
    c.type = wb_type_boolean, c.size = 1;
  } else if (k != 0 && (k & ~(bit(cell_kind::number) | bit(cell_kind::currency))) == 0) {
    c.type = (k == bit(cell_kind::currency) && s.currency_exact) ? wb_type_currency : wb_type_double;
    c.size = 8;
  } else if (k == bit(cell_kind::date)) {
    c.type = wb_type_date, c.size = 8;
  } else if (s.longest_text > 255) {
    c.type = wb_type_memo, c.size = 0;
  }
  return c;
}

std::u32string folded(std::string_view name) {
  std::u32string s = platform::utf8_decode(name);
  for (auto& ch : s) ch = platform::fold_case(ch);
  return s;
}

void name_columns(wb_sheet_layout& l, const std::map<std::uint32_t, std::string>& header_texts) {
  std::unordered_set<std::u32string> taken;
  for (std::size_t i = 0; i < l.columns.size(); ++i) {
    std::string name;
    if (l.header) {
      const auto h = header_texts.find(l.first_col + static_cast<std::uint32_t>(i));
      if (h != header_texts.end()) name = h->second;
    }
    bool blank = true;
    for (char ch : name) blank = blank && ch == ' ';
    if (blank) name = "F" + std::to_string(i + 1);
    for (char& ch : name)
      if (ch == '.') ch = '#';
    std::string unique = name;
    for (unsigned n = 1; taken.count(folded(unique)); ++n) unique = name + std::to_string(n);
    taken.insert(folded(unique));
    l.columns[i].name = unique;
  }
}

}  // namespace

wb_sheet_layout wb_profile_sheet(wb_reader& reader, std::size_t index, bool header, const std::atomic<bool>* stop,
                                 unsigned decode_threads) {
  const wb_date_system dates = reader.date_system();
  wb_sheet_layout l;
  l.header = header;
  std::vector<column_stats> stats;
  std::map<std::uint32_t, std::string> header_texts;
  auto stream = decode_threads > 0 ? reader.open_sheet_wide(index, decode_threads) : reader.open_sheet(index);
  wb_row_view row;
  while (stream->next_row(row)) {
    if (stop && stop->load(std::memory_order_relaxed)) throw wb_profile_stopped{};
    for (std::size_t i = 0; i < row.count; ++i) {
      const wb_cell& c = row.cells[i];
      const classified v = classify(c, dates);
      if (v.kind == cell_kind::empty) continue;
      if (l.empty) {
        l.empty = false;
        l.first_row = c.row;
        l.first_col = l.last_col = c.col;
      }
      l.last_row = c.row;
      l.first_col = std::min(l.first_col, c.col);
      l.last_col = std::max(l.last_col, c.col);
      if (header && c.row == l.first_row) {
        if (v.kind != cell_kind::error) header_texts[c.col] = render(c, v);
        continue;
      }
      // An error cell (or one whose value is missing) is delivered as NULL, so it says nothing about
      // its column's type.
      if (v.kind == cell_kind::error) continue;
      if (stats.size() <= c.col) stats.resize(c.col + 1);
      column_stats& s = stats[c.col];
      s.kinds |= bit(v.kind);
      if (v.kind == cell_kind::text) s.longest_text = std::max(s.longest_text, wb_count_code_points(c.text));
      if (v.kind == cell_kind::currency && s.currency_exact) s.currency_exact = wb_exact_currency(c.number).has_value();
    }
  }
  if (l.empty) {
    l.columns.push_back({"F1", wb_type_text, 255});
    return l;
  }
  const std::uint32_t width = l.last_col - l.first_col + 1;
  if (width > wb_max_converted_columns) {
    const auto& name = reader.sheets().at(index).name;
    throw wb_error(wb_err_too_many_fields, "Worksheet '" + name + "' has " + std::to_string(width) +
                                               " columns; at most " + std::to_string(wb_max_converted_columns) +
                                               " can be converted.");
  }
  stats.resize(l.last_col + 1);
  for (std::uint32_t c = l.first_col; c <= l.last_col; ++c) l.columns.push_back(type_column(stats[c]));
  name_columns(l, header_texts);
  l.record_count = std::uint64_t(l.last_row) - l.first_row + 1 - (header ? 1 : 0);
  return l;
}

wb_row_cursor::wb_row_cursor(wb_reader& reader, std::size_t index, const wb_sheet_layout& layout)
    : reader_(reader), layout_(layout), index_(index), next_row_(layout.first_row + (layout.header ? 1u : 0u)) {
  if (!layout.empty && layout.record_count > 0) stream_ = reader.open_sheet(index);
}

bool wb_row_cursor::read(std::vector<wb_value>& row) {
  if (!stream_ || next_row_ > layout_.last_row) return false;
  const std::size_t width = layout_.columns.size();
  row.resize(width);
  for (auto& v : row) {
    v.k = wb_value::kind::null;
    v.text.clear();
  }
  problem_.clear();
  while (!stream_done_ && (!has_pending_ || pending_.row < next_row_)) {
    has_pending_ = stream_->next_row(pending_);
    stream_done_ = !has_pending_;
  }
  if (has_pending_ && pending_.row == next_row_) {
    const wb_date_system dates = reader_.date_system();
    for (std::size_t i = 0; i < pending_.count; ++i) {
      const wb_cell& c = pending_.cells[i];
      if (c.col < layout_.first_col || c.col > layout_.last_col) continue;
      if (c.kind == wb_value_kind::missing) {
        if (!problem_.empty()) problem_ += ' ';
        problem_ += "Column '" + layout_.columns[c.col - layout_.first_col].name + "': " + std::string(c.text) +
                    "; it is stored as NULL.";
        continue;
      }
      const classified v = classify(c, dates);
      if (v.kind == cell_kind::empty || v.kind == cell_kind::error) continue;
      wb_value& out = row[c.col - layout_.first_col];
      const int type = layout_.columns[c.col - layout_.first_col].type;
      bool fits = true;
      switch (type) {
        case wb_type_boolean:
          fits = v.kind == cell_kind::boolean;
          out.k = wb_value::kind::boolean, out.boolean = c.boolean;
          break;
        case wb_type_double:
          fits = v.kind == cell_kind::number || v.kind == cell_kind::currency;
          out.k = wb_value::kind::number, out.number = c.number;
          break;
        case wb_type_currency: {
          const auto cy = wb_exact_currency(c.number);
          fits = v.kind == cell_kind::currency && cy;
          out.k = wb_value::kind::currency, out.currency = cy.value_or(0);
          break;
        }
        case wb_type_date:
          fits = v.kind == cell_kind::date;
          out.k = wb_value::kind::date, out.number = v.date;
          break;
        default:
          out.k = wb_value::kind::text, out.text = render(c, v);
      }
      if (!fits)
        throw wb_error(wb_err_unreadable, "Worksheet '" + reader_.sheets().at(index_).name +
                                              "' changed while it was being read.");
    }
    has_pending_ = false;
  }
  ++next_row_;
  return true;
}
