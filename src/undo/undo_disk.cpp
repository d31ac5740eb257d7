#include "undo/undo_disk.h"

#include <cstring>
#include <vector>

#include "platform/disk_session.h"
#include "scsi/aspi_requests.h"
#include "scsi/completion_state.h"
#include "scsi/drive_discovery.h"

namespace {

constexpr int TARGETS_PER_ADAPTER = 8;

struct Candidate {
  UndoDisk place;
  std::uint32_t capacity = 0;
};

// The model text as the journal keeps it: the INQUIRY bytes, blank padded.
std::array<char, JOURNAL_MODEL_LENGTH> padded_model(const char* model) {
  std::array<char, JOURNAL_MODEL_LENGTH> text;
  text.fill(' ');
  std::memcpy(text.data(), model, std::strlen(model));
  return text;
}

std::string where(const UndoDisk& disk) {
  return "host adapter " + std::to_string(disk.host_adapter) + " target " + std::to_string(disk.target_id);
}

// The disks answering with the journal's model, with their capacity.
std::vector<Candidate> disks_of_model(const Journal& journal, int adapter_count) {
  std::vector<Candidate> found;
  for (int ha = 0; ha < adapter_count; ++ha) {
    for (int id = 0; id < TARGETS_PER_ADAPTER; ++id) {
      completion_state.inquiry_host_adapter = -1;
      aspi_inquiry(static_cast<std::uint8_t>(ha), static_cast<std::uint8_t>(id));
      if (completion_state.inquiry_host_adapter == -1) continue;
      if (padded_model(completion_state.inquiry_model) != journal.model) continue;
      Candidate candidate{{static_cast<std::uint8_t>(ha), static_cast<std::uint8_t>(id)}, 0};
      aspi_read_capacity(candidate.place.host_adapter, candidate.place.target_id);
      if (last_request_succeeded()) candidate.capacity = completion_state.capacity;
      found.push_back(candidate);
    }
  }
  return found;
}

// The candidates behind the ASPI layer, else behind its next one (on
// Windows: the pass-through behind a DLL that shows no such disk).
std::vector<Candidate> candidates(const Journal& journal, int adapter_count) {
  completion_state.quiet = true;
  std::vector<Candidate> found = disks_of_model(journal, adapter_count);
  if (found.empty() && platform::fall_back_to_next_aspi_layer()) {
    const AspiSupport next = check_aspi_support();
    if (next.present) found = disks_of_model(journal, next.adapter_count);
  }
  completion_state.quiet = false;
  return found;
}

}  // namespace

std::string find_journal_disk(const Journal& journal, UndoDisk& disk) {
  const AspiSupport support = find_aspi_support();
  if (!support.present) return "no ASPI layer answers, so no disk can be reached";
  const std::vector<Candidate> found = candidates(journal, support.adapter_count);
  // Appended piece by piece: GCC 12 at -O2 misjudges "text" + std::string
  // as an overlapping copy (-Wrestrict).
  std::string wanted = "'";
  wanted += journal_model_text(journal);
  wanted += "' of " + std::to_string(journal.capacity) + " sectors";
  std::vector<UndoDisk> matching;
  std::string others;
  for (const Candidate& candidate : found) {
    if (candidate.capacity == journal.capacity) {
      matching.push_back(candidate.place);
    } else {
      others += "; " + where(candidate.place) + " has that model but " + std::to_string(candidate.capacity) + " sectors";
    }
  }
  if (matching.empty()) return "no disk " + wanted + " answers" + others;
  if (matching.size() > 1) {
    std::string places;
    for (const UndoDisk& place : matching) places += (places.empty() ? "" : ", ") + where(place);
    return std::to_string(matching.size()) + " disks " + wanted + " answer (" + places +
           "): attach only the one the journal was made on";
  }
  disk = matching.front();
  // Before its sectors are compared: on Windows its volumes are locked now.
  const std::string model(journal.model.begin(), journal.model.end());
  platform::claim_aspi_target(disk.host_adapter, disk.target_id, model.c_str());
  return {};
}

bool read_undo_sector(const UndoDisk& disk, std::uint32_t sector, std::uint8_t* buffer) {
  completion_state.quiet = true;
  aspi_read_sectors(disk.host_adapter, disk.target_id, buffer, sector, 1);
  completion_state.quiet = false;
  return last_request_succeeded();
}

bool write_undo_sector(const UndoDisk& disk, std::uint32_t sector, const std::uint8_t* buffer) {
  completion_state.quiet = true;
  aspi_write_sectors(disk.host_adapter, disk.target_id, buffer, sector, 1);
  completion_state.quiet = false;
  return last_request_succeeded();
}
