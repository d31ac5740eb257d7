// SRB_ExecSCSICmd must match what the ASPI layer expects byte for byte: the
// published 32-bit layout in the 32-bit program, and the same fields with
// 8-byte pointers in the 64-bit one.
#include <gtest/gtest.h>

#include <cstddef>

#include "platform/wnaspi32.h"

namespace {

TEST(RequestBlockLayout, FieldsSitAtThePublishedOffsets) {
  EXPECT_EQ(offsetof(SRB_ExecSCSICmd, SRB_Status), 1u);
  EXPECT_EQ(offsetof(SRB_ExecSCSICmd, SRB_HaId), 2u);
  EXPECT_EQ(offsetof(SRB_ExecSCSICmd, SRB_Flags), 3u);
  EXPECT_EQ(offsetof(SRB_ExecSCSICmd, SRB_Target), 8u);
  EXPECT_EQ(offsetof(SRB_ExecSCSICmd, SRB_Lun), 9u);
  EXPECT_EQ(offsetof(SRB_ExecSCSICmd, SRB_BufLen), 12u);
  EXPECT_EQ(offsetof(SRB_ExecSCSICmd, SRB_BufPointer), 16u);
#ifdef _WIN64
  EXPECT_EQ(offsetof(SRB_ExecSCSICmd, SRB_SenseLen), 24u);
  EXPECT_EQ(offsetof(SRB_ExecSCSICmd, SRB_PostProc), 28u);
  EXPECT_EQ(offsetof(SRB_ExecSCSICmd, CDBByte), 56u);
  EXPECT_EQ(offsetof(SRB_ExecSCSICmd, SenseArea), 72u);
  EXPECT_EQ(sizeof(SRB_ExecSCSICmd), 88u);
#else
  EXPECT_EQ(offsetof(SRB_ExecSCSICmd, SRB_SenseLen), 20u);
  EXPECT_EQ(offsetof(SRB_ExecSCSICmd, SRB_PostProc), 24u);
  EXPECT_EQ(offsetof(SRB_ExecSCSICmd, CDBByte), 48u);
  EXPECT_EQ(offsetof(SRB_ExecSCSICmd, SenseArea), 64u);
  EXPECT_EQ(sizeof(SRB_ExecSCSICmd), 80u);
#endif
}

}  // namespace
