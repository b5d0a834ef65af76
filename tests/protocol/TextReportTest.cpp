#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "protocol/QM_Report.h"

namespace orb {
namespace {

std::string Bytes(std::initializer_list<uint8_t> bytes) {
  return std::string(bytes.begin(), bytes.end());
}

TSourceCodecState StateWith(char separator) {
  TSourceCodecState state;
  state.FFormatSettings = NumberFormat::WithDecimalSeparator(separator);
  return state;
}

std::string Pad(std::string text, size_t width) {
  return std::string(width > text.size() ? width - text.size() : 0, ' ') + text;
}

TEST(TextReportDecoding, Table) {
  struct Case {
    const char* line;
    char separator;
    TQM_ReportType type;
    int header;
    std::vector<double> values;  // phases as High + Low
  };
  const Case cases[] = {
      {"0900;1.5;2,25", ',', rt_Phase, 0x0900, {1.5, 2.25}},
      {"0900;1.5;2.25", '.', rt_Phase, 0x0900, {1.5, 2.25}},
      {"0900;1.5;2.5;;", '.', rt_Phase, 0x0900, {1.5, 2.5}},
      {"0900;-3.5", '.', rt_Phase, 0x0900, {-3.5}},
      {"0900; 7 ", '.', rt_Phase, 0x0900, {7}},
      {"0900;1,5", '.', rt_Phase, 0x0900, {1.5}},
      {"0900", '.', rt_Phase, 0x0900, {}},
      {"8900;1.0", '.', rt_Phase, 0x0900, {1.0}},
      {"2900;10.000001", '.', rt_Double, 0x2900, {10000.001}},
      {"2900;10,5", ',', rt_Double, 0x2900, {10500}},
      {"4900;-0.5", '.', rt_Double, 0x4900, {-0.5}},
      {"6900;17", '.', rt_Double, 0x6900, {17}},
      {"7901;1.5; 2.5 ", '.', rt_Double, 0x7901, {1.5, 2.5}},
      {"7900;anything", '.', rt_None, -1, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    TSourceCodecState state = StateWith(c.separator);
    TQM_ReportStruct record;
    ASSERT_EQ(DecodeTextReport(state, c.line, record), QM_No_Err) << record.ToString();
    EXPECT_EQ(record.GetReportType(), c.type);
    EXPECT_EQ(record.GetHeader(), c.header);
    if (c.type == rt_Phase) {
      ASSERT_EQ(record.GetValueCount(), static_cast<int>(c.values.size()));
      for (size_t i = 0; i < c.values.size(); ++i) {
        EXPECT_EQ(record.GetPhases()[i].ToDouble(), c.values[i]);
      }
    }
    if (c.type == rt_Double) {
      ASSERT_GE(record.GetValueCount(), static_cast<int>(c.values.size()));
      for (size_t i = 0; i < c.values.size(); ++i) {
        EXPECT_NEAR(record.GetDoubles()[i], c.values[i], 1e-9 * std::fabs(c.values[i]));
      }
    }
  }
}

TEST(TextReportDecoding, WholeCyclesBeyond32Bits) {
  TSourceCodecState state;
  TQM_ReportStruct record;
  ASSERT_EQ(DecodeTextReport(state, "0900;8589934592.25;-4294967296.5", record), QM_No_Err);
  EXPECT_EQ(record.GetPhases()[0], (Phase{8589934592, 0.25}));
  EXPECT_EQ(record.GetPhases()[1], (Phase{-4294967296, -0.5}));
}

TEST(TextReportDecoding, Messages) {
  TSourceCodecState state;
  TQM_ReportStruct record;
  ASSERT_EQ(DecodeTextReport(state, "7015;12345", record), QM_No_Err);
  EXPECT_EQ(record.GetReportType(), rt_Message);
  EXPECT_EQ(record.GetHeader(), 0x7015);
  EXPECT_EQ(record.GetPayload(), Bytes({0x00, 0x00, 0x30, 0x39}));

  ASSERT_EQ(DecodeTextReport(state, "7001 ORC V1.2; User 3", record), QM_No_Err);
  EXPECT_EQ(record.GetHeader(), 0x7001);
  EXPECT_EQ(record.GetPayload(), "ORC V1.2; User 3");

  ASSERT_EQ(DecodeTextReport(state, "7f51;\tresync \r", record), QM_No_Err);
  EXPECT_EQ(record.GetHeader(), 0x7F51);
  EXPECT_EQ(record.GetPayload(), "resync");
}

TEST(TextReportDecoding, ValuesThatDoNotConvertBecomeErrorRecords) {
  const std::pair<const char*, char> cases[] = {
      {"7015", '.'},   {"7016;12.5", '.'},     {"7015;99999999999", '.'}, {"zz00;1", '.'},
      {"", '.'},       {"0900;1.5;;2.5", '.'}, {"0900;1.5;2,5", '.'},     {"0900;1.5e3", '.'},
      {"0900;x", '.'}, {"2900;1.5;abc", '.'},  {"2900;1.5;2,5", '.'},     {"7901;1;x", '.'},
  };
  for (const auto& [line, separator] : cases) {
    TSourceCodecState state = StateWith(separator);
    TQM_ReportStruct record;
    EXPECT_EQ(DecodeTextReport(state, line, record), QM_Err_Exception) << line;
    EXPECT_EQ(record.GetErrorCode(), QM_Err_Exception) << line;
    EXPECT_EQ(record.GetErrorText().rfind("EXCEP(EConvertError) '", 0), 0u)
        << line << ": " << record.GetErrorText();
  }
}

TEST(TextReportDecoding, ValuesBeyondTheChannelLimitAreIgnored) {
  std::string line = "0900";
  for (int i = 1; i <= 30; ++i) line += ";" + std::to_string(i) + ".5";
  TSourceCodecState state;
  TQM_ReportStruct record;
  ASSERT_EQ(DecodeTextReport(state, line, record), QM_No_Err);
  EXPECT_EQ(record.GetValueCount(), 24);
  EXPECT_EQ(record.GetPhases()[23].High, 24);
}

TEST(TextReportState, CountersFlagsAndResets) {
  TSourceCodecState state;
  const auto feed = [&](const char* line) { return ProcessTxtReport(state, line); };
  feed("0900;1.5");
  EXPECT_TRUE(state.FirstDataReceived);
  EXPECT_EQ(state.dataPerSecondCounter, 0) << "no time stamp yet";
  EXPECT_EQ(state.FDataHeader, 0x0900u);
  feed("7015;1");
  EXPECT_TRUE(state.FirstTimestampReceived);
  EXPECT_EQ(state.FTimestampCounter, 1);
  feed("0900;1.5");
  feed("0900;2.5");
  EXPECT_EQ(state.dataPerSecondCounter, 2);
  EXPECT_EQ(state.FLastOrcHeader, 0x0900u);
  feed("7015;2");
  EXPECT_EQ(state.dataPerSecondCounter_copy, 2);
  EXPECT_EQ(state.dataPerSecondCounter, 0);
  EXPECT_EQ(state.FTimestampCounter, 2);
  EXPECT_EQ(state.FLastOrcHeader, 0x0900u) << "0x7015 is not remembered";
  feed("7016;20");
  EXPECT_EQ(state.FLastOrcHeader, 0x7016u);

  for (const char* reset : {"7020;", "7022", "7F23", "7FF2; overrun", "8900;1.0"}) {
    feed("0900;1");
    feed("7015;5");
    state.FFirstCheckDataPerSecondCounter = false;
    feed(reset);
    EXPECT_FALSE(state.FirstTimestampReceived) << reset;
    EXPECT_EQ(state.FTimestampCounter, 0) << reset;
    EXPECT_TRUE(state.FFirstCheckDataPerSecondCounter) << reset;
  }
  EXPECT_EQ(feed("7001 V"), taRefreshLtvOnly);
  EXPECT_EQ(feed("7F51; sync"), taReSync);
  feed("7FF9; error");
  EXPECT_TRUE(state.FReferenceClockError);
  feed("7FF8; ok");
  EXPECT_FALSE(state.FReferenceClockError);
}

TEST(TextReportEncoding, Table) {
  TSourceCodecState state;
  state.ExpoAlt[1] = 13;
  const auto message = [](uint16_t header, std::string payload) {
    TQM_ReportStruct r;
    r.SetMessage(header, payload);
    return r;
  };
  const auto doubles = [](uint16_t header, std::vector<double> values) {
    TQM_Doubles array{};
    std::copy(values.begin(), values.end(), array.begin());
    TQM_ReportStruct r;
    r.SetDoubles(header, static_cast<int>(values.size()), array);
    return r;
  };
  const auto phases = [](uint16_t header, std::vector<Phase> values) {
    TQM_ReportPhases array{};
    std::copy(values.begin(), values.end(), array.begin());
    TQM_ReportStruct r;
    r.SetPhases(header, static_cast<int>(values.size()), array);
    return r;
  };
  TQM_Int32 ints{};
  ints[0] = 0xABCD;
  ints[1] = 0xFFFFFFFF;
  TQM_ReportStruct heartbeat;
  heartbeat.SetInt32(0x7EFF, 1, ints);
  TQM_ReportStruct error;
  error.SetError(QM_Err_BadFormat, "bad");

  const std::pair<TQM_ReportStruct, std::string> cases[] = {
      {TQM_ReportStruct{}, ""},
      {error, ""},
      {message(0x7001, "ORC V1"), "7001 ORC V1"},
      {message(0x7F51, "Re-Sync"), "7F51; Re-Sync"},
      {message(0x7015, Bytes({0, 0, 0x30, 0x39})), "7015; 12345"},
      {message(0x7019, "ab"), "7019; FFFFFFFF"},
      {message(0x7020, Bytes({0x29, 0x10, 0, 1, 7})), "7020; 29100001"},
      {message(0x7000, ""), "7000; "},
      {doubles(0x2900, {10e9, 10e9}),
       "2900;" + Pad("10000000.0000000000000000", 26) + ";" + Pad("10000000.000000000000", 26)},
      {phases(0x0900, {{5, 0.25}, {7, 0.5}}),
       "0900;" + Pad("5.25000000000", 26) + ";" + Pad("7.5000000", 26)},
      {phases(0x0900, {{2, 0.9999999999999}}), "0900;" + Pad("3.00000000000", 26)},
      {phases(0x0900, {{100000000000000000, 0.5}}), "0900;100000000000000000.5000000"},
      {doubles(0x4900, {-0.5, 2.25}),
       "4900;" + Pad("-0.50000000000", 26) + ";" + Pad("2.2500000", 26)},
      {doubles(0x4900, {-0.0}), "4900;" + Pad("-0.00000000000", 26)},
      {doubles(0x0900, {1.5}), "0900;" + Pad("1.50000000000", 26)},
      {doubles(0x6000, {1.5, 2.5}), "6000; "},
      {doubles(0x7900, {1.5, -2}), "7900;" + Pad("1.50", 13) + ";" + Pad("-2.00", 13)},
      {doubles(0x7901, {1.5}), "7901;" + Pad("1.500", 14)},
      {heartbeat, "7EFF; 0000ABCD; FFFFFFFF"},
  };
  for (const auto& [record, line] : cases) {
    EXPECT_EQ(ReportStructToText(state, record), line) << record.ToString();
  }

  TSourceCodecState comma = StateWith(',');
  EXPECT_EQ(ReportStructToText(comma, phases(0x0100, {{1, 0.5}})),
            "0100;" + Pad("1,50000000000", 26));
  EXPECT_EQ(ReportStructToText(comma, doubles(0x2100, {10e9})),
            "2100;" + Pad("10000000,0000000000000000", 26));
}

// Random records through the canonical line and back: equal within the
// decimals the line carries.
TEST(TextReportEncoding, RoundTripProperty) {
  std::mt19937_64 random(2024);
  std::uniform_int_distribution<int> channelCount(1, 24);
  std::uniform_int_distribution<int> exponent(0, 16);
  std::uniform_int_distribution<int64_t> whole(-(int64_t{1} << 40), int64_t{1} << 40);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (int round = 0; round < 3000; ++round) {
    TSourceCodecState encoder = StateWith(round % 2 ? ',' : '.');
    for (int& e : encoder.ExpoAlt) e = exponent(random);
    const int count = channelCount(random);
    TQM_ReportStruct record;
    const int kind = round % 3;
    if (kind == 0) {
      TQM_ReportPhases phases{};
      for (int i = 0; i < count; ++i) {
        phases[static_cast<size_t>(i)] = Phase{whole(random), unit(random)};
        phases[static_cast<size_t>(i)].Normalize();
      }
      record.SetPhases(0x0900, count, phases);
    } else {
      TQM_Doubles values{};
      for (int i = 0; i < count; ++i) {
        values[static_cast<size_t>(i)] =
            kind == 1 ? 1e6 + unit(random) * 1e11 : (unit(random) - 0.5) * (i % 2 ? 2 : 2e6);
      }
      record.SetDoubles(kind == 1 ? 0x2900 : 0x4900, count, values);
    }
    const std::string line = ReportStructToText(encoder, record);
    TSourceCodecState decoder = StateWith(encoder.FFormatSettings.DecimalSeparator);
    TQM_ReportStruct decoded;
    ASSERT_EQ(DecodeTextReport(decoder, line, decoded), QM_No_Err) << line;
    ASSERT_EQ(decoded.GetValueCount(), count) << line;
    for (int i = 0; i < count; ++i) {
      const size_t k = static_cast<size_t>(i);
      const int decimals = DecimalsForExponent(encoder.ExpoAlt[k]);
      if (kind == 0) {
        const Phase a = record.GetPhases()[k];
        const Phase b = decoded.GetPhases()[k];
        const double difference = static_cast<double>(b.High - a.High) + (b.Low - a.Low);
        EXPECT_LE(std::fabs(difference), 0.5 * std::pow(10.0, -decimals) + 1e-12) << line;
      } else if (kind == 1) {
        const double a = record.GetDoubles()[k];
        EXPECT_NEAR(decoded.GetDoubles()[k], a, a * 4e-16 + 0.5e3 * std::pow(10.0, -decimals - 5))
            << line;
      } else {
        const double a = record.GetDoubles()[k];
        const double b = decoded.GetDoubles()[k];
        EXPECT_NEAR(b, a, std::fabs(a) * 4e-16 + 0.5 * std::pow(10.0, -decimals)) << line;
        EXPECT_EQ(std::signbit(a), std::signbit(b)) << line;
      }
    }
  }
}

}  // namespace
}  // namespace orb
