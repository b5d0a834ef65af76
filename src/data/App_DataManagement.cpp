#include "data/App_DataManagement.h"

#include <algorithm>

#include "logging/LogUnit.h"
#include "platform/NumberFormat.h"

namespace orb {
namespace {

std::string_view BoolText(bool value) { return value ? "True" : "False"; }

bool ValidChannel(int k) { return k >= 1 && k <= kMaxDataChannels; }

}  // namespace

TDataManagement::TDataManagement(int aLogID, int aSessId, bool aSessIsCopy)
    : TDataManagement(aLogID, aSessId, aSessIsCopy, "TDataManagement") {}

TDataManagement::TDataManagement(int aLogID, int aSessId, bool aSessIsCopy,
                                 std::string_view className)
    : FLogId(aLogID), FSessId(aSessId), FSessIsCopy(aSessIsCopy) {
  FDbgTag.append(className).append("[");
  AppendIntText(FDbgTag, aSessId);
  FDbgTag.append("/").append(BoolText(aSessIsCopy)).append("]");
  Log(".BaseCreate");
  TDataManagement::Reset();
}

TDataManagement::~TDataManagement() { Log(".BaseDestroy"); }

void TDataManagement::Log(std::string_view text) const {
  if (!LogActive(FLogId)) return;
  std::string line = DbgTag();
  line.append(text);
  LogDebug(FLogId, line);
}

void TDataManagement::LogError(std::string_view text) const {
  if (!LogActive(FLogId)) return;
  std::string line = DbgTag();
  line.append(text);
  LogErrorText(FLogId, line);
}

bool TDataManagement::SetChannelCount(int n) {
  TOnInt handler;
  {
    TLock lock(FLockObj);
    if (n == FChannelCount) return false;
    FChannelCount = n;
    handler = FOnChannelCount;
  }
  LogDebugLazy(FLogId, [&] {
    std::string line = DbgTag() + ".BaseSetChannelCount ";
    AppendIntText(line, n);
    return line;
  });
  if (handler) Deliver([handler, n] { handler(2, n); });
  return true;
}

void TDataManagement::SetSessIsCopy(bool Value) {
  {
    TLock lock(FLockObj);
    FSessIsCopy = Value;
    const size_t slash = FDbgTag.find('/');
    if (slash != std::string::npos) {
      FDbgTag.resize(slash + 1);
      FDbgTag.append(BoolText(Value)).append("]");
    }
  }
  Log(std::string(".SetSessIsCopy ").append(BoolText(Value)));
}

void TDataManagement::SetVirtualFactors(int k, const TChannelFactors& factors) {
  if (k < 1 || k > kMaxVirtualChannels) return;
  TLock lock(FLockObj);
  FVirtualFactors[k - 1] = factors;
  FVirtualChannelCount = -1;
}

TChannelFactors TDataManagement::VirtualFactors(int k) const {
  if (k < 1 || k > kMaxVirtualChannels) return {};
  TLock lock(FLockObj);
  return FVirtualFactors[k - 1];
}

int TDataManagement::VirtualChannelCount() const {
  TLock lock(FLockObj);
  if (FVirtualChannelCount < 0) {
    FVirtualChannelCount = static_cast<int>(
        std::count_if(FVirtualFactors.begin(), FVirtualFactors.end(), [](const auto& factors) {
          return std::any_of(factors.begin(), factors.end(), [](double f) { return f != 0; });
        }));
    LogDebugLazy(FLogId, [&] {
      std::string line = FDbgTag + ".Base GetVirtualChannelCount=";
      AppendIntText(line, FVirtualChannelCount);
      return line;
    });
  }
  return FVirtualChannelCount;
}

void TDataManagement::AdvanceX(THorizontalScale scale) {
  TLock lock(FLockObj);
  TRing& ring = FRings[scale];
  if (ring.Count == kRingSize) {
    ring.FirstX = (ring.FirstX + 1) & kRingMask;
  } else {
    ++ring.Count;
  }
  ring.LaufX = (ring.LaufX + 1) & kRingMask;
  if (scale == hsNone) FSync = FSyncReset;
}

void TDataManagement::Reset() {
  Log(".BaseReset");
  bool held = false;
  TOnSender handler;
  {
    TLock lock(FLockObj);
    for (TRing& ring : FRings) {
      held = held || ring.Count > 0;
      ring = TRing{};
    }
    FSync = FSyncReset;
    handler = FOnReset;
  }
  SetChannelCount(0);
  if (held && handler) Deliver([handler, this] { handler(3, this); });
}

int TDataManagement::ChannelCount() const {
  TLock lock(FLockObj);
  return FChannelCount;
}

std::string TDataManagement::ChannelName(int kanal) const {
  if (!ValidChannel(kanal)) return {};
  TLock lock(FLockObj);
  return FChannelNames[kanal - 1];
}

void TDataManagement::SetChannelName(int kanal, const std::string& name) {
  if (!ValidChannel(kanal)) return;
  TLock lock(FLockObj);
  FChannelNames[kanal - 1] = name;
}

std::string TDataManagement::OutputPath() const {
  TLock lock(FLockObj);
  return FOutputPath;
}

void TDataManagement::SetOutputPath(const std::string& path) {
  TLock lock(FLockObj);
  FOutputPath = path;
}

bool TDataManagement::SessIsCopy() const {
  TLock lock(FLockObj);
  return FSessIsCopy;
}

std::string TDataManagement::DbgTag() const {
  TLock lock(FLockObj);
  return FDbgTag;
}

bool TDataManagement::IsLogTypeNeeded(int bit) const {
  const uint32_t types = SamplerLogTypes();
  return types != 0 && bit >= 0 && bit < 32 && (types & (uint32_t{1} << bit)) != 0;
}

int TDataManagement::ScaleFactor(THorizontalScale scale) const {
  TLock lock(FLockObj);
  return FScaleFactor[scale];
}

void TDataManagement::SetScaleFactor(THorizontalScale scale, int value) {
  TOnInt handler;
  {
    TLock lock(FLockObj);
    if (FScaleFactor[scale] == value) return;
    FScaleFactor[scale] = value;
    handler = FOnScaleFactor;
  }
  LogDebugLazy(FLogId, [&] {
    std::string line = DbgTag() + ".BaseSetScaleFactor[";
    line.append(HorizontalScaleName(scale)).append("]=");
    AppendIntText(line, value);
    return line;
  });
  if (handler) Deliver([handler, scale, value] { handler(scale, value); });
}

std::string TDataManagement::Sync() const {
  TLock lock(FLockObj);
  return FSync;
}

void TDataManagement::SetSync(const std::string& value) {
  TLock lock(FLockObj);
  FSync = value;
}

std::string TDataManagement::SyncReset() const {
  TLock lock(FLockObj);
  return FSyncReset;
}

void TDataManagement::SetSyncReset(const std::string& value) {
  TLock lock(FLockObj);
  if (value == FSyncReset) return;
  if (FSync == FSyncReset) FSync = value;
  FSyncReset = value;
}

TQMHeader TDataManagement::ValueHeader() const {
  TLock lock(FLockObj);
  return FValueHeader;
}

bool TDataManagement::SetHeader(uint16_t value) {
  uint16_t old;
  {
    TLock lock(FLockObj);
    old = FValueHeader.FHeader;
    FValueHeader.SetHeader(value);
    if (old == 0x7FFF || old == FValueHeader.FHeader) return false;
  }
  LogDebugLazy(FLogId, [&] {
    return DbgTag() + ".Base Header changed: old=" + IntToHex(old, 4) +
           ", new=" + IntToHex(value & ~kLostDataBit, 4);
  });
  Reset();
  return true;
}

void TDataManagement::AddError(int code, const std::string& text) {
  LogError(".BaseAddError: " + text);
  TOnText handler;
  {
    TLock lock(FLockObj);
    handler = FOnError;
  }
  if (handler) Deliver([handler, code, text] { handler(code, 0, text); });
}

void TDataManagement::AddWarning(int code, const std::string& text) {
  Log(".BaseAddWarning: " + text);
  TOnText handler;
  {
    TLock lock(FLockObj);
    handler = FOnWarning;
  }
  if (handler) Deliver([handler, code, text] { handler(code, 0, text); });
}

void TDataManagement::SetOnChannelCount(TOnInt handler) {
  TLock lock(FLockObj);
  FOnChannelCount = std::move(handler);
}

void TDataManagement::SetOnError(TOnText handler) {
  TLock lock(FLockObj);
  FOnError = std::move(handler);
}

void TDataManagement::SetOnWarning(TOnText handler) {
  TLock lock(FLockObj);
  FOnWarning = std::move(handler);
}

void TDataManagement::SetOnReset(TOnSender handler) {
  TLock lock(FLockObj);
  FOnReset = std::move(handler);
}

void TDataManagement::SetOnScaleFactor(TOnInt handler) {
  TLock lock(FLockObj);
  FOnScaleFactor = std::move(handler);
}

void TDataManagement::SetMainThreadPoster(IMainThreadPoster* poster) {
  TLock lock(FLockObj);
  FPoster = poster;
}

int TDataManagement::GetNewCount(int startX, THorizontalScale scale) const {
  TLock lock(FLockObj);
  const TRing& ring = FRings[scale];
  if (startX == -1) return ring.Count;
  int n;
  if (ring.Count < kRingSize) {
    n = ring.Count - startX;
  } else {
    n = ring.FirstX - startX;
    if (n < 0) n += kRingSize;
  }
  return std::clamp(n, 0, ring.Count);
}

int TDataManagement::GetNewX(int anz, THorizontalScale scale) const {
  TLock lock(FLockObj);
  const TRing& ring = FRings[scale];
  const int back = std::clamp(anz, 0, ring.Count);
  int x = ring.LaufX - back;
  if (x < 0) x += ring.Count;
  return x;
}

int TDataManagement::GetNewX(int& anz, int startX, THorizontalScale scale) const {
  TLock lock(FLockObj);
  const TRing& ring = FRings[scale];
  const bool full = ring.Count == kRingSize;
  // Before the ring is full the values lie at 0 .. Count - 1, so a start
  // beyond them is from before a reset, and no more than startX values lie
  // before it.
  if (startX < 0 || startX >= kRingSize || (!full && startX > ring.Count)) {
    anz = 0;
    return 0;
  }
  if (anz < 0) anz = 0;
  if (ring.Count < anz) {
    anz = ring.Count;
    return 0;
  }
  if (!full && startX < anz) {
    anz = startX;
    return 0;
  }
  int x = startX - anz;
  if (x < 0) x += kRingSize;
  return x;
}

int TDataManagement::GetWriteX(THorizontalScale scale) const {
  TLock lock(FLockObj);
  return FRings[scale].LaufX;
}

}  // namespace orb
