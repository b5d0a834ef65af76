#include "platform/Event.h"

#include <map>
#include <string>

namespace orb {

TEvent::TEvent(IClock& clock) : FClock(clock) {}

void TEvent::SetEvent() {
  bool wake = false;
  {
    std::lock_guard lock(FLock);
    FSet = true;
    ++FGeneration;
    wake = FWaiters > 0;
  }
  // Skipping the notify when nobody waits saves a futex call per write.
  if (wake) FChanged.notify_all();
}

void TEvent::ResetEvent() {
  std::lock_guard lock(FLock);
  FSet = false;
}

bool TEvent::IsSet() const {
  std::lock_guard lock(FLock);
  return FSet;
}

uint64_t TEvent::Generation() const {
  std::lock_guard lock(FLock);
  return FGeneration;
}

bool TEvent::WaitFor(int64_t timeoutMs) {
  std::unique_lock lock(FLock);
  if (FSet) return true;
  ++FWaiters;
  const bool set =
      FClock.WaitUntil(FChanged, lock, FClock.MonotonicMs() + timeoutMs, [this] { return FSet; });
  --FWaiters;
  return set;
}

bool TEvent::WaitForChange(uint64_t seenGeneration, int64_t timeoutMs) {
  return WaitForChangeUntil(seenGeneration, FClock.MonotonicMs() + timeoutMs);
}

bool TEvent::WaitForChangeUntil(uint64_t seenGeneration, int64_t deadlineMs) {
  std::unique_lock lock(FLock);
  if (FGeneration != seenGeneration) return true;
  ++FWaiters;
  const bool changed = FClock.WaitUntil(FChanged, lock, deadlineMs,
                                        [&] { return FGeneration != seenGeneration; });
  --FWaiters;
  return changed;
}

std::shared_ptr<TEvent> NamedEvent(std::string_view name) {
  static std::mutex registryLock;
  static auto* registry = new std::map<std::string, std::shared_ptr<TEvent>, std::less<>>();
  std::lock_guard lock(registryLock);
  auto found = registry->find(name);
  if (found == registry->end()) {
    found = registry->emplace(std::string(name), std::make_shared<TEvent>()).first;
  }
  return found->second;
}

}  // namespace orb
