// Run-time blocks and INVOKE: state left by an earlier run (a pass that
// stopped mid-statement) never reaches the next one.
#include <string>

#include "directives/flow.h"
#include "directives/invoke.h"
#include "support/run_support.h"
#include <gtest/gtest.h>

namespace {

TEST(Flow_State, AnInvokeLeftPendingDoesNotReachTheNextRun) {
  Dir_Cinvoke(nullptr);
  ASSERT_TRUE(Invoke_Pending());
  Run_Result r = Run_Assembler("section \"c\" class_code\r\nnop\r\n", {"-binary", "-q"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(Hex_Of(r.output), "90");
}

TEST(Flow_State, ABlockLeftOpenDoesNotReachTheNextRun) {
  Dir_If(nullptr);
  Dir_While(nullptr);
  Run_Result r = Run_Assembler("section \"c\" class_code\r\n.endw\r\n.endif\r\n", {"-binary", "-q"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "\r\n**Error** t.asm(2) .ENDW, without .WHILE? \r\n**Error** t.asm(3) .ENDIF without .IF ? ");
}

}  // namespace
