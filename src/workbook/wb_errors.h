#pragma once
// The engine's error texts, built in one place so every reader words them alike.
#include <string>

#include "workbook/wb_reader.h"

/// 3274: "File '<path>' is not a readable workbook: <reason>."
wb_error wb_unreadable(const std::string& path, const std::string& reason);
/// 3161: "Workbook '<path>' is encrypted with a password."
wb_error wb_encrypted(const std::string& path);
