#include "session/ORB_Sync.h"

#include <array>
#include <set>
#include <tuple>

#include "platform/NumberFormat.h"
#include "session/ORB_DebugConf.h"

namespace orb {

namespace {

constexpr std::array<const char*, 21> kWhatNames = {"DataReset",
                                                    "DataResetLTV",
                                                    "ChannelCount",
                                                    "LTVChannels",
                                                    "ODICards",
                                                    "RateIndex",
                                                    "Mode",
                                                    "Scrambler",
                                                    "PhaseDiffReset",
                                                    "ReSync",
                                                    "ORC only",
                                                    "LTV only",
                                                    "LTV Calibration",
                                                    "Peer",
                                                    "OHR Data",
                                                    "Clock Precedence",
                                                    "PLL State",
                                                    "Operating Mode",
                                                    "LTV MasterClock",
                                                    "PPI",
                                                    "Devices"};

}  // namespace

std::string SyncWhatName(int What) {
  if (What < 1 || What > static_cast<int>(kWhatNames.size())) {
    return "Unknown what=" + IntToText(What);
  }
  return kWhatNames[static_cast<size_t>(What - 1)];
}

std::string TMainSyncData::ToString() const {
  std::string text = "TMainSyncData " + SyncWhatName(What) + " Code=" + IntToText(Code) +
                     ", aInt=" + IntToText(aInt) + ", " + Text + ", Sender=";
  if (Sender) {
    text += "Session " + IntToText(Sender->Index) + "/" + (Sender->IsCopy ? "True" : "False");
  } else {
    text += "nil";
  }
  return text;
}

TMainSyncQueue::TMainSyncQueue(const TDebugConf* Debug, size_t Capacity)
    : FDebug(Debug), FCapacity(Capacity < 4 ? 4 : Capacity) {}

void TMainSyncQueue::AddSync(TMainSyncData Data) {
  // Logged before the push so that this line precedes the main thread's line
  // for the same record.
  if (FDebug != nullptr && FDebug->Active(dcSync)) {
    FDebug->Info(dcSync, "ORB_Sync.AddSync " + Data.ToString());
  }
  TDropped dropped;
  {
    std::lock_guard lock(FLock);
    if (FItems.size() >= FCapacity) dropped = MakeRoomLocked();
    FItems.push_back(std::move(Data));
  }
  if (FDebug != nullptr && (dropped.Superseded > 0 || dropped.Oldest > 0)) {
    FDebug->Warning(dcAlways,
                    "ORB_Sync.AddSync queue full: dropped " +
                        IntToText(static_cast<int64_t>(dropped.Superseded)) + " superseded and " +
                        IntToText(static_cast<int64_t>(dropped.Oldest)) + " oldest records");
  }
}

std::optional<TMainSyncData> TMainSyncQueue::Pop() {
  std::lock_guard lock(FLock);
  if (FItems.empty()) return std::nullopt;
  TMainSyncData front = std::move(FItems.front());
  FItems.pop_front();
  return front;
}

size_t TMainSyncQueue::Size() const {
  std::lock_guard lock(FLock);
  return FItems.size();
}

TMainSyncQueue::TDropped TMainSyncQueue::MakeRoomLocked() {
  using TKey = std::tuple<int, bool, int, bool, uint64_t>;
  auto keyOf = [](const TMainSyncData& d) {
    return d.Sender ? TKey{d.What, true, d.Sender->Index, d.Sender->IsCopy, d.Sender->Generation}
                    : TKey{d.What, false, 0, false, 0};
  };
  // Walk from the newest record: the first of each key is the one to keep.
  std::set<TKey> seen;
  std::deque<TMainSyncData> kept;
  TDropped dropped;
  for (auto it = FItems.rbegin(); it != FItems.rend(); ++it) {
    if (seen.insert(keyOf(*it)).second) {
      kept.push_front(std::move(*it));
    } else {
      ++dropped.Superseded;
    }
  }
  const size_t target = FCapacity * 3 / 4;
  while (kept.size() > target) {
    kept.pop_front();
    ++dropped.Oldest;
  }
  FItems = std::move(kept);
  return dropped;
}

}  // namespace orb
