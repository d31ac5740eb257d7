// Finding the player's disk: the ASPI support probe, the INQUIRY scan of every
// adapter and target id, and the capacity query of the selected drive.
#pragma once

#include <cstdint>

#include "scsi/completion_state.h"

struct TargetDrive {
  std::int32_t host_adapter = -1;  // -1: no drive selected
  std::int32_t target_id = -1;
  std::uint32_t capacity_sectors = 0;
  // INQUIRY bytes 8-31 (vendor, product) as the selected drive answered.
  char model[INQUIRY_MODEL_LENGTH + 1] = {};
};

// The selected drive, one for the whole run. Every READ(10) and WRITE(10)
// after discovery goes to its adapter and target id.
extern TargetDrive target_drive;

struct AspiSupport {
  bool present = false;
  int adapter_count = 0;  // 0-255, meaningful when present
};

// The model prefixes of the player's disks, compared in this order.
constexpr int SUPPORTED_MODEL_PREFIX_LENGTH = 17;
extern const char* const SUPPORTED_DRIVE_MODELS[2];

AspiSupport check_aspi_support();

// check_aspi_support, and when the layer shows no ASPI, once more behind the
// layer's next one (on Windows: the SCSI pass-through behind a WNASPI32.DLL).
AspiSupport find_aspi_support();

// Probes targets 0-7 of every adapter, announces each supported drive and
// selects the last one in scan order; when more than one answers, a line on
// standard error names the one selected. host_adapter stays -1 when none answers.
TargetDrive& select_target_drive(int adapter_count);

// select_target_drive, and when no supported drive answers, once more
// behind the layer's next one (a DLL that serves only CD and DVD drives must
// not hide the player's disk).
TargetDrive& find_target_drive(int adapter_count);

// Tells the layers beneath that the run reads, and may write, this disk:
// before its first READ(10), and so before anything of it is read, they keep
// the operating system away from it (on Windows: its volumes are locked).
void claim_target_drive(const TargetDrive& drive);

// Stores the drive's capacity (0 when READ CAPACITY fails) in the record.
void query_drive_capacity(TargetDrive& drive);
