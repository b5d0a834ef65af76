#pragma once
// The version texts a counter sends about itself, taken apart: the ColdFire
// form (also the text line "7001VERSION..."), the ESP form, and the user id
// and serial number inside a version text. Pure functions on untrusted text.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orb {

// model ": " digits flags " CF " date " / " FPGA " / " serial " / " IP ...
struct TColdfireVersion {
  std::string Text;          // the whole version string
  bool HasModel = false;     // false: no ": " in the text, nothing else read
  uint16_t HardFeature = 0;  // model bits plus the U, S and F flags
  int Version = -1;          // firmware number
  std::string FirmwareDate;
  std::string FPGAVersion;
  std::optional<uint32_t> SerialNumber;  // firmware above 39
  std::string IP;                        // firmware above 49, more than four parts
};

// The version string inside a version message: the text after "VERSION" and
// one more character, without trailing control characters; empty when the
// payload holds no "VERSION".
std::string_view VersionStringOf(std::string_view payload);
TColdfireVersion ParseColdfireVersion(std::string_view text);

// hardware " / " serial user " / FW: " firmware " / HW:" FPGA " / IP: " hex
struct TEspVersion {
  std::string HardFeatureText;
  std::optional<uint32_t> SerialNumber;
  std::optional<int> UserId;
  std::string FirmwareText;
  int Major = -1;
  int Minor = -1;
  int Version = -1;  // 100 * major + minor
  std::string FirmwareDate;
  std::string FPGAVersion;
  std::string IP;  // dotted, least significant byte first
  // One entry per part that did not match, e.g. "invalid FW=" + part.
  std::vector<std::string> Complaints;
  bool Valid() const { return Minor >= 0; }
};

TEspVersion ParseEspVersion(std::string_view text);

// The decimal digit after "User" in a text with "VERSION" and "User".
std::optional<uint8_t> VersionUserId(std::string_view text);
// The third " / " part of a text with "VERSION", read as hex.
std::optional<uint32_t> VersionSerialNumber(std::string_view text);

}  // namespace orb
