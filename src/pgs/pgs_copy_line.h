#pragma once
// One record as one line of COPY text format, as the server reads it with COPY ... FROM STDIN.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tk/tk_exception.h"
#include "udb/udb_record.h"
#include "udb/udb_schema.h"

/// A record field and the table column it is written to.
struct pgs_copy_pair {
  std::size_t field = 0;
  std::size_t column = 0;
  bool operator==(const pgs_copy_pair&) const = default;
};

/// Field i to column i for every column of the schema (a table created for the record's source).
std::vector<pgs_copy_pair> pgs_positional_pairing(const udb_schema& schema);

/// Appends the record's line (without the line end) to `line`, fields in pairing order.
/** The column's type and date precision choose the text; the value's own type chooses \N. A null in
    a NOT NULL text column is written as an empty text. Tab and backslash are escaped, carriage
    returns dropped and line feeds written as \n, so the line never holds a raw line end and has
    exactly one field per pair. U+0000, which a server text cannot hold, is left out and every
    other character of the text kept; the column number of each field that lost one goes to
    `nul_columns` when given. The pairs must lie within the record and the schema. */
void pgs_append_copy_line(std::string& line, const udb_record& record, const udb_schema& schema,
                          const std::vector<pgs_copy_pair>& pairing, std::vector<std::size_t>* nul_columns = nullptr);

/// The row's report for a text of `column` (as the table names it) stored without its U+0000: a
/// level-0 error, so the run ends with reported errors while the row lands.
tk_exception pgs_nul_left_out(const std::wstring& column);

/// A date value exactly (every field of it), as the key of remembered date texts.
struct pgs_copy_date_key {
  std::uint64_t high = 0;
  std::uint64_t low = 0;
  bool operator==(const pgs_copy_date_key&) const = default;
};

/// The texts of the dates a column wrote last, in a small table indexed by the date: a worksheet
/// often repeats its dates, and a date that is not found is only printed again (no allocation and
/// no clearing, whatever the number of distinct dates).
class pgs_copy_date_texts {
 public:
  /// The remembered text of `key`, or an empty view.
  std::string_view find(const pgs_copy_date_key& key) const {
    const slot& s = slots_[index(key)];
    return s.size && s.key == key ? std::string_view(s.text, s.size) : std::string_view();
  }
  /// Remembers `text` for `key` (a text too long to keep is not remembered).
  void remember(const pgs_copy_date_key& key, std::string_view text) {
    if (text.empty() || text.size() > sizeof(slot::text)) return;
    slot& s = slots_[index(key)];
    s.key = key;
    s.size = static_cast<std::uint8_t>(text.size());
    text.copy(s.text, text.size());
  }

 private:
  static constexpr std::size_t slot_count = 1024;
  struct slot {
    pgs_copy_date_key key;
    std::uint8_t size = 0;  // 0: empty
    char text[31];
  };
  static std::size_t index(const pgs_copy_date_key& k) {
    return static_cast<std::size_t>(((k.high * 0x9E3779B97F4A7C15ull) ^ k.low) * 0xC2B2AE3D27D4EB4Full >> 54);
  }
  std::vector<slot> slots_ = std::vector<slot>(slot_count);
};

/// The same lines, for one table and pairing, with the date texts of each column remembered: a
/// date's text depends only on its value and the column, and worksheets repeat their dates.
class pgs_copy_line_builder {
 public:
  explicit pgs_copy_line_builder(std::vector<pgs_copy_pair> pairing);
  const std::vector<pgs_copy_pair>& pairing() const { return pairs; }
  void append(std::string& line, const udb_record& record, const udb_schema& schema,
              std::vector<std::size_t>* nul_columns = nullptr);

 private:
  std::vector<pgs_copy_pair> pairs;
  std::vector<pgs_copy_date_texts> date_texts;  // per pair
};
