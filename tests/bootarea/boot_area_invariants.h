// What must hold after any assessment, whatever the boot area held: shared
// by the property test and the fuzz target. Each check returns an empty
// string when it holds, or says what went wrong.
#pragma once

#include <bitset>
#include <cstdint>
#include <string>

#include "bootarea/assessment.h"

namespace invariants {

// One of the eleven outcomes the assessment can give.
bool is_outcome(BootAreaStatus status);

// The sectors an assessment with this outcome may change, for the volume
// start it left behind.
std::bitset<BOOT_AREA_SECTORS> allowed_changes(BootAreaStatus status, std::int32_t volume_start);

// Outcome, changed sectors, volume start and the sectors that must then hold
// a known content (templates, signatures, the fresh MBR).
std::string check_assessment(const BootAreaImage& before, const BootAreaImage& after,
                             BootAreaStatus status, std::uint32_t capacity);

// Runs the assessment on `image` and checks it; after 0x0803 also assesses
// the result again (0x0203 when the accepted pair was a copy, then 0x0003).
std::string assess_and_check(BootAreaImage& image, std::uint32_t capacity);

}  // namespace invariants
