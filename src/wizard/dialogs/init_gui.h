#pragma once
// Starts the GUI library. A GUI that cannot start (no display, no platform plugin) writes
// "Failed to initialize GUI library" to the error stream and ends the process with 255, before
// any setting is read or written.
#include <QApplication>
#include <memory>

inline constexpr char init_gui_failure_text[] = "Failed to initialize GUI library";

/// The application object; argc and argv must outlive it.
std::unique_ptr<QApplication> init_gui(int& argc, char** argv);
