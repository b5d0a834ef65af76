#pragma once
// The LTV channels of one counter session: time intervals in ns on up to 24
// inputs, each corrected by a fixed per-channel calibration and kept in a
// 2048-entry ring. Channel 1 is the reference of every difference; a slowly
// smoothed calculated calibration follows each channel's offset to it.
// Invalid device values (-9.99 or below) are carried as exactly -9.99.
//
// AddLTV runs on the report thread and holds the store lock for the whole
// report, including the sampler and data-server calls. The calibration lock
// is a leaf: it is held only to copy or replace the fixed calibration, so the
// sampler may read the calibration while the store lock is held.

#include <array>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <string_view>

#include "data/App_DataManagement.h"
#include "session/LogOptions.h"

namespace orb {

using TCalibrationData = std::array<double, kMaxDataChannels>;  // channels 1..24

enum TTextModeLTV { tmLTV, tmLTVDiff, tmLTVShortAvg, tmLTVLongAvg };

class TLTV_DataManagement : public TDataManagement {
 public:
  static constexpr double kInvalidLTVValue = -9.99;
  static constexpr size_t kMaxLineData = 24 * 14;  // 24 fields of 14 characters

  // `options` gives the log and display number formats; it outlives the store.
  TLTV_DataManagement(int aLogID, int aSessId, bool aSessIsCopy,
                      const TLogOptionsSnapshot& options);
  ~TLTV_DataManagement() override;

  void Reset() override;

  // Where the report strings and server lines go (nullptr: nowhere). Set
  // while no report is being stored.
  void SetSampler(IDataSampler* sampler);
  void SetServerOutput(IDataServerOutput* server);

  // One LTV text line: 4 header digits and a separator, then one 14-character
  // field per channel. A field that is not a number rejects the whole line
  // (error 31, store unchanged) and returns false.
  bool AddLTV(std::string_view BufCopy);
  // A device calibration line "header;v1;v2;..."; returns whether the table
  // changed.
  bool AddCalibration(std::string_view BufCopy);
  // New fixed calibration; channel 1 is always 0. A change resets the store.
  bool SetCalibrationData(const TCalibrationData& data);
  TCalibrationData GetCalibrationValues() const;
  TCalibrationData GetDeviceCalibration() const;
  bool DeviceCalibrationSet() const;
  double GetCalibrateCalculated(int kanal) const;  // 0 outside 1..24

  void DeviceOpened();
  void BufferCleared(uint16_t header);

  // Moving averages of the channels: one sum per channel (channel i + 1 at
  // index i) divided by count, stored at the hsShort / hsLong position.
  void AddShort(std::span<const double> values, int count);
  void AddLong(std::span<const double> values, int count);

  bool AddLogStrings() const;
  void SetAddLogStrings(bool value);
  int MultiId() const;
  void SetMultiId(int value);
  void SetORCtimeString(const std::string& value);

  // Series of anz values from ring position startX on (wrapping at 2048);
  // empty for a channel outside 1..24 or anz <= 0. virtualChannel selects
  // virtual channel kanal.
  TDoubleArray GetLTVDiff(bool virtualChannel, int kanal, int anz, int startX) const;
  TDoubleArray GetAvgShort(bool virtualChannel, int kanal, int anz, int startX) const;
  TDoubleArray GetAvgLong(bool virtualChannel, int kanal, int anz, int startX) const;
  // The latest value of every channel 1..ChannelCount (virtual: of the
  // virtual channels with the same numbers).
  TDoubleArray GetLastLTVDiff(bool virtualChannel) const;
  TDoubleArray GetLastAvgShort(bool virtualChannel) const;
  TDoubleArray GetLastAvgLong(bool virtualChannel) const;
  // Virtual channel kanal at ring position index; NaN where an input is
  // invalid, 0 without factors.
  double GetVirtual(TTextModeLTV aMode, int kanal, int index) const;

  bool IsTextModeEnabled(TTextModeLTV aMode) const;
  static std::string_view GetTextModeCaption(TTextModeLTV aMode);
  std::string GetTextModeString(TTextModeLTV aMode, int kanal) const;
  std::string GetTextModeVirtualString(TTextModeLTV aMode, int kanal) const;

  // The log strings of the current report.
  std::string GenerateSamplerStringLTV() const;
  std::string GenerateSamplerStringLTVDiff() const;
  std::string GenerateSamplerVirtualStringLTV() const;
  std::string GenerateSamplerStringAvgShort() const;
  std::string GenerateSamplerStringAvgLong() const;

 private:
  using TRingValues = std::array<double, kRingSize>;
  using TChannelRings = std::array<TRingValues, kMaxDataChannels>;
  using TAverageTexts = std::array<std::string, kMaxDataChannels>;

  double GetCalibrationDiff(int kanal, double value) const;
  void AddAverage(std::span<const double> values, int count, THorizontalScale scale);
  std::string GenerateAverageString(const TAverageTexts& texts) const;
  TDoubleArray Series(const TChannelRings& rings, TTextModeLTV mode, bool virtualChannel, int kanal,
                      int anz, int startX) const;
  TDoubleArray Latest(TTextModeLTV mode, bool virtualChannel) const;
  // The ring a text mode reads and its latest position.
  int LatestX(TTextModeLTV mode) const;
  double Value(TTextModeLTV mode, int kanal, int index) const;
  std::string CalibrationText(const TCalibrationData& data) const;

  const TLogOptionsSnapshot& FOptions;
  IDataSampler* FSampler = nullptr;
  IDataServerOutput* FServer = nullptr;
  bool FAddLogStrings = false;
  int FMultiId = -1;
  std::string FORCtimeString;
  int FLetzterKanal = 0;

  mutable std::mutex FLockCalib;       // guards FCalibrateFixed only
  TCalibrationData FCalibrateFixed{};  // under FLockCalib
  TCalibrationData FCalibrate{};       // the rest under the store lock
  TCalibrationData FDeviceCalibration{};
  bool FDeviceCalibrationSet = false;
  std::array<double, kMaxDataChannels> FLTV{};
  std::array<double, kMaxDataChannels> FAvgShortLast{};
  std::array<double, kMaxDataChannels> FAvgLongLast{};
  TChannelRings FLTVValues{};
  TChannelRings FAvgShort{};
  TChannelRings FAvgLong{};
  TAverageTexts FAverageShortValueString;
  TAverageTexts FAverageLongValueString;
};

}  // namespace orb
