#include "sources/QM_ConnectionString.h"

#include <netdb.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <arpa/inet.h>
#include <algorithm>
#include <filesystem>

#include "logging/LogUnit.h"
#include "platform/ConvertError.h"
#include "platform/NumberFormat.h"
#include "protocol/QM_TextUtils.h"

namespace orb {
namespace {

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

std::string Upper(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), AsciiUpper);
  return out;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && Upper(text.substr(0, prefix.size())) == Upper(prefix);
}

std::string Trimmed(std::string_view text) { return std::string(TrimControl(text)); }

// Removes the first occurrence of `keyword` (any case); true when found.
bool RemoveKeyword(std::string& text, std::string_view keyword) {
  const size_t at = Upper(text).find(Upper(keyword));
  if (at == std::string::npos) return false;
  text.erase(at, keyword.size());
  return true;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// "USERID=" and its digits; the value is kept only for users 1..4.
void TakeUserId(std::string& text, int logId, uint8_t& userId) {
  constexpr std::string_view kKey = "USERID=";
  const std::string upper = Upper(text);
  size_t at = upper.find(kKey);
  while (at != std::string::npos &&
         (at + kKey.size() >= text.size() || !IsDigit(text[at + kKey.size()]))) {
    at = upper.find(kKey, at + 1);
  }
  if (at == std::string::npos) return;
  size_t end = at + kKey.size();
  while (end < text.size() && IsDigit(text[end])) ++end;
  const std::string digits = text.substr(at + kKey.size(), end - at - kKey.size());
  text.erase(at, end - at);
  int32_t value = 0;
  if (TryTextToInt32(digits, value) && value >= 1 && value <= 4) {
    userId = static_cast<uint8_t>(value);
  } else {
    LogDebug(logId, ".SplitConnectionString: invalid UserID " + digits);
  }
}

bool ParsePort(std::string_view text, uint16_t& port) {
  int32_t value = 0;
  if (text.empty() || !std::all_of(text.begin(), text.end(), IsDigit) ||
      !TryTextToInt32(text, value) || value > 65535) {
    return false;
  }
  port = static_cast<uint16_t>(value);
  return true;
}

bool HexDigit(char c, uint8_t& value) {
  const char u = AsciiUpper(c);
  if (IsDigit(u)) return value = static_cast<uint8_t>(u - '0'), true;
  if (u >= 'A' && u <= 'F') return value = static_cast<uint8_t>(u - 'A' + 10), true;
  return false;
}

// "RACK" + node digit [" CHANNEL" + 0..3] [" TYPE=0x20" or "0x21"].
bool ParseCanParameter(std::string_view text, TDeviceTarget& target) {
  const std::string upper = Upper(TrimControl(text));
  std::string_view rest = upper;
  constexpr std::string_view kRack = "RACK", kChannel = " CHANNEL", kType = " TYPE=0X";
  if (rest.substr(0, kRack.size()) != kRack || rest.size() < kRack.size() + 1 ||
      !HexDigit(rest[kRack.size()], target.CanNode)) {
    return false;
  }
  rest.remove_prefix(kRack.size() + 1);
  if (rest.substr(0, kChannel.size()) == kChannel) {
    rest.remove_prefix(kChannel.size());
    if (rest.empty() || rest[0] < '0' || rest[0] > '3') return false;
    target.CanChannel = static_cast<uint8_t>(rest[0] - '0');
    rest.remove_prefix(1);
  }
  if (rest.substr(0, kType.size()) == kType) {
    rest.remove_prefix(kType.size());
    if (rest != "20" && rest != "21") return false;
    target.CanType = rest == "20" ? 0x20 : 0x21;
    rest = {};
  }
  return rest.empty();
}

TQM_Result Invalid(std::string& message, std::string_view text) {
  message = text;
  return QM_Err_BadFormat;
}

// "TCP:" / "ARCHIVE:" + IPv4 in the address part; the address after the
// prefix, or nothing when it is no IPv4 address.
bool NetworkPrefix(const std::string& address, std::string_view prefix, std::string& ip) {
  ip = address.size() > prefix.size() ? address.substr(prefix.size()) : std::string();
  return IsValidIPv4(ip);
}

TDateTime ParseArchiveTime(std::string_view text, bool& ok) {
  try {
    ok = true;
    return ArchiveTimeFromText(TrimControl(text));
  } catch (const EConvertError&) {
    ok = false;
    return TDateTime();
  }
}

TQM_Result SelectArchive(const TConnectionString& connection, TDeviceTarget& target,
                         std::string& message) {
  if (!NetworkPrefix(connection.FAddress, "ARCHIVE:", target.Address)) {
    return Invalid(message, "Invalid TCP-Server address: ");
  }
  const std::string& parameter = connection.FParameter;
  const size_t blank = parameter.find(' ');
  if (blank == std::string::npos) return Invalid(message, "TCP-Archive StartTime missing: ");
  if (!ParsePort(std::string_view(parameter).substr(0, blank), target.Port)) {
    return Invalid(message, "Invalid TCP-Server address: ");
  }
  const std::string_view times = std::string_view(parameter).substr(blank + 1);
  const size_t semicolon = times.find(';');
  bool ok = false;
  target.ArchiveStart = ParseArchiveTime(times.substr(0, semicolon), ok);
  if (!ok) return Invalid(message, "Invalid TCP-Archive StartTime: ");
  target.ArchiveOpenEnd = semicolon == std::string_view::npos;
  if (!target.ArchiveOpenEnd) {
    target.ArchiveEnd = ParseArchiveTime(times.substr(semicolon + 1), ok);
    if (!ok) return Invalid(message, "Invalid TCP-Archive EndTime: ");
  }
  target.Kind = TDeviceKind::Archive;
  target.Splash = "Connecting to TCP-Archiv " + target.Address + ":" + IntToText(target.Port) +
                  ". Please wait...";
  return QM_No_Err;
}

}  // namespace

TQM_Result SplitConnectionString(std::string_view text, const IConnectionEnvironment& environment,
                                 int logId, TConnectionString& out) {
  out = TConnectionString();
  std::string rest = Trimmed(text);
  if (StartsWithNoCase(rest, "ORC2:/")) {
    out.FisORC2 = true;
    rest.erase(0, 6);
  }
  if (StartsWithNoCase(rest, "HOST:/")) {
    out.FisHost = true;
    rest.erase(0, 6);
  }
  out.FReportStruct = RemoveKeyword(rest, " ReportStruct");
  TakeUserId(rest, logId, out.FUserId);
  rest = Trimmed(rest);
  out.FileDataLoopForEver = RemoveKeyword(rest, " LOOP_FOR_EVER");
  out.FileDataWait = RemoveKeyword(rest, " WAIT_INTERVAL");
  rest = Trimmed(rest);

  if (!rest.empty() && rest[0] == ':') return QM_Err_BadFormat;
  const size_t colon = rest.rfind(':');
  // Paths may hold ":" (a drive letter elsewhere): a whole existing file
  // name is all address.
  if (colon == std::string::npos || environment.FileExists(rest)) {
    out.FAddress = rest;
  } else {
    out.FAddress = Trimmed(std::string_view(rest).substr(0, colon));
    out.FParameter = Trimmed(std::string_view(rest).substr(colon + 1));
  }
  return QM_No_Err;
}

TQM_Result SelectDevice(const TConnectionString& connection,
                        const IConnectionEnvironment& environment, int logId, TDeviceTarget& target,
                        std::string& message) {
  target = TDeviceTarget();
  message.clear();
  const std::string& address = connection.FAddress;
  const std::string& parameter = connection.FParameter;
  const std::string upper = Upper(address);
  const bool isFile = environment.FileExists(address) && parameter.empty();

  if (!connection.FisHost && !isFile && upper.starts_with("CAN")) {
    if (upper != "CAN" || !ParseCanParameter(parameter, target)) {
      return Invalid(message, "Invalid CAN address: ");
    }
    target.Kind = TDeviceKind::CanRack;
    target.Address = "Rack " + IntToHex(target.CanNode, 1) + "/" + IntToText(target.CanChannel);
    return QM_No_Err;
  }
  if (!connection.FisHost && (upper == "TCP" || upper.starts_with("TCP:"))) {
    if (!NetworkPrefix(address, "TCP:", target.Address) || !ParsePort(parameter, target.Port)) {
      return Invalid(message, "Invalid TCP-Server address: ");
    }
    target.Kind = TDeviceKind::TcpServer;
    target.Splash =
        "Connecting to TCP-Server " + target.Address + ":" + parameter + ". Please wait...";
    return QM_No_Err;
  }
  if (!connection.FisHost && (upper == "ARCHIVE" || upper.starts_with("ARCHIVE:"))) {
    return SelectArchive(connection, target, message);
  }
  if (address == kSimulatorName) {
    target.Kind = TDeviceKind::Simulator;
    target.Address = address;
    return QM_No_Err;
  }
  if (connection.FisHost || IsValidIPv4(address)) {
    if (!parameter.empty() && !ParsePort(parameter, target.Port)) {
      return Invalid(message, "Invalid port: ");
    }
    target.Address = address;
    if (connection.FisHost) {
      const std::vector<std::string> found = environment.ResolveHost(address);
      if (found.size() != 1) {
        LogDebug(logId, ".OpenConnection hostname not found " + address);
        message = "Host name not found: " + address;
        return QM_DeviceNotFound;
      }
      LogDebug(logId, ".OpenConnection hostname " + address + " -> " + found.front());
      target.Address = found.front();
    }
    target.Kind = TDeviceKind::Network;
    target.Splash = "Connecting to " + target.Address + (parameter.empty() ? "" : ":" + parameter) +
                    ". Please wait...";
    return QM_No_Err;
  }
  if (environment.IsLocalDevice(address)) {
    int32_t baud = 0;
    target.Baud = TryTextToInt32(parameter, baud) && baud > 0 ? baud : kDefaultBaud;
    target.Kind = TDeviceKind::Local;
    target.Address = address;
    return QM_No_Err;
  }
  if (!parameter.empty() && environment.IsLocalDevice(address + ":" + parameter)) {
    target.Kind = TDeviceKind::Local;
    target.Address = address + ":" + parameter;
    return QM_No_Err;
  }
  if (isFile) {
    target.Kind = TDeviceKind::File;
    target.Address = address;
    return QM_No_Err;
  }
  message = "Device not found: " + address;
  return QM_DeviceNotFound;
}

// ---- The machine's own answers ----------------------------------------------

bool TSystemConnectionEnvironment::FileExists(const std::string& path) const {
  std::error_code error;
  return !path.empty() && std::filesystem::is_regular_file(path, error);
}

bool TSystemConnectionEnvironment::IsLocalDevice(const std::string& name) const {
  struct stat info {};
  return name.starts_with("/dev/") && ::stat(name.c_str(), &info) == 0 && S_ISCHR(info.st_mode);
}

std::vector<std::string> TSystemConnectionEnvironment::ResolveHost(const std::string& name) const {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  std::vector<std::string> addresses;
  if (::getaddrinfo(name.c_str(), nullptr, &hints, &list) != 0) return addresses;
  for (const addrinfo* entry = list; entry != nullptr; entry = entry->ai_next) {
    char text[INET_ADDRSTRLEN] = {};
    const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(entry->ai_addr);
    if (::inet_ntop(AF_INET, &ipv4->sin_addr, text, sizeof text) == nullptr) continue;
    if (std::find(addresses.begin(), addresses.end(), text) == addresses.end()) {
      addresses.emplace_back(text);
    }
  }
  ::freeaddrinfo(list);
  return addresses;
}

}  // namespace orb
