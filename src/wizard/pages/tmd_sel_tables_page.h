#pragma once
// "Step 3 of 4": the worksheets of the source workbook, chosen for conversion. Every activation
// lists the workbook again and shows the converter's selection (made earlier or by a profile).
#include "wizard/pages/sel_tables_page_ex.h"

class tamarind_convertor;

class tmd_sel_tables_page : public sel_tables_page_ex {
 public:
  static constexpr int help_context = 1016;

  explicit tmd_sel_tables_page(QWidget* parent = nullptr);

  bool page_init() override;
  void on_help() override;
  /// Hands the chosen worksheets to the converter; -1 when the user stays.
  int on_next() override;

 private:
  /// Writes the page's query maps back into the converter's selection, so query entries survive
  /// a later visit and a saved profile (the run converts worksheets only).
  void store_queries(tamarind_convertor& converter) const;
};
