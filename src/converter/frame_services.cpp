#include "converter/frame_services.h"

#include "tk/tk_string.h"

void frame_services::error(const std::string& text) { error(tk_ansi_to_unicode(text)); }
