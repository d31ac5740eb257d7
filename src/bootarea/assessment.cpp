// The assessment of the whole boot area. An accepted MBR sector says where
// the volume is; a good primary refreshes its copies and a good copy restores
// the primary, for the MBR and the boot pair alike. Without a usable MBR the
// volume is looked for at sector 63, then at sector 0, and the partitioned
// layout with a fresh MBR is installed; without a usable pair at sector 63
// the templates take its place.
#include "bootarea/assessment.h"

#include <cstring>

#include "bootarea/boot_pair.h"
#include "bootarea/mbr.h"
#include "bootarea/templates.h"

namespace {

constexpr int MBR_SECTOR_COUNT = 1 + MBR_COPY_COUNT;  // sector 0 and its copies
constexpr int PAIR_SLOTS[] = {PRIMARY_PAIR_SLOT, COPY_PAIR_A_SLOT, SIGNED_COPY_PAIR_SLOT,
                              COPY_PAIR_B_SLOT};
constexpr std::int32_t UNPARTITIONED_VOLUME_START = 0;
constexpr int NOT_FOUND = -1;

// Checks sectors 0-7 in order; the first accepted one wins. Its index, or
// NOT_FOUND.
int find_accepted_mbr_sector(const BootAreaImage& image) {
  for (int i = 0; i < MBR_SECTOR_COUNT; ++i) {
    if (mbr_check_sector(image, i) == MBR_ACCEPTED) {
      return i;
    }
  }
  return NOT_FOUND;
}

// Checks the pair slots in order at the current volume start; the first
// accepted slot, or NOT_FOUND. The working sectors then hold that pair.
int find_accepted_pair(const BootAreaImage& image) {
  for (int slot : PAIR_SLOTS) {
    if (boot_check_pair(image, slot) == PAIR_VALID) {
      return slot;
    }
  }
  return NOT_FOUND;
}

void place_templates(BootAreaImage& image) {
  std::memcpy(image.sector(PARTITIONED_VOLUME_START), BOOT_SECTOR_TEMPLATE, BOOT_AREA_SECTOR_SIZE);
  std::memcpy(image.sector(PARTITIONED_VOLUME_START + 1), FSINFO_TEMPLATE, BOOT_AREA_SECTOR_SIZE);
}

// Refresh from an accepted sector 0, or restore sector 0 from a copy.
BootAreaStatus settle_mbr(BootAreaImage& image, int accepted) {
  if (accepted == 0) {
    refresh_mbr_copies(image);
    return MBR_PRESENT;
  }
  restore_mbr(image);
  return MBR_PRESENT | MBR_RESTORED;
}

// The boot pair step at the volume start the accepted MBR gave.
BootAreaStatus settle_boot_pair(BootAreaImage& image) {
  int slot = find_accepted_pair(image);
  if (slot == PRIMARY_PAIR_SLOT) {
    refresh_boot_copies(image);
    return BPB_PRESENT;
  }
  if (slot != NOT_FOUND) {
    restore_boot_pair(image);
    return BPB_PRESENT | BPB_RESTORED;
  }
  if (volume_geometry.volume_start == PARTITIONED_VOLUME_START) {
    place_templates(image);
    return BPB_PRESENT | BPB_REPLACED;
  }
  return 0;
}

// One pass with an MBR: false, with nothing changed, when no MBR sector is
// accepted.
bool assess_with_mbr(BootAreaImage& image, BootAreaStatus& status) {
  volume_geometry.mbr_found_count = 0;
  int accepted = find_accepted_mbr_sector(image);
  if (volume_geometry.mbr_found_count <= 0) {
    return false;
  }
  status |= settle_mbr(image, accepted);
  status |= settle_boot_pair(image);
  return true;
}

bool volume_found_at(const BootAreaImage& image, std::int32_t volume_start) {
  volume_geometry.volume_start = volume_start;
  return find_accepted_pair(image) != NOT_FOUND;
}

}  // namespace

// At most two passes: a pass that builds a fresh MBR is followed by one more,
// which always accepts that MBR and so ends.
BootAreaStatus assess_boot_area(BootAreaImage& image, std::uint32_t capacity) {
  BootAreaStatus status = 0;
  if (assess_with_mbr(image, status)) {
    return status;
  }
  // A volume at 63 only lacks its MBR: the rest waits for a later run, when
  // the fresh MBR is on the disk and accepted.
  if (volume_found_at(image, PARTITIONED_VOLUME_START)) {
    build_fresh_mbr(image, capacity);
    return MBR_PRESENT | BPB_PRESENT | MBR_REBUILT;
  }
  // A volume at 0 has no partition table at all. It is not moved: the new
  // layout's MBR and templates are written over its first sectors.
  if (volume_found_at(image, UNPARTITIONED_VOLUME_START)) {
    build_fresh_mbr(image, capacity);
    place_templates(image);
    status = VOLUME_CONVERTED;
  } else {
    build_fresh_mbr(image, capacity);
    status = MBR_PRESENT | MBR_REBUILT;
  }
  assess_with_mbr(image, status);
  return status;
}
