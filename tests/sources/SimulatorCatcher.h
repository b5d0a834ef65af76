#pragma once
// The program's device factory, keeping hold of the simulators it makes so
// a test can let simulated time pass and wait for them.

#include <mutex>
#include <string>
#include <vector>

#include "devices/QM_Simulator.h"
#include "sources/QM_DeviceFactory.h"

namespace orb::test {

class TSimulatorCatcher final : public IDeviceFactory {
 public:
  TQM_Result Create(const TDeviceTarget& target, const TConnectionString& connection,
                    const TDeviceContext& context, TCreatedDevice& created,
                    std::string& message) override {
    const TQM_Result result = FReal.Create(target, connection, context, created, message);
    if (auto* simulator = dynamic_cast<TQM_SimulDevice*>(created.Device.get())) {
      std::lock_guard lock(FLock);
      FSimulators.push_back(simulator);
    }
    return result;
  }
  // The simulator made last, or null.
  TQM_SimulDevice* Last() {
    std::lock_guard lock(FLock);
    return FSimulators.empty() ? nullptr : FSimulators.back();
  }
  // Until every simulator made so far has generated what is due.
  void WaitGenerated() {
    std::lock_guard lock(FLock);
    for (TQM_SimulDevice* simulator : FSimulators) simulator->WaitGenerated();
  }

 private:
  TDeviceFactory FReal;
  std::mutex FLock;
  std::vector<TQM_SimulDevice*> FSimulators;  // owned by their sources
};

}  // namespace orb::test
