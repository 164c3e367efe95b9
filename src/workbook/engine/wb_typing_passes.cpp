#include "workbook/engine/wb_typing_passes.h"

#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>

std::vector<wb_typing_result> wb_type_sheets(wb_reader& reader, const std::vector<std::size_t>& sheets, bool header,
                                             unsigned threads) {
  std::vector<wb_typing_result> results(sheets.size());
  std::atomic<std::size_t> next{0};
  const std::size_t wanted = std::min<std::size_t>(std::max(threads, 1u), sheets.size());
  const unsigned decode_threads = wb_typing_decode_threads(static_cast<unsigned>(std::max<std::size_t>(wanted, 1)));
  const auto work = [&]() noexcept {
    for (std::size_t i = next.fetch_add(1); i < sheets.size(); i = next.fetch_add(1)) {
      try {
        results[i].layout = wb_profile_sheet(reader, sheets[i], header, nullptr, decode_threads);
      } catch (...) {
        results[i].failure = std::current_exception();
      }
    }
  };
  std::vector<std::thread> helpers;
  for (std::size_t t = 1; t < wanted; ++t) {
    try {
      helpers.emplace_back(work);
    } catch (const std::system_error&) {
      break;  // fewer helpers: the threads that run take the remaining sheets
    }
  }
  work();
  for (auto& helper : helpers) helper.join();
  return results;
}

unsigned wb_typing_threads(std::size_t sheet_count) {
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  const unsigned bound = std::clamp(cores > 2 ? cores - 2 : 1u, 1u, 6u);
  return static_cast<unsigned>(std::min<std::size_t>(bound, std::max<std::size_t>(sheet_count, 1)));
}

unsigned wb_typing_decode_threads(unsigned passes_at_once) {
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  return std::clamp((cores > 2 ? cores - 2 : 1) / std::max(passes_at_once, 1u), 1u, 6u);
}
