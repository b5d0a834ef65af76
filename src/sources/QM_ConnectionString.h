#pragma once
// The connection string a user types to reach a counter, taken apart in two
// steps: SplitConnectionString removes the prefixes and keywords and splits
// the rest into address and parameter; SelectDevice decides from those which
// kind of device to create and checks its parameters. Both only look things
// up through IConnectionEnvironment, so they do no I/O of their own.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/DateTime.h"
#include "protocol/QM_CommonTypes.h"

namespace orb {

// What the program can find out about the machine it runs on.
class IConnectionEnvironment {
 public:
  virtual ~IConnectionEnvironment() = default;
  virtual bool FileExists(const std::string& path) const = 0;
  // A serial or USB counter known by this name (on Linux a device path).
  virtual bool IsLocalDevice(const std::string& name) const = 0;
  // The distinct IPv4 addresses of a host name, as dotted text.
  virtual std::vector<std::string> ResolveHost(const std::string& name) const = 0;
};

// Files and character devices of the file system, names through the resolver.
class TSystemConnectionEnvironment : public IConnectionEnvironment {
 public:
  bool FileExists(const std::string& path) const override;
  bool IsLocalDevice(const std::string& name) const override;
  std::vector<std::string> ResolveHost(const std::string& name) const override;
};

constexpr uint8_t kNoUserId = 255;

struct TConnectionString {
  bool FisORC2 = false;
  bool FisHost = false;
  bool FReportStruct = false;
  bool FileDataLoopForEver = false;
  bool FileDataWait = false;
  uint8_t FUserId = kNoUserId;
  std::string FAddress;
  std::string FParameter;
};

// QM_Err_BadFormat when the rest starts with ":"; an invalid user id is
// logged on `logId` and leaves kNoUserId.
TQM_Result SplitConnectionString(std::string_view text, const IConnectionEnvironment& environment,
                                 int logId, TConnectionString& out);

enum class TDeviceKind : uint8_t { CanRack, TcpServer, Archive, Simulator, Network, Local, File };

struct TDeviceTarget {
  TDeviceKind Kind = TDeviceKind::File;
  // IPv4 text for the network kinds (resolved for host names), the device
  // name or the file path otherwise.
  std::string Address;
  uint16_t Port = 0;  // 0: the device's default
  int Baud = 115200;
  uint8_t CanNode = 0;
  uint8_t CanChannel = 0;
  uint8_t CanType = 0x20;
  TDateTime ArchiveStart;
  TDateTime ArchiveEnd;  // unused with ArchiveOpenEnd
  bool ArchiveOpenEnd = true;
  // Shown while the connection is being made; empty for local kinds.
  std::string Splash;
};

constexpr int kDefaultBaud = 115200;
constexpr std::string_view kSimulatorName = "DemoData";

// QM_Err_BadFormat with a message the caller completes with the connection
// string, or QM_DeviceNotFound.
TQM_Result SelectDevice(const TConnectionString& connection,
                        const IConnectionEnvironment& environment, int logId, TDeviceTarget& target,
                        std::string& message);

}  // namespace orb
