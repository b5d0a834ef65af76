#include "logging/App_MultiSampler.h"

#include <algorithm>
#include <cmath>

namespace orb {
size_t TCircularStringBuffer::AddReport(const TReportStrings& strings) {
  std::lock_guard lock(FLockObj);
  size_t dropped = 0;
  for (const std::string& text : strings) {
    if (FCount == FSize) {
      FFirst = (FFirst + 1) % FSlots.size();
      --FCount;
      ++dropped;
    }
    if (FCount == FSlots.size()) {
      // Grow: the oldest string first again, then one new slot at the end.
      std::rotate(FSlots.begin(), FSlots.begin() + static_cast<std::ptrdiff_t>(FFirst),
                  FSlots.end());
      FFirst = 0;
      FSlots.emplace_back();
    }
    FSlots[(FFirst + FCount) % FSlots.size()].assign(text);
    ++FCount;
  }
  return dropped;
}

std::string TCircularStringBuffer::GetValue(int64_t index) const {
  std::lock_guard lock(FLockObj);
  if (index < 0 || index >= static_cast<int64_t>(FCount)) return {};
  return At(static_cast<size_t>(index));
}

bool TCircularStringBuffer::ReportAt(int64_t index, TReportViews& out) const {
  std::lock_guard lock(FLockObj);
  if (index < 0 || index + kReportStringSlots > static_cast<int64_t>(FCount)) return false;
  for (size_t i = 0; i < out.size(); ++i) out[i] = At(static_cast<size_t>(index) + i);
  return true;
}

void TCircularStringBuffer::ClearOldest(int64_t n) {
  std::lock_guard lock(FLockObj);
  const auto count = static_cast<size_t>(std::clamp<int64_t>(n, 0, static_cast<int64_t>(FCount)));
  if (count == 0) return;
  FFirst = (FFirst + count) % FSlots.size();
  FCount -= count;
}

void TCircularStringBuffer::Clear() {
  std::lock_guard lock(FLockObj);
  FFirst = 0;
  FCount = 0;
}

int64_t TCircularStringBuffer::Count() const {
  std::lock_guard lock(FLockObj);
  return static_cast<int64_t>(FCount);
}

int64_t TCircularStringBuffer::AvailableSpace() const {
  std::lock_guard lock(FLockObj);
  return static_cast<int64_t>(FSize - FCount);
}

int64_t TMultiProtocolItem::RoundedNextDataIndex() const {
  if (NextDataIndex < 0) return -1;
  const double reports = NextDataIndex / kReportStringSlots;
  const double whole = std::floor(reports);
  const double rounded = reports - whole > 0.9 ? std::round(reports) : whole;
  return static_cast<int64_t>(rounded) * kReportStringSlots;
}

}  // namespace orb
