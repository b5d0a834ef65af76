#include "app/AdevAnalysis.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "platform/NumberFormat.h"
#include "support/TempFolder.h"

namespace orb::cli {
namespace {

TEST(AdevAnalysis, SampleLineFields) {
  const struct {
    const char* line;
    int column;
    TSampleLineKind kind;
    double value;
  } cases[] = {
      {"1.5", 1, slValue, 1.5},
      {"  2,5\t", 1, slValue, 2.5},
      {"1 \t 2   3e-9\r", 3, slValue, 3e-9},
      {"a;b; -4,25 ;d", 3, slValue, -4.25},
      {"1;;3", 3, slValue, 3},
      {"", 1, slSkip, 0},
      {" \t", 1, slSkip, 0},
      {"# tau adev", 1, slSkip, 0},
      {"  #", 2, slSkip, 0},
      {"1 2", 3, slNoField, 0},
      {"1;2 ", 3, slNoField, 0},
      {"1;;3", 2, slNotANumber, 0},
      {"1;", 2, slNotANumber, 0},
      {"x 2", 1, slNotANumber, 0},
      {"1.000,5", 1, slNotANumber, 0},
      {"1,5.0", 1, slNotANumber, 0},
  };
  for (const auto& c : cases) {
    const TSampleLine result = ParseSampleLine(c.line, c.column);
    EXPECT_EQ(result.Kind, c.kind) << '"' << c.line << "\" column " << c.column;
    if (c.kind == slValue) {
      EXPECT_EQ(result.Value, c.value) << c.line;
    }
  }
  EXPECT_EQ(ParseSampleLine("1 abc 3", 2).Field, "abc");
}

// The NBS 9-point frequency set with comments, both separators and a
// second column.
constexpr const char* kNbsFrequencyFile =
    "# time;y\n"
    "1;892\n2; 809,0\n\n3;823\n4;798\n5;671\n6;644\n7;883\n8;903.0\n9;677\n";

TEST(AdevAnalysis, FrequencyTableOfAFile) {
  test::TTempFolder folder;
  test::WriteFile(folder / "freq.txt", kNbsFrequencyFile);
  std::ifstream input(folder / "freq.txt", std::ios::binary);
  std::ostringstream output, errors;
  TAdevOptions options;
  options.Column = 2;
  EXPECT_EQ(RunAdev(input, output, errors, options), 0) << errors.str();
  EXPECT_EQ(output.str(),
            "# tau_s factor estimates adev\n"
            "1 1 8 9.122945e+01\n"
            "2 2 3 1.158082e+02\n");
}

TEST(AdevAnalysis, PhaseTableUsesTheInterval) {
  // The same set integrated to phases in seconds at 0.5 s per sample.
  std::string text;
  double x = 1;
  text += "1\n";
  for (const double y : {892, 809, 823, 798, 671, 644, 883, 903, 677}) {
    x += y * 0.5;
    text += FloatToFixed(x, 1) + "\n";
  }
  std::istringstream input(text);
  std::ostringstream output, errors;
  TAdevOptions options;
  options.Mode = amPhaseRes;
  options.IntervalMs = 500;
  EXPECT_EQ(RunAdev(input, output, errors, options), 0) << errors.str();
  EXPECT_EQ(output.str(),
            "# tau_s factor estimates adev\n"
            "0.5 1 8 9.122945e+01\n"
            "1 2 3 3.693576e+01\n");
}

TEST(AdevAnalysis, BadLinesStopWithTheLineNumber) {
  const struct {
    const char* text;
    int column;
    const char* error;
  } cases[] = {
      {"1;2\n# c\n3;x4\n5;6\n", 2, "line 3: field 2 is not a number: \"x4\"\n"},
      {"1 2\n3\n", 2, "line 2: no field 2\n"},
  };
  for (const auto& c : cases) {
    std::istringstream input(c.text);
    std::ostringstream output, errors;
    TAdevOptions options;
    options.Column = c.column;
    EXPECT_EQ(RunAdev(input, output, errors, options), 2);
    EXPECT_EQ(errors.str(), c.error);
    EXPECT_EQ(output.str(), "");
  }
}

}  // namespace
}  // namespace orb::cli
