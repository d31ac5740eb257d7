// Who finishes a request once its block has been handed to the ASPI layer:
// the posting routine, or the requester when it stops waiting. Exactly one of
// the two wins, through one process-wide word that names the request being
// waited for; each side claims the request by swapping that word from the
// block's address to none. The loser keeps its hands off the block.
//
// A request the requester gives up on (never posted in time, or refused
// without a post) is abandoned: its outcome no longer reaches anyone, but its
// block and data buffer stay allocated, since the layer may still write into
// them and post them. The bookkeeping for that lives in the spare bytes of
// the 256-byte block behind the published SRB_ExecSCSICmd, which no layer
// reads; the published fields are never touched.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/wnaspi32.h"

// Size of every request block; the published block occupies its start.
constexpr std::size_t REQUEST_BLOCK_SIZE = 256;

// Makes `srb` the request being waited for, and notes `owned_data` (the
// request's own data buffer, `data_bytes` long) as belonging to the block.
// Called just before the block is handed to SendASPI32Command.
void begin_request_handshake(SRB_ExecSCSICmd* srb, void* owned_data, std::size_t data_bytes);

// For the posting routine: true when `srb` is the request being waited for,
// which the caller then finishes. False when it was abandoned: it is marked
// as posted, and the caller must not touch it again.
bool claim_posted_request(SRB_ExecSCSICmd* srb);

// For the requester whose wait has run out: true when the posting routine had
// not claimed `srb`; the block and its data buffer are kept until its post
// arrives. False when the posting routine is finishing the request at this
// moment.
bool abandon_request(SRB_ExecSCSICmd* srb);

// Gives back the memory of a request that is over: its data buffer, then
// the block (request_memory.h). For whoever finished it.
void release_request(SRB_ExecSCSICmd* srb);

// Frees every abandoned request whose post has arrived. Requester only.
void release_posted_abandoned_requests();
