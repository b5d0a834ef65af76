#pragma once
// orb-cli decode: a recording opened as a source exactly as the program
// opens it, every report pulled without pacing and printed as its line.

#include <iosfwd>
#include <string>

namespace orb {

struct TDecodeOptions {
  bool Text = false;  // the text pump's lines instead of records
  // Calls in a row that deliver nothing and consume no byte before the
  // replay counts as stuck (a decoder that can make no progress).
  int StallCalls = 100'000;
};

// Exit code: 0 at the end of the file, 2 when it cannot be opened.
int RunDecode(const std::string& path, const TDecodeOptions& options, std::ostream& out,
              std::ostream& err);

}  // namespace orb
