// The texts and captions of the text view of a counter session; the log
// strings use the same texts.

#include <cmath>

#include "data/ORC_DataManagement.h"
#include "platform/NumberFormat.h"

namespace orb {
namespace {

constexpr std::string_view kNoValue = "-----";
constexpr size_t kResidualWidth = 26;

struct TCaptions {
  std::string_view Plain, Average, VirtualPlain, VirtualAverage;
};

const TCaptions& CaptionsOf(TTextModeORC mode) {
  static const TCaptions kCaptions[] = {
      {"Phase [Pd]", "Phase Average [Pd]", "Phase [Pd]", "Phase Average [Pd]"},
      {"Phase Difference (Δ Chan. 1) [Pd]", "Phase Avg. Difference (Δ Chan. 1) [Pd]",
       "Phase Difference (Δ Chan. 1) [Pd]", "Phase Avg. Difference (Δ Chan. 1) [Pd]"},
      {"Absolute Frequency [Hz]", "Absolute Frequency Avg. [Hz]", "Frequency [Hz]",
       "Frequency Avg. [Hz]"},
      {"Relative Frequency Offset", "Relative Frequency Avg. Offset", "Relative Frequency Offset",
       "Relative Frequency Avg. Offset"},
      {"Phase Difference (Δ Chan. n-1) [Pd]", "Phase Avg. Difference (Δ Chan. n-1) [Pd]",
       "Phase Difference (Δ Chan. n-1) [Pd]", "Phase Avg. Difference (Δ Chan. n-1) [Pd]"},
      {"Phase Residual [ns]", "Phase Avg. Residual [ns]", "Phase Residual [ns]",
       "Phase Avg. Residual [ns]"},
  };
  return kCaptions[mode];
}

}  // namespace

bool TORC_DataManagement::IsTextModeEnabled(TTextModeORC aMode) const {
  const int mode = Mode();
  const bool phase = IsPhaseMode(mode) || mode == kRawMode;
  switch (aMode) {
    case tmPhase:
    case tmPhaseResiduum:
      return phase;
    case tmPhaseDiff:
    case tmPhasePredecessor:
      return phase || IsDifferenceMode(mode);
    case tmFreqAbs:
    case tmFreqRel:
      return phase || IsFrequencyMode(mode);
  }
  return false;
}

bool TORC_DataManagement::IsTextRawDataEnabled() const { return Mode() == kRawMode; }

bool TORC_DataManagement::IsAverageCaption() const {
  TLock lock(FLockObj);
  const int mode = Mode();
  return mode == 1 || mode == 3 || mode == 5 || (mode == kRawMode && FRawData.RawAvg());
}

std::string_view TORC_DataManagement::GetTextModeCaption(TTextModeORC aMode) const {
  return IsAverageCaption() ? CaptionsOf(aMode).Average : CaptionsOf(aMode).Plain;
}

std::string_view TORC_DataManagement::GetTextModeVirtualCaption(TTextModeORC aMode) const {
  return IsAverageCaption() ? CaptionsOf(aMode).VirtualAverage : CaptionsOf(aMode).VirtualPlain;
}

void TORC_DataManagement::AppendModeText(std::string& out, TTextModeORC mode, bool virtualChannel,
                                         int kanal, const NumberFormat& format) const {
  const size_t i = static_cast<size_t>(kanal - 1);
  const int decimals = FPhaseDecimals[i];
  switch (mode) {
    case tmPhase:
      out += Phase::ToFixedText(virtualChannel ? PVirtPhase[i] : PPhase[i], decimals, format);
      return;
    case tmPhaseDiff:
      if (IsFrequencyMode(Mode())) return;
      out +=
          Phase::ToFixedText(virtualChannel ? PVirtPhaseDiff[i] : PPhaseDiff[i], decimals, format);
      return;
    case tmPhasePredecessor:
      out += Phase::ToFixedText(virtualChannel ? PVirtPhasePreDiff[i] : PPhasePreDiff[i], decimals,
                                format);
      return;
    case tmFreqAbs: {
      const double f = virtualChannel ? FVirtFrequency[i] : FFrequency[i];
      if (std::isnan(f)) {
        out += kNoValue;
      } else if (virtualChannel || f != 0) {
        out += FloatToFixedWidth(f, 22, 11, format);
      }
      return;
    }
    case tmFreqRel: {
      if (!virtualChannel && FNom_Frequ[i] == 0) return;
      const double r = virtualChannel ? FVirtFrequencyRelative[i]
                                      : (FFrequency[i] - FNom_Frequ[i]) / FNom_Frequ[i];
      if (std::isnan(r)) {
        out += kNoValue;
        return;
      }
      const std::string text = FloatToScientific(r, 7, format);
      if (text[0] != '-') out += '+';
      out += text;
      return;
    }
    case tmPhaseResiduum: {
      const double ns = virtualChannel ? FVirtPhaseRes_ns[i] : FPhaseRes_ns[i];
      if (std::isnan(ns)) {
        out += kNoValue;
        return;
      }
      const size_t start = out.size();
      AppendFloatFixedSignificant(out, ns, 5, 18, format);
      const size_t length = out.size() - start;
      if (length < kResidualWidth) out.insert(start, kResidualWidth - length, ' ');
      return;
    }
  }
}

std::string TORC_DataManagement::GetTextModeString(TTextModeORC aMode, int kanal) const {
  const auto options = FOptions.Current();
  const bool logFormat = aMode == tmPhasePredecessor || aMode == tmPhaseResiduum;
  TLock lock(FLockObj);
  if (kanal < 1 || kanal > ChannelCount()) return {};
  std::string text;
  AppendModeText(text, aMode, false, kanal,
                 logFormat ? options->FormatSettingsLog : options->FormatSettingsWin);
  return text;
}

std::string TORC_DataManagement::GetTextModeVirtualString(TTextModeORC aMode, int kanal) const {
  const auto options = FOptions.Current();
  const bool logFormat = aMode == tmPhasePredecessor || aMode == tmPhaseResiduum;
  TLock lock(FLockObj);
  if (kanal < 1 || kanal > VirtualChannelCount()) return {};
  std::string text;
  AppendModeText(text, aMode, true, kanal,
                 logFormat ? options->FormatSettingsLog : options->FormatSettingsWin);
  return text;
}

std::string TORC_DataManagement::GetTextRawDataString(int kanal) const {
  TLock lock(FLockObj);
  return FRawData.GetT1T2T3(kanal);
}

bool TORC_DataManagement::HasClockAlarm(int kanal) const {
  TLock lock(FLockObj);
  if (kanal < 1 || kanal > FLetzterKanal || FAlarms == nullptr) return false;
  return FAlarms->CheckFrequency(kanal, FFrequency[static_cast<size_t>(kanal - 1)]);
}

}  // namespace orb
