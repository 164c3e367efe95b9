#pragma once
// One record as one line of COPY text format, as the server reads it with COPY ... FROM STDIN.
#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

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
    exactly one field per pair. The pairs must lie within the record and the schema. */
void pgs_append_copy_line(std::string& line, const udb_record& record, const udb_schema& schema,
                          const std::vector<pgs_copy_pair>& pairing);

/// A date value exactly (every field of it), as the key of remembered date texts.
struct pgs_copy_date_key {
  std::uint64_t high = 0;
  std::uint64_t low = 0;
  bool operator==(const pgs_copy_date_key&) const = default;
};
struct pgs_copy_date_hash {
  std::size_t operator()(const pgs_copy_date_key& k) const noexcept {
    return std::hash<std::uint64_t>{}(k.high * 0x9E3779B97F4A7C15ull ^ k.low);
  }
};
using pgs_copy_date_texts = std::unordered_map<pgs_copy_date_key, std::string, pgs_copy_date_hash>;

/// The same lines, for one table and pairing, with the date texts of each column remembered: a
/// date's text depends only on its value and the column, and worksheets repeat their dates.
class pgs_copy_line_builder {
 public:
  explicit pgs_copy_line_builder(std::vector<pgs_copy_pair> pairing);
  const std::vector<pgs_copy_pair>& pairing() const { return pairs; }
  void append(std::string& line, const udb_record& record, const udb_schema& schema);

 private:
  std::vector<pgs_copy_pair> pairs;
  std::vector<pgs_copy_date_texts> date_texts;  // per pair
};
