#include "devices/QM_SimulShared.h"

#include <algorithm>

namespace orb {

bool TQM_SimulShared::WriteStorage(size_t offset, std::string_view bytes) {
  if (offset > kStorageSize || bytes.size() > kStorageSize - offset) return false;
  std::lock_guard lock(FLock);
  std::copy(bytes.begin(), bytes.end(), FStorage.begin() + static_cast<ptrdiff_t>(offset));
  return true;
}

TQM_SimulShared::TBlock TQM_SimulShared::Block(int index) const {
  TBlock block{};
  if (index < 0 || index >= kBlockCount) return block;
  std::lock_guard lock(FLock);
  const auto begin = FStorage.begin() + static_cast<ptrdiff_t>(index) * kBlockSize;
  std::copy(begin, begin + kBlockSize, block.begin());
  return block;
}

void TQM_SimulShared::SetOptions(bool digitalInputs, bool ltvData) {
  FDigitalInputs = digitalInputs;
  FLTVData = ltvData;
}

TQM_SimulShared& SimulShared() {
  static TQM_SimulShared shared;
  return shared;
}

}  // namespace orb
