// The completion wait sleeps 1 ms between two looks at the request's status.
// Windows rounds Sleep up to its timer tick, 15.6 ms unless a program asks
// for more: a repair's 45,000-odd requests through an ASPI layer would wait
// some twelve minutes instead of under one.
#pragma once

namespace platform {

// Raises the timer resolution to 1 ms for the rest of the run; it is lowered
// again on every way out of the program (return from main or exit()).
// Later calls do nothing.
void hold_1ms_sleep_resolution();

}  // namespace platform
