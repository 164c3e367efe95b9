#pragma once
// The savepoints of a COPY stream's transaction: tmd_segment holds the stored lines of the segment
// under way, tmd_probe a replay's trial COPY nested in it, tmd_stage the staging of a server-side
// pass. Each statement ends with "; " so that they join into one query string.

inline constexpr const char* pgs_open_segment = "SAVEPOINT tmd_segment; ";
inline constexpr const char* pgs_release_segment = "RELEASE SAVEPOINT tmd_segment; ";
inline constexpr const char* pgs_rollback_segment = "ROLLBACK TO SAVEPOINT tmd_segment; ";

inline constexpr const char* pgs_open_probe = "SAVEPOINT tmd_probe; ";
inline constexpr const char* pgs_rollback_probe = "ROLLBACK TO SAVEPOINT tmd_probe; ";
inline constexpr const char* pgs_release_probe = "RELEASE SAVEPOINT tmd_probe; ";

inline constexpr const char* pgs_open_stage = "SAVEPOINT tmd_stage; ";
inline constexpr const char* pgs_release_stage = "RELEASE SAVEPOINT tmd_stage; ";
inline constexpr const char* pgs_drop_stage = "ROLLBACK TO SAVEPOINT tmd_stage; RELEASE SAVEPOINT tmd_stage; ";
