// What the disk held before the judging, when the player cannot use it: a
// repair then replaces a whole layout, not a damaged copy of its own, and
// the user is told so before being asked.
#include <cstdio>
#include <cstring>

#include "bootarea/foreign_layout.h"
#include "run/boot_area_reading.h"
#include "undo/journal_store.h"

namespace {

constexpr int GUID_HEADER_SECTOR = 1;

// A sector read from the disk that the repair will overwrite with other
// content.
bool readable_and_replaced(const BootAreaReading& reading, const BootAreaImage& judged, int s) {
  return !reading.unreadable.test(s) &&
         std::memcmp(reading.as_read.sector(s), judged.sector(s), BOOT_AREA_SECTOR_SIZE) != 0;
}

std::string with_article(const std::string& kind) {
  const bool vowel_sound = kind.rfind("exFAT", 0) == 0 || kind.rfind("NTFS", 0) == 0;
  return (vowel_sound ? "an " : "a ") + kind;
}

}  // namespace

bool holds_guid_partition_table(const BootAreaReading& reading) {
  return !reading.unreadable.test(GUID_HEADER_SECTOR) &&
         guid_partition_header(reading.as_read.sector(GUID_HEADER_SECTOR));
}

std::string replaced_foreign_layout(const BootAreaReading& reading, const BootAreaImage& judged) {
  if (holds_guid_partition_table(reading) && readable_and_replaced(reading, judged, GUID_HEADER_SECTOR)) {
    return "a GUID partition table";
  }
  // The volume where the judging put it, where the player keeps it, or at
  // the disk's very start, where a volume without a partition table sits.
  const int places[] = {volume_geometry.volume_start, PARTITIONED_VOLUME_START, 0};
  for (int boot : places) {
    if (!image_holds_sector(boot) || !readable_and_replaced(reading, judged, boot)) continue;
    const std::string kind = foreign_volume_kind(reading.as_read.sector(boot));
    if (!kind.empty()) return with_article(kind) + " at sector " + std::to_string(boot);
  }
  return {};
}

void tell_replaced_layout(const BootAreaImage& judged) {
  const std::string layout = replaced_foreign_layout(boot_area_reading, judged);
  if (layout.empty()) return;
  const char* afterwards = journal_place().off
                               ? "its files cannot be read again afterwards (TESSALY_UNDO=off: no undo journal is kept)"
                               : "its files can then be read again only after tessaly-undo on the journal the "
                                 "repair will name";
  std::fflush(stdout);
  std::fprintf(stderr,
               "tessaly: the disk holds %s, which the player cannot use: the repair replaces it with the "
               "player's layout, and %s\n",
               layout.c_str(), afterwards);
}
