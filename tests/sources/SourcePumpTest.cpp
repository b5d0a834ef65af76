#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ScriptedSource.h"
#include "protocol/ByteOrder.h"
#include "protocol/QM_TextUtils.h"

namespace orb {
namespace {

constexpr uint16_t k100ms = 0x0600;  // interval index 6
constexpr uint16_t k1s = 0x0900;     // interval index 9

TQM_ReportStruct Data(uint16_t header) {
  TQM_Doubles values{};
  values[0] = 1.5;
  TQM_ReportStruct record;
  record.SetDoubles(header, 1, values);
  return record;
}

TQM_ReportStruct Value(uint16_t header, uint32_t value) {
  std::string payload(4, '\0');
  StoreBE32(reinterpret_cast<uint8_t*>(payload.data()), value);
  TQM_ReportStruct record;
  record.SetMessage(header, payload);
  return record;
}

TQM_ReportStruct Error(TQM_Result code, const std::string& text) {
  TQM_ReportStruct record;
  record.SetError(code, text);
  return record;
}

// "-" for nothing, "E<code>:<text>", "D<header>", "M<header>:<value or text>".
std::string Describe(const TQM_ReportStruct& record) {
  const std::string header = IntToHex(static_cast<uint64_t>(record.GetHeader()), 4);
  switch (record.GetReportType()) {
    case rt_None:
      return "-";
    case rt_Error:
      return "E" + IntToText(record.GetErrorCode()) + ":" + record.GetErrorText();
    case rt_Message:
      if (record.GetHeader() == 0x7015 || record.GetHeader() == 0x7016) {
        return "M" + header + ":" + IntToText(record.GetCardinal());
      }
      return "M" + header + ":" + record.GetPayload();
    default:
      return "D" + header;
  }
}

struct TPumpCase {
  std::string Name;
  std::vector<TQM_ReportStruct> Script;
  std::vector<std::string> Expected;  // one per call; the script runs out into "-"
};

std::vector<TQM_ReportStruct> Repeat(const TQM_ReportStruct& record, int times) {
  return std::vector<TQM_ReportStruct>(static_cast<size_t>(times), record);
}

std::vector<TQM_ReportStruct> Join(std::initializer_list<std::vector<TQM_ReportStruct>> parts) {
  std::vector<TQM_ReportStruct> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

std::vector<TPumpCase> PumpCases() {
  const auto ticks16 = [](uint32_t from, int count) {
    std::vector<TQM_ReportStruct> ticks;
    for (int i = 0; i < count; ++i) ticks.push_back(Value(0x7016, from + static_cast<uint32_t>(i)));
    return ticks;
  };
  return {
      {"RepeatedErrorsOnce",
       {Error(QM_Err_BadFormat, "x"), Error(QM_Err_BadFormat, "x"), Error(QM_Err_BadFormat, "y"),
        Error(QM_Err_BadFormat, "x")},
       {"E4:x", "-", "E4:y", "E4:x"}},
      // 100 ms: one measurement per tick; two give a held-back 7F22, but the
      // first check after a reset drops its complaint.
      {"TwoMeasurementsInOneTick",
       {Data(k100ms), Value(0x7016, 1), Data(k100ms), Value(0x7016, 2), Data(k100ms), Data(k100ms),
        Value(0x7016, 3)},
       {"D0600", "-", "D0600", "-", "D0600", "D0600", "-",
        "M7F22:Timestamp missing: expected 1, found 2", "-"}},
      {"OneSecondDataAfterSevenTicks",
       Join({{Data(k1s)}, ticks16(1, 7), {Data(k1s)}, ticks16(8, 1)}),
       {"D0900", "-", "-", "-", "-", "-", "-", "-", "D0900", "-",
        "M7F22:Timestamp missing: 1 measurements, found after 700ms"}},
      {"OneSecondDataEveryTenTicks",
       Join({{Data(k1s)},
             ticks16(1, 1),
             ticks16(2, 8),
             {Value(0x7016, 10)},
             {Data(k1s)},
             ticks16(11, 9),
             {Value(0x7016, 20)}}),
       {"D0900", "-", "-", "-", "-", "-", "-", "-", "-", "-",       "M7015:1", "D0900",
        "-",     "-", "-", "-", "-", "-", "-", "-", "-", "M7015:2", "-"}},
      {"WholeSecondsBecome7015", {Value(0x7016, 35), Value(0x7016, 40)}, {"-", "M7015:4"}},
      // 0x7114 with the last second arms the span with that second's count.
      {"IgnoreSpanAfterStreamRestart",
       Join({{Data(k1s), Value(0x7015, 5)},
             Repeat(Data(k1s), 3),
             {Value(0x7114, 5)},
             Repeat(Data(k1s), 4)}),
       {"D0900", "M7015:5", "D0900", "D0900", "D0900", "-", "-", "-", "-", "D0900"}},
      {"OverflowBecomes7F23",
       {Error(QM_Err_ReceiveBufferOverflow, "lost")},
       {"M7F23:Buffer cleared after buffer overflow"}},
      {"WriteErrorClosesTheConnection",
       {Error(QM_WriteError, "w"), Data(k1s)},
       {"E11:No connection to device. Port closed", "-", "-"}},
      {"ChannelSelectionIsNotDelivered", {Value(0x7021, 1)}, {"-"}},
  };
}

class SourcePumpTest : public ::testing::TestWithParam<TPumpCase> {};

TEST_P(SourcePumpTest, HeaderSequences) {
  const TPumpCase& c = GetParam();
  TFakeClock clock;
  test::TScriptedSource scripted(clock);
  std::string message;
  ASSERT_EQ(scripted.Open(message), QM_No_Err) << message;
  scripted.factory.Script.assign(c.Script.begin(), c.Script.end());
  std::vector<std::string> seen;
  TQM_ReportStruct record;
  for (size_t i = 0; i < c.Expected.size(); ++i) {
    scripted.source->GetReportStruct(record);
    seen.push_back(Describe(record));
  }
  EXPECT_EQ(seen, c.Expected);
}

// The text pump runs the same rules: its line is the record's line, its
// errors the record's text and code.
TEST_P(SourcePumpTest, TextPumpAgreesWithTheRecordPump) {
  const TPumpCase& c = GetParam();
  TFakeClock clock;
  test::TScriptedSource records(clock);
  test::TScriptedSource lines(clock);
  std::string message;
  ASSERT_EQ(records.Open(message), QM_No_Err);
  ASSERT_EQ(lines.Open(message), QM_No_Err);
  records.factory.Script.assign(c.Script.begin(), c.Script.end());
  lines.factory.Script.assign(c.Script.begin(), c.Script.end());
  TQM_ReportStruct record;
  std::string line;
  int64_t deviceMs = 0;
  for (size_t i = 0; i < c.Expected.size(); ++i) {
    records.source->GetReportStruct(record);
    const TQM_Result code = lines.source->GetReport(line, deviceMs);
    if (record.GetReportType() == rt_Error) {
      EXPECT_EQ(code, record.GetErrorCode());
      EXPECT_EQ(line, record.GetErrorText());
    } else {
      EXPECT_EQ(code, QM_No_Err);
      EXPECT_EQ(line, ReportStructToText(records.source->Codec(), record)) << "call " << i;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Sequences, SourcePumpTest, ::testing::ValuesIn(PumpCases()),
                         [](const auto& test) { return test.param.Name; });

}  // namespace
}  // namespace orb
