#pragma once
// The message list of the run, oldest first. Sessions add to it from the
// report thread, the main thread adds its own messages and reads the list to
// show it. Repeated errors are merged into one item with a count.

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "session/ORB_MessageItem.h"

namespace orb {

class IClock;

// The notification list: sees every new item before it is appended and may
// link a notification to it. Called under the message list's lock.
class IMessageNotifier {
 public:
  virtual ~IMessageNotifier() = default;
  virtual void NotifyMessage(TMessageItem& Item) = 0;
};

class TMessageList {
 public:
  explicit TMessageList(const IClock& Clock, IMessageNotifier* Notifier = nullptr);

  TMessageList(const TMessageList&) = delete;
  TMessageList& operator=(const TMessageList&) = delete;

  // Stamps the item with the current time and a count of 1 and appends it.
  // Fill sIndex, sColor, Text, MsgType, Code, SubCode and ViaThread (set
  // when a worker thread adds). Any thread.
  //
  // A reference-clock-invalid error first deletes the same session's
  // PLL-unlocked and "Data transfer interrupted" items of the last 5 s.
  // An error, or an info 23 or 32760, replaces the newest same item of the
  // last 60 s and counts it.
  void Add(TMessageItem Item);

  // The items as they are now, oldest first.
  std::vector<std::shared_ptr<const TMessageItem>> Items() const;
  size_t Count() const;

  // Read-and-clear: errors or warnings (UpdateNeeded), infos
  // (UpdateInfoNeeded) were added from a worker thread since the last call.
  bool TakeUpdateNeeded() { return FMsgListUpdateNeeded.exchange(false); }
  bool TakeUpdateInfoNeeded() { return FMsgListUpdateInfoNeeded.exchange(false); }

 private:
  void DeletePLLUnlockedLocked(const TMessageItem& Item);
  void MergeLocked(TMessageItem& Item);

  const IClock& FClock;
  IMessageNotifier* FNotifier;
  mutable std::mutex FLock;
  std::vector<std::shared_ptr<const TMessageItem>> FMsgList;
  std::atomic<bool> FMsgListUpdateNeeded{false};
  std::atomic<bool> FMsgListUpdateInfoNeeded{false};
};

}  // namespace orb
