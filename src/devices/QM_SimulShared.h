#pragma once
// What all simulators of the program share: the simulated counter storage
// (calibration block and high-resolution settings blocks), which outlives
// each simulator so that settings written survive closing and reopening; the
// options the sessions set (digital inputs, LTV data); and the counter that
// numbers the simulators.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string_view>

namespace orb {

class TQM_SimulShared {
 public:
  static constexpr size_t kBlockSize = 128;
  static constexpr int kBlockCount = 5;  // block 0: calibration, 1..4: settings
  static constexpr size_t kStorageSize = kBlockSize * kBlockCount;
  using TBlock = std::array<uint8_t, kBlockSize>;

  // Copies `bytes` to `offset`; false (nothing written) when they would end
  // behind the storage.
  bool WriteStorage(size_t offset, std::string_view bytes);
  // Block 0..4; an index outside gives zeros.
  TBlock Block(int index) const;

  bool DigitalInputs() const { return FDigitalInputs.load(); }
  bool LTVData() const { return FLTVData.load(); }
  void SetOptions(bool digitalInputs, bool ltvData);

  // 1 for the first simulator, then 2, 3, ...
  uint32_t NextSerialNumber() { return ++FSerialCounter; }

 private:
  mutable std::mutex FLock;
  std::array<uint8_t, kStorageSize> FStorage{};
  std::atomic<bool> FDigitalInputs{false};
  std::atomic<bool> FLTVData{false};
  std::atomic<uint32_t> FSerialCounter{0};
};

// The program-wide instance.
TQM_SimulShared& SimulShared();

}  // namespace orb
