#include "platform/image/image_disks_config.h"

#include <array>
#include <ostream>

#include "platform/common/number_text.h"

namespace platform {
namespace {

std::vector<std::string_view> split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find(separator, start);
    if (end == std::string_view::npos) {
      parts.push_back(text.substr(start));
      return parts;
    }
    parts.push_back(text.substr(start, end - start));
    start = end + 1;
  }
}

// A message that names a piece of the settings text. Built by appending:
// GCC 12 at -O2 misreads `"literal" + std::string(...)` (an insert at the
// front of a temporary) as an overlapping copy and warns with -Wrestrict.
std::string message_naming(std::string_view before, std::string_view text, std::string_view after) {
  std::string message;
  message.reserve(before.size() + text.size() + after.size());
  message.append(before).append(text).append(after);
  return message;
}

std::string parse_range(std::string_view text, SectorRange& range) {
  const std::size_t dash = text.find('-');
  std::uint64_t first = 0;
  std::uint64_t last = 0;
  const std::string_view first_text = text.substr(0, dash);
  const std::string_view last_text = dash == std::string_view::npos ? first_text : text.substr(dash + 1);
  if (!parse_unsigned(first_text, UINT32_MAX, first) || !parse_unsigned(last_text, UINT32_MAX, last)) {
    return message_naming("'", text, "' is not a sector number or range N-M (0 to 4294967295)");
  }
  if (last < first) return message_naming("range '", text, "' ends before it starts");
  range.first = static_cast<std::uint32_t>(first);
  range.last = static_cast<std::uint32_t>(last);
  return {};
}

std::string parse_range_list(std::string_view text, std::vector<SectorRange>& ranges) {
  for (std::string_view part : split(text, '+')) {
    SectorRange range;
    std::string problem = parse_range(part, range);
    if (!problem.empty()) return problem;
    ranges.push_back(range);
  }
  return {};
}

std::string parse_small_number(std::string_view name, std::string_view text, int max, int& value) {
  std::uint64_t number = 0;
  if (!parse_unsigned(text, static_cast<std::uint64_t>(max), number)) {
    return std::string(name) + " must be a number from 0 to " + std::to_string(max);
  }
  value = static_cast<int>(number);
  return {};
}

std::string parse_model(std::string_view text, std::string& model) {
  if (text.size() > IMAGE_MODEL_LENGTH) return "model is longer than 24 characters";
  model = std::string(text);
  model.resize(IMAGE_MODEL_LENGTH, ' ');
  return {};
}

// Attributes without a value.
bool* flag_named(std::string_view name, ImageDiskConfig& config) {
  if (name == "ro") return &config.read_only;
  if (name == "nocapacity") return &config.no_capacity;
  if (name == "noinquiry") return &config.no_inquiry;
  if (name == "async") return &config.async;
  return nullptr;
}

bool needs_value(std::string_view name) {
  return name == "ha" || name == "id" || name == "model" || name == "badread" || name == "badwrite" ||
         name == "lostwrite";
}

std::string parse_valued(std::string_view name, std::string_view value, ImageDiskConfig& config) {
  if (name == "ha") return parse_small_number(name, value, IMAGE_HIGHEST_ADAPTER, config.host_adapter);
  if (name == "id") return parse_small_number(name, value, IMAGE_TARGETS_PER_ADAPTER - 1, config.target_id);
  if (name == "model") return parse_model(value, config.model);
  if (name == "badread") return parse_range_list(value, config.bad_reads);
  if (name == "badwrite") return parse_range_list(value, config.bad_writes);
  if (name == "lostwrite") return parse_range_list(value, config.lost_writes);
  return message_naming("unknown attribute '", name, "'");
}

std::string parse_attribute(std::string_view attribute, ImageDiskConfig& config) {
  const std::size_t equals = attribute.find('=');
  const std::string_view name = attribute.substr(0, equals);
  bool* flag = flag_named(name, config);
  if (equals == std::string_view::npos) {
    if (flag != nullptr) {
      *flag = true;
      return {};
    }
    if (needs_value(name)) return message_naming("attribute '", name, "' needs a value");
    return message_naming("unknown attribute '", name, "'");
  }
  if (flag != nullptr) return message_naming("attribute '", name, "' takes no value");
  return parse_valued(name, attribute.substr(equals + 1), config);
}

// Places fall to entries with an explicit id first, so that an entry without
// one never takes the id a later entry asks for.
using Taken = std::vector<std::array<bool, IMAGE_TARGETS_PER_ADAPTER>>;

bool claim_explicit_id(ImageDiskConfig& config, Taken& taken, std::ostream& errors) {
  bool& slot = taken[static_cast<std::size_t>(config.host_adapter)][static_cast<std::size_t>(config.target_id)];
  if (slot) {
    report_left_out(errors, config,
           "target id " + std::to_string(config.target_id) + " on adapter " +
               std::to_string(config.host_adapter) + " is already taken");
    return false;
  }
  slot = true;
  return true;
}

bool claim_free_id(ImageDiskConfig& config, Taken& taken, std::ostream& errors) {
  auto& adapter = taken[static_cast<std::size_t>(config.host_adapter)];
  for (int id = 0; id < IMAGE_TARGETS_PER_ADAPTER; ++id) {
    if (!adapter[static_cast<std::size_t>(id)]) {
      adapter[static_cast<std::size_t>(id)] = true;
      config.target_id = id;
      return true;
    }
  }
  report_left_out(errors, config, "no free target id left on adapter " + std::to_string(config.host_adapter));
  return false;
}

std::vector<ImageDiskConfig> give_out_ids(std::vector<ImageDiskConfig> parsed, std::ostream& errors) {
  Taken taken(IMAGE_HIGHEST_ADAPTER + 1);
  std::vector<bool> keep(parsed.size(), false);
  for (std::size_t i = 0; i < parsed.size(); ++i) {
    if (parsed[i].target_id >= 0) keep[i] = claim_explicit_id(parsed[i], taken, errors);
  }
  for (std::size_t i = 0; i < parsed.size(); ++i) {
    if (parsed[i].target_id < 0) keep[i] = claim_free_id(parsed[i], taken, errors);
  }
  std::vector<ImageDiskConfig> placed;
  for (std::size_t i = 0; i < parsed.size(); ++i) {
    if (keep[i]) placed.push_back(std::move(parsed[i]));
  }
  return placed;
}

}  // namespace

std::string parse_image_disk_entry(std::string_view entry, ImageDiskConfig& config) {
  config = ImageDiskConfig{};
  config.entry = std::string(entry);
  config.model = std::string(IMAGE_DEFAULT_MODEL);
  config.model.resize(IMAGE_MODEL_LENGTH, ' ');
  const std::vector<std::string_view> parts = split(entry, ',');
  if (parts[0].empty()) return "no image path";
  config.path = std::string(parts[0]);
  for (std::size_t i = 1; i < parts.size(); ++i) {
    std::string problem = parse_attribute(parts[i], config);
    if (!problem.empty()) return problem;
  }
  return {};
}

std::vector<ImageDiskConfig> parse_image_disks(std::string_view text, std::ostream& errors) {
  std::vector<ImageDiskConfig> parsed;
  for (std::string_view entry : split(text, ';')) {
    if (entry.empty()) continue;
    ImageDiskConfig config;
    const std::string problem = parse_image_disk_entry(entry, config);
    if (problem.empty()) {
      parsed.push_back(std::move(config));
    } else {
      report_left_out(errors, config, problem);
    }
  }
  return give_out_ids(std::move(parsed), errors);
}

void report_left_out(std::ostream& errors, const ImageDiskConfig& config, const std::string& problem) {
  errors << "ASPI_DISKS: entry '" << config.entry << "' left out: " << problem << '\n';
}

bool find_sector_in_ranges(const std::vector<SectorRange>& ranges, std::uint64_t first,
                           std::uint64_t count, std::uint64_t& hit) {
  if (count == 0) return false;
  const std::uint64_t last = first + count - 1;
  bool found = false;
  for (const SectorRange& range : ranges) {
    if (range.last < first || range.first > last) continue;
    const std::uint64_t lowest = range.first > first ? range.first : first;
    if (!found || lowest < hit) hit = lowest;
    found = true;
  }
  return found;
}

}  // namespace platform
