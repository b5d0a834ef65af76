#include "session/ORB_MessageList.h"

#include "platform/Clock.h"
#include "session/ORB_MessageCatalogue.h"

namespace orb {

namespace {

constexpr int64_t kPLLWindowMs = 5'000;
constexpr int64_t kMergeWindowMs = 60'000;

bool IsMerged(const TMessageItem& item) {
  return item.MsgType == mtError ||
         (item.MsgType == mtInfo &&
          (item.Code == kMsgConnectionRunningAgain || item.Code == kMsgRefClockOk));
}

}  // namespace

TMessageList::TMessageList(const IClock& Clock, IMessageNotifier* Notifier)
    : FClock(Clock), FNotifier(Notifier) {}

void TMessageList::Add(TMessageItem Item) {
  const bool viaThread = Item.ViaThread;
  const bool info = Item.MsgType == mtInfo;
  {
    std::lock_guard lock(FLock);
    // The time is read under the lock so that the list stays in time order,
    // which lets the walks below stop at the first item that is too old.
    Item.Time = FClock.NowLocal();
    Item.MonotonicMs = FClock.MonotonicMs();
    Item.Count = 1;
    if (Item.MsgType == mtError && Item.Code == kMsgRefClockInvalid) DeletePLLUnlockedLocked(Item);
    if (IsMerged(Item)) MergeLocked(Item);
    if (FNotifier != nullptr) FNotifier->NotifyMessage(Item);
    FMsgList.push_back(std::make_shared<const TMessageItem>(std::move(Item)));
  }
  // The main thread redraws at once; a worker leaves it to the display tick.
  if (viaThread) (info ? FMsgListUpdateInfoNeeded : FMsgListUpdateNeeded).store(true);
}

void TMessageList::DeletePLLUnlockedLocked(const TMessageItem& Item) {
  for (size_t i = FMsgList.size(); i-- > 0;) {
    const TMessageItem& old = *FMsgList[i];
    if (Item.MonotonicMs - old.MonotonicMs >= kPLLWindowMs) break;
    if (old.sIndex == Item.sIndex &&
        (old.Code == kMsgPLLUnlocked ||
         old.Text.find("Data transfer interrupted") != std::string::npos)) {
      FMsgList.erase(FMsgList.begin() + static_cast<std::ptrdiff_t>(i));
    }
  }
}

void TMessageList::MergeLocked(TMessageItem& Item) {
  for (size_t i = FMsgList.size(); i-- > 0;) {
    const TMessageItem& old = *FMsgList[i];
    if (Item.MonotonicMs - old.MonotonicMs >= kMergeWindowMs) return;
    if (old.IsSame(Item)) {
      Item.Count = old.Count + 1;
      FMsgList.erase(FMsgList.begin() + static_cast<std::ptrdiff_t>(i));
      return;
    }
  }
}

std::vector<std::shared_ptr<const TMessageItem>> TMessageList::Items() const {
  std::lock_guard lock(FLock);
  return FMsgList;
}

size_t TMessageList::Count() const {
  std::lock_guard lock(FLock);
  return FMsgList.size();
}

}  // namespace orb
