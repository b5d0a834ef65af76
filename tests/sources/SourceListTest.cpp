#include "sources/QM_SourceList.h"

#include <gtest/gtest.h>

#include <string>

#include "ScriptedSource.h"
#include "support/TempFolder.h"

namespace orb {
namespace {

class SourceListTest : public ::testing::Test {
 protected:
  SourceListTest() {
    services.Factory = &factory;
    services.Environment = &machine;
    services.Clock = &clock;
  }
  TFakeClock clock;
  test::TFakeConnectionEnvironment machine;
  test::TScriptedFactory factory;
  TSourceServices services;
};

TEST(SourceListCodes, ResultsMapByTheirLowSevenBits) {
  const std::pair<TQM_Result, TMultiCode> cases[] = {
      {QM_No_Err, mcSuccess},
      {QM_WriteError, mcWriteError},
      {QM_Err_ServerDown, mcServerDown},
      {QM_DeviceNotConnected, mcNotConnected},
      {QM_Err_EndOfFile, mcNotConnected},
      {QM_Err_Disconnected, mcNotConnected},
      {QM_Err_ReceiveBufferOverflow, mcOverflow},
      {QM_HardwareFault, mcHardwareFault},
      {QM_CmdIgnored, mcCommandRefused},
      {QM_Err_Reconnected, mcReconnected},
      {QM_No_Err_Recovered, mcRecovered},
      {QM_Err_Exception, mcException},
      {QM_Err_BadFormat, mcOtherError},
      {QM_DeviceNotFound, mcOtherError},
      {static_cast<TQM_Result>(0x80 | QM_WriteError), mcWriteError},
  };
  for (const auto& [result, code] : cases) {
    EXPECT_EQ(InterfaceCode(result), code) << ResultName(result);
  }
}

TEST_F(SourceListTest, UnknownNumbersAnswerTenOrTheNotFoundText) {
  TSourceList list(services);
  EXPECT_EQ(list.Count(), 1);
  for (const int id : {-1, 1, 99}) {
    SCOPED_TRACE(id);
    std::string text = "10.0.0.1";
    EXPECT_EQ(list.Multi_OpenConnectionEx(id, text, false), mcUnknownSource);
    EXPECT_EQ(text, TSourceList::NotFoundText(id));
    std::string command = "\x01";
    EXPECT_EQ(list.Multi_SendCommand(id, command), mcUnknownSource);
    std::string report;
    int64_t ms = 0;
    EXPECT_EQ(list.Multi_GetReportEx(id, report, ms), mcUnknownSource);
    EXPECT_EQ(report, "Source-ID " + std::to_string(id) + " not found");
    TQM_ReportStruct record;
    list.Multi_GetReportStruct(record, id);
    EXPECT_EQ(record.GetErrorCode(), QM_Err_SourceNotFound);
    EXPECT_EQ(list.Multi_SetOutputPath(id, "/tmp"), TSourceList::NotFoundText(id));
    EXPECT_EQ(list.Multi_SetDecimalSeparator(id, ','), mcUnknownSource);
  }
  EXPECT_EQ(list.Multi_AddSource(), 1);
}

TEST_F(SourceListTest, CommandLengthsOutsideOneTo127AreRefused) {
  TSourceList list(services);
  for (const size_t length : {size_t{0}, size_t{128}}) {
    std::string command(length, '\x01');
    EXPECT_EQ(list.Multi_SendCommand(0, command), mcCommandRefused);
    EXPECT_EQ(command, "Invalid command length = " + std::to_string(length) + ", valid: 1..127");
  }
  std::string command = "\x01";
  EXPECT_EQ(list.Multi_SendCommand(0, command), mcCommandRefused);  // not connected
  EXPECT_EQ(command.rfind("No connection, Command ignored: ", 0), 0u) << command;
}

TEST_F(SourceListTest, ConnectsReadsAndCutsLongTexts) {
  TSourceList list(services);
  std::string text = "nowhere";
  EXPECT_EQ(list.Multi_OpenConnectionEx(0, text, false), mcOtherError);
  EXPECT_EQ(text, "Device not found: nowhere");

  text = "10.0.0.1";
  ASSERT_EQ(list.Multi_OpenConnectionEx(0, text, false), mcSuccess) << text;
  TQM_ReportStruct data;
  data.SetDoubles(0x0910, 1, TQM_Doubles{});
  factory.Script.push_back(data);
  std::string report;
  int64_t ms = 0;
  EXPECT_EQ(list.Multi_GetReportEx(0, report, ms), mcSuccess);
  EXPECT_EQ(report.substr(0, 4), "0910");
  EXPECT_FALSE(list.Multi_IsFileDevice(0));
  list.Multi_CloseConnection(0);
  factory.Script.push_back(data);
  EXPECT_EQ(list.Multi_GetReportEx(0, report, ms), mcSuccess);
  EXPECT_EQ(report, "");  // closed: nothing is read
}

// A text recording's line is handed out as it stands, cut at 1024 bytes.
TEST(SourceListText, LinesLongerThanTheLimitAreCut) {
  test::TTempFolder folder;
  std::string line = "0910";
  while (line.size() <= TSourceList::kMaxText) line += ";1.000000000000000000000000000000";
  const auto path = folder / "long_QM_ReportData.txt";
  test::WriteFile(path, line + "\r\n");
  TSystemConnectionEnvironment machine;
  TDeviceFactory factory;
  TSourceServices services;
  services.Factory = &factory;
  services.Environment = &machine;
  TSourceList list(services);
  list.Multi_AddSource();
  std::string text = path.string();
  ASSERT_EQ(list.Multi_OpenConnectionEx(1, text, false), mcSuccess) << text;
  EXPECT_TRUE(list.Multi_IsFileDevice(1));
  std::string report;
  int64_t ms = 0;
  EXPECT_EQ(list.Multi_GetReportEx(1, report, ms), mcTextCut);
  EXPECT_EQ(report, line.substr(0, TSourceList::kMaxText));
}

}  // namespace
}  // namespace orb
