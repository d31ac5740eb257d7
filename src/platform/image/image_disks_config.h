// The settings of the image-disk layer: which image files stand for which
// SCSI disks, and how each one misbehaves. They come as one text,
//   ENTRY[;ENTRY...]   with   ENTRY = PATH[,ATTR...]
// and the attributes ha=N, id=N, model=TEXT, ro, badread=LIST,
// badwrite=LIST, lostwrite=LIST, nocapacity, noinquiry and async (LIST = N
// or N-M joined by "+"). Paths and models cannot hold "," or ";". Where the text comes
// from (the environment, a test) is the caller's business.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

constexpr int IMAGE_TARGETS_PER_ADAPTER = 8;
// The support word carries the adapter count in 8 bits, so 255 adapters at
// most: numbers 0 to 254.
constexpr int IMAGE_HIGHEST_ADAPTER = 254;
// Vendor (8 bytes) and product (16 bytes) identification of the INQUIRY data.
constexpr std::size_t IMAGE_MODEL_LENGTH = 24;
constexpr const char* IMAGE_DEFAULT_MODEL = "TOSHIBA MK6015MAP";

// Sectors first..last, both included.
struct SectorRange {
  std::uint32_t first = 0;
  std::uint32_t last = 0;
};

struct ImageDiskConfig {
  std::string entry;  // the entry as written, for messages
  std::string path;
  int host_adapter = 0;
  int target_id = -1;  // -1 until a free id is given out
  std::string model;   // always IMAGE_MODEL_LENGTH bytes, blank padded
  bool read_only = false;
  bool no_capacity = false;
  bool no_inquiry = false;
  bool async = false;
  std::vector<SectorRange> bad_reads;
  std::vector<SectorRange> bad_writes;
  // Writes to these sectors complete as good but are not stored, as on a
  // drive whose cache loses them: only a read from the disk tells.
  std::vector<SectorRange> lost_writes;
};

// Parses the whole setting. Every entry that is malformed, or that wants a
// place already taken, costs one line on `errors` naming the entry and is
// left out; the others come back in the order written, each with its target
// id. Empty entries (as after a final ";") are skipped silently.
std::vector<ImageDiskConfig> parse_image_disks(std::string_view text, std::ostream& errors);

// Parses one entry without giving out a target id. Returns an empty text on
// success, otherwise what is wrong with it.
std::string parse_image_disk_entry(std::string_view entry, ImageDiskConfig& config);

// The one line that tells why an entry is not served.
void report_left_out(std::ostream& errors, const ImageDiskConfig& config, const std::string& problem);

// True when any sector of first..first+count-1 lies in one of the ranges;
// `hit` then holds the lowest such sector.
bool find_sector_in_ranges(const std::vector<SectorRange>& ranges, std::uint64_t first,
                           std::uint64_t count, std::uint64_t& hit);

}  // namespace platform
