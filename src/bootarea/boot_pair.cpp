// The FAT32 boot sector and FSInfo sector of the volume, and their copies.
// Slots 0 (primary) and 6 (the standard backup) are signed with 0x55 0xAA;
// slots 3 and 9 carry the pair checksum in the FSInfo sector's last bytes.
// Every sector is addressed as volume_start + slot, and a volume start taken
// from a partition entry can be anything: each pair is checked to lie inside
// the image before it is read or written.
#include "bootarea/boot_pair.h"

#include <cstring>

#include "bootarea/bpb_fields.h"
#include "bootarea/checksum.h"
#include "bootarea/little_endian.h"

namespace {

constexpr int SECTOR_BYTES = BOOT_AREA_SECTOR_SIZE;

using bpb::FAT_SIZE_16;
using bpb::FAT_SIZE_32;
using bpb::FILE_SYSTEM_TYPE_32;
using bpb::ROOT_ENTRY_COUNT;
using bpb::SECTORS_PER_CLUSTER;
constexpr char FAT32_TYPE[] = {'F', 'A', 'T', '3', '2'};  // bytes 87-89 are not examined

// FSInfo field.
constexpr int FSINFO_FREE_COUNT = 488;
constexpr std::uint32_t FREE_COUNT_UNKNOWN = 0xFFFFFFFF;

constexpr int MIN_SECTORS_PER_CLUSTER = 4;

bool known_slot(int slot) {
  return slot == PRIMARY_PAIR_SLOT || slot == COPY_PAIR_A_SLOT ||
         slot == SIGNED_COPY_PAIR_SLOT || slot == COPY_PAIR_B_SLOT;
}

bool signed_slot(int slot) {
  return slot == PRIMARY_PAIR_SLOT || slot == SIGNED_COPY_PAIR_SLOT;
}

// Widened so that a volume start near the 32-bit limit cannot wrap.
std::int64_t pair_boot_sector(int slot) {
  return static_cast<std::int64_t>(volume_geometry.volume_start) + slot;
}

bool pair_in_image(int slot) {
  std::int64_t boot = pair_boot_sector(slot);
  return image_holds_sector(boot) && image_holds_sector(boot + 1);
}

// The four pairs span sectors V to V+10. A volume start below 0 or above 84
// puts some of them outside the image; such a volume is not judged at all,
// so that no copy can claim to restore a primary pair that cannot be written.
bool volume_in_image() {
  return pair_in_image(PRIMARY_PAIR_SLOT) && pair_in_image(COPY_PAIR_B_SLOT);
}

// The marks of a copy: signatures on a signed slot, the pair checksum on a
// checksummed one.
int check_pair_marks(int slot) {
  if (signed_slot(slot)) {
    if (!has_boot_signature(work_sector)) {
      return PAIR_BOOT_UNSIGNED;
    }
    if (!has_boot_signature(fsinfo_work_sector)) {
      return PAIR_FSINFO_UNSIGNED;
    }
    return PAIR_VALID;
  }
  if (!checksum_holds(pair_checksum(work_sector, fsinfo_work_sector), fsinfo_work_sector)) {
    return PAIR_CHECKSUM_BAD;
  }
  return PAIR_VALID;
}

// The FAT32 tests on the boot sector: type text, no FAT16 fields, and
// clusters of at least 4 sectors.
int check_fat32_fields(const std::uint8_t* boot) {
  if (std::memcmp(boot + FILE_SYSTEM_TYPE_32, FAT32_TYPE, sizeof FAT32_TYPE) != 0) {
    return PAIR_NOT_FAT32;
  }
  if (read_le16(boot + ROOT_ENTRY_COUNT) != 0 || read_le16(boot + FAT_SIZE_16) != 0) {
    return PAIR_FAT16_FIELDS;
  }
  if (boot[SECTORS_PER_CLUSTER] < MIN_SECTORS_PER_CLUSTER) {
    return PAIR_CLUSTER_TOO_SMALL;
  }
  return PAIR_VALID;
}

// Rewrites the checksummed copy at `slot` unless its sum and stored
// checksum both equal `sum`, the checksum of the working pair.
void refresh_copy_pair(BootAreaImage& image, int slot, std::uint16_t sum) {
  if (!pair_in_image(slot)) {
    return;
  }
  int boot = static_cast<int>(pair_boot_sector(slot));
  std::uint8_t* copy_boot = image.sector(boot);
  std::uint8_t* copy_fsinfo = image.sector(boot + 1);
  if (pair_checksum(copy_boot, copy_fsinfo).sum == sum && stored_checksum(copy_fsinfo) == sum) {
    return;
  }
  std::memcpy(copy_boot, work_sector, SECTOR_BYTES);
  std::memcpy(copy_fsinfo, fsinfo_work_sector, SECTOR_BYTES);
}

}  // namespace

int boot_check_pair(const BootAreaImage& image, int slot) {
  if (!known_slot(slot)) {
    return PAIR_NOT_A_SLOT;
  }
  if (!volume_in_image()) {
    std::memset(work_sector, 0, SECTOR_BYTES);
    std::memset(fsinfo_work_sector, 0, SECTOR_BYTES);
    return PAIR_OUTSIDE_IMAGE;
  }
  int boot = static_cast<int>(pair_boot_sector(slot));
  std::memcpy(work_sector, image.sector(boot), SECTOR_BYTES);
  std::memcpy(fsinfo_work_sector, image.sector(boot + 1), SECTOR_BYTES);
  int marks = check_pair_marks(slot);
  if (marks != PAIR_VALID) {
    return marks;
  }
  return check_fat32_fields(work_sector);
}

// The copy pairs are compared by sums, as the MBR copies are. The signed
// copy at slot 6 is never rewritten: it only serves as a source.
void refresh_boot_copies(BootAreaImage& image) {
  if (!volume_in_image()) {
    return;
  }
  std::uint16_t sum = pair_checksum(work_sector, fsinfo_work_sector).sum;
  store_checksum(fsinfo_work_sector, sum);
  refresh_copy_pair(image, COPY_PAIR_A_SLOT, sum);
  refresh_copy_pair(image, COPY_PAIR_B_SLOT, sum);
}

// The copy's checksum, if it had one, gives way to the signature. The copy
// pairs stay as they are until a later run refreshes them from the primary.
void restore_boot_pair(BootAreaImage& image) {
  if (!volume_in_image()) {
    return;
  }
  int boot = static_cast<int>(pair_boot_sector(PRIMARY_PAIR_SLOT));
  set_boot_signature(work_sector);
  set_boot_signature(fsinfo_work_sector);
  std::memcpy(image.sector(boot), work_sector, SECTOR_BYTES);
  std::memcpy(image.sector(boot + 1), fsinfo_work_sector, SECTOR_BYTES);
}

// The free cluster count no longer fits a FAT of another size, so it is
// marked unknown for the file system to recount. The copy pairs are left
// stale on purpose: the next run's refresh brings them in line.
void set_fat_size(BootAreaImage& image, std::int32_t fat_size) {
  if (!pair_in_image(PRIMARY_PAIR_SLOT)) {
    return;
  }
  int boot = static_cast<int>(pair_boot_sector(PRIMARY_PAIR_SLOT));
  write_le32(image.sector(boot) + FAT_SIZE_32, static_cast<std::uint32_t>(fat_size));
  write_le32(image.sector(boot + 1) + FSINFO_FREE_COUNT, FREE_COUNT_UNKNOWN);
}
