#pragma once
// The 16-bit report header: a measurement header (mode, interval, filter,
// scrambler, band) or a message header (0x7000..0x7FFF), its decoded view
// with display texts, and the catalogue of message headers.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace orb {

constexpr uint16_t kLostDataBit = 0x8000;

// Bits 14..12: 0..6 measurement modes, 7 message.
constexpr int HeaderMode(uint32_t header) { return static_cast<int>((header >> 12) & 7); }
// Mode field 7 (ignoring bit 15) marks a message; everything else is data.
constexpr bool IsMessageHeader(uint32_t header) { return HeaderMode(header) == 7; }
// Modes 1, 3 and 5.
bool HeaderIsAverage(uint32_t header);
// 0x7015, 0x7016, 0x7114, 0x7115 and every header below 0x7000.
bool HeaderIsTimestampOrORC(uint32_t header);
// The measurement interval of a data header in ms; 0 for interval indexes
// 14 and 15, which have none.
int GetHeaderMs(uint32_t header);

class TQMHeader {
 public:
  TQMHeader() : TQMHeader(uint16_t{0}) {}
  explicit TQMHeader(uint16_t header) { SetHeader(header); }
  // A decimal number; any other text decodes like 0xFFFF (nothing valid).
  explicit TQMHeader(std::string_view text);

  void SetHeader(uint16_t header);

  std::string_view GetModeText() const;
  std::string_view GetIntervalText() const;
  std::string_view GetPPItext() const;
  std::string_view GetScramblerText() const;
  std::string_view GetScramblingText() const { return FScrambling ? "ON" : "OFF"; }
  std::string_view GetDitheringText() const { return FDithering ? "ON" : "OFF"; }
  std::string_view GetBandText() const { return FBand == "BB" ? "Broadband" : "Narrowband"; }
  std::string GetMeasFrequenceText() const;
  std::string_view GetMultiplierText() const;
  bool GetIsORCData() const { return FHeader < 0x7000; }
  bool Dithering() const { return FDithering; }

  bool FModeValid = true;
  bool FIntervalIndexValid = true;
  bool FLost = false;
  uint16_t FHeader = 0;  // without the lost-data bit
  int FMode = 0;
  int FIntervalIndex = 0;
  int64_t FGateTime = 0;  // ms
  int FFilterIndex = 0;
  int FMeasFrequence = 0;  // MHz
  int FPPIindex = 0;
  bool FScrambling = false;
  int FScramblerIndex = 0;
  double FMultiplier = 0;
  bool FFpgaBit = false;
  std::string_view FBand;  // "BB" or "NB"

 private:
  bool FDithering = false;
};

// What the receiving source does with a message report.
enum class TMessageEffect : uint8_t {
  None,
  VersionText,      // remembered, log headers rewritten, LTV-only flag refreshed
  Timestamp,        // first-time-stamp flag, counter, per-second data check
  TimestampTenths,  // as Timestamp; whole seconds forwarded as 0x7015
  ResetChecks,      // data and time-stamp checks reset
  Dropped,          // never delivered
  IgnoreSpan,       // arms the ignore span, report dropped
  LtvReceived,
  Heartbeat,
  ReSync,        // checks reset, re-synchronisation
  InputOverrun,  // checks reset unless the text is "Scrambler in use!"
  ClockOk,
  ClockError,
  UserIdInUse,  // text replaced when the user id is known
};

// How a message arrives in the decoded record.
enum class TMessageDelivery : uint8_t { Message, Doubles, Int32 };

struct TMessageHeaderInfo {
  uint16_t Header;
  std::string_view Meaning;
  std::string_view Payload;
  TMessageEffect Effect;
  TMessageDelivery Delivery;
  std::string_view GeneratedText;  // the text of messages the program makes itself
};

std::span<const TMessageHeaderInfo> MessageHeaderCatalogue();
// Nothing for headers outside the catalogue (bit 15 is not stripped).
const TMessageHeaderInfo* FindMessageHeader(uint16_t header);

}  // namespace orb
