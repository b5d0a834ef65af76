#include <gtest/gtest.h>

#include "protocol/QM_Header.h"

namespace orb {
namespace {

TEST(QMHeader, DecodingTable) {
  struct Case {
    uint16_t header;
    bool modeValid;
    bool intervalValid;
    bool lost;
    const char* mode;
    const char* interval;
    int64_t gateMs;
    const char* band;
    const char* frequency;
    const char* multiplier;
    const char* scrambler;
    const char* scrambling;
  };
  const Case cases[] = {
      {0x1902, true, false, false, "Phase Average", "", 0, "Narrowband", "10000000", "1E+3", "off",
       "OFF"},
      {0x1102, true, true, false, "Phase Average", "50s", 50000, "Narrowband", "10000000", "1E+3",
       "off", "OFF"},
      {0x0002, true, false, false, "Phase", "", 0, "Narrowband", "10000000", "1E+3", "off", "OFF"},
      {0x0005, true, true, false, "Phase", "1ms", 1, "Broadband", "0", "1E+0", "off", "OFF"},
      {0x2021, true, true, false, "Frequency", "1ms", 1, "Narrowband", "5000000", "1E+5", "Trim",
       "OFF"},
      {0xFFFF, false, false, true, "", "", 0, "Broadband", "0", "1E+0", "used", "ON"},
      {0x0900, true, true, false, "Phase", "1s", 1000, "Narrowband", "10000000", "1E+3", "off",
       "OFF"},
      {0x8C10, true, true, true, "Phase", "10s", 10000, "Narrowband", "10000000", "1E+3", "Auto",
       "ON"},
      {0x6602, true, true, false, "Raw Data", "2000s", 2000000, "Narrowband", "10000000", "1E+3",
       "off", "OFF"},
  };
  for (const Case& c : cases) {
    const TQMHeader h(c.header);
    SCOPED_TRACE(c.header);
    EXPECT_EQ(h.FModeValid, c.modeValid);
    EXPECT_EQ(h.FIntervalIndexValid, c.intervalValid);
    EXPECT_EQ(h.FLost, c.lost);
    EXPECT_EQ(h.FHeader, c.header & 0x7FFF);
    EXPECT_EQ(h.GetModeText(), c.mode);
    EXPECT_EQ(h.GetIntervalText(), c.interval);
    if (c.intervalValid) {
      EXPECT_EQ(h.FGateTime, c.gateMs);
    }
    EXPECT_EQ(h.GetBandText(), c.band);
    EXPECT_EQ(h.GetMeasFrequenceText(), c.frequency);
    EXPECT_EQ(h.GetMultiplierText(), c.multiplier);
    EXPECT_EQ(h.GetScramblerText(), c.scrambler);
    EXPECT_EQ(h.GetScramblingText(), c.scrambling);
  }
  const TQMHeader h(uint16_t{0x00C8});
  EXPECT_EQ(h.GetPPItext(), "used");
  EXPECT_EQ(h.FFilterIndex, 3);
  EXPECT_EQ(h.GetDitheringText(), "ON");
  EXPECT_TRUE(h.GetIsORCData());
  EXPECT_FALSE(TQMHeader(uint16_t{0xF015}).GetIsORCData());
  EXPECT_EQ(TQMHeader(" 2337 ").FHeader, 0x0921);
  EXPECT_FALSE(TQMHeader("0x12").FModeValid);
}

TEST(QMHeader, Predicates) {
  for (const uint32_t h : {0x1000u, 0x3900u, 0x5100u, 0x9000u}) EXPECT_TRUE(HeaderIsAverage(h));
  for (const uint32_t h : {0x0900u, 0x2000u, 0x4000u, 0x6000u, 0x7000u}) {
    EXPECT_FALSE(HeaderIsAverage(h));
  }
  for (const uint32_t h : {0x7015u, 0x7016u, 0x7114u, 0x7115u, 0x0000u, 0x6FFFu}) {
    EXPECT_TRUE(HeaderIsTimestampOrORC(h)) << h;
  }
  for (const uint32_t h : {0x7000u, 0x7017u, 0x8900u, 0x10000u}) {
    EXPECT_FALSE(HeaderIsTimestampOrORC(h)) << h;
  }
  EXPECT_EQ(GetHeaderMs(0x0D00), 20000);
  EXPECT_EQ(GetHeaderMs(0x0902), 1000) << "bit 1 is not taken into account";
  EXPECT_EQ(GetHeaderMs(0x0E00), 0);
  EXPECT_EQ(GetHeaderMs(0x0F00), 0);
  EXPECT_TRUE(IsMessageHeader(0xF001));
  EXPECT_FALSE(IsMessageHeader(0x6FFF));
}

TEST(MessageCatalogue, LookupAndEffects) {
  for (const TMessageHeaderInfo& info : MessageHeaderCatalogue()) {
    EXPECT_TRUE(IsMessageHeader(info.Header)) << info.Header;
    EXPECT_EQ(FindMessageHeader(info.Header), &info);
  }
  EXPECT_EQ(FindMessageHeader(0x7015)->Effect, TMessageEffect::Timestamp);
  EXPECT_EQ(FindMessageHeader(0x7021)->Effect, TMessageEffect::Dropped);
  EXPECT_EQ(FindMessageHeader(0x7F23)->GeneratedText, "Buffer cleared after buffer overflow");
  EXPECT_EQ(FindMessageHeader(0x7901)->Delivery, TMessageDelivery::Doubles);
  EXPECT_EQ(FindMessageHeader(0x7EFF)->Delivery, TMessageDelivery::Int32);
  EXPECT_EQ(FindMessageHeader(0x7ADD)->Payload, "binary");
  EXPECT_EQ(FindMessageHeader(0x7006), nullptr);
  EXPECT_EQ(FindMessageHeader(0xF015), nullptr);
}

}  // namespace
}  // namespace orb
