// Text for a terminal: its width in columns, cut to a width, with nothing in it that the terminal
// would act on, and the time left of a run.
#pragma once

#include <string>

namespace velora::batch {

// "0:42", "12:05", "1:02:03": the time left of a run, rounded up to whole seconds.
std::string FormatTimeLeft(double seconds);

// Display columns of UTF-8 `text`: wide (East Asian) characters count two, combining marks none.
int DisplayColumns(const std::string& text);

// The first `columns` display columns of UTF-8 `text`, never cutting a character in half.
std::string FitToColumns(const std::string& text, int columns);

// `text` with everything a terminal would act on written out: control characters as \n, \t,
// \r or \xNN, bytes that are no UTF-8 as \xNN, and the backslash doubled, so that a file
// name can neither move the cursor, recolour the screen nor pass for two lines.
std::string EscapeControls(const std::string& text);

}  // namespace velora::batch
