#include "fat/progress_stars.h"

#include <cstdio>

constexpr std::int64_t STARS_PER_ROW = 60;

StarProgress start_star_progress(std::int64_t span) {
  StarProgress progress;
  progress.step = span / STARS_PER_ROW;
  if (progress.step < 1) progress.step = 1;
  return progress;
}

void advance_star_progress(StarProgress& progress, std::int64_t position) {
  if (position / progress.step > progress.printed) {
    std::putchar('*');
    ++progress.printed;
  }
}
