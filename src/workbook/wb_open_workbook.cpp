#include "workbook/wb_reader.h"
#include "workbook/wb_source_probe.h"

std::unique_ptr<wb_reader> wb_open_workbook(const std::string& path) {
  const wb_source_probe probe = wb_probe_source(path);
  switch (probe.kind) {
    case wb_source_kind::xls: return wb_open_xls(path);
    case wb_source_kind::xlsx: return wb_open_xlsx(path);
    default: throw wb_error(probe.number, probe.reason);
  }
}
