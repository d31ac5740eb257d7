// The report on standard output must reach a file or pipe byte for byte:
// the C run-time's text mode would turn every "\n" into "\r\n".
#pragma once

namespace platform {

// Switches standard output to binary mode. Returns false if the run-time
// refused.
bool use_binary_stdout();

}  // namespace platform
