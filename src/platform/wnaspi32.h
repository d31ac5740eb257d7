// ASPI for Win32: the request block, command codes and status values of the
// published interface, and the two entry points that WNASPI32.DLL exports by
// ordinal (1 GetASPI32SupportInfo, 2 SendASPI32Command).
//
// The layout is the published one, byte-packed. Pointers are native: four
// bytes in the 32-bit program the interface was made for, eight in a 64-bit
// build, as the 64-bit ASPI layers define the block.
#pragma once

#include <cstdint>

namespace aspi_types {
using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
}  // namespace aspi_types

// Command codes (SRB_Cmd).
constexpr std::uint8_t SC_HA_INQUIRY = 0x00;
constexpr std::uint8_t SC_GET_DEV_TYPE = 0x01;
constexpr std::uint8_t SC_EXEC_SCSI_CMD = 0x02;
constexpr std::uint8_t SC_ABORT_SRB = 0x03;
constexpr std::uint8_t SC_RESET_DEV = 0x04;

// Request flags (SRB_Flags).
constexpr std::uint8_t SRB_POSTING = 0x01;
constexpr std::uint8_t SRB_ENABLE_RESIDUAL_COUNT = 0x04;
constexpr std::uint8_t SRB_DIR_IN = 0x08;
constexpr std::uint8_t SRB_DIR_OUT = 0x10;
constexpr std::uint8_t SRB_EVENT_NOTIFY = 0x40;

// Sense bytes asked for with every request.
constexpr int SENSE_LEN = 14;

// Status values (SRB_Status, and bits 8-15 of the support word).
constexpr std::uint8_t SS_PENDING = 0x00;
constexpr std::uint8_t SS_COMP = 0x01;
constexpr std::uint8_t SS_ABORTED = 0x02;
constexpr std::uint8_t SS_ABORT_FAIL = 0x03;
constexpr std::uint8_t SS_ERR = 0x04;
constexpr std::uint8_t SS_INVALID_CMD = 0x80;
constexpr std::uint8_t SS_INVALID_HA = 0x81;
constexpr std::uint8_t SS_NO_DEVICE = 0x82;
constexpr std::uint8_t SS_INVALID_SRB = 0xE0;
constexpr std::uint8_t SS_OLD_MANAGER = 0xE1;
constexpr std::uint8_t SS_BUFFER_ALIGN = 0xE1;
constexpr std::uint8_t SS_ILLEGAL_MODE = 0xE2;
constexpr std::uint8_t SS_NO_ASPI = 0xE3;
constexpr std::uint8_t SS_FAILED_INIT = 0xE4;
constexpr std::uint8_t SS_ASPI_IS_BUSY = 0xE5;
constexpr std::uint8_t SS_BUFFER_TO_BIG = 0xE6;
constexpr std::uint8_t SS_MISMATCHED_COMPONENTS = 0xE7;
constexpr std::uint8_t SS_NO_ADAPTERS = 0xE8;
constexpr std::uint8_t SS_INSUFFICIENT_RESOURCES = 0xE9;

#pragma pack(push, 1)
struct SRB_ExecSCSICmd {
  aspi_types::BYTE SRB_Cmd;       // SC_EXEC_SCSI_CMD
  aspi_types::BYTE SRB_Status;    // completion status
  aspi_types::BYTE SRB_HaId;      // host adapter number
  aspi_types::BYTE SRB_Flags;     // SRB_DIR_* | SRB_POSTING
  aspi_types::DWORD SRB_Hdr_Rsvd;
  aspi_types::BYTE SRB_Target;    // target id
  aspi_types::BYTE SRB_Lun;       // logical unit
  aspi_types::WORD SRB_Rsvd1;
  aspi_types::DWORD SRB_BufLen;   // data length in bytes
  aspi_types::BYTE* SRB_BufPointer;
  aspi_types::BYTE SRB_SenseLen;  // sense bytes wanted
  aspi_types::BYTE SRB_CDBLen;    // 6, 10 or 12
  aspi_types::BYTE SRB_HaStat;    // host adapter status
  aspi_types::BYTE SRB_TargStat;  // SCSI status byte of the target
  void* SRB_PostProc;             // posting routine, called with the block
  aspi_types::BYTE SRB_Rsvd2[20];
  aspi_types::BYTE CDBByte[16];
  aspi_types::BYTE SenseArea[SENSE_LEN + 2];
};
#pragma pack(pop)

using LPSRB = void*;

// The posting routine's shape: the ASPI layer calls it with the completed
// request block as its only argument.
using ASPI_POSTPROC = void (*)(SRB_ExecSCSICmd*);

static_assert(sizeof(SRB_ExecSCSICmd) == 72 + 2 * sizeof(void*),
              "SRB_ExecSCSICmd must keep the published packed layout");

// Bits 0-7: host adapter count; bits 8-15: support status (SS_COMP when the
// layer is ready).
aspi_types::DWORD GetASPI32SupportInfo();

// Hands one request block to the ASPI layer. With SRB_POSTING set the layer
// calls SRB_PostProc once the request is complete, from inside this call or
// from a thread of its own. Returns SS_PENDING, SS_COMP or a refusal status.
aspi_types::DWORD SendASPI32Command(LPSRB srb);
