#pragma once
// The link between one session (a counter session or its LTV copy) and the
// multi-sampler. The session and its store talk to the sampler through it,
// and the sampler asks it about the session.
//
// The sampler asks under its own lock, also on the report thread while that
// holds a store lock, so the link never reads the session there: it answers
// from a copy. The copy is renewed by the thread that owns the session at
// that moment (the report thread inside the session, the main thread while
// the report thread keeps away): before every change the session reports to
// the sampler, and before the next report once something marked it stale.

#include <atomic>
#include <cstdint>
#include <limits>
#include <mutex>
#include <string_view>

#include "data/DataSinks.h"
#include "logging/App_MultiSampler.h"

namespace orb {

class TQMSessionItem;

class TSamplerLink final : public IDataSampler, public ISamplerSession {
 public:
  // `sampler` is the multi-sampler (or any sampler in tests).
  TSamplerLink(IDataSampler& sampler, const TQMSessionItem& session);

  // Something the copy holds changed; any thread.
  void MarkStale() { FStale.store(true, std::memory_order_release); }
  // Renews the copy; only the thread that owns the session.
  void Refresh();
  // The device's date-time of the report the session takes now (NaN:
  // unknown); the session's thread.
  void SetDeviceDateTime(TDateTime value) { FDeviceDateTime.store(value.Days); }

  // ---- The session and its stores to the sampler ----
  void AddStrings(int SessId, bool SessIsCopy, const TReportStrings& Strings) override;
  void AddStringsVirtual(int SessId, bool SessIsCopy, const TReportStrings& Strings) override;
  void AddStringsSpecial(int SessId, bool SessIsCopy, const TReportStrings& Strings) override;
  void SetSessionSyncTime(int SessId, bool SessIsCopy, std::string_view SyncTime) override;
  void AddTimeStamp(int SessId, bool SessIsCopy, int64_t TimeStamp100ms) override;
  void AddWarning(int SessId, bool SessIsCopy, std::string_view Text) override;
  void UpdateSession(int SessId, bool SessIsCopy, int Code, std::string_view Text) override;

  // ---- The sampler's questions ----
  int Index() const override;
  bool IsCopy() const override;
  bool IsSensor() const override { return false; }
  int IntervalMs() const override;
  int64_t SerialNumber() const override;
  TDateTime DeviceDateTime() const override { return {FDeviceDateTime.load()}; }
  TLogSourceInfo LogSourceInfo() const override;
  void SetSamplerLogTypes(uint32_t types) override;

 private:
  void RefreshIfStale() {
    if (FStale.load(std::memory_order_acquire)) Refresh();
  }

  IDataSampler& FSampler;
  const TQMSessionItem& FSession;
  std::atomic<bool> FStale{true};
  std::atomic<double> FDeviceDateTime{std::numeric_limits<double>::quiet_NaN()};
  mutable std::mutex FLockObj;  // leaf: the copy below
  TLogSourceInfo FInfo;
  int64_t FSerialNumber = -1;
};

}  // namespace orb
