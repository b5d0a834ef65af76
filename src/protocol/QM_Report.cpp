#include "protocol/QM_Report.h"

#include <cmath>

#include "logging/LogUnit.h"
#include "protocol/ByteOrder.h"
#include "protocol/QM_Header.h"
#include "protocol/QM_TextUtils.h"

namespace orb {

namespace {

void LogWithBody(const TSourceCodecState& state, std::string_view what, std::string_view body) {
  LogDebugLazy(state.FLogId, [&] {
    std::string line(what);
    line += body;
    return line;
  });
}

TQM_Result ConvertFailed(TQM_ReportStruct& record, const std::string& message) {
  std::string text = "EXCEP(EConvertError) ";
  text += message;
  record.SetError(QM_Err_Exception, text);
  return QM_Err_Exception;
}

// Calls `take` with each trimmed ";" part of `body`, without the empty parts
// at the end, until it returns false.
template <typename Take>
void ForEachPart(std::string_view body, Take take) {
  body = TrimControl(body);
  while (!body.empty() && body.back() == ';') body = TrimControl(body.substr(0, body.size() - 1));
  if (body.empty()) return;
  while (true) {
    const size_t end = body.find(';');
    if (!take(TrimControl(body.substr(0, end)))) return;
    if (end == std::string_view::npos) return;
    body.remove_prefix(end + 1);
  }
}

char OtherSeparator(char separator) { return separator == ',' ? '.' : ','; }

bool ParseHeader(std::string_view line, uint16_t& header) {
  uint32_t value = 0;
  if (!TryHexTextToUInt32(line.substr(0, 4), value)) return false;
  header = static_cast<uint16_t>(value);
  return true;
}

}  // namespace

void TSourceCodecState::ResetTimestampDataCounter() {
  FirstTimestampReceived = false;
  FirstDataReceived = false;
  FTimestampCounter = 0;
  dataPerSecondCounter = 0;
  FFirstCheckDataPerSecondCounter = true;
}

void TSourceCodecState::CountTimestamp(std::string_view operation) {
  if (!FirstTimestampReceived) {
    LogDebugLazy(FLogId, [&] {
      std::string text = FDebugTag;
      text += operation;
      text += ": FirstTimestampReceived";
      return text;
    });
  }
  FirstTimestampReceived = true;
  if (FirstDataReceived) {
    ++FTimestampCounter;
    LogDebugLazy(FLogId, [&] {
      std::string text = FDebugTag;
      text += operation;
      text += ": timestampCounter=";
      AppendIntText(text, FTimestampCounter);
      return text;
    });
  }
  dataPerSecondCounter_copy = dataPerSecondCounter;
  dataPerSecondCounter = 0;
}

namespace {

// Lines that name their operation (".Op...") follow the source's tag; the
// others are complete as they are.
std::string_view TagFor(const TSourceCodecState& state, std::string_view text) {
  return !text.empty() && text.front() == '.' ? std::string_view(state.FDebugTag)
                                              : std::string_view();
}

}  // namespace

void TSourceCodecState::LogText(std::string_view text) const {
  LogDebugLazy(FLogId, [&] {
    std::string line(TagFor(*this, text));
    line += text;
    return line;
  });
}

void TSourceCodecState::LogWarningText(std::string_view text) const {
  if (!LogActive(FLogId)) return;
  std::string line(TagFor(*this, text));
  line += text;
  LogWarning(FLogId, line);
}

int DecimalsForExponent(int exponent) {
  if (exponent <= 3) return 11;
  if (exponent <= 6) return 10;
  if (exponent <= 9) return 9;
  if (exponent <= 12) return 8;
  return 7;
}

// ---- Decoding ---------------------------------------------------------------

namespace {

// Classification shared by the header check and the state update.
void TakeHeader(TSourceCodecState& state, uint16_t header) {
  state.FHeader = header;
  state.FPacked = false;
  state.FIsData = !IsMessageHeader(header);
  if (!state.FIsData) return;
  if ((header & kLostDataBit) != 0) {
    state.ResetTimestampDataCounter();
    state.LogText(".ProcessTxtReport: Device reports lost data -> reset data/timestamp checks");
  }
  state.FDataHeader = header & ~kLostDataBit;
}

}  // namespace

TQM_Result CheckTextHeader(TSourceCodecState& state, std::string_view line, std::string_view& body,
                           TQM_ReportStruct& record) {
  uint16_t header = 0;
  if (!ParseHeader(line, header)) {
    std::string text = "$";
    text += line.substr(0, 4);
    return ConvertFailed(record, NotAnIntegerMessage(text));
  }
  body = line.substr(std::min<size_t>(4, line.size()));
  if (!body.empty() && body.front() == ';') body.remove_prefix(1);
  body = TrimControl(body);
  TakeHeader(state, header);
  return QM_No_Err;
}

TQM_Result ConvertAsciiORCMeasurmentReport(TSourceCodecState& state, std::string_view body,
                                           TQM_ReportStruct& record) {
  LogWithBody(state, "ConvertAsciiORCMeasurmentReport ", body);
  record.Clear();
  const char separator = state.FFormatSettings.DecimalSeparator;
  const char other = OtherSeparator(separator);
  const uint32_t dataHeader = state.FDataHeader;
  const bool phases = dataHeader <= 0x1FFF;

  // The body counts as written with one decimal separator: the first of "."
  // and "," found after its first character stands for the format's one.
  // Phases read either separator, so only the values of other reports need
  // the body rewritten; for phases the rewriting decides only which parts
  // still hold the other separator.
  std::string_view text = body;
  thread_local std::string normalized;
  if (!phases) {
    normalized.assign(body);
    NormalizeDecimalSeparatorInPlace(normalized, separator);
    text = normalized;
  }
  // For phases: the separator the rewriting would replace (the other one),
  // or 0 when it would change nothing.
  const char found = phases ? ForeignDecimalSeparator(body, separator) : 0;
  const auto holdsOther = [&](std::string_view part) {
    // The first character of the body is never rewritten.
    if (found != 0) return part.data() == body.data() && !part.empty() && part[0] == other;
    return part.find(other) != std::string_view::npos;
  };
  const double scale = dataHeader < 0x4000 ? 1000.0 : 1.0;
  TQM_ReportPhases phaseValues{};
  TQM_Doubles doubleValues{};
  int count = 0;
  std::string_view failed;
  bool ok = true;
  // Values beyond the channel limit are ignored.
  ForEachPart(text, [&](std::string_view part) {
    if (count == kMaxChannels) return false;
    if (phases) {
      ok = !holdsOther(part) && phaseValues[static_cast<size_t>(count)].FromText(part) >= 0;
    } else {
      double& value = doubleValues[static_cast<size_t>(count)];
      ok = TryTextToFloat(part, value, state.FFormatSettings);
      value *= scale;
    }
    if (!ok) failed = part;
    ++count;
    return ok;
  });
  if (!ok && found != 0) {
    // The message shows the part as rewritten.
    std::string shown(failed);
    for (size_t i = 0; i < shown.size(); ++i) {
      if (shown[i] == found && failed.data() + i != body.data()) shown[i] = separator;
    }
    return ConvertFailed(record, NotAFloatMessage(shown));
  }
  if (!ok) return ConvertFailed(record, NotAFloatMessage(failed));
  const auto header = static_cast<uint16_t>(dataHeader);
  if (phases) {
    record.SetPhases(header, count, phaseValues);
  } else {
    record.SetDoubles(header, count, doubleValues);
  }
  return QM_No_Err;
}

TQM_Result ConvertAsciiLTVMeasurmentReport(TSourceCodecState& state, std::string_view body,
                                           TQM_ReportStruct& record) {
  LogWithBody(state, "ConvertAsciiLTVMeasurmentReport ", body);
  record.Clear();
  return QM_No_Err;
}

TQM_Result ConvertAsciiMessageReport(TSourceCodecState& state, std::string_view body,
                                     TQM_ReportStruct& record) {
  LogWithBody(state, "ConvertAsciiMessageReport ", body);
  const uint16_t header = state.FHeader;
  if (header == 0x7015 || header == 0x7016) {
    int64_t value = 0;
    if (!TryTextToInt64(body, value) || value < INT32_MIN || value > UINT32_MAX) {
      return ConvertFailed(record, NotAnIntegerMessage(body));
    }
    uint8_t bytes[4];
    StoreBE32(bytes, static_cast<uint32_t>(value));
    record.SetMessage(header, std::string_view(reinterpret_cast<const char*>(bytes), 4));
    return QM_No_Err;
  }
  if (header == 0x7901) {
    TQM_Doubles values{};
    size_t count = 0;
    bool ok = true;
    std::string_view failed;
    ForEachPart(body, [&](std::string_view part) {
      if (count == values.size()) return false;
      ok = TryTextToFloat(part, values[count++], state.FFormatSettings);
      if (!ok) failed = part;
      return ok;
    });
    if (!ok) return ConvertFailed(record, NotAFloatMessage(failed));
    record.SetDoubles(0x7901, kMaxChannels, values);
    return QM_No_Err;
  }
  record.SetMessage(header, body);
  return QM_No_Err;
}

TQM_Result DecodeTextReport(TSourceCodecState& state, std::string_view line,
                            TQM_ReportStruct& record) {
  std::string_view body;
  const TQM_Result result = CheckTextHeader(state, line, body, record);
  if (result != QM_No_Err) return result;
  if (state.FIsData) return ConvertAsciiORCMeasurmentReport(state, body, record);
  if (state.FHeader == 0x7900) return ConvertAsciiLTVMeasurmentReport(state, body, record);
  return ConvertAsciiMessageReport(state, body, record);
}

TTextReportAction ProcessTxtReport(TSourceCodecState& state, std::string_view line) {
  uint16_t header = 0;
  if (!ParseHeader(line, header)) return taNone;
  TakeHeader(state, header);
  TTextReportAction action = taNone;
  if (state.FIsData) {
    if (!state.FirstDataReceived) state.LogText(".ProcessTxtReport: FirstDataReceived");
    state.FirstDataReceived = true;
    if (state.FirstTimestampReceived) {
      ++state.dataPerSecondCounter;
      LogDebugLazy(state.FLogId, [&] {
        std::string text = state.FDebugTag + ".ProcessTxtReport: dataCounter=";
        AppendIntText(text, state.dataPerSecondCounter);
        return text;
      });
    }
  } else {
    switch (header) {
      case 0x7001:
        action = taRefreshLtvOnly;
        break;
      case 0x7015:
        state.CountTimestamp(".ProcessTxtReport");
        break;
      case 0x7020:
        state.ResetTimestampDataCounter();
        state.LogText("ProcessTxtReport: header changed -> reset data/timestamp checks");
        break;
      case 0x7022:
      case 0x7F23:
        state.ResetTimestampDataCounter();
        state.LogText("ProcessTxtReport: receive buffer cleared -> reset data/timestamp checks");
        break;
      case 0x7F51:
        state.ResetTimestampDataCounter();
        action = taReSync;
        state.LogText("ProcessTxtReport: Re-Sync -> reset data/timestamp checks");
        break;
      case 0x7FF2:
        state.ResetTimestampDataCounter();
        state.LogText(
            ".ProcessTxtReport: receive input data overrun -> reset data/timestamp checks");
        break;
      case 0x7FF8:
        state.FReferenceClockError = false;
        state.LogText("ProcessTxtReport: Reference Clock Ok");
        break;
      case 0x7FF9:
        state.FReferenceClockError = true;
        state.LogText("ProcessTxtReport: Reference Clock Error");
        break;
      default:
        break;
    }
  }
  if (HeaderIsTimestampOrORC(header) && header != 0x7015) state.FLastOrcHeader = header;
  return action;
}

// ---- Encoding ---------------------------------------------------------------

namespace {

int FieldWidth(int header) {
  if (header < 0x6000) return 26;
  switch (header) {
    case 0x7900:
      return 13;
    case 0x7901:
      return 14;
    case 0x7EFF:
      return 9;
    default:
      return 0;
  }
}

int ChannelDecimals(const TSourceCodecState& state, int index) {
  return DecimalsForExponent(index < kMaxChannels ? state.ExpoAlt[static_cast<size_t>(index)] : 0);
}

// The joined values of a value record: each padded on the left or cut to the
// field width, a value that renders empty adds nothing.
class TValueWriter {
 public:
  TValueWriter(std::string& out, int width) : FOut(out), FWidth(static_cast<size_t>(width)) {}

  template <typename Render>
  void Add(Render render) {
    const size_t mark = FOut.size();
    if (!FFirst) FOut += ';';
    const size_t start = FOut.size();
    render(FOut);
    const size_t length = FOut.size() - start;
    if (length == 0) {
      FOut.resize(mark);
      return;
    }
    FFirst = false;
    if (FWidth == 0) return;
    if (length < FWidth) FOut.insert(start, FWidth - length, ' ');
    if (length > FWidth) FOut.resize(start + FWidth);
  }

 private:
  std::string& FOut;
  size_t FWidth;
  bool FFirst = true;
};

constexpr int kDoubleDigits = 17;

void AppendDoubleValues(const TSourceCodecState& state, const TQM_ReportStruct& record, int header,
                        TValueWriter& writer) {
  const NumberFormat& format = state.FFormatSettings;
  const TQM_Doubles values = record.GetDoubles();
  const int count = std::min(record.GetValueCount(), kMaxChannels);
  for (int i = 0; i < count; ++i) {
    const double value = values[static_cast<size_t>(i)];
    const int decimals = ChannelDecimals(state, i);
    writer.Add([&](std::string& text) {
      if (header >= 0x2000 && header <= 0x3FFF) {
        AppendFloatFixedSignificant(text, value / 1000.0, decimals + 5, 18, format);
      } else if (header >= 0x4000 && header <= 0x5FFF) {
        // The sign comes from the value itself, so (-1, 0) keeps its "-".
        if (std::signbit(value) && !std::isnan(value)) text += '-';
        AppendFloatFixedSignificant(text, std::fabs(value), decimals, kDoubleDigits, format);
      } else if (header <= 0x1FFF) {
        AppendFloatFixedSignificant(text, value, decimals, kDoubleDigits, format);
      } else if (header == 0x7900) {
        AppendFloatFixedSignificant(text, value, 2, 13, format);
      } else if (header == 0x7901) {
        AppendFloatFixedSignificant(text, value, 3, 14, format);
      }
    });
  }
}

}  // namespace

void AppendReportStructText(std::string& out, const TSourceCodecState& state,
                            const TQM_ReportStruct& record) {
  const TQM_ReportType type = record.GetReportType();
  const int header = record.GetHeader();
  if (header < 0) return;
  const int width = FieldWidth(header);
  AppendIntHex(out, static_cast<uint64_t>(header), 4);
  if (header != 0x7001) out += ';';
  if (width == 0) out += ' ';
  TValueWriter writer(out, width);
  switch (type) {
    case rt_Message:
      if (header == 0x7015 || header == 0x7016) {
        AppendIntText(out, record.GetCardinal());
      } else if (header == 0x7019 || header == 0x7020) {
        AppendIntHex(out, record.GetCardinal(), 8);
      } else {
        out += record.PayloadView();
      }
      break;
    case rt_Phase: {
      const TQM_ReportPhases phases = record.GetPhases();
      const int count = std::min(record.GetValueCount(), kMaxChannels);
      for (int i = 0; i < count; ++i) {
        writer.Add([&](std::string& text) {
          AppendPhaseFixed(text, phases[static_cast<size_t>(i)], ChannelDecimals(state, i),
                           state.FFormatSettings);
        });
      }
      break;
    }
    case rt_Double:
      AppendDoubleValues(state, record, header, writer);
      break;
    case rt_Int32:
      if (header == 0x7EFF) {
        const int count = record.GetValueCount();
        const TQM_Int32 values = record.GetInt32();
        for (int i = 0; i < std::min(count, 2 * kMaxChannels); ++i) {
          writer.Add(
              [&](std::string& text) { AppendIntHex(text, values[static_cast<size_t>(i)], 8); });
        }
      }
      break;
    default:
      break;
  }
}

std::string ReportStructToText(const TSourceCodecState& state, const TQM_ReportStruct& record) {
  std::string out;
  AppendReportStructText(out, state, record);
  return out;
}

}  // namespace orb
