#pragma once
// Caps on what a workbook file may make the reader do. Each one, when crossed, gives 3274 naming it,
// so a hostile file costs bounded memory and time.
#include <cstdint>

inline constexpr std::uint32_t wb_max_rows = 1048576;         // the format's last row
inline constexpr std::uint32_t wb_max_columns = 16384;        // column XFD
inline constexpr std::uint32_t wb_max_cells_per_row = 16384;  // cell elements in one row
inline constexpr std::uint32_t wb_max_text_chars = 32767;     // the format's own limit per cell
inline constexpr std::uint32_t wb_max_converted_columns = 1600;  // PostgreSQL's column limit
inline constexpr std::uint32_t wb_max_sheets = 65535;
inline constexpr std::uint32_t wb_max_xml_depth = 128;
// Bytes a parser may take in without a single event: bounds one tag or attribute held whole.
inline constexpr std::uint64_t wb_max_xml_token_bytes = 16ull << 20;
// Parts read whole into small tables (relationships, workbook, styles).
inline constexpr std::uint64_t wb_max_small_part_bytes = 256ull << 20;
inline constexpr std::uint64_t wb_max_part_bytes = 16ull << 30;
// Deflate cannot pass about 1032:1; only near-degenerate data (a bomb) comes close, checked on
// parts large enough to matter.
inline constexpr std::uint64_t wb_max_inflate_ratio = 500;
inline constexpr std::uint64_t wb_inflate_ratio_floor = 64ull << 20;
inline constexpr std::uint64_t wb_max_shared_string_bytes = 1ull << 30;
inline constexpr std::uint32_t wb_max_shared_strings = 1u << 25;
inline constexpr std::uint32_t wb_max_table_entries = 1u << 20;  // relationships, formats, styles
