// Start-up and shutdown pieces against the real Win32 calls (under Wine).
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/argvector.h"
#include "win32/startup.h"

TEST(Platform, WineReportsTheNtPlatform) {
  EXPECT_EQ(GetPlatformId(), 2u);
}

TEST(Privilege, EnablesShutdownAndReportsUnknownNames) {
  EXPECT_EQ(EnablePrivilege("SeShutdownPrivilege"), (uint32_t)ERROR_SUCCESS);
  EXPECT_EQ(EnablePrivilege("SeNoSuchPrivilege"), (uint32_t)ERROR_NO_SUCH_PRIVILEGE);
  // The code is the lookup's, not one left over from an earlier call.
  SetLastError(ERROR_ACCESS_DENIED);
  EXPECT_EQ(EnablePrivilege("SeShutdownPrivilege"), (uint32_t)ERROR_SUCCESS);
}

TEST(ArgSource, ModulePathIsTheWholePathOrNothing) {
  char path[MODULE_PATH_SIZE];
  unsigned length = ArgSourceModulePath(path, sizeof path);
  ASSERT_GT(length, 0u);
  EXPECT_EQ(strlen(path), length);
  std::string whole(path);
  EXPECT_NE(whole.find("app_win32_test.exe"), std::string::npos) << whole;
  // A buffer one byte short would hold a cut path: refused instead.
  char small[MODULE_PATH_SIZE];
  EXPECT_EQ(ArgSourceModulePath(small, length), 0u);
  EXPECT_EQ(ArgSourceModulePath(small, length + 1), length);
}

TEST(ArgSource, VectorSplitsTheProcessCommandLine) {
  ResetArgVector();
  ASSERT_GE(GetArgCount(), 1);
  std::string program(GetArgVector()[0]);
  EXPECT_NE(program.find("app_win32_test.exe"), std::string::npos) << program;
  EXPECT_EQ(strchr(program.c_str(), '"'), nullptr);
}
