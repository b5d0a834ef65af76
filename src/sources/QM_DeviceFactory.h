#pragma once
// Creates the device object for a chosen device kind, with the decoder its
// byte stream needs. The source asks the factory, so tests can hand it
// scripted devices, and transports of new kinds join here.

#include <memory>
#include <string>

#include "devices/QM_BaseDevice.h"
#include "devices/QM_ReportDevice.h"
#include "protocol/QM_BinaryReport.h"
#include "sources/QM_ConnectionString.h"

namespace orb {

// What every device of a source is created with.
struct TDeviceContext {
  int LogId = -1;
  int MultiId = 0;
  IClock* Clock = &SystemClock();
  std::shared_ptr<TEvent> ReceiveEvent;
  IBinaryReportHost* Host = nullptr;  // the source, for the binary decoders
};

struct TCreatedDevice {
  std::unique_ptr<TQM_BaseDevice> Device;
  std::unique_ptr<TQM_ReportDecoder> Decoder;
};

class IDeviceFactory {
 public:
  virtual ~IDeviceFactory() = default;
  // QM_No_Err with a device that is created but not open; otherwise the
  // reason in `message`. May throw; the source reports that as a failed
  // connection.
  virtual TQM_Result Create(const TDeviceTarget& target, const TConnectionString& connection,
                            const TDeviceContext& context, TCreatedDevice& created,
                            std::string& message) = 0;
};

// The device kinds this program can reach.
class TDeviceFactory final : public IDeviceFactory {
 public:
  TQM_Result Create(const TDeviceTarget& target, const TConnectionString& connection,
                    const TDeviceContext& context, TCreatedDevice& created,
                    std::string& message) override;
};

}  // namespace orb
