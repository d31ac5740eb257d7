#include "fat/progress_stars.h"

#include <cstdio>

constexpr std::int64_t STARS_PER_ROW = 60;

StarProgress start_star_progress(std::int64_t span) {
  StarProgress progress;
  progress.step = span / STARS_PER_ROW;
  if (progress.step < 1) progress.step = 1;
  progress.next_star_at = progress.step;
  return progress;
}

// position / step > printed holds exactly when position reaches
// (printed + 1) x step, for the positions the loops pass (never negative).
void advance_star_progress(StarProgress& progress, std::int64_t position) {
  if (position >= progress.next_star_at) {
    std::putchar('*');
    ++progress.printed;
    progress.next_star_at += progress.step;
  }
}
