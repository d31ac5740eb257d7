// The SCSI commands an image disk understands: INQUIRY, READ CAPACITY(10),
// READ(10) and WRITE(10). Anything else is refused as a real disk would
// refuse it, with ILLEGAL REQUEST sense.
#pragma once

#include "platform/image/image_disk.h"
#include "platform/wnaspi32.h"

namespace platform {

// Standard INQUIRY data as this layer returns it (36 bytes).
constexpr std::size_t INQUIRY_DATA_LENGTH = 36;

// Executes the command in `srb` against `disk` and sets the outcome; does
// not post.
void execute_image_command(ImageDisk& disk, SRB_ExecSCSICmd& srb);

}  // namespace platform
