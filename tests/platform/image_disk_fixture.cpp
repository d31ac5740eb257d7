#include "image_disk_fixture.h"

#include <fstream>
#include <sstream>

#include <unistd.h>

#include "platform/aspi_backend.h"
#include "platform/image/image_backend.h"

namespace image_test {

PostRecord posted;

TempImage::TempImage(std::uint64_t sectors, std::size_t extra_bytes) {
  static int serial = 0;
  path_ = (std::filesystem::temp_directory_path() /
           ("tessaly-image-" + std::to_string(getpid()) + "-" + std::to_string(++serial) + ".img"))
              .string();
  std::ofstream file(path_, std::ios::binary);
  std::vector<char> data(512);
  for (std::uint64_t s = 0; s < sectors; ++s) {
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(pattern(s, i));
    file.write(data.data(), static_cast<std::streamsize>(data.size()));
  }
  file.write(data.data(), static_cast<std::streamsize>(extra_bytes));
}

TempImage::~TempImage() {
  std::error_code ignored;
  std::filesystem::remove(path_, ignored);
}

std::vector<std::uint8_t> TempImage::sector(std::uint64_t number) const {
  std::ifstream file(path_, std::ios::binary);
  file.seekg(static_cast<std::streamoff>(number * 512));
  std::vector<std::uint8_t> data(512);
  file.read(reinterpret_cast<char*>(data.data()), 512);
  return data;
}

void record_post(SRB_ExecSCSICmd* srb) {
  posted.thread = std::this_thread::get_id();
  posted.status = srb->SRB_Status;
  posted.calls.fetch_add(1);  // last: the test waits on it
}

void reset_posted() {
  posted.calls = 0;
  posted.status = 0;
  posted.thread = std::thread::id();
}

SRB_ExecSCSICmd make_block(std::uint8_t ha, std::uint8_t target, std::uint8_t flags, std::uint8_t* buffer,
                           std::uint32_t length) {
  SRB_ExecSCSICmd srb{};
  srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
  srb.SRB_HaId = ha;
  srb.SRB_Flags = flags;
  srb.SRB_Target = target;
  srb.SRB_BufLen = length;
  srb.SRB_BufPointer = buffer;
  srb.SRB_SenseLen = SENSE_LEN;
  srb.SRB_CDBLen = 10;
  srb.SRB_PostProc = reinterpret_cast<void*>(&record_post);
  return srb;
}

SRB_ExecSCSICmd inquiry_block(std::uint8_t ha, std::uint8_t target, std::uint8_t* buffer) {
  SRB_ExecSCSICmd srb = make_block(ha, target, SRB_DIR_IN | SRB_POSTING, buffer, 64);
  srb.SRB_CDBLen = 6;
  srb.CDBByte[0] = 0x12;
  srb.CDBByte[4] = 64;
  return srb;
}

SRB_ExecSCSICmd capacity_block(std::uint8_t ha, std::uint8_t target, std::uint8_t* buffer) {
  SRB_ExecSCSICmd srb = make_block(ha, target, SRB_DIR_IN | SRB_POSTING, buffer, 64);
  srb.CDBByte[0] = 0x25;
  return srb;
}

SRB_ExecSCSICmd transfer_block(std::uint8_t opcode, std::uint8_t ha, std::uint8_t target, std::uint32_t lba,
                               std::uint16_t count, std::uint8_t* buffer, std::uint32_t length) {
  const std::uint8_t direction = opcode == 0x2A ? SRB_DIR_OUT : SRB_DIR_IN;
  SRB_ExecSCSICmd srb = make_block(ha, target, direction | SRB_POSTING, buffer, length);
  srb.CDBByte[0] = opcode;
  srb.CDBByte[2] = static_cast<std::uint8_t>(lba >> 24);
  srb.CDBByte[3] = static_cast<std::uint8_t>(lba >> 16);
  srb.CDBByte[4] = static_cast<std::uint8_t>(lba >> 8);
  srb.CDBByte[5] = static_cast<std::uint8_t>(lba);
  srb.CDBByte[7] = static_cast<std::uint8_t>(count >> 8);
  srb.CDBByte[8] = static_cast<std::uint8_t>(count);
  return srb;
}

void install_images(const std::string& settings, std::string* errors) {
  std::ostringstream sink;
  platform::install_aspi_backend(platform::make_image_backend(settings, sink));
  if (errors) *errors = sink.str();
}

}  // namespace image_test
