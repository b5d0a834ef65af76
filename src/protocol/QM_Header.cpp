#include "protocol/QM_Header.h"

#include <algorithm>
#include <array>

#include "platform/NumberFormat.h"

namespace orb {

namespace {

constexpr std::array<int, 14> kIntervalMs = {1,   2,   5,    10,   20,   50,    100,
                                             200, 500, 1000, 2000, 5000, 10000, 20000};

constexpr std::string_view kModeTexts[] = {"Phase",          "Phase Average",    "Frequency",
                                           "Frequency Avg.", "Phase Difference", "Phase Avg Diff.",
                                           "Raw Data"};

constexpr std::string_view kIntervalTexts[] = {
    "1ms", "2ms", "5ms", "10ms", "20ms", "50ms", "100ms", "200ms", "500ms", "1s",
    "2s",  "5s",  "10s", "20s",  "50s",  "100s", "200s",  "500s",  "1000s", "2000s"};

constexpr std::string_view kPPITexts[] = {"default", "control PPI", "----", "used"};
constexpr std::string_view kScramblerTexts[] = {"off", "Auto", "Trim", "used"};

using E = TMessageEffect;
using D = TMessageDelivery;

constexpr TMessageHeaderInfo kCatalogue[] = {
    {0x7000, "empty tick", "none", E::None, D::Message, ""},
    {0x7001, "device version text", "text", E::VersionText, D::Message, ""},
    {0x7002, "device service reply", "2 to 4 bytes", E::None, D::Message, ""},
    {0x7003, "block transfer finished", "none", E::None, D::Message, "; Block done"},
    {0x7004, "device service reply", "2 to 4 bytes", E::None, D::Message, ""},
    {0x7005, "device service reply", "2 to 4 bytes", E::None, D::Message, ""},
    {0x7015, "time stamp, whole seconds", "32-bit big-endian seconds", E::Timestamp, D::Message,
     ""},
    {0x7016, "time stamp, tenths of seconds", "32-bit big-endian tenths", E::TimestampTenths,
     D::Message, ""},
    {0x7019, "non-volatile storage value", "4 bytes", E::None, D::Message, ""},
    {0x7020, "measurement settings changed", "2 bytes: header high byte, scrambler and flags",
     E::ResetChecks, D::Message, ""},
    {0x7021, "channel selection data", "device specific", E::Dropped, D::Message, ""},
    {0x7022, "receive buffer cleared", "none", E::ResetChecks, D::Message, "Buffer cleared"},
    {0x7030, "list of connected users", "binary user table", E::None, D::Message, ""},
    {0x7040, "device text", "text", E::None, D::Message, ""},
    {0x7055, "device diagnostic block", "binary", E::None, D::Message, ""},
    {0x7100, "digital input states", "per value a blank and 8 hex digits", E::None, D::Message, ""},
    {0x7114, "start of a span of data to be ignored", "32-bit big-endian second", E::IgnoreSpan,
     D::Message, ""},
    {0x7115, "start of a span of data to be ignored", "32-bit big-endian second", E::IgnoreSpan,
     D::Message, ""},
    {0x7900, "LTV measurement", "LTV values", E::LtvReceived, D::Message, ""},
    {0x7901, "calibration values", "24 values", E::None, D::Doubles, ""},
    {0x7902, "flash or FRAM block", "block", E::None, D::Message, ""},
    {0x79A0, "device diagnostic block", "binary", E::None, D::Message, ""},
    {0x7ADC, "device diagnostic block", "binary", E::None, D::Message, ""},
    {0x7ADD, "device diagnostic block", "binary", E::None, D::Message, ""},
    {0x7D1A, "device diagnostic block", "binary", E::None, D::Message, ""},
    {0x7E1A, "device diagnostic block", "binary", E::None, D::Message, ""},
    {0x7E1B, "device diagnostic block", "binary", E::None, D::Message, ""},
    {0x7EFE, "ESP status 253", "none", E::None, D::Message, ""},
    {0x7EFF, "ESP heartbeat", "pairs of 32-bit values", E::Heartbeat, D::Int32, ""},
    {0x7F20, "ESP block of unknown type", "hex text of the block", E::None, D::Message, ""},
    {0x7F21, "USB frames lost", "text", E::None, D::Message, "Read error on USB. USB frames lost"},
    {0x7F22, "per-second data check failed", "text", E::None, D::Message, ""},
    {0x7F23, "receive buffer cleared after overflow", "none", E::ResetChecks, D::Message,
     "Buffer cleared after buffer overflow"},
    {0x7F40, "application data from data-server clients", "text", E::None, D::Message, ""},
    {0x7F51, "measurement re-synchronised", "text", E::ReSync, D::Message, ""},
    {0x7F90, "LTV synchronisation error", "text", E::None, D::Message, "Sync Error with LTV data"},
    {0x7FF0, "unsupported mode", "text", E::None, D::Message, "unsupported mode"},
    {0x7FF2, "input data overrun", "text", E::InputOverrun, D::Message, ""},
    {0x7FF4, "FPGA time error", "text", E::None, D::Message, ""},
    {0x7FF7, "no measurement data from the device", "text", E::None, D::Message, ""},
    {0x7FF8, "reference clock OK", "text", E::ClockOk, D::Message, ""},
    {0x7FF9, "reference clock error", "text", E::ClockError, D::Message, ""},
    {0x7FFA, "user id already in use / too many users", "text", E::UserIdInUse, D::Message, ""},
};

constexpr bool CatalogueIsSorted() {
  for (size_t i = 1; i < std::size(kCatalogue); ++i) {
    if (kCatalogue[i - 1].Header >= kCatalogue[i].Header) return false;
  }
  return true;
}
static_assert(CatalogueIsSorted(), "FindMessageHeader searches by bisection");

template <typename Table>
std::string_view TextAt(const Table& table, int index, bool valid = true) {
  return valid && index >= 0 && static_cast<size_t>(index) < std::size(table) ? table[index]
                                                                              : std::string_view();
}

}  // namespace

bool HeaderIsAverage(uint32_t header) {
  const uint32_t mode = (header >> 12) & 7;
  return mode == 1 || mode == 3 || mode == 5;
}

bool HeaderIsTimestampOrORC(uint32_t header) {
  return header == 0x7015 || header == 0x7016 || header == 0x7114 || header == 0x7115 ||
         header < 0x7000;
}

int GetHeaderMs(uint32_t header) {
  const size_t index = (header >> 8) & 0xF;
  return index < kIntervalMs.size() ? kIntervalMs[index] : 0;
}

TQMHeader::TQMHeader(std::string_view text) {
  int32_t value = 0;
  const bool valid = TryTextToInt32(text, value) && value >= 0 && value <= 0xFFFF;
  SetHeader(valid ? static_cast<uint16_t>(value) : uint16_t{0xFFFF});
}

void TQMHeader::SetHeader(uint16_t header) {
  FModeValid = header != 0xFFFF;
  FIntervalIndexValid = header != 0xFFFF;
  FLost = (header & kLostDataBit) != 0;
  FHeader = header & ~kLostDataBit;
  FMode = (header >> 12) & 7;
  FModeValid = FModeValid && FMode < 7;
  const bool extended = (header & 0x2) != 0;
  FIntervalIndex = (header >> 8) & 0xF;
  if ((FIntervalIndex == 0 && extended) || FIntervalIndex > 13) FIntervalIndexValid = false;
  if (extended) FIntervalIndex += 13;
  if (FIntervalIndex >= 20) FIntervalIndexValid = false;
  static constexpr int kSteps[] = {1, 2, 5};
  FGateTime = kSteps[FIntervalIndex % 3];
  for (int i = 0; i < FIntervalIndex / 3; ++i) FGateTime *= 10;
  FFilterIndex = (header >> 6) & 3;
  FMeasFrequence = (header & 0x20) != 0 ? 5 : 10;
  FPPIindex = (header >> 6) & 3;
  FScrambling = (header & 0x10) != 0;
  FScramblerIndex = (header >> 4) & 3;
  FDithering = (header & 0x8) != 0;
  FFpgaBit = (header & 0x1) != 0;
  FMultiplier = FFpgaBit ? 100000.0 : 1000.0;
  if ((header & 0x4) != 0) {
    FBand = "BB";
    FFilterIndex = 0;
    FMeasFrequence = 0;
    FMultiplier = 1.0;
  } else {
    FBand = "NB";
  }
}

std::string_view TQMHeader::GetModeText() const { return TextAt(kModeTexts, FMode); }

std::string_view TQMHeader::GetIntervalText() const {
  return TextAt(kIntervalTexts, FIntervalIndex, FIntervalIndexValid);
}

std::string_view TQMHeader::GetPPItext() const { return TextAt(kPPITexts, FPPIindex); }

std::string_view TQMHeader::GetScramblerText() const {
  return TextAt(kScramblerTexts, FScramblerIndex);
}

std::string TQMHeader::GetMeasFrequenceText() const {
  std::string text;
  AppendIntText(text, int64_t{FMeasFrequence} * 1000000);
  return text;
}

std::string_view TQMHeader::GetMultiplierText() const {
  if (FMultiplier == 1.0) return "1E+0";
  return FMultiplier == 1000.0 ? "1E+3" : "1E+5";
}

std::span<const TMessageHeaderInfo> MessageHeaderCatalogue() { return kCatalogue; }

const TMessageHeaderInfo* FindMessageHeader(uint16_t header) {
  const auto* found =
      std::lower_bound(std::begin(kCatalogue), std::end(kCatalogue), header,
                       [](const TMessageHeaderInfo& info, uint16_t h) { return info.Header < h; });
  return found != std::end(kCatalogue) && found->Header == header ? found : nullptr;
}

}  // namespace orb
