// Judging the whole boot area in one call and repairing it in memory.
#pragma once

#include <cstdint>

#include "bootarea/boot_area_image.h"

using BootAreaStatus = std::uint16_t;

constexpr BootAreaStatus MBR_PRESENT = 0x0001;
constexpr BootAreaStatus BPB_PRESENT = 0x0002;
constexpr BootAreaStatus MBR_RESTORED = 0x0100;
constexpr BootAreaStatus BPB_RESTORED = 0x0200;
constexpr BootAreaStatus BPB_REPLACED = 0x0400;
constexpr BootAreaStatus MBR_REBUILT = 0x0800;
constexpr BootAreaStatus VOLUME_CONVERTED = 0x1000;

// Accepts, refreshes, restores or rebuilds the MBR and the boot pairs in the
// image and says what it found and changed. Never 0; leaves volume_start at
// the volume the status refers to. `capacity` (sectors) only sizes a fresh MBR.
BootAreaStatus assess_boot_area(BootAreaImage& image, std::uint32_t capacity);
