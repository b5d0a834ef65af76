#include <gtest/gtest.h>

#include "session/ORB_DebugConf.h"
#include "support/TempFolder.h"

namespace orb {
namespace {

TEST(DebugConf, SwitchesStartFromTheirDefaultsAndAreWrittenInOrder) {
  test::TTempFolder folder;
  const std::string path = folder / "ORB_DebugConf.ini";
  TDebugConf conf(path);
  for (int i = 0; i <= 16; ++i) EXPECT_FALSE(conf.GetDebugFlag(i)) << "before GetConfig " << i;
  conf.GetConfig();
  const bool defaults[] = {true, true, true, true, true, false, true, false,
                           true, true, true, true, true, true,  false};
  for (int i = 1; i <= 15; ++i) EXPECT_EQ(conf.GetDebugFlag(i), defaults[i - 1]) << i;
  EXPECT_FALSE(conf.GetDebugFlag(0));
  EXPECT_FALSE(conf.GetDebugFlag(16));

  // Category 0 always passes; "Menu" (6) is off by default.
  EXPECT_TRUE(conf.Enabled(dcAlways));
  EXPECT_FALSE(conf.Enabled(dcMenu));
  EXPECT_TRUE(conf.Enabled(dcReportThread));
  EXPECT_FALSE(conf.Enabled(16));
  EXPECT_FALSE(conf.Enabled(-1));

  conf.SaveSettings();
  EXPECT_EQ(test::ReadFile(path),
            "AllanChild=True\nChildWin=True\nGraphicChild=True\nInfoChild=True\nMain=True\n"
            "Menu=False\nMessages=True\nSampler=False\nSource=True\nSync=True\nTextChild=True\n"
            "UserInput=True\nReportThread=True\nSteering=True\nAllanData=False\nINI_Version=0\n");
}

TEST(DebugConf, UpdateConfigRereadsTheFile) {
  test::TTempFolder folder;
  const std::string path = folder / "ORB_DebugConf.ini";
  test::WriteFile(path, "menu=True\r\nMain=no\r\n");
  TDebugConf conf(path);
  conf.GetConfig();
  EXPECT_TRUE(conf.Enabled(dcMenu));
  EXPECT_FALSE(conf.Enabled(dcMain));

  test::WriteFile(path, "Menu=False\r\nMain=True\r\n");
  conf.UpdateConfig();
  EXPECT_FALSE(conf.Enabled(dcMenu));
  EXPECT_TRUE(conf.Enabled(dcMain));
  EXPECT_EQ(conf.Lines().size(), 15u);
}

}  // namespace
}  // namespace orb
