// The few Windows structures, control codes and error values the
// pass-through backend uses, written out from the published Windows DDK
// layouts (ntddscsi.h, ntddstor.h, ntddvol.h, winioctl.h, winerror.h). The
// backend's logic is plain C++ over these definitions, so the same code runs
// on Windows against the real calls and elsewhere against a scripted seam;
// passthrough_win32_io.cpp checks them against the Windows headers.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform::pt {

using Handle = void*;

constexpr std::uint32_t ctl_code(std::uint32_t device_type, std::uint32_t function,
                                 std::uint32_t method, std::uint32_t access) {
  return (device_type << 16) | (access << 14) | (function << 2) | method;
}

constexpr std::uint32_t WIN_METHOD_BUFFERED = 0;
constexpr std::uint32_t WIN_FILE_ANY_ACCESS = 0;
constexpr std::uint32_t WIN_FILE_READ_WRITE_ACCESS = 3;
constexpr std::uint32_t WIN_FILE_DEVICE_CONTROLLER = 0x04;
constexpr std::uint32_t WIN_FILE_DEVICE_DISK = 0x07;
constexpr std::uint32_t WIN_FILE_DEVICE_FILE_SYSTEM = 0x09;
constexpr std::uint32_t WIN_FILE_DEVICE_MASS_STORAGE = 0x2D;
constexpr std::uint32_t WIN_FILE_DEVICE_VOLUME = 0x56;

constexpr std::uint32_t WIN_IOCTL_SCSI_PASS_THROUGH_DIRECT =
    ctl_code(WIN_FILE_DEVICE_CONTROLLER, 0x405, WIN_METHOD_BUFFERED, WIN_FILE_READ_WRITE_ACCESS);
constexpr std::uint32_t WIN_IOCTL_SCSI_GET_ADDRESS =
    ctl_code(WIN_FILE_DEVICE_CONTROLLER, 0x406, WIN_METHOD_BUFFERED, WIN_FILE_ANY_ACCESS);
constexpr std::uint32_t WIN_IOCTL_STORAGE_QUERY_PROPERTY =
    ctl_code(WIN_FILE_DEVICE_MASS_STORAGE, 0x500, WIN_METHOD_BUFFERED, WIN_FILE_ANY_ACCESS);
constexpr std::uint32_t WIN_IOCTL_STORAGE_GET_DEVICE_NUMBER =
    ctl_code(WIN_FILE_DEVICE_MASS_STORAGE, 0x420, WIN_METHOD_BUFFERED, WIN_FILE_ANY_ACCESS);
constexpr std::uint32_t WIN_IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS =
    ctl_code(WIN_FILE_DEVICE_VOLUME, 0, WIN_METHOD_BUFFERED, WIN_FILE_ANY_ACCESS);
constexpr std::uint32_t WIN_IOCTL_DISK_UPDATE_PROPERTIES =
    ctl_code(WIN_FILE_DEVICE_DISK, 0x50, WIN_METHOD_BUFFERED, WIN_FILE_ANY_ACCESS);
constexpr std::uint32_t WIN_FSCTL_LOCK_VOLUME = ctl_code(WIN_FILE_DEVICE_FILE_SYSTEM, 6, WIN_METHOD_BUFFERED, WIN_FILE_ANY_ACCESS);
constexpr std::uint32_t WIN_FSCTL_DISMOUNT_VOLUME =
    ctl_code(WIN_FILE_DEVICE_FILE_SYSTEM, 8, WIN_METHOD_BUFFERED, WIN_FILE_ANY_ACCESS);

// GetLastError values the backend tells apart.
constexpr std::uint32_t WIN_ERROR_INVALID_FUNCTION = 1;
constexpr std::uint32_t WIN_ERROR_FILE_NOT_FOUND = 2;
constexpr std::uint32_t WIN_ERROR_PATH_NOT_FOUND = 3;
constexpr std::uint32_t WIN_ERROR_ACCESS_DENIED = 5;
constexpr std::uint32_t WIN_ERROR_INVALID_HANDLE = 6;
constexpr std::uint32_t WIN_ERROR_WRITE_PROTECT = 19;
constexpr std::uint32_t WIN_ERROR_NOT_READY = 21;
constexpr std::uint32_t WIN_ERROR_SHARING_VIOLATION = 32;
constexpr std::uint32_t WIN_ERROR_NOT_SUPPORTED = 50;
constexpr std::uint32_t WIN_ERROR_DEV_NOT_EXIST = 55;
constexpr std::uint32_t WIN_ERROR_INVALID_PARAMETER = 87;
constexpr std::uint32_t WIN_ERROR_SEM_TIMEOUT = 121;
constexpr std::uint32_t WIN_ERROR_MORE_DATA = 234;
constexpr std::uint32_t WIN_ERROR_NO_SUCH_DEVICE = 433;
constexpr std::uint32_t WIN_ERROR_IO_DEVICE = 1117;
constexpr std::uint32_t WIN_ERROR_DEVICE_NOT_CONNECTED = 1167;
constexpr std::uint32_t WIN_ERROR_TIMEOUT = 1460;
constexpr std::uint32_t WIN_ERROR_DEVICE_REMOVED = 1617;

// SCSI_PASS_THROUGH_DIRECT.DataIn
constexpr std::uint8_t WIN_SCSI_IOCTL_DATA_OUT = 0;
constexpr std::uint8_t WIN_SCSI_IOCTL_DATA_IN = 1;
constexpr std::uint8_t WIN_SCSI_IOCTL_DATA_UNSPECIFIED = 2;

// Natural alignment, as the DDK declares them (no packing pragma).
struct ScsiPassThroughDirect {
  std::uint16_t Length;
  std::uint8_t ScsiStatus;
  std::uint8_t PathId;
  std::uint8_t TargetId;
  std::uint8_t Lun;
  std::uint8_t CdbLength;
  std::uint8_t SenseInfoLength;
  std::uint8_t DataIn;
  std::uint32_t DataTransferLength;
  std::uint32_t TimeOutValue;
  void* DataBuffer;
  std::uint32_t SenseInfoOffset;
  std::uint8_t Cdb[16];
};

// The request as the backend hands it over: the block with its sense area
// right behind it, SenseInfoOffset pointing there.
constexpr std::size_t PASS_THROUGH_SENSE_BYTES = 32;
struct ScsiPassThroughDirectWithSense {
  ScsiPassThroughDirect sptd;
  std::uint32_t filler;  // keeps the sense area on a 4-byte boundary in both layouts
  std::uint8_t sense[PASS_THROUGH_SENSE_BYTES];
};

struct ScsiAddress {
  std::uint32_t Length;
  std::uint8_t PortNumber;
  std::uint8_t PathId;
  std::uint8_t TargetId;
  std::uint8_t Lun;
};

constexpr std::uint32_t STORAGE_ADAPTER_PROPERTY = 1;  // StorageAdapterProperty
constexpr std::uint32_t PROPERTY_STANDARD_QUERY = 0;   // PropertyStandardQuery

struct StoragePropertyQuery {
  std::uint32_t PropertyId;
  std::uint32_t QueryType;
  std::uint8_t AdditionalParameters[1];
};

struct StorageAdapterDescriptor {
  std::uint32_t Version;
  std::uint32_t Size;
  std::uint32_t MaximumTransferLength;
  std::uint32_t MaximumPhysicalPages;
  std::uint32_t AlignmentMask;
  std::uint8_t AdapterUsesPio;
  std::uint8_t AdapterScansDown;
  std::uint8_t CommandQueueing;
  std::uint8_t AcceleratedTransfer;
  std::uint8_t BusType;
  std::uint16_t BusMajorVersion;
  std::uint16_t BusMinorVersion;
  std::uint8_t SrbType;
  std::uint8_t AddressType;
};

struct StorageDeviceNumber {
  std::uint32_t DeviceType;
  std::uint32_t DeviceNumber;
  std::uint32_t PartitionNumber;
};

struct DiskExtent {
  std::uint32_t DiskNumber;
  std::int64_t StartingOffset;
  std::int64_t ExtentLength;
};

// VOLUME_DISK_EXTENTS with room for a volume spread over several disks.
constexpr std::size_t VOLUME_EXTENTS_ROOM = 8;
struct VolumeDiskExtents {
  std::uint32_t NumberOfDiskExtents;
  DiskExtent Extents[VOLUME_EXTENTS_ROOM];
};

// The published offsets of SCSI_PASS_THROUGH_DIRECT in the 32-bit and the
// 64-bit layout; the DataBuffer pointer is what moves.
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(offsetof(ScsiPassThroughDirect, DataBuffer) == 20);
static_assert(offsetof(ScsiPassThroughDirect, SenseInfoOffset) == 24);
static_assert(offsetof(ScsiPassThroughDirect, Cdb) == 28);
static_assert(sizeof(ScsiPassThroughDirect) == 44);
static_assert(offsetof(ScsiPassThroughDirectWithSense, sense) == 48);
#else
static_assert(offsetof(ScsiPassThroughDirect, DataBuffer) == 24);
static_assert(offsetof(ScsiPassThroughDirect, SenseInfoOffset) == 32);
static_assert(offsetof(ScsiPassThroughDirect, Cdb) == 36);
static_assert(sizeof(ScsiPassThroughDirect) == 56);
static_assert(offsetof(ScsiPassThroughDirectWithSense, sense) == 60);
#endif
static_assert(offsetof(ScsiPassThroughDirect, DataIn) == 8);
static_assert(offsetof(ScsiPassThroughDirect, DataTransferLength) == 12);
static_assert(offsetof(ScsiPassThroughDirect, TimeOutValue) == 16);
static_assert(sizeof(ScsiAddress) == 8);
static_assert(sizeof(StoragePropertyQuery) == 12);
static_assert(offsetof(StorageAdapterDescriptor, AlignmentMask) == 16);
static_assert(offsetof(StorageAdapterDescriptor, BusMajorVersion) == 26);
static_assert(sizeof(StorageAdapterDescriptor) == 32);
static_assert(sizeof(StorageDeviceNumber) == 12);
static_assert(sizeof(DiskExtent) == 24 && offsetof(DiskExtent, StartingOffset) == 8);
static_assert(offsetof(VolumeDiskExtents, Extents) == 8);

}  // namespace platform::pt
