#pragma once
// The error raised where a text must be a number (or a date) and is not.

#include <stdexcept>
#include <string>
#include <string_view>

namespace orb {

class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// "'<text>' is not a valid integer value" / "... floating point value"
std::string NotAnIntegerMessage(std::string_view text);
std::string NotAFloatMessage(std::string_view text);

}  // namespace orb
