#include "app/AdevAnalysis.h"

#include <istream>
#include <ostream>
#include <string>

#include "data/App_VirtAllanData.h"
#include "platform/NumberFormat.h"

namespace orb::cli {

namespace {

// The counter store's tau grid: 1 .. 2000000 samples.
constexpr int kTauMax = 19;
// Enough of a bad field to recognise it in the message.
constexpr size_t kShownFieldLength = 40;

TSampleLine LineOf(TSampleLineKind kind) {
  TSampleLine result;
  result.Kind = kind;
  return result;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

TSampleLine ParseField(std::string_view field) {
  const NumberFormat format =
      NumberFormat::WithDecimalSeparator(field.find(',') != std::string_view::npos ? ',' : '.');
  TSampleLine result = LineOf(slValue);
  if (!TryTextToFloat(field, result.Value, format)) {
    result.Kind = slNotANumber;
    result.Field = field;
  }
  return result;
}

std::string Table(const TVirtAllanData& store) {
  std::string table = "# tau_s factor estimates adev\n";
  const TInt64Array counts = store.GetADEVCounts();
  for (size_t j = 0; j < counts.size(); ++j) {
    if (counts[j] == 0) continue;
    const int64_t factor = store.Taus()[j];
    const double tauSeconds = static_cast<double>(factor) * store.IntervalMs() / 1000.0;
    table += FloatToText(tauSeconds) + " " + std::to_string(factor) + " " +
             std::to_string(counts[j]) + " " +
             FloatToScientific(store.GetAdev(0, static_cast<int>(j)), 6) + "\n";
  }
  return table;
}

}  // namespace

TSampleLine ParseSampleLine(std::string_view line, int column) {
  size_t pos = 0;
  while (pos < line.size() && IsBlank(line[pos])) ++pos;
  if (pos == line.size() || line[pos] == '#') return LineOf(slSkip);
  if (column < 1) return LineOf(slNoField);
  for (int field = 1;; ++field) {
    const size_t start = pos;
    while (pos < line.size() && !IsBlank(line[pos]) && line[pos] != ';') ++pos;
    if (field == column) return ParseField(line.substr(start, pos - start));
    while (pos < line.size() && IsBlank(line[pos])) ++pos;
    if (pos == line.size()) return LineOf(slNoField);
    if (line[pos] == ';') {
      ++pos;
      while (pos < line.size() && IsBlank(line[pos])) ++pos;
    }
  }
}

int RunAdev(std::istream& input, std::ostream& output, std::ostream& errors,
            const TAdevOptions& options) {
  TVirtAllanData store(-1, kTauMax, options.Mode);
  store.SetIntervalMs(options.IntervalMs);
  store.SetDecayConst(options.Decay);
  store.SetVirtualFactors(1);
  // Phases come in seconds; the phase store takes picoseconds.
  const double scale = options.Mode == amFreq ? 1.0 : 1e12;

  std::string line;
  int64_t lineNumber = 0;
  while (std::getline(input, line)) {
    ++lineNumber;
    const TSampleLine sample = ParseSampleLine(line, options.Column);
    if (sample.Kind == slSkip) continue;
    if (sample.Kind == slValue) {
      const double value = sample.Value * scale;
      store.AddData(std::span(&value, 1));
      continue;
    }
    std::string message = "line " + std::to_string(lineNumber) + ": ";
    if (sample.Kind == slNoField) {
      message += "no field " + std::to_string(options.Column);
    } else {
      message += "field " + std::to_string(options.Column) + " is not a number: \"" +
                 std::string(sample.Field.substr(0, kShownFieldLength)) + "\"";
    }
    errors << message << "\n";
    return 2;
  }
  if (input.bad()) {
    errors << "line " << std::to_string(lineNumber + 1) << ": read error\n";
    return 2;
  }
  output << Table(store);
  return 0;
}

}  // namespace orb::cli
