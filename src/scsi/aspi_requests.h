// The four SCSI requests of the utility, each an SRB_ExecSCSICmd sent with
// posting and waited for: the caller sees a synchronous call whose outcome is
// `completion_state.status` (SS_COMP for success) when it returns. The wait
// is bounded (see RequestWaitLimits): a request the layer refuses, or never
// posts, still returns with a failure status.
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
// buffer must hold count * 512 bytes and is never handed to the layer: the
// request moves the sectors through a buffer of its own. After a WRITE(10)
// that was given up on (never posted in time), every later WRITE(10) to that
// target fails at once with SS_ABORTED, unsent.
void aspi_read_sectors(std::uint8_t host_adapter, std::uint8_t target_id, std::uint8_t* buffer,
                       std::uint32_t first_sector, std::uint16_t count);
void aspi_write_sectors(std::uint8_t host_adapter, std::uint8_t target_id, const std::uint8_t* buffer,
                        std::uint32_t first_sector, std::uint16_t count);

// How long a request waits for the ASPI layer's post, in milliseconds.
struct RequestWaitLimits {
  // After SendASPI32Command refused the request (returned neither SS_PENDING
  // nor SS_COMP). A layer that posts refusals too does so from inside the
  // call or from its completion thread right after; 50 ms spans three ticks
  // of the default 15.6 ms Windows timer, so a posting thread woken a tick or
  // two later is still waited for. A layer that never posts a refusal costs
  // 50 ms per refused target: 350 ms for a scan of eight ids with one disk.
  // Without a post the request ends with the refusal status.
  std::int32_t refusal_grace_ms = 50;
  // After the layer accepted it. A USB disk that first has to spin up
  // answers within the 20 s that the SG_IO backend gives every command; when
  // a command outlives its limit the host aborts it and resets the USB mass
  // storage device, which can take most of another 20 s before the layer
  // posts the failure. Three times the command limit never gives up on a
  // disk that is merely slow; a player unplugged mid-run costs one minute per
  // request. Without a post the request ends with SS_ABORTED ("SRB aborted"):
  // the requester has given up on it, it did not complete with an error.
  std::int32_t post_timeout_ms = 60000;
  // After the layer returned SS_COMP: it has completed the request, and most
  // layers post it before returning. One that does not gets this long for
  // the post; then its SS_COMP is the outcome, and from then on every
  // SS_COMP is taken at once.
  std::int32_t completed_grace_ms = 50;
};

// Process-wide; the tests lower both to a few milliseconds.
extern RequestWaitLimits request_wait_limits;

// Requests given up on whose post has not arrived yet. Each keeps its block
// (and INQUIRY or READ CAPACITY buffer) until the post comes; the next
// request to finish after that frees it.
std::int32_t abandoned_request_count();

// The posting routine: called by the ASPI layer once per completed request.
// The post of a request that was given up on is absorbed: it changes nothing
// in `completion_state` and only lets the block be freed.
void aspi_post_completion(SRB_ExecSCSICmd* srb);

// One console line naming an ASPI status value.
void print_aspi_status(std::uint32_t value);
