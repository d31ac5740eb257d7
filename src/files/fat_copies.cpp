#include "files/fat_copies.h"

#include <cstring>

#include "bootarea/little_endian.h"
#include "fat/sector_prints.h"
#include "fat/sector_transfer.h"

namespace {

std::uint8_t* sector_in(std::vector<std::uint8_t>& bytes, std::int64_t index) {
  return bytes.data() + index * FILE_SECTOR_SIZE;
}

// The second FAT's sector `index`, kept when it differs from the first's
// (or the first could not be read).
void read_second(FatCopies& copies, std::int64_t index, std::uint8_t* buffer) {
  ++copies.sectors_read;
  if (!read_disk_sector_quietly(copies.volume.second_fat + index, buffer)) return;
  const bool first_unreadable = copies.first_unreadable[static_cast<std::size_t>(index)];
  if (!first_unreadable && std::memcmp(buffer, sector_in(copies.first, index), FILE_SECTOR_SIZE) == 0) return;
  copies.second_at[static_cast<std::size_t>(index)] =
      static_cast<std::int32_t>(copies.second.size() / FILE_SECTOR_SIZE);
  copies.second.insert(copies.second.end(), buffer, buffer + FILE_SECTOR_SIZE);
  copies.differing.push_back(static_cast<std::int32_t>(index));
}

}  // namespace

void read_fat_copies(const FileVolume& volume, FatCopies& copies) {
  copies = FatCopies{};
  copies.volume = volume;
  const std::size_t size = static_cast<std::size_t>(volume.fat_size);
  copies.first.resize(size * FILE_SECTOR_SIZE);
  copies.first_unreadable.assign(size, false);
  copies.second_at.assign(size, -1);
  for (std::size_t i = 0; i < size && !disk_transfers.drive_gone; ++i) {
    ++copies.sectors_read;
    if (!read_disk_sector_quietly(volume.first_fat + static_cast<std::int64_t>(i), sector_in(copies.first, i))) {
      copies.first_unreadable[i] = true;
    }
  }
  const std::vector<bool> may_differ =
      plan_fat_copy(static_cast<std::int32_t>(volume.first_fat), static_cast<std::int32_t>(volume.second_fat));
  std::uint8_t buffer[FILE_SECTOR_SIZE];
  for (std::size_t i = 0; i < size && !disk_transfers.drive_gone; ++i) {
    if (may_differ[i] || copies.first_unreadable[i]) read_second(copies, static_cast<std::int64_t>(i), buffer);
  }
}

FatView whole_fat(const FatCopies& copies, FatSide side) { return FatView{&copies, side, nullptr}; }

FatView chosen_fat(const FatCopies& copies, const std::vector<FatSide>& chosen) {
  return FatView{&copies, FAT_FIRST, &chosen};
}

std::uint32_t fat_entry(const FatView& view, std::uint32_t cluster) {
  const FatCopies& copies = *view.copies;
  const std::uint32_t sector = fat_sector_of(cluster);
  const std::uint32_t offset = (cluster % FAT_ENTRIES_PER_SECTOR) * 4;
  const std::int32_t second_at = copies.second_at[sector];
  if (view.side_of(sector) == FAT_SECOND && second_at >= 0) {
    return read_le32(copies.second.data() + std::size_t(second_at) * FILE_SECTOR_SIZE + offset) & 0x0FFFFFFF;
  }
  if (copies.first_unreadable[sector]) return ENTRY_UNREADABLE;
  return read_le32(copies.first.data() + std::size_t(sector) * FILE_SECTOR_SIZE + offset) & 0x0FFFFFFF;
}
