#include "devices/QM_DeviceVersion.h"

#include <array>
#include <utility>

#include "platform/NumberFormat.h"
#include "protocol/QM_TextUtils.h"

namespace orb {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string_view Trim(std::string_view text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// The leading decimal digits of `text` (at most 9, so the value fits).
std::optional<int> LeadingNumber(std::string_view text, size_t& length) {
  length = 0;
  while (length < text.size() && length < 9 && IsDigit(text[length])) ++length;
  int32_t value = 0;
  if (length == 0 || !TryTextToInt32(text.substr(0, length), value)) return std::nullopt;
  return value;
}

std::optional<uint32_t> HexNumber(std::string_view text) {
  uint32_t value = 0;
  if (!TryHexTextToUInt32(Trim(text), value)) return std::nullopt;
  return value;
}

uint16_t ModelFeature(std::string_view model) {
  constexpr std::array<std::pair<std::string_view, uint16_t>, 5> kModels = {{
      {"ORC:", 0x0001},
      {"OR40:", 0x0008},
      {"LTV:", 0x0002},
      {"ORD:", 0x2001},
      {"RawORC:", 0x0001},
  }};
  for (const auto& [name, feature] : kModels) {
    if (model == name) return feature;
  }
  return 0x8000;
}

}  // namespace

std::string_view VersionStringOf(std::string_view payload) {
  const size_t at = payload.find("VERSION");
  if (at == std::string_view::npos) return {};
  std::string_view text = payload.substr(std::min(payload.size(), at + 8));
  while (!text.empty() && static_cast<unsigned char>(text.back()) < 0x20) text.remove_suffix(1);
  return text;
}

TColdfireVersion ParseColdfireVersion(std::string_view text) {
  TColdfireVersion version;
  version.Text.assign(text);
  const size_t colon = text.find(": ");
  if (colon == std::string_view::npos) return version;
  version.HasModel = true;
  version.HardFeature = ModelFeature(Trim(text.substr(0, colon + 1)));
  const std::string_view rest = text.substr(colon + 2);
  size_t digits = 0;
  version.Version = LeadingNumber(rest, digits).value_or(-1);
  const size_t cf = rest.find("CF ");
  const std::string_view flags =
      rest.substr(digits, cf == std::string_view::npos ? std::string_view::npos : cf - digits);
  for (const char flag : flags) {
    if (flag == 'U') version.HardFeature |= 0x0002;
    if (flag == 'S') version.HardFeature |= 0x0004;
    if (flag == 'F') version.HardFeature |= 0x4000;
  }
  if (cf != std::string_view::npos) {
    const std::string_view date = rest.substr(cf + 3);
    version.FirmwareDate.assign(date.substr(0, date.find(' ')));
  }
  const std::vector<std::string> parts = SplitText(text, "/");
  if (parts.size() > 1) version.FPGAVersion.assign(Trim(parts[1]));
  if (version.Version > 39) {
    for (size_t i = 2; i < parts.size() && !version.SerialNumber; ++i) {
      version.SerialNumber = HexNumber(parts[i]);
    }
  }
  if (version.Version > 49 && parts.size() > 4) version.IP.assign(Trim(parts[3]));
  return version;
}

TEspVersion ParseEspVersion(std::string_view text) {
  TEspVersion version;
  const std::vector<std::string> parts = SplitText(text, " / ");
  const auto part = [&](size_t index) {
    return index < parts.size() ? std::string_view(parts[index]) : std::string_view();
  };
  const auto complain = [&](std::string_view what, std::string_view value) {
    version.Complaints.push_back("invalid " + std::string(what) + "=" + std::string(value));
  };
  version.HardFeatureText.assign(part(0));

  if (parts.size() > 1) {
    const std::string_view ids = part(1);
    const size_t blank = ids.find(' ');
    version.SerialNumber = HexNumber(ids.substr(0, blank));
    if (!version.SerialNumber) complain("SerialNumber", ids);
    int32_t user = 0;
    if (blank != std::string_view::npos && TryTextToInt32(ids.substr(blank + 1), user) &&
        user >= 0 && user <= 255) {
      version.UserId = user;
    } else {
      complain("UserID", ids);
    }
  }

  if (parts.size() > 2) {
    const std::string_view fw = part(2);
    const size_t dash = fw.find('-');
    if (fw.substr(0, 4) != "FW: " || dash == std::string_view::npos) {
      complain("FW", fw);
    } else {
      version.FirmwareText.assign(fw.substr(4));
      const std::string_view number = fw.substr(dash + 1);
      size_t majorLength = 0;
      const std::optional<int> major = LeadingNumber(number, majorLength);
      size_t minorLength = 0;
      const std::optional<int> minor =
          major && majorLength < number.size() && number[majorLength] == '.'
              ? LeadingNumber(number.substr(majorLength + 1), minorLength)
              : std::nullopt;
      if (!minor) {
        complain("FW", fw);
      } else {
        version.Major = *major;
        version.Minor = *minor;
        version.Version = 100 * *major + *minor;
        version.FirmwareDate.assign(Trim(number.substr(majorLength + 1 + minorLength)));
      }
    }
  }

  if (parts.size() > 3) {
    if (part(3).substr(0, 3) == "HW:") {
      version.FPGAVersion.assign(Trim(part(3).substr(3)));
    } else {
      complain("HW", part(3));
    }
  }

  if (parts.size() > 4) {
    const std::optional<uint32_t> address =
        part(4).substr(0, 4) == "IP: " ? HexNumber(part(4).substr(4)) : std::nullopt;
    if (address) {
      version.IP = IPv4ToTextReversed(*address);
    } else {
      complain("IP", part(4));
    }
  }
  return version;
}

std::optional<uint8_t> VersionUserId(std::string_view text) {
  const size_t user = text.find("User");
  if (text.find("VERSION") == std::string_view::npos || user == std::string_view::npos ||
      user + 4 >= text.size() || !IsDigit(text[user + 4])) {
    return std::nullopt;
  }
  return static_cast<uint8_t>(text[user + 4] - '0');
}

std::optional<uint32_t> VersionSerialNumber(std::string_view text) {
  if (text.find("VERSION") == std::string_view::npos) return std::nullopt;
  const std::vector<std::string> parts = SplitText(text, " / ");
  if (parts.size() < 3) return std::nullopt;
  return HexNumber(parts[2]);
}

}  // namespace orb
