#pragma once
// A source whose device plays a script of records: the factory creates a
// device of the chosen type whose decoder hands out one scripted record
// per call (none when the script is empty).

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "FakeConnectionEnvironment.h"
#include "sources/QM_DeviceFactory.h"
#include "sources/QM_SourceItem.h"

namespace orb::test {

// The services of a source list that makes its devices with `factory`.
inline TSourceServices SourceServicesOf(IDeviceFactory& factory,
                                        const IConnectionEnvironment& machine, IClock& clock) {
  TSourceServices services;
  services.Factory = &factory;
  services.Environment = &machine;
  services.Clock = &clock;
  return services;
}

class TScriptedDevice final : public TQM_BaseDevice {
 public:
  TScriptedDevice(const TDeviceContext& context, TQM_DeviceType type, TQM_PeerType peer,
                  int firmware)
      : TQM_BaseDevice(context.LogId, type, context.MultiId, *context.Clock, context.ReceiveEvent) {
    InitPeerType(peer);
    SetFirmwareVersionNumber(firmware);
  }
  TQM_Result OpenPort(std::string&) override { return QM_No_Err; }
  void ClosePort() override { ++Closed; }
  TQM_Result DeviceWrite(std::string_view bytes) override {
    Written.emplace_back(bytes);
    return QM_No_Err;
  }
  bool CheckDeviceClosed() override { return false; }
  int Closed = 0;
  std::vector<std::string> Written;  // every write, in order
};

class TScriptedDecoder final : public TQM_ReportDecoder {
 public:
  explicit TScriptedDecoder(std::deque<TQM_ReportStruct>& script) : FScript(script) {}
  std::string_view Name() const override { return "Script"; }
  TQM_Result GetReport(TQM_ReportDevice&, std::string&) override { return QM_No_Err; }
  void GetReportStruct(TQM_ReportDevice&, TQM_ReportStruct& record) override {
    if (FScript.empty()) return;
    record = FScript.front();
    FScript.pop_front();
  }

 private:
  std::deque<TQM_ReportStruct>& FScript;
};

class TScriptedFactory final : public IDeviceFactory {
 public:
  TQM_Result Create(const TDeviceTarget&, const TConnectionString&, const TDeviceContext& context,
                    TCreatedDevice& created, std::string&) override {
    auto device = std::make_unique<TScriptedDevice>(context, Type, Peer, Firmware);
    Last = device.get();
    created.Device = std::move(device);
    created.Decoder = std::make_unique<TScriptedDecoder>(Script);
    return QM_No_Err;
  }
  TQM_DeviceType Type = QM_Remote;
  TQM_PeerType Peer = ptColdfire;
  int Firmware = 0;
  std::deque<TQM_ReportStruct> Script;
  TScriptedDevice* Last = nullptr;
};

// A connected source on a scripted device ("10.0.0.1" names it).
struct TScriptedSource {
  explicit TScriptedSource(IClock& clock, TQM_DeviceType type = QM_Remote) {
    factory.Type = type;
    services.Factory = &factory;
    services.Environment = &machine;
    services.Clock = &clock;
    source = std::make_unique<TSourceItem>(0, true, std::make_shared<TEvent>(clock), services);
  }
  TQM_Result Open(std::string& message) {
    return source->OpenConnectionString("10.0.0.1 ReportStruct", false, message);
  }

  TFakeConnectionEnvironment machine;
  TScriptedFactory factory;
  TSourceServices services;
  std::unique_ptr<TSourceItem> source;
};

}  // namespace orb::test
