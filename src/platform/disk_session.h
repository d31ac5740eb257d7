// What the run tells the layers beneath the ASPI interface beyond the SCSI
// commands themselves: which disk it is about to read and may write, when a
// repair's writes begin and end, and that the player's disk was not found
// behind the first layer. Each call reaches the installed backend
// (aspi_backend.h), or on Windows the console too.
#pragma once

namespace platform {

// The selected disk, before its first READ(10) (AspiBackend::claim_target).
void claim_aspi_target(int host_adapter, int target_id, const char* model);

// Around a repair's writes: between the two, Ctrl+C and Ctrl+Break do not
// end the program, and closing its console first flushes what was written;
// the end flushes it (AspiBackend::flush_writes).
void begin_disk_writes();
void end_disk_writes();

// Replaces the installed backend by the one it names as its next layer
// (AspiBackend::next_layer); false, nothing changed, when it names none.
bool fall_back_to_next_aspi_layer();

}  // namespace platform
