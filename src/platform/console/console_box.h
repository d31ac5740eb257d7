// The console stand-in for MessageBoxA: the box is drawn on `out`
// (standard error in the program) and answered with one line of `in`
// (standard input), so standard output keeps carrying the report alone.
#pragma once

#include <cstdio>

namespace platform {

// Draws the box and blocks until it is answered. An OK/Cancel box (button
// style 1) takes ok, o, yes or y for IDOK and cancel, c, no or n for
// IDCANCEL, in any case and with blanks around them; anything else, an empty
// line too, asks again. End of input closes the box: IDCANCEL for OK/Cancel,
// as the close button does, IDOK for an OK box, which closes on any line.
int console_message_box(std::FILE* in, std::FILE* out, const char* text, const char* caption, unsigned style);

}  // namespace platform
