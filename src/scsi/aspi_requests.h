// The four SCSI requests of the utility, each an SRB_ExecSCSICmd sent with
// posting and waited for: the caller sees a synchronous call whose outcome is
// `completion_state.status` (SS_COMP for success) when it returns.
#pragma once

#include <cstdint>

#include "platform/wnaspi32.h"

// INQUIRY with a 64-byte allocation length. On SS_COMP the posting routine
// captures the adapter, the target and bytes 8-31 of the data (the model).
void aspi_inquiry(std::uint8_t host_adapter, std::uint8_t target_id);

// READ CAPACITY(10). On SS_COMP `completion_state.capacity` is the last
// logical block address plus 1.
void aspi_read_capacity(std::uint8_t host_adapter, std::uint8_t target_id);

// READ(10) / WRITE(10) of `count` 512-byte sectors from `first_sector`. The
// buffer stays the caller's and must hold count * 512 bytes.
void aspi_read_sectors(std::uint8_t host_adapter, std::uint8_t target_id, std::uint8_t* buffer,
                       std::uint32_t first_sector, std::uint16_t count);
void aspi_write_sectors(std::uint8_t host_adapter, std::uint8_t target_id, const std::uint8_t* buffer,
                        std::uint32_t first_sector, std::uint16_t count);

// The posting routine: called by the ASPI layer once per completed request.
void aspi_post_completion(SRB_ExecSCSICmd* srb);

// One console line naming an ASPI status value.
void print_aspi_status(std::uint32_t value);
