#pragma once
// Shared pieces of engine implementations: the error list every call reports into, the message
// texts, and simple collections.
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "workbook/wb_engine.h"

/// The error list of one engine, shared by every object it hands out.
struct wb_error_list {
  std::vector<wb_error_item> items;
};
using wb_error_list_ptr = std::shared_ptr<wb_error_list>;

/// UTF-8 to wide text, whole: a U+0000 inside is kept like any other character (the toolkit's
/// conversion ends at it, as the Windows one does).
std::wstring wb_widen(std::string_view utf8);
std::string wb_narrow(std::wstring_view text);

/// Runs `f`; a wb_error it throws becomes the error list, then goes on to the caller.
template <class F>
auto wb_guarded(const wb_error_list_ptr& errors, F&& f) -> decltype(f()) {
  try {
    return f();
  } catch (const wb_error& e) {
    errors->items.assign(1, wb_error_item{e.number(), std::wstring()});
    errors->items[0].description = wb_widen(e.what());
    throw;
  }
}

wb_error wb_no_current_row();
wb_error wb_read_only();
wb_error wb_closed();
wb_error wb_not_supported();
wb_error wb_no_item(const std::wstring& name);

/// A list of fields owned by reference.
class wb_field_list : public wb_fields {
 public:
  explicit wb_field_list(wb_error_list_ptr errors, bool read_only = true)
      : errors_(std::move(errors)), read_only_(read_only) {}
  void add(ole_com_ptr<wb_field> f) { fields_.push_back(std::move(f)); }
  int count() const override { return static_cast<int>(fields_.size()); }
  ole_com_ptr<wb_field> item(int index) override {
    return wb_guarded(errors_, [&] {
      if (index < 0 || static_cast<std::size_t>(index) >= fields_.size()) throw wb_no_item(std::to_wstring(index));
      return ole_share(fields_[static_cast<std::size_t>(index)].get());
    });
  }
  void append(wb_field* field) override {
    wb_guarded(errors_, [&] {
      if (read_only_) throw wb_read_only();
      fields_.push_back(ole_share(field));
    });
  }

 private:
  wb_error_list_ptr errors_;
  std::vector<ole_com_ptr<wb_field>> fields_;
  bool read_only_;
};
