#pragma once
// Errors the workbook engine reports, as the source side's exception: level 0 (the user may go on),
// the engine's description as the message and as the reason, and the engine's error number with 1
// in the upper 16 bits as the code, so engine errors have codes of their own in the message tables
// (whose fixed texts are then followed by the reason).
#include <utility>

#include "tk/tk_exception.h"
#include "workbook/wb_reader.h"

class dao_exception : public tk_exception {
 public:
  /// Built right after a failed engine call: reads the first entry of the live engine's error
  /// list. When that list cannot be read (no engine, the read fails, the list is empty) the
  /// construction throws a level-1 tk_exception "Unknown exception" instead.
  dao_exception();
  dao_exception(const dao_exception&) = default;
  dao_exception& operator=(const dao_exception&) = default;

  /// The code an engine error number gets.
  static int make_code(long number) noexcept { return 0x00010000 | static_cast<int>(number & 0xFFFF); }
};

/// Runs one engine call; an engine failure leaves as dao_exception.
template <class F>
auto dao_call(F&& f) -> decltype(f()) {
  try {
    return std::forward<F>(f)();
  } catch (const wb_error&) {
    throw dao_exception();
  }
}

/// A null object where the engine reported success: level 1 "Unknown exception".
template <class P>
P dao_non_null(P p) {
  if (!p) throw tk_exception(tk_level_error);
  return p;
}
