// Creation, device events and settings of the counter store. Every change
// takes the store lock, so none can meet a report half-way.

#include <limits>

#include "data/ORC_DataManagement.h"
#include "platform/NumberFormat.h"

namespace orb {
namespace {

constexpr int kTauMax = 19;

const char* BoolText(bool value) { return value ? "True" : "False"; }

bool ValidChannel(int k) { return k >= 1 && k <= kMaxDataChannels; }

}  // namespace

TORC_DataManagement::TORC_DataManagement(int aLogId, int aSessId, bool aSessIsCopy,
                                         const TLogOptionsSnapshot& options, bool allanDebug)
    : TDataManagement(aLogId, aSessId, aSessIsCopy, "TORC_DataManagement"),
      FOptions(options),
      PPhaseDLL(kMaxDataChannels),
      FPhaDiff(kMaxDataChannels),
      FPhaPredecessor(kMaxDataChannels),
      FFrequencies(kMaxDataChannels),
      FPhaseRes_ps(kMaxDataChannels),
      FAvgShort(kMaxDataChannels),
      FAvgLong(kMaxDataChannels),
      FVirtFrequencies(kMaxDataChannels),
      FVirtPhaseRes_ps(kMaxDataChannels),
      FRawData(aLogId) {
  Log(".Create");
  const int allanLog = allanDebug ? aLogId : -1;
  for (const TAllanMode mode : {amFreq, amPhaseRes, amPhaseDiff}) {
    FAllanData[mode] = std::make_unique<TVirtAllanData>(allanLog, kTauMax, mode);
  }
  FOHRFactors.fill(1.0L);
  for (auto* rings : {&FPhaDiff, &FPhaPredecessor, &FFrequencies, &FPhaseRes_ps, &FAvgShort,
                      &FAvgLong, &FVirtFrequencies, &FVirtPhaseRes_ps}) {
    for (TRingValues& ring : *rings) ring.fill(0);
  }
  Reset();
}

TORC_DataManagement::~TORC_DataManagement() { Log(".Destroy"); }

void TORC_DataManagement::SetSampler(IDataSampler* sampler) {
  TLock lock(FLockObj);
  FSampler = sampler;
}

void TORC_DataManagement::SetServerOutput(IDataServerOutput* server) {
  TLock lock(FLockObj);
  FServer = server;
}

void TORC_DataManagement::SetClockAlarms(IClockAlarms* alarms) {
  TLock lock(FLockObj);
  FAlarms = alarms;
}

void TORC_DataManagement::Reset() {
  Log(".Reset");
  {
    TLock lock(FLockObj);
    FPhaseDiffResetted = true;
    for (int k = 1; k <= kMaxDataChannels; ++k) {
      const size_t i = static_cast<size_t>(k - 1);
      PPhaseOld[i].Clear();
      PPhaseRes[i].Clear();
      FPhaseDecimals[i] = 11;
      FSuppressFirstFrequency[i] = true;
      FFrequency[i] = 0;
      FFrequencyRelative[i] = 0;
      FPhaseRes_ns[i] = 0;
      ClearTheoPhaseOffset(k);
    }
    FIntervalMs = -1;
    FORCTime.fill(-1);
    FPLLError = false;
    FRawData.Reset();
    ResetAllan();
    ResetViews();
  }
  TDataManagement::Reset();
}

void TORC_DataManagement::DeviceOpened() {
  Log(".DeviceOpened");
  {
    TLock lock(FLockObj);
    FLost = 0;
    FDeviceOHRSet = false;
    FEqualOHRSettings = true;
    FOHRFactors.fill(1.0L);
    for (int k = 1; k <= kMaxDataChannels; ++k) FRawData.SetOHRFactor(k, 1.0L);
    FDeviceMs = -1;
  }
  Reset();
}

void TORC_DataManagement::BufferCleared(uint16_t header) {
  Log(".BufferCleared header=" + IntToHex(header, 4));
  Reset();
  if (header != 0x7F23) return;
  TLock lock(FLockObj);
  NotifyLinesLost(FSampler, SessId(), SessIsCopy());
}

void TORC_DataManagement::IncLost() {
  int lost;
  {
    TLock lock(FLockObj);
    lost = ++FLost;
    if (FSampler != nullptr) FSampler->UpdateSession(SessId(), SessIsCopy(), 7, "");
  }
  Log(".Lost: " + IntToText(lost));
  Reset();
}

void TORC_DataManagement::ReSync(const std::string& text) {
  TLock lock(FLockObj);
  FSuppressFirstFrequency.fill(true);
  if (FSampler != nullptr) FSampler->UpdateSession(SessId(), SessIsCopy(), 5, text);
}

void TORC_DataManagement::PhaseDiffResetted() {
  TLock lock(FLockObj);
  FPhaseDiffResetted = true;
  FRawData.SetPhaseDiffResetted();
}

void TORC_DataManagement::SetNewHeader(uint16_t value) {
  Log(".SetNewHeader " + IntToHex(value, 4));
  TLock lock(FLockObj);
  if (SetHeader(value)) {
    if (FSampler != nullptr) FSampler->UpdateSession(SessId(), SessIsCopy(), 3, "");
    if (IsPhaseMode(Mode())) {
      FIgnoreFirstPhase = true;
      Log(".SetNewHeader Umschaltung Phasenmodus -> erste Phase ignorieren");
    }
  }
  FRawData.Reset();
}

void TORC_DataManagement::SetRawMode(int rawMs, bool avg) {
  TLock lock(FLockObj);
  if (rawMs != FRawData.RawMs()) FRawData.SetRawMs(rawMs);
  if (avg != FRawData.RawAvg()) FRawData.SetRawAvg(avg);
}

bool TORC_DataManagement::Ref20MHz() const {
  TLock lock(FLockObj);
  return FRawData.Ref20MHz();
}

void TORC_DataManagement::SetRef20MHz(bool value) {
  {
    TLock lock(FLockObj);
    if (value == FRawData.Ref20MHz()) return;
    FRawData.SetRef20MHz(value);
  }
  Log(std::string(".SetRef20MHz ") + BoolText(value));
  Reset();
}

void TORC_DataManagement::ResetAllan() {
  Log(".ResetAllan");
  TLock lock(FLockObj);
  for (auto& allan : FAllanData) allan->Reset();
  FAllanIgnorePhase = true;
  FAllanIgnoreFrequ = true;
}

void TORC_DataManagement::ResetAllanPersist(int channel) {
  Log(".ResetAllanPersist channel=" + IntToText(channel));
  TLock lock(FLockObj);
  for (auto& allan : FAllanData) {
    if (channel == -1) {
      for (int v = 0; v < allan->RealCount(); ++v) allan->ResetPersist(v);
    } else {
      allan->ResetPersist(channel - 1);
    }
  }
}

void TORC_DataManagement::BeginUpdate() {
  TLock lock(FLockObj);
  ++FUpdateCounter;
  LogLazy([&] { return ".BeginUpdate Counter=" + IntToText(FUpdateCounter); });
}

void TORC_DataManagement::EndUpdate() {
  TLock lock(FLockObj);
  if (FUpdateCounter == 0) return;
  --FUpdateCounter;
  LogLazy([&] { return ".EndUpdate Counter=" + IntToText(FUpdateCounter); });
  if (FUpdateCounter != 0) return;
  Log(".EndUpdate Changes done -> react");
  if (FResetAllanNeeded) ResetAllan();
  if (FResetRawDataNeeded) FRawData.Reset();
  FResetAllanNeeded = false;
  FResetRawDataNeeded = false;
}

bool TORC_DataManagement::AddOHRData(const TOHRSettings& settings) {
  bool changed = false;
  {
    TLock lock(FLockObj);
    FDeviceOHRSet = true;
    FEqualOHRSettings = true;
    BeginUpdate();
    const TOHRSetting* reference = nullptr;
    for (int k = 1; k <= kMaxDataChannels; ++k) {
      const TOHRSetting& channel = settings.OHRChannels[static_cast<size_t>(k - 1)];
      long double& factor = FOHRFactors[static_cast<size_t>(k - 1)];
      if (channel.enabled) {
        if (reference == nullptr) {
          reference = &channel;
        } else if (channel.Factor != reference->Factor || channel.NomFreq != reference->NomFreq) {
          FEqualOHRSettings = false;
        }
        if (channel.Factor != factor) {
          factor = channel.Factor;
          FRawData.SetOHRFactor(k, factor);
          changed = true;
          LogLazy([&] {
            return ".AddOHRData ORC-Channel " + IntToText(k) +
                   ", OHR-Factor=" + LongDoubleToFixed(factor, 6);
          });
        }
        if (channel.NomFreq != GetNomFreq(k)) {
          SetNomFreq(k, channel.NomFreq);
          FrequGltt[static_cast<size_t>(k - 1)] = 0;
          changed = true;
        }
      } else if (factor != 1.0L) {
        factor = 1.0L;
        FRawData.SetOHRFactor(k, 1.0L);
        changed = true;
        LogLazy([&] { return ".AddOHRData ORC-Channel " + IntToText(k) + ", OHR-Factor=1.0"; });
      }
    }
    EndUpdate();
  }
  if (changed) {
    Log(".AddOHRData changed -> reset");
    Reset();
  }
  return changed;
}

double TORC_DataManagement::GetNomFreq(int k) const {
  if (!ValidChannel(k)) return 0;
  TLock lock(FLockObj);
  return FNom_Frequ[static_cast<size_t>(k - 1)];
}

void TORC_DataManagement::SetNomFreq(int k, double Value) {
  if (!ValidChannel(k) || Value == 0) return;
  TLock lock(FLockObj);
  const size_t i = static_cast<size_t>(k - 1);
  if (Value != FNom_Frequ[i]) {
    if (FUpdateCounter == 0) {
      ResetAllan();
      FRawData.Reset();
    } else {
      FResetAllanNeeded = true;
      FResetRawDataNeeded = true;
    }
  }
  FNom_Frequ[i] = Value;
  FNom_FrequUser[i] = true;
  LogLazy([&] {
    return ".SetNom_Frequ[" + IntToText(k) + "]=" + FloatToText(Value) + ", UserInput=True";
  });
  FRawData.SetNomFreq(k, Value);
  CalculateTheoPhaseOffset(k);
}

double TORC_DataManagement::GetNomFreqUser(int k) const {
  if (!ValidChannel(k)) return 0;
  TLock lock(FLockObj);
  return FNom_FrequUser[static_cast<size_t>(k - 1)] ? FNom_Frequ[static_cast<size_t>(k - 1)] : 0;
}

double TORC_DataManagement::GetNomFrequCalculated(int k) const {
  if (!ValidChannel(k)) return 0;
  TLock lock(FLockObj);
  return FrequGltt[static_cast<size_t>(k - 1)];
}

int TORC_DataManagement::AllanDecay() const {
  TLock lock(FLockObj);
  return FAllanData[amFreq]->DecayConst();
}

void TORC_DataManagement::SetAllanDecay(int value) {
  TLock lock(FLockObj);
  for (auto& allan : FAllanData) allan->SetDecayConst(value);
}

bool TORC_DataManagement::PLLError() const {
  TLock lock(FLockObj);
  return FPLLError;
}

void TORC_DataManagement::SetPLLError(bool value) {
  TLock lock(FLockObj);
  FPLLError = value;
}

bool TORC_DataManagement::AddLogStrings() const {
  TLock lock(FLockObj);
  return FAddLogStrings;
}

void TORC_DataManagement::SetAddLogStrings(bool value) {
  TLock lock(FLockObj);
  FAddLogStrings = value;
}

bool TORC_DataManagement::LocalServerRunning() const {
  TLock lock(FLockObj);
  return FLocalServerRunning;
}

void TORC_DataManagement::SetLocalServerRunning(bool value) {
  TLock lock(FLockObj);
  FLocalServerRunning = value;
}

bool TORC_DataManagement::ScramblerTrim() const {
  TLock lock(FLockObj);
  return FScramblerTrim;
}

void TORC_DataManagement::SetScramblerTrim(bool value) {
  TLock lock(FLockObj);
  FScramblerTrim = value;
}

int TORC_DataManagement::MultiId() const {
  TLock lock(FLockObj);
  return FMultiId;
}

void TORC_DataManagement::SetMultiId(int value) {
  TLock lock(FLockObj);
  FMultiId = value;
}

int TORC_DataManagement::Lost() const {
  TLock lock(FLockObj);
  return FLost;
}

bool TORC_DataManagement::IsPhaseDiffResetted() const {
  TLock lock(FLockObj);
  return FPhaseDiffResetted;
}

void TORC_DataManagement::SetORCtimeString(const std::string& value) {
  TLock lock(FLockObj);
  FORCtimeString = value;
}

std::string TORC_DataManagement::ORCtimeString() const {
  TLock lock(FLockObj);
  return FORCtimeString;
}

Phase TORC_DataManagement::GetPhase(int k) const {
  if (!ValidChannel(k)) return {};
  TLock lock(FLockObj);
  return PPhase[static_cast<size_t>(k - 1)];
}

Phase TORC_DataManagement::GetPhaseRes(int k) const {
  if (!ValidChannel(k)) return {};
  TLock lock(FLockObj);
  return PPhaseRes[static_cast<size_t>(k - 1)];
}

Phase TORC_DataManagement::GetPhaseDiff(int k) const {
  if (!ValidChannel(k)) return {};
  TLock lock(FLockObj);
  return PPhaseDiff[static_cast<size_t>(k - 1)];
}

Phase TORC_DataManagement::GetPhasePreDiff(int k) const {
  if (!ValidChannel(k)) return {};
  TLock lock(FLockObj);
  return PPhasePreDiff[static_cast<size_t>(k - 1)];
}

double TORC_DataManagement::GetFrequency(int k) const {
  if (!ValidChannel(k)) return 0;
  TLock lock(FLockObj);
  return FFrequency[static_cast<size_t>(k - 1)];
}

double TORC_DataManagement::GetFrequencyRelative(int k) const {
  if (!ValidChannel(k)) return 0;
  TLock lock(FLockObj);
  return FFrequencyRelative[static_cast<size_t>(k - 1)];
}

double TORC_DataManagement::GetPhaseResNs(int k) const {
  if (!ValidChannel(k)) return 0;
  TLock lock(FLockObj);
  return FPhaseRes_ns[static_cast<size_t>(k - 1)];
}

int TORC_DataManagement::GetPhaseDecimals(int k) const {
  if (!ValidChannel(k)) return 11;
  TLock lock(FLockObj);
  return FPhaseDecimals[static_cast<size_t>(k - 1)];
}

Phase TORC_DataManagement::GetPhaseDLL(int k, int x) const {
  if (!ValidChannel(k)) return {};
  TLock lock(FLockObj);
  return PPhaseDLL[static_cast<size_t>(k - 1)][static_cast<size_t>(x & kRingMask)];
}

double TORC_DataManagement::GetFrequencyAt(int k, int x) const {
  if (!ValidChannel(k)) return 0;
  TLock lock(FLockObj);
  return FFrequencies[static_cast<size_t>(k - 1)][static_cast<size_t>(x & kRingMask)];
}

double TORC_DataManagement::GetPhaseResPsAt(int k, int x) const {
  if (!ValidChannel(k)) return 0;
  TLock lock(FLockObj);
  return FPhaseRes_ps[static_cast<size_t>(k - 1)][static_cast<size_t>(x & kRingMask)];
}

}  // namespace orb
