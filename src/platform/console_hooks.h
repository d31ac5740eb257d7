// Test hooks of the console stand-ins for MessageBoxA and Sleep. Only the
// tests use them; the program itself always gets the console box.
#pragma once

#include <cstdint>
#include <functional>

namespace platform {

using MessageBoxHandler = std::function<int(const char* text, const char* caption, unsigned style)>;

// Routes MessageBoxA to `handler` instead of the console; an empty handler
// restores the console box.
void set_message_box_handler(MessageBoxHandler handler);

// How many times Sleep has been called since the process started.
std::uint64_t sleep_call_count();

}  // namespace platform
