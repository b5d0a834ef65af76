// Archive files as the loader and the data server read them: records of
// two times, a length and bytes, one after another.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "logging/StoreDataLoader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  size_t offset = 0;
  orb::TStoreDataRecord record;
  std::string error;
  while (orb::ReadStoreDataRecord(bytes, offset, record, error)) {
    if (offset > size) __builtin_trap();
    orb::StoreDataRecordSpan(record);
  }
  return 0;
}
