// Connection strings as a user or a settings file gives them, taken apart and
// turned into a device choice on a machine with a few known names. Nothing may
// read out of bounds or throw.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "sources/QM_ConnectionString.h"

namespace {

class TFuzzMachine final : public orb::IConnectionEnvironment {
 public:
  bool FileExists(const std::string& path) const override {
    return path == "rec.bin" || path == "a:b.txt";
  }
  bool IsLocalDevice(const std::string& name) const override {
    return name == "/dev/ttyACM0" || name == "/dev/x:y";
  }
  std::vector<std::string> ResolveHost(const std::string& name) const override {
    if (name == "one") return {"10.0.0.1"};
    if (name == "two") return {"10.0.0.1", "10.0.0.2"};
    return {};
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const TFuzzMachine machine;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  orb::TConnectionString connection;
  if (orb::SplitConnectionString(text, machine, -1, connection) != orb::QM_No_Err) return 0;
  orb::TDeviceTarget target;
  std::string message;
  orb::SelectDevice(connection, machine, -1, target, message);
  return 0;
}
