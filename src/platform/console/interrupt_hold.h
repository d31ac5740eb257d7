// Keeping the console's interruptions away from a repair's writes. Between
// hold and release, Ctrl+C and Ctrl+Break are ignored (the writes of a
// repair, and the flush behind them, run to their end), and closing the
// console window, logging off or shutting down first calls `on_close`, which
// flushes what was written, before the process is ended as usual. Outside
// Windows a repair is not held: both calls do nothing.
#pragma once

namespace platform {

void hold_console_interrupts(void (*on_close)());
void release_console_interrupts();

}  // namespace platform
