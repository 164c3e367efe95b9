#include "wizard/dialogs/init_gui.h"

#include <cstdio>
#include <cstdlib>

#include "tk/tk_logger.h"

namespace {

QtMessageHandler previous_handler = nullptr;

// Qt reports a display or platform plugin it cannot open as a fatal message and then aborts;
// we end first, with our own status and line.
void start_up_handler(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (type != QtFatalMsg) {
    if (previous_handler)
      previous_handler(type, context, text);
    else
      std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, text)));
    return;
  }
  std::fprintf(stderr, "%s\n%s\n", qPrintable(text), init_gui_failure_text);
  std::fflush(stderr);
  tk_log(3, "%s", init_gui_failure_text);
  // Nothing may run on: no object of the program exists yet and Qt is half set up.
  std::_Exit(255);
}

}  // namespace

std::unique_ptr<QApplication> init_gui(int& argc, char** argv) {
  tk_log(1, "init_gui");
  previous_handler = qInstallMessageHandler(start_up_handler);
  auto app = std::make_unique<QApplication>(argc, argv);
  // Later fatal messages take Qt's own path again.
  qInstallMessageHandler(previous_handler);
  previous_handler = nullptr;
  QApplication::setApplicationName(QStringLiteral("tamarind"));
  return app;
}
