// One line for the user on standard error, "tessaly: " first, after what
// standard output holds so far, so that the two read in order on a
// terminal. Standard output carries the report alone.
#pragma once

#include <string>

void tell_user(const std::string& line);
