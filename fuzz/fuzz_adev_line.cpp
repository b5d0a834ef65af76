// Sample lines for "orb-cli adev": the first byte picks the column, the rest
// is the line. The same bytes then run through the whole analysis as a file.

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string_view>

#include "app/AdevAnalysis.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  using namespace orb::cli;
  const int column = data[0] % 8;  // 0 is out of range on purpose
  const std::string_view line(reinterpret_cast<const char*>(data + 1), size - 1);
  const TSampleLine sample = ParseSampleLine(line, column);
  if (sample.Kind == slNotANumber && !sample.Field.empty() &&
      (sample.Field.data() < line.data() ||
       sample.Field.data() + sample.Field.size() > line.data() + line.size())) {
    __builtin_trap();  // the bad field must lie inside the line
  }

  TAdevOptions options;
  options.Mode = data[0] & 0x80 ? orb::amPhaseRes : orb::amFreq;
  options.Column = column == 0 ? 1 : column;
  options.Decay = data[0] & 0x40 ? 3 : 0;
  std::istringstream input{std::string(line)};
  std::ostringstream output, errors;
  RunAdev(input, output, errors, options);
  return 0;
}
