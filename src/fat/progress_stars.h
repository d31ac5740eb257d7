// The row of "*" marks that long sector loops print: one star each time the
// position divided by the step passes the number of stars already printed,
// at most one per sector.
#pragma once

#include <cstdint>

struct StarProgress {
  std::int64_t step = 1;
  std::int64_t printed = 0;
  // The position at which position / step first exceeds `printed`: the
  // test without a division per sector.
  std::int64_t next_star_at = 1;
};

// The step is the span divided by 60. A span under 60 would give a step of 0;
// such short loops use a step of 1 instead: one star per sector once the
// position is 1 or more, so the test never divides by zero and never prints
// more than the span.
StarProgress start_star_progress(std::int64_t span);

// Prints a star when position / step exceeds the stars printed so far.
void advance_star_progress(StarProgress& progress, std::int64_t position);
