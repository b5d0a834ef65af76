#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "protocol/QM_CommonTypes.h"

namespace orb {
namespace {

std::string Bytes(std::initializer_list<uint8_t> bytes) {
  return std::string(bytes.begin(), bytes.end());
}

TEST(ResultCodes, Names) {
  const std::pair<int, const char*> cases[] = {{0, "QM_No_Err"},
                                               {1, "QM_No_Err"},
                                               {2, "QM_No_Err_Recovered"},
                                               {16, "QM_Err_Exception"},
                                               {46, "QM_Err_WatchErrorMsg"},
                                               {47, "kein QM_Result"},
                                               {127, "kein QM_Result"},
                                               {128, "QM_No_Err"},
                                               {128 + 16, "QM_Err_Exception"},
                                               {175, "kein QM_Result"},
                                               {255, "kein QM_Result"}};
  for (const auto& [code, name] : cases) EXPECT_EQ(ResultName(static_cast<uint8_t>(code)), name);
}

TEST(EnumerationNames, InAndOutOfRange) {
  EXPECT_EQ(ReportTypeName(rt_Int32), "Int32");
  EXPECT_EQ(ReportTypeName(6), "");
  EXPECT_EQ(PeerTypeName(ptESP), "ESP");
  EXPECT_EQ(PeerTypeName(7), "unknown");
  EXPECT_EQ(FPGATypeName(ft_MicroSemi), "MicroSemi");
  EXPECT_EQ(CmdResponseTypeName(crt_ReadNVS), "readNVS");
  EXPECT_EQ(CmdResponseTypeName(crt_phaseReset), "PhaseReset");
  EXPECT_EQ(CmdResponseTypeName(9), "unknown 9");
  EXPECT_EQ(DeviceStartStateName(ds_WarmStart), "WarmStart");
  EXPECT_EQ(DeviceStartStateName(3), "");
  EXPECT_EQ(DeviceTypeName(QM_TCP_Archive), "QM_TCP_Archive");
  EXPECT_EQ(DeviceTypeName(QM_FPGANet), "QM_FPGANet");
  EXPECT_EQ(DeviceTypeName(13), "13");
}

TEST(ReportStruct, BlockLayoutIsLittleEndianAtFixedOffsets) {
  TQM_ReportStruct record;
  record.SetDeviceMs(0x0102030405060708);
  TQM_ReportPhases phases{};
  phases[0] = Phase{-2, 0.5};
  record.SetPhases(0x1234, 1, phases);
  const TQM_ReportStructBase& block = record.GetIntern();
  EXPECT_EQ(block[0], rt_Phase);
  EXPECT_EQ(Bytes({8, 7, 6, 5, 4, 3, 2, 1}),
            std::string(reinterpret_cast<const char*>(&block[8]), 8));
  EXPECT_EQ(block[18], 0x34);
  EXPECT_EQ(block[19], 0x12);
  EXPECT_EQ(block[20], 16);
  EXPECT_EQ(Bytes({0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}),
            std::string(reinterpret_cast<const char*>(&block[24]), 8));
  double low = 0;
  std::memcpy(&low, &block[32], 8);
  EXPECT_EQ(low, 0.5);

  record.SetError(QM_Err_ServerDown, "down");
  EXPECT_EQ(record.GetIntern()[16], QM_Err_ServerDown);
  EXPECT_EQ(record.GetDeviceMs(), 0x0102030405060708) << "setters keep the device time";
  EXPECT_EQ(record.GetIntern()[28], 0) << "earlier payload bytes are cleared";
}

TEST(ReportStruct, SettersRefuseWhatDoesNotFit) {
  TQM_ReportStruct record;
  record.SetMessage(0x7040, std::string(496, 'x'));
  EXPECT_EQ(record.GetReportType(), rt_Message);
  EXPECT_EQ(record.GetLength(), 496);

  record.SetMessage(0x7040, std::string(497, 'x'));
  EXPECT_EQ(record.GetErrorCode(), QM_Err_BadFormat);
  EXPECT_EQ(record.GetErrorText(), "Message too long (497)");

  record.SetDoublesRaw(0x2900, std::string(12, '\0'));
  EXPECT_EQ(record.GetErrorCode(), 4);
  EXPECT_EQ(record.GetErrorText(), "Invalid data len 12");

  record.SetError(QM_SocketError, std::string(497, 'e'));
  EXPECT_EQ(record.GetErrorCode(), QM_Err_BadFormat);
  EXPECT_EQ(record.GetErrorText(), "Error text too long (497)");

  for (const int count : {-1, 25}) {
    record.SetDoubles(0x2900, count, TQM_Doubles{});
    EXPECT_EQ(record.GetErrorCode(), QM_Err_BadFormat) << count;
    record.SetPhases(0x0900, count, TQM_ReportPhases{});
    EXPECT_EQ(record.GetErrorCode(), QM_Err_BadFormat) << count;
    record.SetInt32(0x7EFF, count, TQM_Int32{});
    EXPECT_EQ(record.GetErrorCode(), QM_Err_BadFormat) << count;
  }
}

TEST(ReportStruct, Getters) {
  TQM_ReportStruct record;
  EXPECT_EQ(record.GetHeader(), -1);
  TQM_Int32 pairs{};
  for (uint32_t i = 0; i < pairs.size(); ++i) pairs[i] = i + 1;
  record.SetInt32(0x7EFF, 3, pairs);
  EXPECT_EQ(record.GetValueCount(), 6);
  EXPECT_EQ(record.GetInt32()[5], 6u);
  EXPECT_EQ(record.GetInt32()[6], 0u);

  record.SetDoublesRaw(0x2900, std::string(496, '\0'));
  EXPECT_EQ(record.GetValueCount(), 62);
  EXPECT_EQ(record.GetDoubles().size(), 24u);
  record.SetMessage(0x2900, std::string(20, '\0'));
  EXPECT_EQ(record.GetValueCount(), 0) << "a message has no values";

  record.SetMessage(0x7001, "a");
  EXPECT_EQ(record.GetWord(), 0xFFFF);
  EXPECT_EQ(record.GetCardinal(), 0xFFFFFFFFu);
  record.SetMessage(0x7001, Bytes({0, 0, 0x30, 0x39}));
  EXPECT_EQ(record.GetTimestamp(), 0xFFFFFFFFu);
  EXPECT_EQ(record.GetWord(), 0);
  record.SetTimestamp(12345);
  EXPECT_EQ(record.GetHeader(), 0x7016);
  EXPECT_EQ(record.GetPayload(), Bytes({0, 0, 0x30, 0x39}));
  EXPECT_EQ(record.GetTimestamp(), 12345u);
  EXPECT_EQ(record.GetErrorCode(), QM_No_Err);
  EXPECT_EQ(record.GetErrorText(), "");
}

TEST(ReportStruct, DebugText) {
  struct Case {
    std::function<void(TQM_ReportStruct&)> make;
    std::string text;
  };
  TQM_Doubles doubles{};
  doubles[0] = 1.5;
  doubles[1] = -1e-9;
  TQM_ReportPhases phases{};
  phases[0] = Phase{12, 0.25};
  TQM_Int32 ints{};
  ints[0] = 0xABCDEF;
  ints[1] = 1;
  const Case cases[] = {
      {[](TQM_ReportStruct&) {}, ""},
      {[](TQM_ReportStruct& r) { r.SetError(QM_Err_EndOfFile, "eof"); },
       "Error QM_Err_EndOfFile: eof"},
      {[](TQM_ReportStruct& r) { r.SetMessage(0x7001, "abc"); },
       "Message ms=1.234.567 header=0x7001 len=3 abc"},
      {[](TQM_ReportStruct& r) { r.SetMessage(0x7002, "abc"); },
       "Message ms=1.234.567 header=0x7002 len=3 616263"},
      {[](TQM_ReportStruct& r) { r.SetMessage(0x7FF9, "clk"); },
       "Message ms=1.234.567 header=0x7FF9 len=3 clk"},
      {[](TQM_ReportStruct& r) {
         r.SetMessage(0x7020, Bytes({0x29, 0x10}));
       },
       "Message ms=1.234.567 header=0x7020 len=2 0x2910"},
      {[](TQM_ReportStruct& r) { r.SetTimestamp(0x01020304); },
       "Message ms=1.234.567 header=0x7016 len=4 0x01020304"},
      {[](TQM_ReportStruct& r) { r.SetMessage(0x7000, ""); },
       "Message ms=1.234.567 header=0x7000 len=0 "},
      {[&](TQM_ReportStruct& r) { r.SetPhases(0x0900, 1, phases); },
       "Phase ms=1.234.567 header=0x0900 len=16 Phases:  12 0.25"},
      {[&](TQM_ReportStruct& r) { r.SetDoubles(0x2900, 2, doubles); },
       "Double ms=1.234.567 header=0x2900 len=16 Doubles: 1.5 -1E-9"},
      {[&](TQM_ReportStruct& r) { r.SetInt32(0x7EFF, 1, ints); },
       "Int32 ms=1.234.567 header=0x7EFF len=8 Int32:   00ABCDEF 00000001"},
  };
  for (const Case& c : cases) {
    TQM_ReportStruct record;
    record.SetDeviceMs(1234567);
    c.make(record);
    EXPECT_EQ(record.ToString(), c.text);
  }
}

TEST(ReportStruct, CachedTextFollowsEverySetter) {
  TQM_ReportStruct record;
  record.SetMessage(0x7001, "one");
  EXPECT_NE(record.ToString().find("one"), std::string::npos);
  TQM_ReportStruct copy = record;
  record.SetDeviceMs(5);
  EXPECT_NE(record.ToString().find("ms=5 "), std::string::npos);
  record.SetMessage(0x7001, "two");
  EXPECT_NE(record.ToString().find("two"), std::string::npos);
  EXPECT_NE(copy.ToString().find("one"), std::string::npos);
  record.Clear();
  EXPECT_EQ(record.ToString(), "");
}

TEST(ReportStruct, DoublesToText) {
  TQM_Doubles values{};
  values[0] = 3.14159;
  values[1] = -12345.6789;
  TQM_ReportStruct record;
  record.SetDoubles(0x7901, 2, values);
  EXPECT_EQ(record.DoublesToText(), "         3.142;    -12345.679;");
  record.SetMessage(0x7901, "x");
  EXPECT_EQ(record.DoublesToText(), "");
}

// Whatever bytes arrive in a block, no getter reads or writes outside it.
TEST(ReportStruct, RandomBlocksThroughEveryGetter) {
  std::mt19937_64 random(7);
  std::uniform_int_distribution<int> byte(0, 255);
  for (int round = 0; round < 3000; ++round) {
    TQM_ReportStructBase block;
    for (uint8_t& b : block) b = static_cast<uint8_t>(byte(random));
    block[0] = static_cast<uint8_t>(round % 8);
    if (round % 3 == 0) {
      const int32_t length = static_cast<int32_t>(random() % 600) - 50;
      std::memcpy(&block[20], &length, 4);
    }
    TQM_ReportStruct record;
    record.SetIntern(block);
    EXPECT_LE(record.GetValueCount(), 124);
    EXPECT_LE(record.GetPayload().size(), 496u);
    (void)record.GetWord();
    (void)record.GetCardinal();
    (void)record.GetTimestamp();
    (void)record.GetErrorText();
    (void)record.GetDoubles();
    (void)record.GetPhases();
    (void)record.GetInt32();
    (void)record.DoublesToText();
    (void)record.ToString();
  }
}

TEST(DeviceInfo, DefaultsAndBoundedAccess) {
  TQM_DeviceInfo info;
  EXPECT_EQ(info.GetConnectedUser(1), "unknown");
  EXPECT_EQ(info.GetConnectedUserU2(4), "unknown");
  EXPECT_EQ(info.FSerialNumber, 0xFFFFFFFFu);
  EXPECT_EQ(info.FHardFeature, 0u);
  info.SetConnectedUser(0, "x");
  info.SetConnectedUser(5, "x");
  info.SetConnectedUserU2(2, "anna");
  EXPECT_EQ(info.GetConnectedUser(0), "");
  EXPECT_EQ(info.GetConnectedUserU2(2), "anna");
  info.SetNominalFreq(25, 1);
  info.SetNominalFreq(1, 10e6);
  info.SetNominalFreq(24, 5e6);
  EXPECT_EQ(info.GetNominalFreq(0), 0);
  EXPECT_EQ(info.GetNominalFreq(24), 5e6);
  EXPECT_EQ(info.GetNominalFreqString(),
            "10000000;0;0;0;0;0;0;0;0;0;0;0;0;0;0;0;0;0;0;0;0;0;0;5000000;");
}

TEST(DeviceInfo, ListMergesWithoutOverwriting) {
  TQM_DeviceInfoList list;
  TQM_DeviceInfo unknown;
  EXPECT_EQ(list.AddInfo(unknown), -1);

  TQM_DeviceInfo first;
  first.FSerialNumber = 100;
  first.FIPAddress = "10.0.0.1";
  first.SetNominalFreq(1, 10e6);
  TQM_DeviceInfo other;
  other.FSerialNumber = 200;
  EXPECT_EQ(list.AddInfo(first), 0);
  EXPECT_EQ(list.AddInfo(other), 1);

  TQM_DeviceInfo again;
  again.FSerialNumber = 100;
  again.FIPAddress = "10.0.0.2";
  again.FHardFeature = 0x4001;
  again.FPeerType = ptESP;
  again.SetNominalFreq(1, 5e6);
  again.SetNominalFreq(2, 5e6);
  EXPECT_EQ(list.AddInfo(again), 0);
  ASSERT_EQ(list.Count(), 2);
  const TQM_DeviceInfo* merged = list.GetInfo(100);
  ASSERT_NE(merged, nullptr);
  EXPECT_EQ(merged->FIPAddress, "10.0.0.1");
  EXPECT_EQ(merged->FHardFeature, 0x4001u);
  EXPECT_EQ(merged->FPeerType, ptESP);
  EXPECT_EQ(merged->GetNominalFreq(1), 10e6);
  EXPECT_EQ(merged->GetNominalFreq(2), 5e6);
  EXPECT_EQ(list.GetInfo(200)->FIndex, 1);
  EXPECT_EQ(list.GetInfo(300), nullptr);
}

TEST(DebugSettings, TextForm) {
  TDebugSettings settings;
  EXPECT_EQ(settings.ToText(), "1111");
  settings.FromText("0101");
  EXPECT_EQ(settings.ToText(), "0101");
  settings.FromText("000");
  EXPECT_EQ(settings.ToText(), "0101") << "too short: unchanged";
  settings.Clear();
  EXPECT_EQ(settings.ToText(), "0000");
  settings.SetDefault();
  EXPECT_EQ(settings, TDebugSettings{});
}

TEST(FpgaReport, ParsesOnlyTheBytesPresent) {
  struct Case {
    std::string bytes;
    uint16_t len;
    uint16_t header;
    std::string content;
  };
  const Case cases[] = {
      {"", 0, 0, ""},
      {Bytes({0, 5, 0x12}), 0, 0, ""},
      {Bytes({0, 2, 0x12, 0x34}), 2, 0x1234, ""},
      {Bytes({0, 4, 0x12, 0x34, 'a', 'b', 'c'}), 4, 0x1234, "ab"},
      {Bytes({0xFF, 0xFF, 0x12, 0x34, 'a', 'b'}), 0xFFFF, 0x1234, "ab"},
  };
  for (const Case& c : cases) {
    TQM_FpgaReport report;
    report.Content = "old";
    report.FromBytes(c.bytes);
    EXPECT_EQ(report.Len, c.len);
    EXPECT_EQ(report.Header, c.header);
    EXPECT_EQ(report.Content, c.content);
  }
  TQM_FpgaReport report;
  report.Header = 0x0101 | TQM_FpgaReport::kOwnReportBit;
  report.Content = Bytes({0xAB, 0x01});
  EXPECT_EQ(report.ToBytes(), Bytes({0, 4, 0x81, 0x01, 0xAB, 0x01}));
  EXPECT_EQ(report.ToDebugText(), "4 8101 AB01");
}

TEST(OHRSettings, TextFormRoundTripsAndRejectsBadEntries) {
  TOHRSettings settings;
  settings.FormatSettings = NumberFormat{',', '.'};
  settings.OHRChannels[0] = TOHRSetting{10e6, 9.9e6, 1, true};
  settings.OHRChannels[1] = TOHRSetting{5e6, 0, 1, false};
  const std::string text = settings.ToText();
  EXPECT_EQ(text.substr(0, 70),
            "10000000,000000000000;9900000,000000000000;1/5000000,000000000000;0;0/");
  TOHRSettings parsed;
  parsed.FormatSettings = NumberFormat{',', '.'};
  ASSERT_TRUE(parsed.FromText(text)) << parsed.ErrorStr;
  EXPECT_EQ(parsed, settings);

  ASSERT_TRUE(parsed.FromText("10.5;9.5;1/7;1;0/3,5;0;1"));
  EXPECT_EQ(parsed.OHRChannels[0].NomFreq, 10.5);
  EXPECT_TRUE(parsed.OHRChannels[0].enabled);
  EXPECT_FALSE(parsed.OHRChannels[1].enabled) << "flag 0";
  EXPECT_EQ(parsed.OHRChannels[2].NomFreq, 3.5);
  EXPECT_FALSE(parsed.OHRChannels[2].enabled) << "LO frequency 0";

  EXPECT_FALSE(parsed.FromText("10;9;1/10;9"));
  EXPECT_EQ(parsed.ErrorStr, "Format error");
  EXPECT_EQ(parsed.OHRChannels[0].NomFreq, 10) << "entries before the bad one are kept";
  EXPECT_FALSE(parsed.FromText("10;x;1"));
  EXPECT_EQ(parsed.ErrorStr, "'x' is not a valid floating point value");
}

TEST(OHRSettings, FactorsAndDeviceBlock) {
  TOHRSettings settings;
  settings.OHRChannels[0] = TOHRSetting{10e6, 9e6, 1, true};
  settings.OHRChannels[6] = TOHRSetting{9e6, 10e6, 1, true};
  settings.OHRChannels[23] = TOHRSetting{1.5, 0.5, 1, false};
  settings.UpdateFactors();
  EXPECT_EQ(settings.OHRChannels[0].Factor, 10.0L);
  EXPECT_EQ(settings.OHRChannels[6].Factor, 1.0L) << "LO above nominal";
  EXPECT_EQ(settings.OHRChannels[23].Factor, 1e7L);
  EXPECT_EQ(settings.OHRChannelCount, 2);

  const auto block = settings.ToDeviceBlock();
  for (size_t group = 0; group < 4; ++group) EXPECT_EQ(block[group * 128], group + 1);
  double value = 0;
  std::memcpy(&value, &block[1], 8);
  EXPECT_EQ(value, 10e6);
  std::memcpy(&value, &block[9], 8);
  EXPECT_EQ(value, 9e6);
  EXPECT_EQ(block[17], 1);
  std::memcpy(&value, &block[128 + 1], 8);
  EXPECT_EQ(value, 9e6) << "channel 7 opens the second group";
  std::memcpy(&value, &block[384 + 1 + 5 * 17], 8);
  EXPECT_EQ(value, 1.5);
  EXPECT_EQ(block[384 + 1 + 5 * 17 + 16], 0);
  for (size_t i = 103; i < 128; ++i) EXPECT_EQ(block[384 + i], 0) << i;
}

}  // namespace
}  // namespace orb
