#include "platform/ConvertError.h"

namespace orb {

namespace {
std::string QuotedWithReason(std::string_view text, std::string_view reason) {
  std::string message = "'";
  message += text;
  message += "' is not a valid ";
  message += reason;
  return message;
}
}  // namespace

std::string NotAnIntegerMessage(std::string_view text) {
  return QuotedWithReason(text, "integer value");
}

std::string NotAFloatMessage(std::string_view text) {
  return QuotedWithReason(text, "floating point value");
}

}  // namespace orb
