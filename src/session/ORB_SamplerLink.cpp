#include "session/ORB_SamplerLink.h"

#include "session/ORB_Sessions.h"

namespace orb {
namespace {

void CopyNames(const TQM_ChannelData& data, std::array<std::string, kLogEnabledColumns>& names) {
  for (int k = 1; k <= kLogEnabledColumns; ++k) {
    names[static_cast<size_t>(k - 1)] = data.ChannelName(k);
  }
}

}  // namespace

TLogSourceInfo TQMSessionItem::LogSourceInfo() const {
  TLogSourceInfo info;
  info.Letter = Letter();
  info.FriendlyName = FFriendlyName;
  info.ConnectionString = FOpenString;
  info.IsLTV = FIsCopy || FLTVonly;
  const TQMSessionItem& counter = FIsCopy && FLinkedSession != nullptr ? *FLinkedSession : *this;
  if (counter.FDataHeader) {
    info.ModeText =
        counter.FRawAvg ? "Raw Data Avg." : std::string(counter.FDataHeader->GetModeText());
    info.IntervalText = counter.FDataHeader->GetIntervalText();
    info.ScramblerText = counter.FDataHeader->GetScramblerText();
  }
  info.ChannelCount = FORC_DM->ChannelCount();
  info.VirtualChannelCount = FORC_DM->VirtualChannelCount();
  info.ODICount = FORC_DM->ODICount();
  info.LTVChannelCount = FLTV_DM->ChannelCount();
  info.LTVVirtualChannelCount = FLTV_DM->VirtualChannelCount();
  // The names are the parent's: a copy shows the same channels.
  CopyNames(counter.FChannelData, info.ChannelNames);
  CopyNames(counter.FvirtualChannelData, info.VirtualNames);
  CopyNames(counter.FLTVChannelData, info.LTVNames);
  CopyNames(counter.FVirtualLTVChannelData, info.LTVVirtualNames);
  const TCalibrationData calibration = FLTV_DM->GetCalibrationValues();
  for (size_t k = 0; k < info.LTVCalibration.size() && k < calibration.size(); ++k) {
    info.LTVCalibration[k] = calibration[k];
  }
  return info;
}

TSamplerLink::TSamplerLink(IDataSampler& sampler, const TQMSessionItem& session)
    : FSampler(sampler), FSession(session) {}

void TSamplerLink::Refresh() {
  FStale.store(false, std::memory_order_release);
  TLogSourceInfo info = FSession.LogSourceInfo();
  const uint32_t serial = FSession.SerialNumber();
  std::lock_guard lock(FLockObj);
  FInfo = std::move(info);
  FSerialNumber = serial == 0xFFFFFFFF ? -1 : static_cast<int64_t>(serial);
}

void TSamplerLink::AddStrings(int SessId, bool SessIsCopy, const TReportStrings& Strings) {
  RefreshIfStale();
  FSampler.AddStrings(SessId, SessIsCopy, Strings);
}

void TSamplerLink::AddStringsVirtual(int SessId, bool SessIsCopy, const TReportStrings& Strings) {
  RefreshIfStale();
  FSampler.AddStringsVirtual(SessId, SessIsCopy, Strings);
}

void TSamplerLink::AddStringsSpecial(int SessId, bool SessIsCopy, const TReportStrings& Strings) {
  RefreshIfStale();
  FSampler.AddStringsSpecial(SessId, SessIsCopy, Strings);
}

void TSamplerLink::SetSessionSyncTime(int SessId, bool SessIsCopy, std::string_view SyncTime) {
  FSampler.SetSessionSyncTime(SessId, SessIsCopy, SyncTime);
}

void TSamplerLink::AddTimeStamp(int SessId, bool SessIsCopy, int64_t TimeStamp100ms) {
  RefreshIfStale();
  FSampler.AddTimeStamp(SessId, SessIsCopy, TimeStamp100ms);
}

void TSamplerLink::AddWarning(int SessId, bool SessIsCopy, std::string_view Text) {
  RefreshIfStale();
  FSampler.AddWarning(SessId, SessIsCopy, Text);
}

void TSamplerLink::UpdateSession(int SessId, bool SessIsCopy, int Code, std::string_view Text) {
  // The sampler restarts files on these codes: their headers show the change.
  Refresh();
  FSampler.UpdateSession(SessId, SessIsCopy, Code, Text);
}

int TSamplerLink::Index() const { return FSession.Index(); }

bool TSamplerLink::IsCopy() const { return FSession.IsCopy(); }

int TSamplerLink::IntervalMs() const { return FSession.IntervalMs(); }

int64_t TSamplerLink::SerialNumber() const {
  std::lock_guard lock(FLockObj);
  return FSerialNumber;
}

TLogSourceInfo TSamplerLink::LogSourceInfo() const {
  std::lock_guard lock(FLockObj);
  return FInfo;
}

void TSamplerLink::SetSamplerLogTypes(uint32_t types) {
  FSession.DataManagement()->SetSamplerLogTypes(types);
}

}  // namespace orb
