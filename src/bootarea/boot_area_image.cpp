// The process-wide records of the boot area: where the volume starts, and the
// two working sectors that carry a check's result to the repair after it.
#include "bootarea/boot_area_image.h"

VolumeGeometry volume_geometry;

std::uint8_t work_sector[BOOT_AREA_SECTOR_SIZE];
std::uint8_t fsinfo_work_sector[BOOT_AREA_SECTOR_SIZE];
