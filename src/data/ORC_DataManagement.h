#pragma once
// The measurement store of a phase/frequency counter session. Every report
// (a text line, a decoded binary report or a raw T1/T2/T3 line) becomes per
// channel the phase, frequency, relative frequency, the differences to
// channel 1 and to the preceding channel and the residual against the ideal
// phase of the nominal frequency, in the mode and interval of the report's
// header. Current values and 2048-entry history rings feed the views, the
// three Allan stores, the virtual channels and the log and server strings.
//
// Ingestion runs on the report thread and holds the store lock for the whole
// report, including the sampler, server and clock-alarm calls. Every other
// operation that changes the store takes the lock too; reads take it as
// well, so a view never sees half a report.
//
// Channels are numbered 1..24 (virtual channels too); arrays hold channel k
// at index k - 1. The class is split by job: ORC_Ingestion.cpp (the three
// entry points and the report's course), ORC_Arithmetic.cpp (per-channel
// arithmetic), ORC_Settings.cpp (creation, device events and settings),
// ORC_Views.cpp (virtual channels, series and latest values),
// ORC_TextView.cpp (text-view texts), ORC_DeviceWords.cpp (digital inputs,
// time stamps, heartbeat, averages), ORC_Allan.cpp (the Allan stores' reads)
// and ORC_ReportStrings.cpp (log and server strings).

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "data/App_DataManagement.h"
#include "data/App_VirtAllanData.h"
#include "data/QM_RawData.h"
#include "logging/LogUnit.h"
#include "protocol/QM_CommonTypes.h"
#include "session/LogOptions.h"

namespace orb {

enum TTextModeORC {
  tmPhase,
  tmPhaseDiff,
  tmFreqAbs,
  tmFreqRel,
  tmPhasePredecessor,
  tmPhaseResiduum
};

// The quantities a graphic view plots.
enum class TSeriesKind {
  FrequDiff,
  FrequDiffRelative,
  PhaDiffPs,
  PhaPredecessorPs,
  TheoPhaseDiffPs,
  AvgShort,
  AvgLong
};

class TORC_DataManagement : public TDataManagement {
 public:
  static constexpr size_t kTextField = 27;  // a separator and 26 value characters
  static constexpr size_t kRawField = 16;
  static constexpr size_t kMaxTextData = kMaxDataChannels * kTextField;
  static constexpr size_t kMaxRawData = kMaxDataChannels * kRawField;
  static constexpr int kMaxODICards = 8;
  static constexpr int kHeartbeatWords = 12;

  // `options` gives the log and display number formats and outlives the
  // store. allanDebug: the Allan stores write to this store's logger.
  TORC_DataManagement(int aLogId, int aSessId, bool aSessIsCopy, const TLogOptionsSnapshot& options,
                      bool allanDebug = false);
  ~TORC_DataManagement() override;

  // Where reports strings, server lines and clock-alarm checks go (nullptr:
  // nowhere). Set while no report is being stored.
  void SetSampler(IDataSampler* sampler);
  void SetServerOutput(IDataServerOutput* server);
  void SetClockAlarms(IClockAlarms* alarms);

  // ---- Ingestion (report thread); true when the report was stored ----
  // A text report: 4 header digits, then 27 characters per channel.
  bool ExtractData(std::string_view BufCopy, int64_t aDeviceMs);
  // A decoded binary report of type rt_Phase or rt_Double.
  bool ExtractReport(const TQM_ReportStruct& report);
  // A raw line: 4 header characters, then 16 characters of T1 T2 T3 per channel.
  bool ExtractRawData(std::string_view BufCopy, int64_t aDeviceMs);

  // ---- Device events and settings (any thread) ----
  void Reset() override;
  void DeviceOpened();
  void BufferCleared(uint16_t header);
  void IncLost();
  void ReSync(const std::string& text);
  // The next stored report takes new zero references for the differences.
  void PhaseDiffResetted();
  void SetNewHeader(uint16_t value);
  void SetRawMode(int rawMs, bool avg);
  bool Ref20MHz() const;
  void SetRef20MHz(bool value);
  void ResetAllan();
  void ResetAllanPersist(int channel);  // -1: every channel
  void BeginUpdate();
  void EndUpdate();
  // High-resolution channel settings; true when anything changed (the store
  // is then reset).
  bool AddOHRData(const TOHRSettings& settings);
  double GetNomFreq(int k) const;
  // Value 0 and channels outside 1..24 change nothing.
  void SetNomFreq(int k, double Value);
  double GetNomFreqUser(int k) const;
  double GetNomFrequCalculated(int k) const;
  int AllanDecay() const;
  void SetAllanDecay(int value);

  bool PLLError() const;
  void SetPLLError(bool value);
  bool AddLogStrings() const;
  void SetAddLogStrings(bool value);
  bool LocalServerRunning() const;
  void SetLocalServerRunning(bool value);
  bool ScramblerTrim() const;
  void SetScramblerTrim(bool value);
  int MultiId() const;
  void SetMultiId(int value);
  int Lost() const;
  bool IsPhaseDiffResetted() const;
  void SetORCtimeString(const std::string& value);
  std::string ORCtimeString() const;

  // ---- Series for the graphic view ----
  // anz values from ring position startX on (wrapping at 2048) of channel
  // kanal, or of virtual channel kanal. Empty for a channel outside 1..24,
  // anz <= 0, or when the current mode has no such values. The filling form
  // reuses the caller's buffer.
  void ReadSeries(TSeriesKind kind, bool virtualChannel, int kanal, int anz, int startX,
                  TDoubleArray& result) const;
  // Frequency - nominal [Hz]; not in difference modes.
  TDoubleArray GetFrequDiff(bool virtualChannel, int kanal, int anz, int startX) const;
  // (frequency - nominal) / nominal; 0 while the channel has no nominal.
  TDoubleArray GetFrequDiffRelative(bool virtualChannel, int kanal, int anz, int startX) const;
  // Differences to channel 1 / to the preceding channel in ps; not in
  // frequency modes, and only with a nominal frequency of channel kanal.
  TDoubleArray GetPhaDiffPs(bool virtualChannel, int kanal, int anz, int startX) const;
  TDoubleArray GetPhaPredecessorPs(bool virtualChannel, int kanal, int anz, int startX) const;
  // Residuals in ps in modes 0, 1 and 6; empty when the range holds a report
  // without nominal frequency.
  TDoubleArray GetTheoPhaseDiffPs(bool virtualChannel, int kanal, int anz, int startX) const;
  TDoubleArray GetAvgShort(bool virtualChannel, int kanal, int anz, int startX) const;
  TDoubleArray GetAvgLong(bool virtualChannel, int kanal, int anz, int startX) const;
  // Why a series is empty; empty when it has data.
  std::string GetFrequDiffNoData() const;
  std::string GetPhaDiffPsNoData(int kanal) const;
  std::string GetTheoPhaseDiffPsNoData(int kanal) const;

  // The newest value of every channel 1..ChannelCount (virtual: of the
  // virtual channels with those numbers); empty when the mode has none.
  TDoubleArray GetLastFrequDiff(bool virtualChannel) const;
  TDoubleArray GetLastFrequDiffRelative(bool virtualChannel) const;
  TDoubleArray GetLastPhaDiffPs(bool virtualChannel) const;
  TDoubleArray GetLastPhaPredecessorPs(bool virtualChannel) const;
  TDoubleArray GetLastTheoPhaseDiffPs(bool virtualChannel) const;
  // Read at the newest hsShort / hsLong position.
  TDoubleArray GetLastAvgShort(bool virtualChannel) const;
  TDoubleArray GetLastAvgLong(bool virtualChannel) const;

  // Phases less a ramp of plotX mod 256 steps, re-referenced every 256
  // values (the scrambler in "Trim").
  TDoubleArray GetPhaseTrim(int kanal, int startX, int anz, int plotX) const;
  TDoubleArray GetLastPhaseTrim(int plotX) const;

  // ---- Text view ----
  bool IsTextModeEnabled(TTextModeORC aMode) const;
  bool IsTextRawDataEnabled() const;
  std::string_view GetTextModeCaption(TTextModeORC aMode) const;
  std::string_view GetTextModeVirtualCaption(TTextModeORC aMode) const;
  // Channels 1..ChannelCount (virtual: 1..VirtualChannelCount); else empty.
  std::string GetTextModeString(TTextModeORC aMode, int kanal) const;
  std::string GetTextModeVirtualString(TTextModeORC aMode, int kanal) const;
  static std::string_view GetTextRawDataCaption() { return "T1   T2   T3"; }
  std::string GetTextRawDataString(int kanal) const;
  // The channel's current frequency is outside its clock alarm limits.
  bool HasClockAlarm(int kanal) const;

  // ---- Device words (report thread) and their reads ----
  // A time stamp in units of 100 ms; whole seconds mark the ring position.
  void AddTimeStamp(int64_t time100ms);
  // Values stored from the newest whole-second time stamp on; 0 before one.
  int GetNewCountTimeStamp(int startX) const;
  int TimeCount() const;
  int TimeIndex() const;
  int64_t GetORCTimeGraphic(int x) const;
  int64_t LastORCTime() const;  // -1 while the ring is empty
  int64_t LastTimeStamp() const;

  // A digital-input line: 5 header characters, then 9 characters per card.
  bool AddODI(std::string_view BufCopy);
  uint32_t GetODI(int card) const;  // cards 1..8
  int ODICount() const;
  std::string ODIText() const;
  void SetOnODICount(TOnInt handler);

  // Device status words from a text line or a binary report.
  void AddHeartbeat(std::string_view s, int64_t aDeviceMs);
  void AddHeartbeat(const TQM_ReportStruct& report);
  // The text of the last heartbeat, once; then empty until the next.
  std::string GetHeartbeatString();
  uint32_t GetESPTransmitBufferAmount();
  uint32_t GetESPTransmitBufferHighAmount() const;

  // Averages: values[i] / count for channel i + 1 at the hsShort / hsLong
  // write position, then the ring advances and OnShortAverage /
  // OnLongAverage follow.
  void AddShort(std::span<const double> values, int count);
  void AddLong(std::span<const double> values, int count);
  void SetOnShortAverage(TOnSender handler);
  void SetOnLongAverage(TOnSender handler);

  // ---- Allan stores (am selects the store) ----
  TInt64Array GetADEVCounts(TAllanMode am) const;
  TDoubleArray GetAllanGraphicValues(TAllanMode am, int channel) const;
  int GetAllanLastTau(TAllanMode am) const;
  TPersistArray GetAllanPersistValues(TAllanMode am, int channel) const;
  TDoubleArray GetAllanTextValues(TAllanMode am, int channel) const;
  TAllanMinMax GetAllanActualYPowerMinMax(TAllanMode am, int channel) const;
  TAllanMinMax GetAllanYPowerMinMax(TAllanMode am, int channel) const;
  std::string GetAllanTauCaption(TAllanMode am, int len, int intervalMs) const;
  // Why the Allan mode has no data in the current measurement mode; empty
  // when it has.
  std::string CheckAllanMode(TAllanMode am) const;

  // Current values of channel k (1..24; 0 or a cleared phase outside).
  Phase GetPhase(int k) const;
  Phase GetPhaseRes(int k) const;
  Phase GetPhaseDiff(int k) const;
  Phase GetPhasePreDiff(int k) const;
  double GetFrequency(int k) const;
  double GetFrequencyRelative(int k) const;
  double GetPhaseResNs(int k) const;
  int GetPhaseDecimals(int k) const;
  // History rings at ring position x (0..2047): the stored phase, frequency
  // and residual [ps].
  Phase GetPhaseDLL(int k, int x) const;
  double GetFrequencyAt(int k, int x) const;
  double GetPhaseResPsAt(int k, int x) const;

 private:
  using TRingValues = std::array<double, kRingSize>;
  using TRingPhases = std::array<Phase, kRingSize>;
  template <typename T>
  using TPerChannel = std::array<T, kMaxDataChannels>;

  // Ingestion (ORC_Ingestion.cpp).
  void Prologue(int64_t deviceMs, bool storeTime, std::string_view operation);
  void CheckAllanIgnoreFrequ(std::string_view operation);
  bool BeforeExtractData(std::string_view text);
  void ClearSamplerStrings();
  bool AfterExtractData();
  void StoreChannelCount(int n);
  bool ParseTextValues(std::string_view line, int n);
  void AddReportValues(const TQM_ReportStruct& report, int n);
  bool ReportInternalException(std::string_view operation, const std::exception& e);
  void CheckClockAlarms(std::string& logAlarm);
  void FeedAllan(bool modeConditions);
  void TrimZeroReferences();
  void BlankODIText();

  // Per-channel arithmetic (ORC_Arithmetic.cpp); k from 1.
  void AddPhaseValue(const Phase& phase, int k);
  void AddFrequencyValue(double x, int k);
  void AddPhaseDiffValue(Phase value, int k);
  void CalculateFrequency(int k);
  void CalculateFrequencies(int k);
  void CalculatePhaseDifferences(int k);
  void CalculateTheoPhaseOffset(int k);  // -1: every channel
  void ClearTheoPhaseOffset(int k);
  Phase IdealPhaseOf(int k) const;

  // Views (ORC_Views.cpp, ORC_TextView.cpp, ORC_DeviceWords.cpp).
  void CalculateVirtualChannel(int k);
  void ResetViews();
  bool SeriesCondition(TSeriesKind kind, int kanal) const;
  double SeriesValue(TSeriesKind kind, bool virtualChannel, int kanal, size_t x) const;
  double PhysicalValue(TSeriesKind kind, size_t i, size_t x) const;
  TDoubleArray Latest(TSeriesKind kind, bool virtualChannel) const;
  Phase TrimRamp(int p) const;
  bool IsAverageCaption() const;
  // The text of a text mode for channel or virtual channel kanal in `format`.
  void AppendModeText(std::string& out, TTextModeORC mode, bool virtualChannel, int kanal,
                      const NumberFormat& format) const;
  void AddAverage(std::span<const double> values, int count, THorizontalScale scale);

  // Report strings (ORC_ReportStrings.cpp).
  // A kind of string is built when a log definition needs it, or for the
  // plain kinds when the data server runs.
  bool NeedsString(int bit) const;
  void GenerateSamplerStrings();
  void GenerateRawDataString(std::string& out) const;
  void AddSamplerStrings(std::string_view alarmText);
  void AddSamplerStringsRawData();
  void SendServerLines();

  int Mode() const;  // of the stored reports' header
  static bool IsPhaseMode(int mode) { return mode == 0 || mode == 1; }
  static bool IsFrequencyMode(int mode) { return mode == 2 || mode == 3; }
  static bool IsDifferenceMode(int mode) { return mode == 4 || mode == 5; }
  static constexpr int kRawMode = 6;

  // FDbgTag + the text, built only when the logger writes anywhere.
  template <typename MakeText>
  void LogLazy(MakeText&& makeText) const {
    if (LogActive(LogId())) Log(makeText());
  }

  const TLogOptionsSnapshot& FOptions;
  IDataSampler* FSampler = nullptr;
  IDataServerOutput* FServer = nullptr;
  IClockAlarms* FAlarms = nullptr;

  // Current values.
  TPerChannel<Phase> PPhase{};
  TPerChannel<Phase> PPhaseOld{};
  TPerChannel<Phase> PPhaseZeroOffset{};
  TPerChannel<bool> FOriginSet{};  // PPhaseZeroOffset holds an origin
  TPerChannel<Phase> PPhaseRes{};
  TPerChannel<Phase> PPhaDiffZero{};
  TPerChannel<Phase> PPhaPredecessorZero{};
  TPerChannel<Phase> PPhaseDiff{};
  TPerChannel<Phase> PPhasePreDiff{};
  TPerChannel<int> FPhaseDecimals{};
  TPerChannel<double> FFrequency{};
  TPerChannel<double> FFrequencyRelative{};
  TPerChannel<double> FrequGltt{};
  TPerChannel<double> FNom_Frequ{};
  TPerChannel<bool> FNom_FrequUser{};
  TPerChannel<long double> FIntervalCount{};
  TPerChannel<long double> FtheoNomFreqPerInterval{};
  TPerChannel<double> FPhaseRes_ns{};
  TPerChannel<bool> FSuppressFirstFrequency{};
  TPerChannel<long double> FOHRFactors{};

  // History rings, per channel.
  std::vector<TRingPhases> PPhaseDLL;
  std::vector<TRingValues> FPhaDiff;
  std::vector<TRingValues> FPhaPredecessor;
  std::vector<TRingValues> FFrequencies;
  std::vector<TRingValues> FPhaseRes_ps;
  std::vector<TRingValues> FAvgShort;
  std::vector<TRingValues> FAvgLong;
  std::vector<TRingValues> FVirtFrequencies;  // per virtual channel
  std::vector<TRingValues> FVirtPhaseRes_ps;
  std::array<int64_t, kRingSize> FORCTime{};

  // Store-wide state.
  int64_t FDeviceMs = -1;
  int64_t FIntervalMs = -1;
  long double Ftheo10MHzPerInterval = 0;
  int FLetzterKanal = 0;
  int FWriteX = 0;  // hsNone write position of the report being stored
  bool FPhaseDiffResetted = true;
  bool FIgnoreFirstPhase = false;
  bool FAllanIgnorePhase = true;
  bool FAllanIgnoreFrequ = true;
  std::array<std::unique_ptr<TVirtAllanData>, 3> FAllanData;
  TQM_RawData FRawData;
  bool FPLLError = false;
  bool FAddLogStrings = false;
  bool FLocalServerRunning = false;
  bool FScramblerTrim = false;
  bool FDeviceOHRSet = false;
  bool FEqualOHRSettings = true;
  int FUpdateCounter = 0;
  bool FResetAllanNeeded = false;
  bool FResetRawDataNeeded = false;
  int FLost = 0;
  int FMultiId = -1;
  std::string FSyncTime;
  std::string FORCtimeString;
  std::array<double, kMaxDataChannels> FAllanInput{};  // one Allan sample
  std::array<double, kMaxDataChannels> FAlarmInput{};
  // The values of a text line, read before any is stored.
  std::array<Phase, kMaxDataChannels> FParsed{};
  std::array<int, kMaxDataChannels> FParsedDecimals{};
  std::array<double, kMaxDataChannels> FParsedFrequency{};
  std::string FAlarmText;
  std::string FAlarmEnded;

  // The report strings of the current report, one per log type; emptied
  // before every report.
  std::string FSamplerPhaseValuesString;
  std::string FSamplerFrequencyValuesString;
  std::string FSamplerPhaseDiffValuesString;
  std::string FSamplerRawDataString;
  std::string FSamplerPhasePredecessorValuesString;
  std::string FSamplerADEVValuesString;
  std::string FSamplerVirtualPhaseResValuesString;
  std::string FSamplerVirtualFreqAbsValuesString;
  std::string FSamplerVirtualFreqRelValuesString;
  std::string FSamplerVirtualADEVValuesString;
  std::string FSamplerPhaseResiduumValuesString;
  std::string FSamplerVirtualPhaseDiffValuesString;
  std::string FSamplerVirtualPhasePrevValuesString;

  TReportStrings FReportStrings;  // reused, so steady state allocates nothing
  TReportStrings FVirtualReportStrings;
  std::string FColumnText;
  std::string FServerLine;

  // Virtual channels.
  TPerChannel<Phase> PVirtPhase{};
  TPerChannel<Phase> PVirtPhaseDiff{};
  TPerChannel<Phase> PVirtPhasePreDiff{};
  TPerChannel<double> FVirtPhaseRes_ns{};
  TPerChannel<double> FVirtFrequency{};
  TPerChannel<double> FVirtFrequencyRelative{};

  // Digital inputs, time stamps, heartbeat.
  std::array<uint32_t, kMaxODICards> FODI{};
  int FODICount = 0;
  std::string FODIs_HEX;
  TOnInt FOnODICount;
  TOnSender FOnShortAverage;
  TOnSender FOnLongAverage;
  int FTimeCount = 0;
  int FTimeIndex = -1;
  std::array<uint32_t, kHeartbeatWords> FHeartbeat{};
  std::string FHeartbeatString;
  uint32_t FhighAmount = 0;
};

}  // namespace orb
