#pragma once
// The converter base of the database layer: the settings a profile carries
// (source, destination, log file, overwrite mode, flags, selected tables and
// stored queries) and the progress a run shares with the GUI thread.

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "tk/tk_converter.h"

class udb_profile;

class udb_converter : public tk_converter {
 public:
  using name_map = std::map<std::wstring, std::wstring>;

  udb_converter();
  ~udb_converter() override;

  virtual bool test_connection() = 0;

  /// Overwrite mode: 0 the whole database, 1 existing tables, 2 skip existing
  /// tables, 3 merge into existing tables.
  void set_mode(int mode);
  int get_mode() const noexcept { return mode; }

  /// Writes the generic sections into the profile; true. Throws what the
  /// profile throws for a value it cannot hold.
  bool store_profile(udb_profile& profile);
  /// Reads the generic sections; true. The profile's selected tables and
  /// stored queries replace those held before. A mode other than "0".."3"
  /// throws tk_exception level 1 "Invalid merge/overwrite mode", a log file
  /// that cannot be used throws what set_logfile throws; either way no
  /// setting has changed.
  bool load_profile(udb_profile& profile);

  const name_map& get_selected() const noexcept { return selected; }
  /// What the wizard's worksheet page edits: its selected queries replace the selected queries
  /// (the selected worksheets stay) and its stored queries replace the stored ones.
  void store_query_entries(const name_map& selected_queries, name_map stored_queries);
  const name_map& get_available_queries() const noexcept { return available_queries; }
  const std::vector<std::wstring>& get_sel_tables() const noexcept { return sel_tables; }
  bool get_only_definitions() const noexcept { return only_definitions; }
  bool get_skip_indexes() const noexcept { return skip_indexes; }

  /// The worksheet being converted; written by the run, read by the GUI thread.
  std::wstring get_cur_sheet() const;
  void set_cur_sheet(const std::wstring& sheet);

 protected:
  int mode = 0;
  std::atomic<int> rec_count{0};
  std::atomic<int> sheets_total{0};
  std::atomic<int> sheets_done{0};
  std::vector<std::wstring> sel_tables;
  name_map selected;
  name_map available_queries;
  bool only_definitions = false;
  bool skip_indexes = false;

 private:
  mutable std::mutex m_cur_sheet_mutex;
  std::wstring m_cur_sheet;
};
