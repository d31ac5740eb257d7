// The SCSI commands an image disk understands: INQUIRY, READ CAPACITY(10),
// READ(10) and WRITE(10). Anything else is refused as a real disk would
// refuse it, with ILLEGAL REQUEST sense.
#pragma once

#include "platform/image/image_disk.h"
#include "platform/wnaspi32.h"

namespace platform {

constexpr std::uint8_t SCSI_INQUIRY = 0x12;
constexpr std::uint8_t SCSI_READ_CAPACITY_10 = 0x25;
constexpr std::uint8_t SCSI_READ_10 = 0x28;
constexpr std::uint8_t SCSI_WRITE_10 = 0x2A;

// Standard INQUIRY data as this layer returns it (36 bytes).
constexpr std::size_t INQUIRY_DATA_LENGTH = 36;

// Executes the command in `srb` against `disk` and sets the outcome; does
// not post.
void execute_image_command(ImageDisk& disk, SRB_ExecSCSICmd& srb);

}  // namespace platform
