#include "workbook/engine/wb_layout_ahead.h"

wb_layout_ahead::wb_layout_ahead(wb_reader& reader, std::size_t index, bool header) : index_(index) {
  worker_ = std::thread([this, &reader, header] {
    try {
      layout_ = wb_profile_sheet(reader, index_, header, &stop_);
    } catch (const wb_profile_stopped&) {
    } catch (...) {
      error_ = std::current_exception();
    }
  });
}

wb_layout_ahead::~wb_layout_ahead() {
  stop_ = true;
  if (worker_.joinable()) worker_.join();
}

wb_sheet_layout wb_layout_ahead::take() {
  if (worker_.joinable()) worker_.join();
  if (error_) std::rethrow_exception(error_);
  return std::move(layout_.value());
}
