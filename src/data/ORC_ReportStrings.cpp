// The fixed-width report strings of the counter store for the log files and
// the data server: one string per value kind, one column per channel, all
// numbers in the log number format. Built under the store lock while a report
// is stored, into reused buffers.

#include <cmath>

#include "data/ORC_DataManagement.h"
#include "platform/NumberFormat.h"

namespace orb {
namespace {

constexpr size_t kPhaseWidth = 26;
constexpr size_t kFrequencyWidth = 22;
constexpr std::string_view kNoValue = "-----";

// Log type bits of the report strings.
enum : int {
  ltPhase = 0,
  ltFrequency = 1,
  ltPhaseDiff = 2,
  ltRawData = 3,
  ltPhasePredecessor = 6,
  ltADEV = 7,
  ltVirtualPhaseRes = 10,
  ltVirtualFreqAbs = 11,
  ltVirtualFreqRel = 12,
  ltVirtualADEV = 13,
  ltPhaseResiduum = 15,
  ltVirtualPhaseDiff = 16,
  ltVirtualPhasePrev = 17,
};

// The column rule for the text appended to `out` from `start`: a text that
// does not start with a blank gets one in front, and the column is cut to
// `width`. Shorter texts are right-aligned, so the columns of a line stay
// aligned. Texts are written straight into `out`: no temporary per column.
void FinishColumn(std::string& out, size_t start, size_t width) {
  if (out.size() == start || out[start] != ' ') out.insert(start, 1, ' ');
  const size_t length = out.size() - start;
  if (length > width) {
    out.resize(start + width);
  } else if (length < width) {
    out.insert(start, width - length, ' ');
  }
}

void AppendColumn(std::string& out, std::string_view text, size_t width) {
  const size_t start = out.size();
  out.append(text);
  FinishColumn(out, start, width);
}

void AppendPhaseColumn(std::string& out, const Phase& phase, int decimals,
                       const NumberFormat& format) {
  const size_t start = out.size();
  Phase::AppendFixedText(out, phase, decimals, format);
  FinishColumn(out, start, kPhaseWidth);
}

void AppendFrequencyColumn(std::string& out, double frequency, const NumberFormat& format) {
  const size_t start = out.size();
  AppendFloatFixedWidth(out, frequency, 22, 11, format);
  FinishColumn(out, start, kFrequencyWidth);
}

// Nanoseconds with 5 decimals in 26 characters.
void AppendResidualColumn(std::string& out, double ns, const NumberFormat& format) {
  const size_t start = out.size();
  AppendFloatFixedSignificant(out, ns, 5, 18, format);
  FinishColumn(out, start, kPhaseWidth);
}

}  // namespace

bool TORC_DataManagement::NeedsString(int bit) const {
  return FLocalServerRunning || IsLogTypeNeeded(bit);
}

void TORC_DataManagement::GenerateRawDataString(std::string& out) const {
  const std::string first = FRawData.GetT1T2T3(1);
  if (first.empty()) return;
  for (int k = 1; k <= FLetzterKanal; ++k) AppendColumn(out, FRawData.GetT1T2T3(k), first.size());
}

void TORC_DataManagement::GenerateSamplerStrings() {
  const auto options = FOptions.Current();
  const NumberFormat& log = options->FormatSettingsLog;
  const int mode = Mode();
  const int n = FLetzterKanal;
  try {
    if (NeedsString(ltPhase) && (IsPhaseMode(mode) || mode == kRawMode)) {
      FSamplerPhaseValuesString.clear();
      for (int k = 1; k <= n; ++k)
        AppendPhaseColumn(FSamplerPhaseValuesString, PPhase[k - 1], FPhaseDecimals[k - 1], log);
    }
    if (NeedsString(ltFrequency) && FFrequency[0] != 0) {
      for (int k = 1; k <= n; ++k)
        AppendFrequencyColumn(FSamplerFrequencyValuesString, FFrequency[k - 1], log);
    }
    if (!IsFrequencyMode(mode)) {
      if (NeedsString(ltPhaseDiff)) {
        for (int k = 1; k <= n; ++k)
          AppendPhaseColumn(FSamplerPhaseDiffValuesString, PPhaseDiff[k - 1], FPhaseDecimals[k - 1],
                            log);
      }
      if (NeedsString(ltPhasePredecessor)) {
        for (int k = 1; k <= n; ++k)
          AppendPhaseColumn(FSamplerPhasePredecessorValuesString, PPhasePreDiff[k - 1],
                            FPhaseDecimals[k - 1], log);
      }
      if (NeedsString(ltPhaseResiduum)) {
        for (int k = 1; k <= n; ++k)
          AppendResidualColumn(FSamplerPhaseResiduumValuesString, FPhaseRes_ns[k - 1], log);
      }
    }
    if (NeedsString(ltRawData)) GenerateRawDataString(FSamplerRawDataString);
  } catch (const std::exception& e) {
    LogError(std::string(".GenerateSamplerStrings failed: ") + e.what());
    throw;
  }

  const int virtualCount = VirtualChannelCount();
  if (virtualCount == 0) return;
  try {
    const struct {
      int bit;
      TTextModeORC mode;
      size_t width;
      std::string* out;
      const char* name;
    } kinds[] = {
        {ltVirtualFreqAbs, tmFreqAbs, kFrequencyWidth, &FSamplerVirtualFreqAbsValuesString,
         "FreqAbs"},
        {ltVirtualFreqRel, tmFreqRel, kFrequencyWidth, &FSamplerVirtualFreqRelValuesString,
         "FreqRel"},
        {ltVirtualPhaseRes, tmPhaseResiduum, kPhaseWidth, &FSamplerVirtualPhaseResValuesString,
         "PhaseRes"},
        {ltVirtualPhaseDiff, tmPhaseDiff, kPhaseWidth, &FSamplerVirtualPhaseDiffValuesString,
         "PhaseDiff"},
        {ltVirtualPhasePrev, tmPhasePredecessor, kPhaseWidth, &FSamplerVirtualPhasePrevValuesString,
         "PhasePrev"},
    };
    // Before the first frequency a virtual frequency would be a sum of
    // zeros, logged as if measured: no string, as for the plain ones.
    const bool noFrequency = FFrequency[0] == 0;
    for (const auto& kind : kinds) {
      if (!IsLogTypeNeeded(kind.bit)) continue;
      if (noFrequency && (kind.mode == tmFreqAbs || kind.mode == tmFreqRel)) continue;
      for (int k = 1; k <= virtualCount; ++k) {
        FColumnText.clear();
        AppendModeText(FColumnText, kind.mode, true, k, log);
        if (FColumnText == kNoValue) FColumnText.clear();
        if (FColumnText.size() < kind.width) kind.out->append(kind.width - FColumnText.size(), ' ');
        kind.out->append(FColumnText);
      }
      LogLazy([&] {
        return std::string(".GenerateSamplerVirtualString") + kind.name + "=" + *kind.out;
      });
    }
  } catch (const std::exception& e) {
    LogError(std::string(".GenerateSamplerStrings virtual sampler strings failed: ") + e.what());
    throw;
  }
}

void TORC_DataManagement::AddSamplerStrings(std::string_view alarmText) {
  if (FSampler == nullptr) return;
  if (!FSyncTime.empty()) LogLazy([&] { return ".AddSamplerStrings FSyncTime=" + FSyncTime; });
  FSampler->SetSessionSyncTime(SessId(), SessIsCopy(), FSyncTime);
  const std::string sync = Sync();
  try {
    TReportStrings& s = FReportStrings;
    s[0].assign(sync).append(FSamplerPhaseValuesString);
    s[1].assign(FSamplerFrequencyValuesString);
    s[2].assign(FSamplerPhaseDiffValuesString);
    s[3].assign(FSamplerRawDataString);
    s[4].clear();
    s[5].assign(FODIs_HEX);
    s[6].assign(FSamplerPhasePredecessorValuesString);
    s[7].assign(FSamplerADEVValuesString);
    s[8].assign(FSamplerPhaseResiduumValuesString);
    s[9].assign(FORCtimeString);
    FSampler->AddStrings(SessId(), SessIsCopy(), s);
    if (!alarmText.empty()) FSampler->AddWarning(SessId(), SessIsCopy(), alarmText);
  } catch (const std::exception&) {
    LogError(".AddSamplerStrings failed");
    throw;
  }
  if (VirtualChannelCount() == 0) return;
  try {
    TReportStrings& v = FVirtualReportStrings;
    v[0].assign(sync).append(FSamplerVirtualPhaseResValuesString);
    v[1].assign(FSamplerVirtualFreqAbsValuesString);
    v[2].assign(FSamplerVirtualFreqRelValuesString);
    v[3].assign(FSamplerVirtualADEVValuesString);
    v[4].assign(FSamplerVirtualPhaseDiffValuesString);
    v[5].assign(FSamplerVirtualPhasePrevValuesString);
    for (size_t i = 6; i <= 8; ++i) v[i].clear();
    v[9].assign(FORCtimeString);
    FSampler->AddStringsVirtual(SessId(), SessIsCopy(), v);
  } catch (const std::exception&) {
    LogError(".AddSamplerStrings virtual failed");
    throw;
  }
}

void TORC_DataManagement::AddSamplerStringsRawData() {
  if (FSampler == nullptr) return;
  LogLazy([&] { return ".AddSamplerStringsRawData FSyncTime=" + FSyncTime; });
  FSampler->SetSessionSyncTime(SessId(), SessIsCopy(), FSyncTime);
  const auto options = FOptions.Current();
  const NumberFormat& log = options->FormatSettingsLog;
  const int n = FLetzterKanal;
  try {
    TReportStrings& s = FReportStrings;
    for (std::string& text : s) text.clear();
    s[0] = Sync();
    if (IsLogTypeNeeded(ltPhase)) {
      for (int k = 1; k <= n; ++k)
        AppendPhaseColumn(s[0], FRawData.GetPhaseRaw(k), FPhaseDecimals[k - 1], log);
      LogLazy([&] { return ".GenerateSamplerStringRawPhase=" + s[0]; });
    }
    if (IsLogTypeNeeded(ltFrequency)) {
      for (int k = 1; k <= n; ++k) AppendFrequencyColumn(s[1], FRawData.GetFreqRaw(k), log);
      LogLazy([&] { return ".GenerateSamplerStringRawFrequency=" + s[1]; });
    }
    if (IsLogTypeNeeded(ltPhaseDiff)) {
      for (int k = 1; k <= n; ++k)
        AppendPhaseColumn(s[2], FRawData.GetPhaseDiff(k), FPhaseDecimals[k - 1], log);
      LogLazy([&] { return ".GenerateSamplerStringRawPhaseDiff=" + s[2]; });
    }
    if (IsLogTypeNeeded(ltRawData)) GenerateRawDataString(s[3]);
    s[5].assign(FODIs_HEX);
    if (IsLogTypeNeeded(ltPhasePredecessor)) {
      for (int k = 1; k <= n; ++k)
        AppendPhaseColumn(s[6], FRawData.GetPhasePreDiff(k), FPhaseDecimals[k - 1], log);
      LogLazy([&] { return ".GenerateSamplerStringRawPhasePre=" + s[6]; });
    }
    if (IsLogTypeNeeded(ltPhaseResiduum)) {
      for (int k = 1; k <= n; ++k) {
        const double nominal = FNom_Frequ[k - 1];
        if (nominal == 0) {
          s[8].append(kPhaseWidth, ' ');
        } else {
          AppendResidualColumn(s[8], FRawData.GetPhaseResRaw(k).ToDouble() / nominal * 1e12 / 1000,
                               log);
        }
      }
      LogLazy([&] { return ".GenerateSamplerStringRawPhaseRes=" + s[8]; });
    }
    s[9].assign(FORCtimeString);
    FSampler->AddStringsSpecial(SessId(), SessIsCopy(), s);
  } catch (const std::exception&) {
    LogError(".AddSamplerStringsRawData failed");
    throw;
  }
}

void TORC_DataManagement::SendServerLines() {
  if (FServer == nullptr) return;
  const std::string prefix = Sync() + FODIs_HEX;
  const struct {
    const std::string& text;
    int type;
  } lines[] = {{FSamplerPhaseValuesString, 0},
               {FSamplerFrequencyValuesString, 1},
               {FSamplerPhaseDiffValuesString, 2},
               {FSamplerPhasePredecessorValuesString, 5}};
  for (const auto& line : lines) {
    if (line.text.empty()) continue;
    // ASCII only, so the 8-bit text is the same bytes.
    FServerLine.assign(prefix).append(line.text);
    FServer->AddServerLine(FMultiId, line.type, FServerLine);
  }
}

}  // namespace orb
