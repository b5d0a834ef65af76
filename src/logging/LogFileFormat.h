#pragma once
// The text of a measurement log file: the header block, the two column-title
// lines and the columns of one source in a data line. Lines end with CR LF.

#include <array>
#include <span>
#include <string>
#include <string_view>

#include "data/DataSinks.h"
#include "logging/App_LogDefinition.h"
#include "platform/NumberFormat.h"

namespace orb {

// The strings of one report as views into the sampler's buffer.
using TReportViews = std::array<std::string_view, kReportStringSlots>;

// What the log file needs to know of a source's session, copied when a
// header is built so the file never reaches into a live session.
struct TLogSourceInfo {
  std::string Letter;
  std::string FriendlyName;
  std::string ConnectionString;
  bool IsSensor = false;
  bool IsLTV = false;  // the LTV part of a counter (its copy session, or an LTV-only counter)
  std::string ModeText;
  std::string IntervalText;
  std::string ScramblerText;
  int ChannelCount = 0;
  int VirtualChannelCount = 0;
  int LTVChannelCount = 0;
  int LTVVirtualChannelCount = 0;
  int ODICount = 0;
  std::array<std::string, kLogEnabledColumns> ChannelNames;
  std::array<std::string, kLogEnabledColumns> VirtualNames;
  std::array<std::string, kLogEnabledColumns> LTVNames;
  std::array<std::string, kLogEnabledColumns> LTVVirtualNames;
  std::array<double, kLogEnabledColumns> LTVCalibration{};
};

// The log time settings a file states in its header and title lines.
struct TLogTimeSettings {
  bool SourceIsDevice = false;  // "ORC time", else "PC time"
  bool ZoneUTC = false;
  std::string TimeFormat = "YYMMDD HHNNSS.ZZZ";
  NumberFormat Numbers;  // the log number format
};

// One source of a file: its part of the definition and its session.
struct TLogFileSource {
  const TSimpleLogDefinition* Definition = nullptr;
  const TLogSourceInfo* Info = nullptr;
};

// Header block and title lines of `definition` for the reason `message`.
std::string BuildLogHeader(const TLogDefinition& definition,
                           std::span<const TLogFileSource> sources, std::string_view message,
                           const TLogTimeSettings& time);
std::string BuildLogTitles(const TLogDefinition& definition,
                           std::span<const TLogFileSource> sources, const TLogTimeSettings& time);

// The column name of channel `channel` for log type `type`, at most `width`
// characters.
std::string LogColumnName(int type, int channel, int width,
                          const std::array<std::string, kLogEnabledColumns>& names);

// Appends the columns of one source to a data line: the sync column, the
// digital-input cards and the types. `report` is null when the source has
// no report for this line; `syncTime` is its last sync time, 12 characters.
void AppendLogSourceColumns(std::string& line, bool withSyncTime, const TLogFileSource& source,
                            const TReportViews* report, std::string_view syncTime);

}  // namespace orb
