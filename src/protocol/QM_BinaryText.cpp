#include "protocol/QM_BinaryText.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "logging/LogUnit.h"
#include "protocol/ByteOrder.h"
#include "protocol/QM_BinaryValues.h"
#include "protocol/QM_Header.h"
#include "protocol/QM_TextUtils.h"

namespace orb {

namespace {

constexpr std::string_view kUnsupportedMode = "7FF0; unsupported mode";

// Renders into `line` and aligns the result right in `width` characters,
// cutting its end beyond `maxLength`.
template <typename Render>
void AppendAligned(std::string& line, size_t width, size_t maxLength, Render render) {
  const size_t start = line.size();
  render(line);
  size_t length = line.size() - start;
  if (length > maxLength) {
    line.resize(start + maxLength);
    length = maxLength;
  }
  if (length < width) line.insert(start, width - length, ' ');
}

void AppendValueField(std::string& line, const Phase& value, int decimals,
                      const NumberFormat& format) {
  line += ';';
  AppendAligned(line, 26, 25,
                [&](std::string& out) { AppendPhaseFixed(out, value, decimals, format); });
}

void DataLine(TSourceCodecState& state, std::string_view body, std::string& line) {
  const int mode = HeaderMode(state.FDataHeader);
  const NumberFormat& format = state.FFormatSettings;
  TQM_ReportPhases phases{};
  TQM_Doubles values{};
  int count = 0;
  int extraDecimals = 0;
  switch (mode) {
    case 0:
    case 1:
      count = ReadPhaseRecords(state, body, phases);
      break;
    case 2:
    case 3:
      count = ReadFrequencyRecords(state, body, values);
      extraDecimals = 5;
      break;
    case 4:
    case 5:
      count = ReadDifferenceRecords(state, body, values);
      break;
    default:
      if (!state.FOptRawData) count = -1;
      break;
  }
  if (count < 0) {
    line = kUnsupportedMode;
    return;
  }
  AppendIntHex(line, state.FHeader, 4);
  if (mode == 6) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(body.data());
    for (int i = 0; i < ValueRecordCount(body); ++i) {
      const uint8_t* record = bytes + static_cast<size_t>(i) * kValueRecordSize;
      line += "; ";
      AppendIntHex(line, LoadBE16(record), 4);
      line += ',';
      AppendIntHex(line, LoadBE16(record + 2), 4);
      line += ',';
      AppendIntHex(line, LoadBE16(record + 4), 4);
    }
    return;
  }
  for (int i = 0; i < count; ++i) {
    const size_t channel = static_cast<size_t>(i);
    // The sign of a difference is the value's own.
    const Phase value = mode <= 1 ? phases[channel] : Phase{0, values[channel]};
    AppendValueField(line, value, DecimalsForExponent(state.ExpoAlt[channel]) + extraDecimals,
                     format);
  }
}

// Messages whose body is shown as fields of fixed position: each field is
// its prefix and `Count` bytes from `Offset` as 2 x Count hex digits.
struct TField {
  std::string_view Prefix;
  uint8_t Offset = 0;
  uint8_t Count = 0;
};

struct TFixedLayout {
  uint16_t Header;
  std::array<TField, 8> Fields;
};

constexpr TFixedLayout kFixedLayouts[] = {
    {0x7002, {{{"; $", 0, 2}}}},
    {0x7020, {{{"; $", 0, 2}}}},
    {0x7D1A, {{{"; $", 0, 2}}}},
    {0x7004, {{{"; $", 0, 2}, {", $", 2, 2}}}},
    {0x7005, {{{"; ", 0, 3}}}},
    {0x7055,
     {{{"; ", 0, 1},
       {"; ", 1, 2},
       {"; ", 3, 2},
       {"; ", 5, 2},
       {"; ", 7, 2},
       {"; ", 9, 2},
       {"; ", 11, 2},
       {"; ", 13, 2}}}},
    {0x79A0, {{{"; ", 0, 1}, {"; ", 1, 2}, {"; ", 3, 4}, {"; ", 7, 4}}}},
    {0x7ADD,
     {{{" ", 0, 4},
       {" ", 4, 2},
       {" ", 6, 2},
       {" ", 8, 2},
       {" ", 10, 2},
       {" ", 12, 2},
       {" ", 14, 2}}}},
    {0x7E1A,
     {{{"; ", 0, 1}, {"=$", 2, 1}, {": $", 3, 2}, {"; ", 5, 2}, {"; ", 7, 2}, {"; ", 9, 2}}}},
    {0x7E1B, {{{"; ", 0, 1}, {"; ", 1, 2}, {"; ", 3, 2}, {"; ", 5, 2}, {"; ", 8, 2}}}},
};

const TFixedLayout* FindFixedLayout(uint16_t header) {
  for (const TFixedLayout& layout : kFixedLayouts) {
    if (layout.Header == header) return &layout;
  }
  return nullptr;
}

size_t LayoutSize(const TFixedLayout& layout) {
  size_t size = 0;
  for (const TField& field : layout.Fields) {
    size = std::max<size_t>(size, size_t{field.Offset} + field.Count);
  }
  return size;
}

// The body length a header's rendering reads; 0 when it reads no fixed part.
size_t MinimumBodySize(uint16_t header) {
  if (header == 0x7015 || header == 0x7016) return 4;
  const TFixedLayout* layout = FindFixedLayout(header);
  return layout != nullptr ? LayoutSize(*layout) : 0;
}

void AppendFixedLayout(std::string& line, const TFixedLayout& layout, std::string_view body) {
  for (const TField& field : layout.Fields) {
    if (field.Count == 0) break;
    line += field.Prefix;
    AppendBytesAsHex(line, body.substr(field.Offset, field.Count));
  }
}

void ShortBodyLine(const TSourceCodecState& state, uint16_t header, std::string_view body,
                   std::string& line) {
  AppendIntHex(line, header, 4);
  line += ": ";
  AppendBytesAsHex(line, body);
  if (LogActive(state.FLogId)) {
    std::string text = ".ProcessBinData: body of ";
    AppendIntHex(text, header, 4);
    text += " too short: ";
    AppendIntText(text, static_cast<int64_t>(body.size()));
    text += " bytes";
    state.LogWarningText(text);
  }
}

void VersionLine(const IBinaryReportHost& host, std::string_view body, std::string& line) {
  std::string_view version = body;
  if (host.PeerType() == ptColdfire) {
    // Up to "User" and the character after it; the whole text without one.
    const size_t user = version.find("User");
    if (user != std::string_view::npos) version = version.substr(0, user + 5);
  }
  line += "7001";
  line += version;
  line += " / ";
  line += host.LibraryVersionText();
}

void TimestampLine(TSourceCodecState& state, IBinaryReportHost& host, std::string_view body,
                   std::string& line) {
  const uint16_t header = state.FHeader;
  const uint32_t value = LoadBE32(reinterpret_cast<const uint8_t*>(body.data()));
  state.CountTimestamp(".ProcessBinData");
  host.SetReceivedSec(value);
  if (header == 0x7015 || value % 10 == 0) {
    line += "7015; ";
    AppendIntText(line, header == 0x7015 ? value : value / 10);
    return;
  }
  line = host.CheckDataPerSecondCounter();
  if (!line.empty()) return;
  if (state.Fsend7016) {
    line += "7016; ";
    AppendIntText(line, value);
  } else {
    line += "7000;";
  }
}

void AppendLtvValue(std::string& line, double value, const NumberFormat& format) {
  AppendAligned(line, 13, SIZE_MAX,
                [&](std::string& out) { AppendFloatFixed(out, value, 2, format); });
  line += ';';
}

void LtvLine(TSourceCodecState& state, IBinaryReportHost& host, std::string_view body,
             std::string& line) {
  TQM_Doubles values{};
  int count = 0;
  const TLtvStatus status = ReadLTV(state, body, values, count);
  if (status != TLtvStatus::Ok) {
    if (ReportLtvSyncError(state, ".ProcessBinData:", status, body)) {
      line += "7F90: ";
      line += kLtvSyncErrorText;
    }
    return;
  }
  line += LtvFormat(state, body.size()) == 1 ? "7900; " : "7900;";
  for (int i = 0; i < count; ++i) {
    AppendLtvValue(line, values[static_cast<size_t>(i)], state.FFormatSettings);
  }
  host.SetReceivedSec(1);
}

void MessageLine(TSourceCodecState& state, IBinaryReportHost& host, std::string_view body,
                 std::string& line) {
  const uint16_t header = state.FHeader;
  if (body.size() < MinimumBodySize(header)) {
    ShortBodyLine(state, header, body, line);
    return;
  }
  if (const TFixedLayout* layout = FindFixedLayout(header)) {
    AppendIntHex(line, header, 4);
    AppendFixedLayout(line, *layout, body);
    return;
  }
  switch (header) {
    case 0x7001:
      VersionLine(host, body, line);
      return;
    case 0x7015:
    case 0x7016:
      TimestampLine(state, host, body, line);
      return;
    case 0x7021:
      state.LogText(".ProcessBinData Do NOT report ChannelSelection data to app");
      return;
    case 0x7114:
    case 0x7115:
      return;
    case 0x7900:
      LtvLine(state, host, body, line);
      return;
    case 0x7902:
      line = host.Check7902Report(body);
      return;
    default:
      break;
  }
  AppendIntHex(line, header, 4);
  switch (header) {
    case 0x7000:
      line += ';';
      break;
    case 0x7003:
      line += "; Block done";
      break;
    case 0x7022:
      line += "; Buffer cleared";
      break;
    case 0x7030:
      line += "; Connected users:";
      line += host.ConnectedUsersText(body);
      break;
    case 0x7040:
      line += "; ";
      line += body;
      break;
    case 0x7901:
      line += ';';
      line += FourByteFrequencyList(body, host.CalibFactorFloatToInt(), state.FFormatSettings);
      break;
    case 0x7ADC:
      for (const char byte : body) {
        line += ' ';
        AppendIntHex(line, static_cast<uint8_t>(byte), 2);
      }
      break;
    case 0x7F23:
      line += "; Buffer cleared after buffer overflow";
      break;
    case 0x7FF2:
      line += ": ";
      line += body;
      break;
    case 0x7FFA:
      if (host.UserId() != 255) {
        line += ": UserID ";
        AppendIntText(line, host.UserId());
        line += " already in use";
      } else {
        line += ": ";
        line += TrimControl(body);
      }
      break;
    default:
      line += ": ";
      line += TrimControl(body);
      break;
  }
}

}  // namespace

void ProcessBinData(TSourceCodecState& state, IBinaryReportHost& host, std::string_view body,
                    std::string& line) {
  line.clear();
  if (state.FIsData) {
    DataLine(state, body, line);
  } else {
    MessageLine(state, host, body, line);
  }
}

}  // namespace orb
