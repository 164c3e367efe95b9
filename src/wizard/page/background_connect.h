#pragma once
// Connecting to the server without freezing the window: the attempt runs on a thread of its own
// with a connection of its own, while the GUI thread keeps serving events under a busy cursor.
// Only once it has succeeded is the connection handed to the converter's engine, on the GUI
// thread, so the engine is never used by two threads. An abandoned attempt is left to end by
// itself (libpq's connect timeout bounds it); its result is discarded.
#include <functional>
#include <memory>

#include "pgs/pgs_engine.h"

class pgs_converter_impl;

/// The attempt: open_detached by default; tests replace it.
using background_connect_opener = std::function<std::unique_ptr<pqxx::connection>(const pgs_connect_params&)>;
void set_background_connect_opener(background_connect_opener opener);

/// Connects the converter's engine. True when connected; false when the attempt was abandoned
/// (abandon_background_connect, or Cancel of the progress box shown when there is no window).
/// Throws what the attempt threw (pgs_exception) when it failed.
bool connect_in_background(pgs_converter_impl& converter);
/// Abandons the attempt under way on the GUI thread, if any (the wizard is closing).
void abandon_background_connect() noexcept;
/// True while an attempt is awaited.
bool background_connect_running() noexcept;
