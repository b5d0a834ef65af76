#include <gtest/gtest.h>

#include "BinaryFixtures.h"
#include "logging/LogUnit.h"
#include "platform/Clock.h"
#include "protocol/QM_BinaryReport.h"
#include "protocol/QM_BinaryText.h"
#include "protocol/QM_BinaryValues.h"
#include "support/TempFolder.h"

namespace orb {
namespace {

using test::Bytes;
using test::Header;
using test::LtvRecord;
using test::MantissaFor;
using test::TRecordingHost;
using test::ValueRecord;

std::string Records(int count, int exponent = 5) {
  std::string body;
  for (int i = 0; i < count; ++i) body += ValueRecord(exponent, MantissaFor(10.0 + i, exponent));
  return body;
}

TEST(BinaryCheckHeader, SplitsHeaderAndBody) {
  struct Case {
    const char* name;
    std::string report;
    int recordSize;
    uint16_t header;
    bool isData;
    uint32_t dataHeader;
    size_t bodySize;
  };
  const Case cases[] = {
      {"data", Header(0x0900) + Records(3), 7, 0x0900, true, 0x0900, 21},
      {"lost data", Header(0x8900) + Records(1), 7, 0x8900, true, 0x0900, 7},
      {"message", Header(0x7016) + Bytes({0, 0, 0, 35}), 7, 0x7016, false, kNoDataHeader, 4},
      {"header only", Header(0x2900), 7, 0x2900, true, 0x2900, 0},
      {"25 records cut to 24", Header(0x0900) + Records(25), 7, 0x0900, true, 0x0900, 24 * 7},
      {"cut by 8-byte records", Header(0x0900) + std::string(30 * 8, '\x11'), 8, 0x0900, true,
       0x0900, 24 * 8},
      {"a message is never cut", Header(0x7ADC) + std::string(300, '\x11'), 7, 0x7ADC, false,
       kNoDataHeader, 300},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TSourceCodecState state;
    state.FirstTimestampReceived = true;
    TQM_ReportStruct record;
    std::string_view body;
    ASSERT_EQ(CheckHeader(state, c.report, c.recordSize, body, record), QM_No_Err);
    EXPECT_EQ(state.FHeader, c.header);
    EXPECT_EQ(state.FIsData, c.isData);
    EXPECT_EQ(state.FDataHeader, c.dataHeader);
    EXPECT_EQ(body, std::string_view(c.report).substr(2, c.bodySize));
    EXPECT_FALSE(state.FPacked);
    EXPECT_EQ(state.FirstTimestampReceived, (c.header & 0xF000) != 0x8000)
        << "only a data header with the lost-data bit resets the checks";
  }
}

TEST(BinaryCheckHeader, ReportsShorterThanTheirHeaderAreBadFormat) {
  for (const std::string& report :
       {std::string(), Bytes({0x09}), Bytes({0xF2}), Bytes({0xF2, 0x09})}) {
    SCOPED_TRACE(BytesToHex(report));
    TSourceCodecState state;
    TQM_ReportStruct record;
    std::string_view body;
    EXPECT_EQ(CheckHeader(state, report, 7, body, record), QM_Err_BadFormat);
    EXPECT_EQ(record.GetErrorCode(), QM_Err_BadFormat);
    EXPECT_EQ(record.GetErrorText(), "Binary report too short: " + BytesToHex(report));
  }
}

TEST(BinaryPackedReport, SplitIntoEqualSubReportsWithLostBitOnlyOnTheFirst) {
  TSourceCodecState state;
  TRecordingHost host;
  const std::string packedBody = Records(6);
  const std::string report = Bytes({0xF2}) + Header(0x8900) + packedBody;
  TQM_ReportStruct record;
  std::string_view body;
  ASSERT_EQ(CheckHeader(state, report, 7, body, record), QM_No_Err);
  EXPECT_TRUE(state.FPacked);

  std::vector<std::string> bodies{std::string(body)};
  std::vector<int> headers{state.FHeader};
  while (NextPackedReport(state, body)) {
    bodies.emplace_back(body);
    headers.push_back(state.FHeader);
    EXPECT_EQ(state.FDataHeader, 0x0900u);
  }
  EXPECT_FALSE(state.FPacked);
  EXPECT_EQ(headers, (std::vector<int>{0x8900, 0x0900, 0x0900}));
  EXPECT_EQ(bodies, (std::vector<std::string>{packedBody.substr(0, 14), packedBody.substr(14, 14),
                                              packedBody.substr(28, 14)}));

  // Each sub-report decodes as two channels.
  ASSERT_EQ(ProcessBinReportStruct(state, host, bodies[2], record), QM_No_Err);
  EXPECT_EQ(record.GetReportType(), rt_Phase);
  EXPECT_EQ(record.GetValueCount(), 2);
  EXPECT_EQ(record.GetPhases()[1].ToDouble(), 15.0);
}

TEST(BinaryPackedReport, EdgesOfTheSplit) {
  struct Case {
    const char* name;
    std::string report;
    std::vector<size_t> sizes;
  };
  const Case cases[] = {
      {"one part", Bytes({0xF0}) + Header(0x0900) + Records(2), {14}},
      {"remainder dropped", Bytes({0xF1}) + Header(0x0900) + Records(2) + "x", {7, 7}},
      {"fewer bytes than parts", Bytes({0xF3}) + Header(0x0900) + "ab", {0, 0, 0, 0}},
      {"each part cut to 24 records", Bytes({0xF1}) + Header(0x0900) + Records(52), {168, 168}},
      {"16 message parts", Bytes({0xFF}) + Header(0x7ADC) + std::string(33, 'm'),
       std::vector<size_t>(16, 2)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TSourceCodecState state;
    TQM_ReportStruct record;
    std::string_view body;
    ASSERT_EQ(CheckHeader(state, c.report, 7, body, record), QM_No_Err);
    std::vector<size_t> sizes{body.size()};
    while (NextPackedReport(state, body)) sizes.push_back(body.size());
    EXPECT_EQ(sizes, c.sizes);
  }
}

TEST(BinaryPackedReport, ANewReportDropsPendingParts) {
  TSourceCodecState state;
  TQM_ReportStruct record;
  std::string_view body;
  ASSERT_EQ(CheckHeader(state, Bytes({0xF3}) + Header(0x0900) + Records(4), 7, body, record),
            QM_No_Err);
  ASSERT_EQ(CheckHeader(state, Header(0x2900) + Records(1), 7, body, record), QM_No_Err);
  EXPECT_FALSE(NextPackedReport(state, body));
  EXPECT_EQ(state.FHeader, 0x2900);
}

class BinaryRecordTest : public ::testing::Test {
 protected:
  TQM_ReportStruct Decode(const std::string& report) {
    std::string_view body;
    TQM_ReportStruct record;
    if (CheckHeader(FState, report, 7, body, record) == QM_No_Err) {
      ProcessBinReportStruct(FState, FHost, body, record);
    }
    return record;
  }

  TSourceCodecState FState;
  TRecordingHost FHost;
};

TEST_F(BinaryRecordTest, MeasurementModes) {
  const std::string twoValues =
      ValueRecord(5, MantissaFor(1.5, 5)) + ValueRecord(5, -MantissaFor(0.25, 5));

  TQM_ReportStruct record = Decode(Header(0x0900) + twoValues.substr(0, 7));
  ASSERT_EQ(record.GetReportType(), rt_Phase);
  EXPECT_EQ(record.GetHeader(), 0x0900);
  EXPECT_EQ(record.GetPhases()[0], (Phase{1, 0.5}));

  record = Decode(Header(0x8900) + twoValues.substr(0, 7));
  EXPECT_EQ(record.GetHeader(), 0x0900) << "the record carries the header without the lost bit";

  record = Decode(Header(0x2000) + twoValues.substr(0, 7));  // divisor 1
  ASSERT_EQ(record.GetReportType(), rt_Double);
  EXPECT_EQ(record.GetDoubles()[0], 1500.0);

  record = Decode(Header(0x4900) + twoValues);
  ASSERT_EQ(record.GetReportType(), rt_Double);
  ASSERT_EQ(record.GetValueCount(), 2);
  EXPECT_EQ(record.GetDoubles()[0], 1.5);
  EXPECT_EQ(record.GetDoubles()[1], -0.25);

  FState.FOptRawData = true;
  record = Decode(Header(0x6900) + twoValues);
  EXPECT_EQ(record.GetReportType(), rt_None);
}

TEST_F(BinaryRecordTest, HeaderWithoutScaleEntryIsBadFormat) {
  for (uint16_t header : {0x1702, 0x2F02, 0x3F02, 0x5802}) {
    SCOPED_TRACE(header);
    const TQM_ReportStruct record = Decode(Header(header) + Records(2));
    EXPECT_EQ(record.GetErrorCode(), QM_Err_BadFormat);
    EXPECT_EQ(record.GetErrorText(), "Unsupported interval index in header " + IntToHex(header, 4));
  }
}

TEST_F(BinaryRecordTest, Messages) {
  TQM_ReportStruct record = Decode(Header(0x7016) + Bytes({0, 0, 0, 35}));
  EXPECT_EQ(record.GetReportType(), rt_Message);
  EXPECT_EQ(record.GetTimestamp(), 35u);

  record = Decode(Header(0x7015) + Bytes({0, 0}));
  EXPECT_EQ(record.GetLength(), 2) << "a short body stays as it came";

  record = Decode(Header(0x7030) + Bytes({0, 0, 0, 2}));
  EXPECT_EQ(record.PayloadView(), "; Connected users:  1: usb (me)");
  EXPECT_EQ(FHost.FCalls.back(), "ConnectedUsersText 00000002");

  FHost.F7902Text = "7902; 10020304";
  record = Decode(Header(0x7902) + Bytes({0x10, 2, 3, 4}));
  EXPECT_EQ(record.GetHeader(), 0x7902);
  EXPECT_EQ(record.PayloadView(), " 10020304");
  FHost.F7902Text.clear();
  record = Decode(Header(0x7902) + Bytes({1}));
  EXPECT_EQ(record.GetReportType(), rt_None) << "a block read still under way";

  record = Decode(Header(0x7901) +
                  Bytes({0, 0, 0x30, 0x39, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE, 1}));
  ASSERT_EQ(record.GetValueCount(), 24);
  EXPECT_EQ(record.GetDoubles()[0], 12.345);
  EXPECT_EQ(record.GetDoubles()[1], 0.0) << "-1 means no value";
  EXPECT_EQ(record.GetDoubles()[2], -0.002);
  EXPECT_EQ(record.GetDoubles()[3], 0.0);
  record = Decode(Header(0x7901) + std::string(96, '\xFF'));
  EXPECT_EQ(record.GetDoubles(), TQM_Doubles{});

  record = Decode(Header(0x7FF9) + " clock error ");
  EXPECT_EQ(record.PayloadView(), " clock error ");

  record = Decode(Header(0x7ADC) + std::string(497, 'x'));
  EXPECT_EQ(record.GetErrorCode(), QM_Err_BadFormat);
}

TEST_F(BinaryRecordTest, LtvValuesAndSyncErrors) {
  const std::string report =
      Header(0x7900) + LtvRecord(3000, 1000, 12, true) + LtvRecord(0, 5, 7, false);
  // A sync error before any LTV data is dropped.
  TQM_ReportStruct record =
      Decode(Header(0x7900) + LtvRecord(3000, 1000, 12, false) + LtvRecord(0, 5, 7, false));
  EXPECT_EQ(record.GetReportType(), rt_None);
  EXPECT_TRUE(FHost.FCalls.empty());

  record = Decode(report);
  ASSERT_EQ(record.GetHeader(), 0x7900);
  EXPECT_EQ(record.GetValueCount(), 2);
  EXPECT_EQ(record.GetDoubles()[0], -9.99);
  EXPECT_EQ(record.GetDoubles()[1], 1300.0);
  EXPECT_EQ(FHost.FReceivedSec, 1u) << "the last received second becomes 1 when it was 0";

  FHost.FReceivedSec = 42;
  Decode(report);
  EXPECT_EQ(FHost.FReceivedSec, 42u);

  for (const std::string& body : {report.substr(2, 13), test::LtvRecord(1, 1, 1, true)}) {
    record = Decode(Header(0x7900) + body);
    EXPECT_EQ(record.GetHeader(), 0x7F90);
    EXPECT_EQ(record.PayloadView(), "Sync Error with LTV data");
  }
  std::string tooMany;
  for (int j = 0; j < 25; ++j) tooMany += LtvRecord(3000, 1000, j, j < 24);
  record = Decode(Header(0x7900) + tooMany);
  EXPECT_EQ(record.GetHeader(), 0x7F90);
}

// Lines that other parts of the program and the user rely on.
class BinaryLogTest : public ::testing::Test {
 protected:
  BinaryLogTest() {
    FState.FLogId = CreateLogger(Clock());
    FState.FDebugTag = "TSourceItem[0]";
    SetLogFile(FState.FLogId, (FFolder / "source.log").string(), false);
  }

  static TFakeClock& Clock() {
    static TFakeClock clock;  // loggers outlive the test
    return clock;
  }

  std::string Logged() { return test::ReadFile(FFolder / "source.log"); }

  test::TTempFolder FFolder;
  TSourceCodecState FState;
  TRecordingHost FHost;
};

TEST_F(BinaryLogTest, WarningsAndIgnoredSyncErrors) {
  TQM_ReportStruct record;
  std::string_view body;
  std::string line;
  const std::string ltv = LtvRecord(1, 1, 1, true);
  std::string tooMany;
  for (int j = 0; j < 25; ++j) tooMany += LtvRecord(3000, 1000, j, j < 24);
  const std::string reports[] = {Header(0x8900) + Records(26), Bytes({0x09}), Header(0x7900) + ltv,
                                 Header(0x7900) + tooMany, Header(0x7055) + "ab"};
  for (const std::string& report : reports) {
    if (CheckHeader(FState, report, 7, body, record) != QM_No_Err) continue;
    if (!FState.FIsData) {
      ProcessBinReportStruct(FState, FHost, body, record);
      ProcessBinData(FState, FHost, body, line);
    }
  }
  ResetPhaseData(FState);

  const std::string log = Logged();
  const std::vector<std::string> expectedLines = {
      "TSourceItem[0].CheckHeader: Device reports lost data -> reset data/timestamp checks",
      "WARN:  TSourceItem[0].CheckHeader Measured data too long, 26 channels reported, "
      "truncated to 24 channels",
      "WARN:  TSourceItem[0].CheckHeader: Binary report too short: 09",
      "TSourceItem[0].ReadLTV: ignore first 7900 SyncError " + BytesToHex(ltv),
      "TSourceItem[0].ProcessBinData: ignore first 7900 SyncError " + BytesToHex(ltv),
      "WARN:  TSourceItem[0].ReadLTV: 25 LTV records, more than 24 channels",
      "TSourceItem[0].ProcessBinData: ignore first 7900 SyncError (Length): " + BytesToHex(tooMany),
      "WARN:  TSourceItem[0].ProcessBinData: body of 7055 too short: 2 bytes",
      "TSourceItem[0].ResetPhaseData -> reset data/timestamp checks",
  };
  for (const std::string& expected : expectedLines) {
    EXPECT_NE(log.find(expected), std::string::npos) << expected << "\n" << log;
  }
}

}  // namespace
}  // namespace orb
