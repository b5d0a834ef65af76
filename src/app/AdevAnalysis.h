#pragma once
// The core of "orb-cli adev": one logged column read line by line into the
// Allan store that the live views use, and the resulting table.

#include <iosfwd>
#include <string_view>

#include "data/App_CommonTypes.h"

namespace orb::cli {

struct TAdevOptions {
  TAllanMode Mode = amFreq;  // amFreq: relative frequencies; else phases in s
  int IntervalMs = 1000;     // time between two samples
  int Decay = 0;
  int Column = 1;  // field number from 1
};

enum TSampleLineKind { slSkip, slValue, slNoField, slNotANumber };

struct TSampleLine {
  TSampleLineKind Kind = slSkip;
  double Value = 0;
  std::string_view Field;  // the field that is not a number
};

// Field `column` (from 1) of a line whose fields are separated by runs of
// blanks or tabs, or by one ";" with optional blanks around it (";;" leaves
// an empty field). "." or "," is the decimal separator. Empty lines and lines
// starting with "#" are skipped.
TSampleLine ParseSampleLine(std::string_view line, int column);

// Feeds every sample line of `input` to a store and writes the table to
// `output`: a "#" line naming the columns, then per tau with an estimate the
// tau in s, the averaging factor, the number of estimates and the ADEV.
// Returns 0, or 2 after writing "line N: ..." to `errors` (nothing goes to
// `output` then).
int RunAdev(std::istream& input, std::ostream& output, std::ostream& errors,
            const TAdevOptions& options);

}  // namespace orb::cli
