#include "logging/LogFileFormat.h"

#include "platform/NumberFormat.h"

namespace orb {
namespace {

constexpr std::string_view kEol = "\r\n";
constexpr int kLTVAverageWidth = 15;
constexpr int kODIColumn = 9;
constexpr int kSyncTimeWidth = 12;

bool IsVirtualType(int type) { return ((kLogTypesVirtual >> type) & 1) != 0; }
bool IsCounterSource(const TLogSourceInfo& info) { return !info.IsSensor && !info.IsLTV; }
// Types whose column block begins two blanks further right.
bool IsADEVType(int type) { return type == 7 || type == 13; }

int TypeWidth(int type, const TLogSourceInfo& info) {
  if (info.IsLTV && (type == kLogTypeAvgShort || type == kLogTypeAvgLong)) return kLTVAverageWidth;
  const TLogTypeInfo* typeInfo = LogTypeInfo(type);
  return typeInfo != nullptr ? typeInfo->Width : 0;
}

int TypeChannelCount(int type, const TLogSourceInfo& info) {
  if (type == 14) return info.LTVVirtualChannelCount;
  if (info.IsLTV) return info.LTVChannelCount;
  if (IsVirtualType(type)) return info.VirtualChannelCount;
  return info.ChannelCount;
}

const std::array<std::string, kLogEnabledColumns>& TypeNames(int type, const TLogSourceInfo& info) {
  if (type == 14) return info.LTVVirtualNames;
  if (info.IsLTV) return info.LTVNames;
  if (IsVirtualType(type)) return info.VirtualNames;
  return info.ChannelNames;
}

void AppendRight(std::string& out, std::string_view text, int width) {
  if (static_cast<int>(text.size()) < width) out.append(width - text.size(), ' ');
  out += text.substr(0, static_cast<size_t>(width));
}

void AppendLine(std::string& out, std::string_view text) {
  out += text;
  out += kEol;
}

// The types of a source in ascending bit order.
template <typename Each>
void ForEachType(const TSimpleLogDefinition& definition, Each each) {
  for (int type = 0; type < kLogTypeCount; ++type) {
    if (definition.GetHasLogType(type)) each(type);
  }
}

}  // namespace

std::string LogColumnName(int type, int channel, int width,
                          const std::array<std::string, kLogEnabledColumns>& names) {
  const auto name = [&](int k) -> const std::string& { return names[static_cast<size_t>(k - 1)]; };
  const std::string number = IntToText(channel);
  if (type == 2 || type == 5 || type == 16) {
    std::string text = name(channel) + " - " + name(1);
    if (static_cast<int>(text.size()) >= width) text = name(channel) + " - 1";
    if (static_cast<int>(text.size()) >= width) text = number + " - 1";
    return text;
  }
  if (type == 6 || type == 17) {
    const int previous = channel > 1 ? channel - 1 : 1;
    std::string text = name(channel) + " - " + name(previous);
    if (static_cast<int>(text.size()) > width) text = number + " - " + IntToText(previous);
    return text;
  }
  if (static_cast<int>(name(channel).size()) < width - 2) return number + ":" + name(channel);
  return name(channel);
}

std::string BuildLogHeader(const TLogDefinition& definition,
                           std::span<const TLogFileSource> sources, std::string_view message,
                           const TLogTimeSettings& time) {
  std::string out;
  AppendLine(out, "#Filename:  " + definition.FileName());
  AppendLine(out, "#Message:   " + std::string(message));
  AppendLine(out, std::string("#Time:      ") + (time.SourceIsDevice ? "ORC time" : "PC time") +
                      (time.ZoneUTC ? ", time zone UTC" : ", time zone local"));
  AppendLine(out, "#");
  for (const TLogFileSource& source : sources) {
    const TLogSourceInfo& info = *source.Info;
    AppendLine(out, "#Source:    [" + info.Letter +
                        (info.FriendlyName.empty() ? "" : ": " + info.FriendlyName) + "]");
    AppendLine(out, "#Device:    " + info.ConnectionString);
    if (info.IsLTV) {
      AppendLine(out, "#Mode:      LTV");
      AppendLine(out, "#");
      AppendLine(out, "#");
    } else if (info.IsSensor) {
      AppendLine(out, "#");
      AppendLine(out, "#Interval:  " + info.IntervalText);
      AppendLine(out, "#");
    } else {
      AppendLine(out, "#Mode:      " + info.ModeText);
      AppendLine(out, "#Interval:  " + info.IntervalText);
      AppendLine(out, "#Scrambler: " + info.ScramblerText);
    }
    if (info.IsLTV) {
      const TSimpleLogDefinition& part = *source.Definition;
      if (part.GetHasLogType(kLogTypeLTV) || part.GetHasLogType(kLogTypeLTVDiff)) {
        std::string line = "#LTV-Calib: ";
        for (const double value : info.LTVCalibration) {
          AppendFloatText(line, value, time.Numbers);
          line += "  ";
        }
        AppendLine(out, line);
      } else {
        AppendLine(out, "#");
      }
      AppendLine(out, "#");
    } else if (source.Definition->StringClass() == sscVirtual) {
      AppendLine(out, "#Virtual channels: " + IntToText(info.VirtualChannelCount));
      AppendLine(out, "#");
    } else {
      AppendLine(out, "#");
      AppendLine(out, "#");
    }
    AppendLine(out, "#");
  }
  out += BuildLogTitles(definition, sources, time);
  return out;
}

std::string BuildLogTitles(const TLogDefinition& definition,
                           std::span<const TLogFileSource> sources, const TLogTimeSettings& time) {
  std::string a = time.ZoneUTC ? "#zone UTC  " : "#zone local";
  std::string b = time.SourceIsDevice ? "#ORC time  " : "#PC time   ";
  const size_t timeWidth = time.TimeFormat.size();
  if (a.size() < timeWidth) a.append(timeWidth - a.size(), ' ');
  if (b.size() < timeWidth) b.append(timeWidth - b.size(), ' ');
  for (const TLogFileSource& source : sources) {
    const TLogSourceInfo& info = *source.Info;
    const TSimpleLogDefinition& part = *source.Definition;
    if (IsCounterSource(info)) {
      if (definition.Option()) {
        b += "    Sync Time";
        a.append(13, ' ');
      } else {
        b += " S";
        a.append(2, ' ');
      }
      for (int card = 1; card <= info.ODICount && card <= kLogEnabledColumns; ++card) {
        if (!part.IsEnabled(3, card)) continue;
        std::string title = "  ODI" + IntToText(card);
        title.resize(kODIColumn, ' ');
        b += title;
        a.append(kODIColumn, ' ');
      }
    }
    ForEachType(part, [&](int type) {
      const TLogTypeInfo& typeInfo = *LogTypeInfo(type);
      const int width = TypeWidth(type, info);
      if (IsADEVType(type)) {
        b += "  ";
        a += "   ";
        a += typeInfo.Title;
      } else {
        AppendRight(a, typeInfo.Title, width);
      }
      const auto& names = TypeNames(type, info);
      const int channels = std::min(TypeChannelCount(type, info), kLogEnabledColumns);
      for (int channel = 1; channel <= channels; ++channel) {
        if (part.IsEnabled(1, channel)) {
          AppendRight(b, LogColumnName(type, channel, width, names), width);
        }
      }
      if (a.size() < b.size()) a.append(b.size() - a.size(), ' ');
    });
  }
  std::string out;
  AppendLine(out, a);
  AppendLine(out, b);
  return out;
}

void AppendLogSourceColumns(std::string& line, bool withSyncTime, const TLogFileSource& source,
                            const TReportViews* report, std::string_view syncTime) {
  const TLogSourceInfo& info = *source.Info;
  const TSimpleLogDefinition& part = *source.Definition;
  const bool counter = IsCounterSource(info);
  if (counter) {
    line += ' ';
    if (withSyncTime) {
      if (report != nullptr) {
        AppendRight(line, syncTime, kSyncTimeWidth);
      } else {
        line.append(kSyncTimeWidth, '-');
      }
    } else {
      const std::string_view first = report != nullptr ? (*report)[0] : std::string_view();
      line += first.empty() ? '-' : first[0];
    }
    const std::string_view odi = report != nullptr ? (*report)[5] : std::string_view();
    for (int card = 1; card <= info.ODICount && card <= kLogEnabledColumns; ++card) {
      if (!part.IsEnabled(3, card)) continue;
      const size_t at = static_cast<size_t>(card - 1) * kODIColumn;
      if (report != nullptr && at + kODIColumn <= odi.size()) {
        line += odi.substr(at, kODIColumn);
      } else {
        line += ' ';
        line.append(kODIColumn - 1, '-');
      }
    }
  }
  ForEachType(part, [&](int type) {
    const TLogTypeInfo& typeInfo = *LogTypeInfo(type);
    const int width = TypeWidth(type, info);
    if (IsADEVType(type)) line += "  ";
    if (width <= 0) return;
    std::string_view columns;
    if (report != nullptr && typeInfo.Slot >= 1 && typeInfo.Slot <= kReportStringSlots) {
      columns = (*report)[static_cast<size_t>(typeInfo.Slot - 1)];
      // Slot 1 of a counter begins with the sync flag.
      if (counter && typeInfo.Slot == 1 && !columns.empty()) columns.remove_prefix(1);
    }
    const int channels = std::min(TypeChannelCount(type, info), kLogEnabledColumns);
    for (int channel = 1; channel <= channels; ++channel) {
      if (!part.IsEnabled(1, channel)) continue;
      const size_t at = static_cast<size_t>(channel - 1) * static_cast<size_t>(width);
      if (columns.empty()) {
        line += ' ';  // the filler block of a missing report
        line.append(static_cast<size_t>(width - 1), '-');
      } else if (at + static_cast<size_t>(width) <= columns.size()) {
        line += columns.substr(at, static_cast<size_t>(width));
      } else {
        line.append(static_cast<size_t>(width), '-');
      }
    }
  });
}

}  // namespace orb
