#pragma once
// A machine with the files, local devices and host names a test names.

#include <map>
#include <set>
#include <string>
#include <vector>

#include "sources/QM_ConnectionString.h"

namespace orb::test {

class TFakeConnectionEnvironment : public IConnectionEnvironment {
 public:
  std::set<std::string> Files;
  std::set<std::string> LocalDevices;
  std::map<std::string, std::vector<std::string>> Hosts;

  bool FileExists(const std::string& path) const override { return Files.count(path) != 0; }
  bool IsLocalDevice(const std::string& name) const override {
    return LocalDevices.count(name) != 0;
  }
  std::vector<std::string> ResolveHost(const std::string& name) const override {
    const auto found = Hosts.find(name);
    return found == Hosts.end() ? std::vector<std::string>() : found->second;
  }
};

}  // namespace orb::test
