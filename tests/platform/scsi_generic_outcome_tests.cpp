// How SG_IO outcomes become ASPI statuses, and how sense data reaches the
// request block.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/scsi_generic/scsi_generic_outcome.h"

namespace {

using platform::sg::AspiOutcome;
using platform::sg::OutcomeClass;
using platform::sg::rank_outcome;
using platform::sg::SgOutcome;

SgOutcome outcome(int os_error, int host, int driver, int status, int residual = 0) {
  SgOutcome o;
  o.os_error = os_error;
  o.host_status = static_cast<std::uint16_t>(host);
  o.driver_status = static_cast<std::uint16_t>(driver);
  o.scsi_status = static_cast<std::uint8_t>(status);
  o.residual = residual;
  return o;
}

SgOutcome leaving(SgOutcome o) {
  o.device_leaving = true;
  return o;
}

TEST(ScsiGenericOutcome, EachClassMapsToItsStatus) {
  struct Row {
    SgOutcome in;
    OutcomeClass kind;
    std::uint8_t srb, ha, targ;
  };
  const std::vector<Row> rows = {
      {outcome(0, 0, 0, 0x00), OutcomeClass::good, SS_COMP, 0x00, 0x00},
      // DRIVER_SENSE alone with GOOD status is no failure.
      {outcome(0, 0, 0x08, 0x00), OutcomeClass::good, SS_COMP, 0x00, 0x00},
      {outcome(0, 0, 0x08, 0x02), OutcomeClass::check_condition, SS_ERR, 0x00, 0x02},
      {outcome(0, 0, 0, 0x08), OutcomeClass::other_status, SS_ERR, 0x00, 0x08},     // BUSY
      {outcome(0, 0, 0, 0x18), OutcomeClass::other_status, SS_ERR, 0x00, 0x18},     // RESERVATION CONFLICT
      {outcome(0, 0x01, 0, 0x00), OutcomeClass::transport_error, SS_NO_DEVICE, 0x11, 0},  // no connect: gone
      {outcome(0, 0x04, 0, 0x00), OutcomeClass::transport_error, SS_ERR, 0x11, 0},        // bad target
      {outcome(0, 0x03, 0, 0x00), OutcomeClass::transport_error, SS_ERR, 0x0B, 0},  // time out
      {outcome(0, 0x08, 0, 0x00), OutcomeClass::transport_error, SS_ERR, 0x0E, 0},  // reset
      {outcome(0, 0x07, 0, 0x00), OutcomeClass::transport_error, SS_ERR, 0x14, 0},  // DID_ERROR
      {leaving(outcome(0, 0x07, 0, 0x00)), OutcomeClass::transport_error, SS_NO_DEVICE, 0x14, 0},  // being removed
      {outcome(0, 0, 0x06, 0x00), OutcomeClass::transport_error, SS_ERR, 0x0B, 0},  // driver timeout
      {outcome(0, 0, 0x04, 0x00), OutcomeClass::transport_error, SS_ERR, 0x14, 0},  // driver error
      {outcome(EIO, 0, 0, 0), OutcomeClass::os_error, SS_ERR, 0x00, 0},
      {outcome(ENODEV, 0, 0, 0), OutcomeClass::os_error, SS_NO_DEVICE, 0x00, 0},
      {outcome(ENXIO, 0, 0, 0), OutcomeClass::os_error, SS_NO_DEVICE, 0x00, 0},
  };
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const AspiOutcome got = rank_outcome(rows[i].in, false);
    EXPECT_EQ(got.kind, rows[i].kind) << "row " << i;
    EXPECT_EQ(got.srb_status, rows[i].srb) << "row " << i;
    EXPECT_EQ(got.ha_status, rows[i].ha) << "row " << i;
    EXPECT_EQ(got.target_status, rows[i].targ) << "row " << i;
  }
}

TEST(ScsiGenericOutcome, WorstOutcomeWins) {
  // An OS error hides whatever else the header holds.
  EXPECT_EQ(rank_outcome(outcome(EIO, 0x07, 0x08, 0x02), false).kind, OutcomeClass::os_error);
  // A transport error outranks the CHECK CONDITION that came with it.
  EXPECT_EQ(rank_outcome(outcome(0, 0x07, 0x08, 0x02), false).kind, OutcomeClass::transport_error);
  EXPECT_EQ(rank_outcome(outcome(0, 0, 0x06, 0x02), false).kind, OutcomeClass::transport_error);
  // CHECK CONDITION outranks a residual count.
  EXPECT_EQ(rank_outcome(outcome(0, 0, 0x08, 0x02, 512), true).kind, OutcomeClass::check_condition);
}

TEST(ScsiGenericOutcome, ShortTransferFailsOnlyWhereTheLengthIsExact) {
  // INQUIRY may return 36 of 64 allowed bytes; a sector read may not come back short.
  EXPECT_EQ(rank_outcome(outcome(0, 0, 0, 0, 28), false).srb_status, SS_COMP);
  const AspiOutcome short_read = rank_outcome(outcome(0, 0, 0, 0, 512), true);
  EXPECT_EQ(short_read.srb_status, SS_ERR);
  EXPECT_EQ(short_read.ha_status, platform::sg::HASTAT_DO_DU);
  EXPECT_EQ(rank_outcome(outcome(0, 0, 0, 0, 0), true).srb_status, SS_COMP);
}

// The request block sits at the start of a larger zeroed allocation, as the
// request layer makes it; nothing past the sense area may change.
struct BlockInAllocation {
  alignas(8) std::uint8_t bytes[256];
  BlockInAllocation() { std::memset(bytes, 0xCC, sizeof bytes); std::memset(bytes, 0, sizeof(SRB_ExecSCSICmd)); }
  SRB_ExecSCSICmd& srb() { return *reinterpret_cast<SRB_ExecSCSICmd*>(bytes); }
  bool tail_untouched() const {
    for (std::size_t i = sizeof(SRB_ExecSCSICmd); i < sizeof bytes; ++i) {
      if (bytes[i] != 0xCC) return false;
    }
    return true;
  }
};

TEST(ScsiGenericOutcome, SenseIsCopiedUpToTheLengthAskedAndTheAreaHolds) {
  std::uint8_t sense[32];
  for (int i = 0; i < 32; ++i) sense[i] = static_cast<std::uint8_t>(0x40 + i);
  AspiOutcome failed;
  failed.srb_status = SS_ERR;
  failed.target_status = 0x02;

  BlockInAllocation asked14;
  asked14.srb().SRB_SenseLen = SENSE_LEN;
  platform::sg::store_outcome(asked14.srb(), failed, sense, 18);
  EXPECT_EQ(asked14.srb().SRB_Status, SS_ERR);
  EXPECT_EQ(asked14.srb().SRB_TargStat, 0x02);
  EXPECT_EQ(0, std::memcmp(asked14.srb().SenseArea, sense, 14));
  EXPECT_EQ(asked14.srb().SenseArea[14], 0);

  BlockInAllocation asked_more;
  asked_more.srb().SRB_SenseLen = 60;
  platform::sg::store_outcome(asked_more.srb(), failed, sense, 32);
  EXPECT_EQ(0, std::memcmp(asked_more.srb().SenseArea, sense, sizeof asked_more.srb().SenseArea));
  EXPECT_TRUE(asked_more.tail_untouched());

  BlockInAllocation device_sent_less;
  device_sent_less.srb().SRB_SenseLen = SENSE_LEN;
  platform::sg::store_outcome(device_sent_less.srb(), failed, sense, 8);
  EXPECT_EQ(0, std::memcmp(device_sent_less.srb().SenseArea, sense, 8));
  EXPECT_EQ(device_sent_less.srb().SenseArea[8], 0);
}

TEST(ScsiGenericOutcome, RefusalCarriesFixedFormatSense) {
  BlockInAllocation block;
  block.srb().SRB_SenseLen = SENSE_LEN;
  platform::sg::refuse(block.srb(), SS_ERR, 0x07, 0x27, 0x00);
  const auto& srb = block.srb();
  EXPECT_EQ(srb.SRB_Status, SS_ERR);
  EXPECT_EQ(srb.SRB_TargStat, 0x02);
  EXPECT_EQ(srb.SenseArea[0], 0x70);
  EXPECT_EQ(srb.SenseArea[2], 0x07);
  EXPECT_EQ(srb.SenseArea[7], 10);
  EXPECT_EQ(srb.SenseArea[12], 0x27);
  EXPECT_EQ(srb.SenseArea[13], 0x00);

  // A refusal without sense key (no device, bad adapter) leaves the area alone.
  BlockInAllocation plain;
  plain.srb().SRB_SenseLen = SENSE_LEN;
  platform::sg::refuse(plain.srb(), SS_NO_DEVICE, 0, 0, 0);
  EXPECT_EQ(plain.srb().SRB_Status, SS_NO_DEVICE);
  EXPECT_EQ(plain.srb().SRB_TargStat, 0);
  EXPECT_EQ(plain.srb().SenseArea[0], 0);
}

}  // namespace
