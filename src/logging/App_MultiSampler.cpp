#include "logging/App_MultiSampler.h"

#include <algorithm>
#include <cmath>

namespace orb {
size_t TCircularStringBuffer::AddReport(const TReportStrings& strings) {
  std::lock_guard lock(FLockObj);
  size_t dropped = 0;
  while (FBuffer.size() + strings.size() > FSize && !FBuffer.empty()) {
    const size_t n = std::min(strings.size(), FBuffer.size());
    FBuffer.erase(FBuffer.begin(), FBuffer.begin() + static_cast<std::ptrdiff_t>(n));
    dropped += n;
  }
  FBuffer.insert(FBuffer.end(), strings.begin(), strings.end());
  return dropped;
}

std::string TCircularStringBuffer::GetValue(int64_t index) const {
  std::lock_guard lock(FLockObj);
  if (index < 0 || index >= static_cast<int64_t>(FBuffer.size())) return {};
  return FBuffer[static_cast<size_t>(index)];
}

const TReportStrings* TCircularStringBuffer::ReportAt(int64_t index, TReportStrings& out) const {
  std::lock_guard lock(FLockObj);
  if (index < 0 || index + kReportStringSlots > static_cast<int64_t>(FBuffer.size())) {
    return nullptr;
  }
  for (size_t i = 0; i < out.size(); ++i) out[i] = FBuffer[static_cast<size_t>(index) + i];
  return &out;
}

void TCircularStringBuffer::ClearOldest(int64_t n) {
  std::lock_guard lock(FLockObj);
  const size_t count = static_cast<size_t>(std::clamp<int64_t>(n, 0, FBuffer.size()));
  FBuffer.erase(FBuffer.begin(), FBuffer.begin() + static_cast<std::ptrdiff_t>(count));
}

void TCircularStringBuffer::Clear() {
  std::lock_guard lock(FLockObj);
  FBuffer.clear();
}

int64_t TCircularStringBuffer::Count() const {
  std::lock_guard lock(FLockObj);
  return static_cast<int64_t>(FBuffer.size());
}

int64_t TCircularStringBuffer::AvailableSpace() const {
  std::lock_guard lock(FLockObj);
  return static_cast<int64_t>(FSize - FBuffer.size());
}

int64_t TMultiProtocolItem::RoundedNextDataIndex() const {
  if (NextDataIndex < 0) return -1;
  const double reports = NextDataIndex / kReportStringSlots;
  const double whole = std::floor(reports);
  const double rounded = reports - whole > 0.9 ? std::round(reports) : whole;
  return static_cast<int64_t>(rounded) * kReportStringSlots;
}

}  // namespace orb
