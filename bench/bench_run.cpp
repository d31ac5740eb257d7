// tessaly-bench: times whole runs of tessaly on a sample image of the
// player's disk (11,695,320 sectors unless --capacity says otherwise) whose
// first FAT differs from the second, answering OK to every box, and counts
// what crosses the ASPI seam.
//
//   tessaly-bench [--image PATH] [--capacity N] [--keep] [--async]
//                 [--no-readahead] [--check-only | --repair-only]
//
// The image is written by the sample disk maker's code, served by the image
// backend, and wrapped by a counting backend, beneath the read-ahead cache
// (unless --no-readahead), so that the counts are the commands that reach
// the disk. Run 1 repairs the disk; run 2 checks the repaired disk and must
// find it sound. --check-only makes no image: it checks the one at --image
// once and leaves it in place. --repair-only repairs the one at --image
// once, answering OK, and also gives the figures as they stood when the
// first confirmation box came (the check, and on a disk whose FATs differ
// the reading of its folders). The repair's undo journal goes to a folder
// beside the image (IMAGE.journals, removed afterwards unless --keep), and
// its size is printed with the figures.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "platform/aspi_backend.h"
#include "platform/common/scsi_commands.h"
#include "platform/console_hooks.h"
#include "platform/image/image_backend.h"
#include "platform/readahead/read_ahead_backend.h"
#include "platform/win32_api.h"
#include "run/startup.h"
#include "sample_disk.h"

namespace {

struct RequestCounts {
  std::uint64_t inquiries = 0;
  std::uint64_t capacity_queries = 0;
  std::uint64_t reads = 0;
  std::uint64_t writes = 0;
  std::uint64_t bytes_read = 0;
  std::uint64_t bytes_written = 0;
  std::uint64_t total() const { return inquiries + capacity_queries + reads + writes; }
};

// Counts each request before handing it on: once handed on, the block may
// already have been completed and released by the posting routine.
class CountingBackend : public platform::AspiBackend {
 public:
  CountingBackend(std::unique_ptr<platform::AspiBackend> inner, RequestCounts& counts)
      : inner_(std::move(inner)), counts_(counts) {}

  std::uint32_t support_info() override { return inner_->support_info(); }
  std::uint32_t max_transfer_sectors(int host_adapter, int target_id) override {
    return inner_->max_transfer_sectors(host_adapter, target_id);
  }

  std::uint32_t send(SRB_ExecSCSICmd& srb) override {
    switch (srb.CDBByte[platform::CDB_OPCODE]) {
      case platform::OP_INQUIRY: ++counts_.inquiries; break;
      case platform::OP_READ_CAPACITY_10: ++counts_.capacity_queries; break;
      case platform::OP_READ_10: ++counts_.reads, counts_.bytes_read += srb.SRB_BufLen; break;
      case platform::OP_WRITE_10: ++counts_.writes, counts_.bytes_written += srb.SRB_BufLen; break;
      default: break;
    }
    return inner_->send(srb);
  }

 private:
  std::unique_ptr<platform::AspiBackend> inner_;
  RequestCounts& counts_;
};

struct Options {
  std::string image = "tessaly-bench.img";
  std::uint32_t capacity = 11'695'320;
  bool keep = false;
  bool async = false;
  bool readahead = true;
  bool check_only = false;
  bool repair_only = false;
};

bool parse_options(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--image" && i + 1 < argc) options.image = argv[++i];
    else if (arg == "--capacity" && i + 1 < argc) options.capacity = static_cast<std::uint32_t>(std::atol(argv[++i]));
    else if (arg == "--keep") options.keep = true;
    else if (arg == "--async") options.async = true;
    else if (arg == "--no-readahead") options.readahead = false;
    else if (arg == "--check-only") options.check_only = true;
    else if (arg == "--repair-only") options.repair_only = true;
    else return false;
  }
  return true;
}

bool make_image(const Options& options, std::uint32_t& second_fat, std::uint32_t& fat_size) {
  mkdisk::DiskOptions disk_options;
  disk_options.capacity = options.capacity;
  mkdisk::SampleDisk disk = mkdisk::build_sample_disk(disk_options);
  mkdisk::apply_damage(disk, "fat-differ");
  second_fat = disk.second_fat;
  fat_size = disk.fat_size;
  return mkdisk::write_image(disk, options.image);
}

struct RunFigures {
  double seconds = 0;
  RequestCounts counts;
  std::uint64_t sleeps = 0;
  int exit_code = 0;
  // As they stood when the first confirmation box came.
  double seconds_at_box = 0;
  RequestCounts counts_at_box;
  bool box_seen = false;
};

// Answers every OK/Cancel box with `answer` (a box with OK alone with OK),
// noting the figures at the first OK/Cancel box.
void answer_boxes(RunFigures& figures, const std::chrono::steady_clock::time_point& start, int answer) {
  platform::set_message_box_handler([&figures, &start, answer](const char*, const char*, unsigned style) {
    if ((style & MB_OKCANCEL) == 0) return IDOK;
    if (!figures.box_seen) {
      figures.box_seen = true;
      figures.counts_at_box = figures.counts;
      figures.seconds_at_box = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    return answer;
  });
}

RunFigures timed_run(const Options& options, int answer_to_confirmations) {
  RunFigures figures;
  const std::string disks = options.image + (options.async ? ",async" : "");
  std::unique_ptr<platform::AspiBackend> backend =
      std::make_unique<CountingBackend>(platform::make_image_backend(disks, std::cerr), figures.counts);
  if (options.readahead) backend = platform::make_read_ahead_backend(std::move(backend));
  platform::install_aspi_backend(std::move(backend));
  const std::uint64_t sleeps_before = platform::sleep_call_count();
  const char* const argv[] = {"tessaly", nullptr};
  const auto start = std::chrono::steady_clock::now();
  answer_boxes(figures, start, answer_to_confirmations);
  figures.exit_code = tessaly_main(1, argv);
  std::fflush(stdout);
  figures.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  figures.sleeps = platform::sleep_call_count() - sleeps_before;
  platform::install_aspi_backend(nullptr);
  platform::set_message_box_handler(nullptr);
  return figures;
}

bool fats_equal(const std::string& path, std::uint32_t second_fat, std::uint32_t fat_size) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  std::vector<unsigned char> a(512), b(512);
  bool equal = true;
  for (std::uint32_t s = 0; equal && s < fat_size; ++s) {
    std::fseek(f, static_cast<long>((95ull + s) * 512), SEEK_SET);
    equal = std::fread(a.data(), 1, 512, f) == 512;
    std::fseek(f, static_cast<long>((static_cast<std::uint64_t>(second_fat) + s) * 512), SEEK_SET);
    equal = equal && std::fread(b.data(), 1, 512, f) == 512 && a == b;
  }
  std::fclose(f);
  return equal;
}

void print_counts(const RequestCounts& c) {
  std::printf("  ASPI requests      %llu (INQUIRY %llu, READ CAPACITY %llu, READ(10) %llu, WRITE(10) %llu)\n",
              static_cast<unsigned long long>(c.total()), static_cast<unsigned long long>(c.inquiries),
              static_cast<unsigned long long>(c.capacity_queries), static_cast<unsigned long long>(c.reads),
              static_cast<unsigned long long>(c.writes));
  std::printf("  bytes read         %llu\n", static_cast<unsigned long long>(c.bytes_read));
  std::printf("  bytes written      %llu\n", static_cast<unsigned long long>(c.bytes_written));
}

void print_figures(const char* title, const RunFigures& r) {
  const RequestCounts& c = r.counts;
  std::printf("\n%s\n", title);
  std::printf("  wall time          %.3f s\n", r.seconds);
  print_counts(c);
  std::printf("  time per request   %.2f us\n", c.total() ? r.seconds * 1e6 / static_cast<double>(c.total()) : 0.0);
  std::printf("  Sleep calls        %llu\n", static_cast<unsigned long long>(r.sleeps));
  std::printf("  exit code          %d\n", r.exit_code);
}

// The bytes of every journal in `folder`.
std::uintmax_t journal_bytes(const std::string& folder) {
  std::uintmax_t bytes = 0;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) bytes += entry.file_size(error);
  return bytes;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parse_options(argc, argv, options)) {
    std::fprintf(stderr,
                 "usage: tessaly-bench [--image PATH] [--capacity N] [--keep] [--async] [--no-readahead] "
                 "[--check-only | --repair-only]\n");
    return 2;
  }
  const char* cache = options.readahead ? "read-ahead on" : "read-ahead off";
  if (options.check_only) {
    const RunFigures check = timed_run(options, IDCANCEL);
    std::printf("\n==== tessaly-bench: %s, %s ====\n", options.image.c_str(), cache);
    print_figures("check only (every confirmation cancelled)", check);
    return check.exit_code == 0 ? 0 : 1;
  }
  const std::string journals = options.image + ".journals";
  std::filesystem::remove_all(journals);
  setenv("TESSALY_UNDO_DIR", journals.c_str(), 1);
  if (options.repair_only) {
    const RunFigures repair = timed_run(options, IDOK);
    std::printf("\n==== tessaly-bench: %s, %s ====\n", options.image.c_str(), cache);
    print_figures("check and repair (OK, OK)", repair);
    std::printf("  undo journal       %ju bytes\n", journal_bytes(journals));
    if (repair.box_seen) {
      std::printf("\nat the first confirmation box\n");
      std::printf("  wall time          %.3f s\n", repair.seconds_at_box);
      print_counts(repair.counts_at_box);
    }
    if (!options.keep) std::filesystem::remove_all(journals);
    return repair.exit_code == 0 ? 0 : 1;
  }
  std::uint32_t second_fat = 0, fat_size = 0;
  if (!make_image(options, second_fat, fat_size)) return 1;
  const RunFigures repair = timed_run(options, IDOK);
  const bool repaired = fats_equal(options.image, second_fat, fat_size);
  const RunFigures check = timed_run(options, IDOK);

  std::printf("\n==== tessaly-bench: %u sectors, FAT size %u, FAT2 at %u%s, %s ====\n", options.capacity,
              fat_size, second_fat, options.async ? ", async completion" : "", cache);
  print_figures("run 1: check and repair (FAT1 != FAT2, OK, OK)", repair);
  std::printf("  FAT1 equals FAT2 afterwards: %s\n", repaired ? "yes" : "NO");
  std::printf("  undo journal       %ju bytes\n", journal_bytes(journals));
  print_figures("run 2: check of the repaired disk", check);
  if (!options.keep) {
    std::filesystem::remove(options.image);
    std::filesystem::remove_all(journals);
  }
  return repaired ? 0 : 1;
}
