#include "protocol/QM_ESPReport.h"

#include <algorithm>
#include <bit>
#include <cmath>

#include "logging/LogUnit.h"
#include "platform/NumberFormat.h"
#include "protocol/ByteOrder.h"
#include "protocol/QM_BinaryText.h"
#include "protocol/QM_BinaryValues.h"
#include "protocol/QM_Header.h"

namespace orb {

namespace {

constexpr size_t kGroupSize = 8;
// Whole parts beyond this do not fit the cycle count.
constexpr double kMaxPhase = 0x1p62;

int64_t WrappingAdd(int64_t a, int64_t b) {
  return static_cast<int64_t>(static_cast<uint64_t>(a) + static_cast<uint64_t>(b));
}

uint64_t GroupBits(std::string_view bytes, size_t index) {
  return LoadLE<uint64_t>(reinterpret_cast<const uint8_t*>(bytes.data()) + index * kGroupSize);
}

int GroupCount(std::string_view bytes) {
  return static_cast<int>(std::min<size_t>(bytes.size() / kGroupSize, kMaxChannels));
}

std::string ChannelText(std::string_view what, int channel) {
  std::string text = "ProcessESPreport Phase[";
  AppendIntText(text, channel);
  text += "] ";
  text += what;
  return text;
}

// The phase of one channel, continued across wraps: when the value falls
// below the last one, the step of its wrap index is added for good.
Phase ChannelPhase(TSourceCodecState& state, int channel, uint64_t bits) {
  const size_t i = static_cast<size_t>(channel);
  const TESPPhase restored = RestoreESPPhase(bits);
  double value = restored.Value;
  if (!(std::abs(value) < kMaxPhase)) {
    state.LogWarningText(ChannelText("invalid Phase", channel));
    return Phase{};
  }
  if (value < 0) {
    if (LogActive(state.FLogId)) {
      std::string text = ChannelText("Double < 0 =", channel);
      AppendFloatText(text, value);
      state.LogText(text);
    }
    value = 0;
  }
  const double whole = std::trunc(value);
  if (value < state.Low[i]) state.High[i] = WrappingAdd(state.High[i], ESPWrapStep(restored.K));
  state.Low[i] = value;
  state.ExpoAlt[i] = restored.K;
  return Phase{WrappingAdd(static_cast<int64_t>(whole), state.High[i]), value - whole};
}

// Renders into `line` and aligns the result right in `width` characters.
template <typename Render>
void AppendRight(std::string& line, size_t width, Render render) {
  const size_t start = line.size();
  render(line);
  const size_t length = line.size() - start;
  if (length < width) line.insert(start, width - length, ' ');
}

void DataText(TSourceCodecState& state, uint16_t header, std::string_view values,
              std::string& line) {
  const NumberFormat& format = state.FFormatSettings;
  const int mode = HeaderMode(header);
  const int count = GroupCount(values);
  AppendIntHex(line, header, 4);
  for (int i = 0; i < count; ++i) {
    const uint64_t bits = GroupBits(values, static_cast<size_t>(i));
    if (mode <= 1) {
      const Phase phase = ChannelPhase(state, i, bits);
      line += "; ";
      AppendRight(line, 25, [&](std::string& out) {
        AppendPhaseFixed(out, phase, ESPDecimals(state.ExpoAlt[static_cast<size_t>(i)]), format);
      });
    } else if (mode <= 5) {
      const double value = std::bit_cast<double>(bits) / (mode <= 3 ? 1000.0 : 1.0);
      line += ';';
      AppendRight(line, 26, [&](std::string& out) {
        AppendFloatFixed(out, value, ESPDecimals(static_cast<int>((bits >> 58) & 0x0F)), format);
      });
    } else {
      line += "; ";
      const auto* word = reinterpret_cast<const uint8_t*>(values.data()) + i * kGroupSize;
      AppendIntHex(line, LoadLE<uint16_t>(word + 4), 4);
      line += ',';
      AppendIntHex(line, LoadLE<uint16_t>(word + 2), 4);
      line += ',';
      AppendIntHex(line, LoadLE<uint16_t>(word), 4);
    }
  }
}

}  // namespace

TESPPhase RestoreESPPhase(uint64_t bits) {
  const auto top = static_cast<uint8_t>(bits >> 56);
  TESPPhase phase;
  phase.K = (top & 0x3C) >> 2;
  uint8_t restored = top & 0xC3;
  if ((restored & 0x40) == 0) restored |= 0x3C;
  phase.Value = std::bit_cast<double>((bits & 0x00FF'FFFF'FFFF'FFFF) | uint64_t{restored} << 56);
  return phase;
}

uint64_t ESPEncodePhase(double value, int k) {
  const auto bits = std::bit_cast<uint64_t>(value);
  const auto top = static_cast<uint8_t>(bits >> 56);
  const auto encoded = static_cast<uint8_t>((top & 0xC3) | (k & 0x0F) << 2);
  return (bits & 0x00FF'FFFF'FFFF'FFFF) | uint64_t{encoded} << 56;
}

int64_t ESPWrapStep(int k) { return k >= 0 && k <= 14 ? int64_t{1} << (k + 18) : 0; }

int ESPDecimals(int k) {
  if (k <= 2) return 11;
  if (k <= 6) return 10;
  if (k <= 9) return 9;
  if (k <= 12) return 8;
  return 7;
}

void ProcessESPreport(TSourceCodecState& state, TQM_ReportStruct& record) {
  const int header = record.GetHeader();
  if (record.GetReportType() != rt_Double || header < 0 || header >= 0x6000) return;
  const std::string_view values = record.PayloadView();
  const int count = std::min(GroupCount(values), record.GetValueCount());
  const auto dataHeader = static_cast<uint16_t>(header);
  if (header < 0x2000) {
    TQM_ReportPhases phases{};
    for (int i = 0; i < count; ++i) {
      phases[static_cast<size_t>(i)] = ChannelPhase(state, i, GroupBits(values, size_t(i)));
    }
    record.SetPhases(dataHeader, count, phases);
  } else if (header < 0x4000) {
    TQM_Doubles doubles = record.GetDoubles();
    for (int i = 0; i < count; ++i) doubles[static_cast<size_t>(i)] /= 1000.0;
    record.SetDoubles(dataHeader, count, doubles);
  } else {
    record.Clear();
  }
}

void ProcessESP_LTVreport(TSourceCodecState& state, IBinaryReportHost& host,
                          TQM_ReportStruct& record) {
  if (record.GetReportType() != rt_Double || record.GetHeader() != 0x7900) return;
  const std::string_view groups = record.PayloadView();
  const int n = std::min(GroupCount(groups), record.GetValueCount());
  TQM_Doubles values{};
  for (int c = 1; c <= n; ++c) {
    const auto* group =
        reinterpret_cast<const uint8_t*>(groups.data()) + static_cast<size_t>(n - c) * kGroupSize;
    if (!DecodeLtvRecord(group, c != n, values[static_cast<size_t>(c - 1)])) {
      if (ReportLtvSyncError(state, ".ProcessESP_LTVreport:", TLtvStatus::LengthSyncError,
                             groups)) {
        record.SetMessage(0x7F90, kLtvSyncErrorText);
      } else {
        record.Clear();
      }
      return;
    }
  }
  record.SetDoubles(0x7900, n, values);
  std::copy_n(values.begin(), n, state.LTVDoubles.begin());
  if (host.ReceivedSec() == 0) host.SetReceivedSec(1);
  state.FLTVReceived = true;
}

void ProcessESPRecord(TSourceCodecState& state, IBinaryReportHost& host, TQM_ReportStruct& record) {
  const int header = record.GetHeader();
  if (header == 0x7900) {
    ProcessESP_LTVreport(state, host, record);
  } else if (header == 0x7030 && record.GetReportType() == rt_Message) {
    std::string text = "; Connected users:";
    text += host.ConnectedUsersText(record.PayloadView());
    record.SetMessage(0x7030, text);
  } else {
    ProcessESPreport(state, record);
  }
}

void ESPBinaryToText(TSourceCodecState& state, IBinaryReportHost& host, std::string_view report,
                     std::string& line) {
  line.clear();
  if (report.size() < 2) return;
  const uint16_t header = LoadBE16(reinterpret_cast<const uint8_t*>(report.data()));
  const std::string_view body = report.substr(2);
  state.FHeader = header;
  state.FIsData = !IsMessageHeader(header);
  if (state.FIsData) {
    state.FDataHeader = header & ~kLostDataBit;
    DataText(state, header, body, line);
    return;
  }
  if (header == 0x7001) {
    line += "7001";
    line += body;
    line += " / SW: ";
    line += host.LibraryVersionText();
    return;
  }
  if (header == 0x7900) {
    TQM_ReportStruct record;
    record.SetDoublesRaw(header,
                         body.substr(0, kGroupSize * static_cast<size_t>(GroupCount(body))));
    ProcessESP_LTVreport(state, host, record);
    AppendReportStructText(line, state, record);
    return;
  }
  ProcessBinData(state, host, body, line);
}

}  // namespace orb
