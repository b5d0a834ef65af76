#include "data/LTV_DataManagement.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "logging/LogUnit.h"
#include "platform/ConvertError.h"
#include "platform/NumberFormat.h"

namespace orb {
namespace {

constexpr size_t kHeaderLength = 5;  // 4 hexadecimal digits and a separator
constexpr size_t kFieldLength = 14;  // 13 characters of value and a separator
constexpr size_t kValueLength = 13;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

bool IsInvalid(double value) { return value <= TLTV_DataManagement::kInvalidLTVValue; }

std::string_view Trim(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  const size_t last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

// A number in the log format, either decimal separator accepted; only finite
// values count as numbers.
bool ReadLogNumber(std::string_view text, double& value, const NumberFormat& format) {
  std::string t(Trim(text));
  NormalizeDecimalSeparatorInPlace(t, format.DecimalSeparator);
  double v;
  if (!TryTextToFloat(t, v, format) || !std::isfinite(v)) return false;
  value = v;
  return true;
}

std::string_view BoolText(bool value) { return value ? "True" : "False"; }

THorizontalScale ScaleOf(TTextModeLTV mode) {
  switch (mode) {
    case tmLTVShortAvg:
      return hsShort;
    case tmLTVLongAvg:
      return hsLong;
    default:
      return hsNone;
  }
}

}  // namespace

TLTV_DataManagement::TLTV_DataManagement(int aLogID, int aSessId, bool aSessIsCopy,
                                         const TLogOptionsSnapshot& options)
    : TDataManagement(aLogID, aSessId, aSessIsCopy, "TLTV_DataManagement"), FOptions(options) {
  Log(".Create");
  Reset();
}

TLTV_DataManagement::~TLTV_DataManagement() { Log(".Destroy"); }

void TLTV_DataManagement::Reset() {
  Log(".Reset");
  {
    TLock lock(FLockObj);
    FLTV.fill(0);
    for (TRingValues& ring : FLTVValues) ring.fill(0);
    FCalibrate.fill(0);
    FAvgShortLast.fill(kNaN);
    FAvgLongLast.fill(kNaN);
    for (std::string& text : FAverageShortValueString) text.clear();
    for (std::string& text : FAverageLongValueString) text.clear();
  }
  TDataManagement::Reset();
}

void TLTV_DataManagement::SetSampler(IDataSampler* sampler) {
  TLock lock(FLockObj);
  FSampler = sampler;
}

void TLTV_DataManagement::SetServerOutput(IDataServerOutput* server) {
  TLock lock(FLockObj);
  FServer = server;
}

bool TLTV_DataManagement::AddLTV(std::string_view BufCopy) {
  const auto options = FOptions.Current();
  const NumberFormat& format = options->FormatSettingsLog;
  std::string_view s = BufCopy.size() > kHeaderLength ? BufCopy.substr(kHeaderLength) : "";
  if (s.size() > kMaxLineData) {
    AddError(31, "LTV data too long! Truncated to " + IntToText(kMaxLineData) + " Bytes!");
    s = s.substr(0, kMaxLineData);
  }
  const int n = static_cast<int>(s.size() / kFieldLength);

  // Every field is read before anything is stored, so a bad field leaves the
  // store as it was.
  std::array<double, kMaxDataChannels> values{};
  for (int k = 0; k < n; ++k) {
    const std::string_view field = s.substr(k * kFieldLength, kValueLength);
    if (!ReadLogNumber(field, values[k], format)) {
      AddError(31, NotAFloatMessage(Trim(field)));
      return false;
    }
  }

  const TCalibrationData c = GetCalibrationValues();
  TLock lock(FLockObj);
  FAverageShortValueString[0].clear();
  FAverageLongValueString[0].clear();
  FLetzterKanal = n;
  const int x = GetWriteX(hsNone);
  // Channel 1 first: the others' calculated calibration refers to its value
  // of this report.
  for (int k = 1; k <= n; ++k) {
    double v = values[k - 1];
    if (IsInvalid(v)) {
      v = kInvalidLTVValue;
    } else {
      if (k > 1 && !IsInvalid(FLTVValues[0][x])) {
        const double d = GetCalibrationDiff(k, v);
        double& calibrate = FCalibrate[k - 1];
        calibrate = calibrate == 0 ? d : calibrate - (calibrate - d) / 30;
      }
      v -= c[k - 1];
    }
    FLTV[k - 1] = v;
    FLTVValues[k - 1][x] = v;
  }

  const int oldCount = ChannelCount();
  if (n != oldCount) {
    LogDebugLazy(LogId(), [&] { return DbgTag() + ": LTVCount=" + IntToText(n); });
    if (SetChannelCount(n) && oldCount > 0 && FSampler != nullptr) {
      FSampler->UpdateSession(SessId(), SessIsCopy(), 10, "");
    }
  }

  if (FAddLogStrings) {
    TReportStrings strings;
    strings[0] = GenerateSamplerStringLTV();
    strings[1] = GenerateSamplerStringLTVDiff();
    strings[9] = FORCtimeString;
    if (FSampler != nullptr) {
      FSampler->AddStrings(SessId(), SessIsCopy(), strings);
      if (VirtualChannelCount() > 0) {
        TReportStrings virtualStrings;
        virtualStrings[0] = GenerateSamplerVirtualStringLTV();
        virtualStrings[9] = FORCtimeString;
        FSampler->AddStringsVirtual(SessId(), SessIsCopy(), virtualStrings);
      }
    }
    if (FServer != nullptr) {
      if (!strings[0].empty()) FServer->AddServerLine(FMultiId, 3, strings[0]);
      if (!strings[1].empty()) FServer->AddServerLine(FMultiId, 4, strings[1]);
    }
  } else {
    Log(": FAddLogStrings=False");
  }
  AdvanceX(hsNone);
  return true;
}

double TLTV_DataManagement::GetCalibrationDiff(int kanal, double value) const {
  if (kanal == 1 || IsInvalid(value)) return 0;
  return value - FLTVValues[0][GetWriteX(hsNone)];
}

bool TLTV_DataManagement::AddCalibration(std::string_view BufCopy) {
  const auto options = FOptions.Current();
  TLock lock(FLockObj);
  const TCalibrationData old = FDeviceCalibration;
  FDeviceCalibration[0] = 0;
  size_t start = BufCopy.find(';');
  for (int item = 1; start != std::string_view::npos && item <= kMaxDataChannels; ++item) {
    const size_t end = BufCopy.find(';', start + 1);
    const std::string_view text = BufCopy.substr(
        start + 1, end == std::string_view::npos ? std::string_view::npos : end - start - 1);
    if (end == std::string_view::npos && text.empty()) break;  // trailing separator
    if (item >= 2) {
      double value = 0;
      ReadLogNumber(text, value, options->FormatSettingsLog);
      FDeviceCalibration[item - 1] = value;
    }
    start = end;
  }
  const bool changed = old != FDeviceCalibration;
  FDeviceCalibrationSet = true;
  LogDebugLazy(LogId(), [&] {
    return DbgTag() + ".AddCalibration " + CalibrationText(FDeviceCalibration) +
           ", changed=" + std::string(BoolText(changed));
  });
  return changed;
}

bool TLTV_DataManagement::SetCalibrationData(const TCalibrationData& data) {
  bool changed;
  TCalibrationData now;
  {
    std::lock_guard calib(FLockCalib);
    const TCalibrationData old = FCalibrateFixed;
    FCalibrateFixed = data;
    FCalibrateFixed[0] = 0;  // channel 1 is the reference
    changed = old != FCalibrateFixed;
    now = FCalibrateFixed;
  }
  LogDebugLazy(LogId(), [&] {
    return DbgTag() + ".SetCalibrationData " + CalibrationText(now) +
           ", changed=" + std::string(BoolText(changed));
  });
  // After the calibration lock is released: the store lock is never taken
  // under it.
  if (changed) Reset();
  return changed;
}

TCalibrationData TLTV_DataManagement::GetCalibrationValues() const {
  std::lock_guard calib(FLockCalib);
  return FCalibrateFixed;
}

TCalibrationData TLTV_DataManagement::GetDeviceCalibration() const {
  TLock lock(FLockObj);
  return FDeviceCalibration;
}

bool TLTV_DataManagement::DeviceCalibrationSet() const {
  TLock lock(FLockObj);
  return FDeviceCalibrationSet;
}

double TLTV_DataManagement::GetCalibrateCalculated(int kanal) const {
  if (kanal < 1 || kanal > kMaxDataChannels) return 0;
  TLock lock(FLockObj);
  return FCalibrate[kanal - 1];
}

std::string TLTV_DataManagement::CalibrationText(const TCalibrationData& data) const {
  std::string text;
  for (size_t i = 0; i < data.size(); ++i) {
    if (i > 0) text += ';';
    AppendFloatText(text, data[i]);
  }
  return text;
}

void TLTV_DataManagement::DeviceOpened() {
  Log(".DeviceOpened");
  Reset();
}

void TLTV_DataManagement::BufferCleared(uint16_t header) {
  Log(".BufferCleared header=" + IntToHex(header, 4));
  Reset();
  if (header != 0x7F23) return;
  TLock lock(FLockObj);
  NotifyLinesLost(FSampler, SessId(), SessIsCopy());
}

void TLTV_DataManagement::AddShort(std::span<const double> values, int count) {
  AddAverage(values, count, hsShort);
}

void TLTV_DataManagement::AddLong(std::span<const double> values, int count) {
  AddAverage(values, count, hsLong);
}

void TLTV_DataManagement::AddAverage(std::span<const double> values, int count,
                                     THorizontalScale scale) {
  const bool isShort = scale == hsShort;
  Log((isShort ? ".AddShort count=" : ".AddLong count=") + IntToText(count));
  if (count < 1) return;
  const auto options = FOptions.Current();
  TLock lock(FLockObj);
  TChannelRings& rings = isShort ? FAvgShort : FAvgLong;
  auto& last = isShort ? FAvgShortLast : FAvgLongLast;
  TAverageTexts& texts = isShort ? FAverageShortValueString : FAverageLongValueString;
  const int x = GetWriteX(scale);
  const size_t channels = std::min(values.size(), size_t{kMaxDataChannels});
  for (size_t i = 0; i < channels; ++i) {
    const double a = values[i] / count;
    rings[i][x] = a;
    last[i] = a;
    texts[i] = FloatToFixedWidth(a, 26, 3, options->FormatSettingsLog);
    if (isShort) {
      LogDebugLazy(LogId(), [&] {
        return DbgTag() + ".AddShort[" + IntToText(static_cast<int64_t>(i) + 1) + "]=" + texts[i];
      });
    }
  }
  AdvanceX(scale);
}

bool TLTV_DataManagement::AddLogStrings() const {
  TLock lock(FLockObj);
  return FAddLogStrings;
}

void TLTV_DataManagement::SetAddLogStrings(bool value) {
  {
    TLock lock(FLockObj);
    if (FAddLogStrings == value) return;
    FAddLogStrings = value;
  }
  Log(std::string(".SetAddLogStrings ").append(BoolText(value)));
}

int TLTV_DataManagement::MultiId() const {
  TLock lock(FLockObj);
  return FMultiId;
}

void TLTV_DataManagement::SetMultiId(int value) {
  TLock lock(FLockObj);
  FMultiId = value;
}

void TLTV_DataManagement::SetORCtimeString(const std::string& value) {
  TLock lock(FLockObj);
  FORCtimeString = value;
}

double TLTV_DataManagement::Value(TTextModeLTV mode, int kanal, int index) const {
  const size_t k = static_cast<size_t>(kanal - 1);
  switch (mode) {
    case tmLTV: {
      const double v = FLTVValues[k][index];
      return IsInvalid(v) ? kNaN : v;
    }
    case tmLTVDiff: {
      const double v = FLTVValues[k][index];
      const double reference = FLTVValues[0][index];
      return IsInvalid(v) || IsInvalid(reference) ? kNaN : v - reference;
    }
    case tmLTVShortAvg:
      return FAvgShort[k][index];
    case tmLTVLongAvg:
      return FAvgLong[k][index];
  }
  return kNaN;
}

double TLTV_DataManagement::GetVirtual(TTextModeLTV aMode, int kanal, int index) const {
  const TChannelFactors factors = VirtualFactors(kanal);
  index &= kRingMask;
  TLock lock(FLockObj);
  double sum = 0;
  for (int i = 1; i <= kMaxDataChannels; ++i) {
    const double factor = factors[i - 1];
    if (factor == 0) continue;
    const double value = Value(aMode, i, index);
    if (std::isnan(value)) return kNaN;
    sum += factor * value;
  }
  return sum;
}

TDoubleArray TLTV_DataManagement::Series(const TChannelRings& rings, TTextModeLTV mode,
                                         bool virtualChannel, int kanal, int anz,
                                         int startX) const {
  if (kanal < 1 || kanal > kMaxDataChannels || anz <= 0) return {};
  anz = std::min(anz, kRingSize);
  TDoubleArray result(static_cast<size_t>(anz));
  TLock lock(FLockObj);
  for (int i = 0; i < anz; ++i) {
    const int x = GetNextX(startX, i);
    if (virtualChannel) {
      result[i] = GetVirtual(mode, kanal, x);
    } else if (mode == tmLTVDiff) {
      result[i] = rings[kanal - 1][x] - rings[0][x];
    } else {
      result[i] = rings[kanal - 1][x];
    }
  }
  return result;
}

TDoubleArray TLTV_DataManagement::GetLTVDiff(bool virtualChannel, int kanal, int anz,
                                             int startX) const {
  return Series(FLTVValues, tmLTVDiff, virtualChannel, kanal, anz, startX);
}

TDoubleArray TLTV_DataManagement::GetAvgShort(bool virtualChannel, int kanal, int anz,
                                              int startX) const {
  return Series(FAvgShort, tmLTVShortAvg, virtualChannel, kanal, anz, startX);
}

TDoubleArray TLTV_DataManagement::GetAvgLong(bool virtualChannel, int kanal, int anz,
                                             int startX) const {
  return Series(FAvgLong, tmLTVLongAvg, virtualChannel, kanal, anz, startX);
}

int TLTV_DataManagement::LatestX(TTextModeLTV mode) const {
  return (GetWriteX(ScaleOf(mode)) - 1) & kRingMask;
}

TDoubleArray TLTV_DataManagement::Latest(TTextModeLTV mode, bool virtualChannel) const {
  TLock lock(FLockObj);
  const int x = LatestX(mode);
  TDoubleArray result(static_cast<size_t>(ChannelCount()));
  for (size_t k = 1; k <= result.size(); ++k) {
    const int kanal = static_cast<int>(k);
    if (virtualChannel) {
      result[k - 1] = GetVirtual(mode, kanal, x);
    } else if (mode == tmLTVDiff) {
      result[k - 1] = FLTVValues[k - 1][x] - FLTVValues[0][x];
    } else {
      result[k - 1] = Value(mode, kanal, x);
    }
  }
  return result;
}

TDoubleArray TLTV_DataManagement::GetLastLTVDiff(bool virtualChannel) const {
  return Latest(tmLTVDiff, virtualChannel);
}

TDoubleArray TLTV_DataManagement::GetLastAvgShort(bool virtualChannel) const {
  return Latest(tmLTVShortAvg, virtualChannel);
}

TDoubleArray TLTV_DataManagement::GetLastAvgLong(bool virtualChannel) const {
  return Latest(tmLTVLongAvg, virtualChannel);
}

bool TLTV_DataManagement::IsTextModeEnabled(TTextModeLTV aMode) const {
  const int count = ChannelCount();
  switch (aMode) {
    case tmLTV:
      return count >= 1;
    case tmLTVDiff:
    case tmLTVShortAvg:
    case tmLTVLongAvg:
      return count >= 2;
  }
  return false;
}

std::string_view TLTV_DataManagement::GetTextModeCaption(TTextModeLTV aMode) {
  switch (aMode) {
    case tmLTV:
      return "Time Interval [ns]";
    case tmLTVDiff:
      return "Interval Difference [ns]";
    case tmLTVShortAvg:
      return "Interval Diff. Short Average [ns]";
    case tmLTVLongAvg:
      return "Interval Diff. Long Average [ns]";
  }
  return "";
}

std::string TLTV_DataManagement::GetTextModeString(TTextModeLTV aMode, int kanal) const {
  const auto options = FOptions.Current();
  const NumberFormat& format = options->FormatSettingsWin;
  TLock lock(FLockObj);
  if (kanal < 1 || kanal > ChannelCount()) return {};
  const size_t k = static_cast<size_t>(kanal - 1);
  switch (aMode) {
    case tmLTV:
      return IsInvalid(FLTV[k]) ? "---" : FloatToFixedWidth(FLTV[k], 15, 2, format);
    case tmLTVDiff:
      return IsInvalid(FLTV[k]) ? "---" : FloatToFixedWidth(FLTV[k] - FLTV[0], 15, 2, format);
    case tmLTVShortAvg:
      return std::isnan(FAvgShortLast[k]) ? "---"
                                          : FloatToFixedWidth(FAvgShortLast[k], 18, 2, format);
    case tmLTVLongAvg:
      return std::isnan(FAvgLongLast[k]) ? "---"
                                         : FloatToFixedWidth(FAvgLongLast[k], 18, 2, format);
  }
  return {};
}

std::string TLTV_DataManagement::GetTextModeVirtualString(TTextModeLTV aMode, int kanal) const {
  if (kanal < 1 || kanal > VirtualChannelCount()) return {};
  const double v = GetVirtual(aMode, kanal, LatestX(aMode));
  if (std::isnan(v)) return "---";
  const int width = aMode == tmLTV || aMode == tmLTVDiff ? 15 : 18;
  const auto options = FOptions.Current();
  return FloatToFixedWidth(v, width, 2, options->FormatSettingsWin);
}

std::string TLTV_DataManagement::GenerateSamplerStringLTV() const {
  const auto options = FOptions.Current();
  TLock lock(FLockObj);
  std::string result;
  for (int k = 0; k < FLetzterKanal; ++k) {
    result += FloatToFixedWidth(FLTV[k], 15, 2, options->FormatSettingsLog);
  }
  LogDebugLazy(LogId(), [&] { return DbgTag() + ".GenerateSamplerStringLTV=" + result; });
  return result;
}

std::string TLTV_DataManagement::GenerateSamplerStringLTVDiff() const {
  const auto options = FOptions.Current();
  TLock lock(FLockObj);
  std::string result;
  for (int k = 0; k < FLetzterKanal; ++k) {
    const double v = IsInvalid(FLTV[k]) ? FLTV[k] : FLTV[k] - FLTV[0];
    result += FloatToFixedWidth(v, 15, 2, options->FormatSettingsLog);
  }
  return result;
}

std::string TLTV_DataManagement::GenerateSamplerVirtualStringLTV() const {
  const auto options = FOptions.Current();
  TLock lock(FLockObj);
  const int x = GetWriteX(hsNone);
  std::string result;
  for (int k = 1; k <= VirtualChannelCount(); ++k) {
    const double v = GetVirtual(tmLTV, k, x);
    result += std::isnan(v) ? std::string(15, ' ')
                            : FloatToFixedWidth(v, 15, 2, options->FormatSettingsLog);
  }
  LogDebugLazy(LogId(), [&] { return DbgTag() + ".GenerateSamplerVirtualStringLTV=" + result; });
  return result;
}

std::string TLTV_DataManagement::GenerateAverageString(const TAverageTexts& texts) const {
  const auto options = FOptions.Current();
  TLock lock(FLockObj);
  if (texts[0].empty() || FLetzterKanal < 1) return {};
  const size_t width = texts[0].size();
  std::string result;
  for (int k = 0; k < FLetzterKanal; ++k) {
    std::string text =
        NormalizeDecimalSeparator(texts[k], options->FormatSettingsLog.DecimalSeparator);
    if (text.size() < width) result.append(width - text.size(), ' ');
    result += text;
  }
  return result;
}

std::string TLTV_DataManagement::GenerateSamplerStringAvgShort() const {
  return GenerateAverageString(FAverageShortValueString);
}

std::string TLTV_DataManagement::GenerateSamplerStringAvgLong() const {
  return GenerateAverageString(FAverageLongValueString);
}

}  // namespace orb
