#include "sources/QM_DeviceFactory.h"

#include "devices/QM_DemoDecoder.h"
#include "devices/QM_FileDecoders.h"
#include "devices/QM_FileDevice.h"
#include "devices/QM_Simulator.h"

namespace orb {
namespace {

std::string_view KindName(TDeviceKind kind) {
  switch (kind) {
    case TDeviceKind::CanRack:
      return "CAN";
    case TDeviceKind::TcpServer:
      return "TCP-Server";
    case TDeviceKind::Archive:
      return "TCP-Archive";
    case TDeviceKind::Network:
      return "Network";
    case TDeviceKind::Local:
      return "USB and serial";
    case TDeviceKind::Simulator:
      return "Simulator";
    case TDeviceKind::File:
      return "File";
  }
  return "Unknown";
}

}  // namespace

TQM_Result TDeviceFactory::Create(const TDeviceTarget& target, const TConnectionString& connection,
                                  const TDeviceContext& context, TCreatedDevice& created,
                                  std::string& message) {
  switch (target.Kind) {
    case TDeviceKind::Simulator: {
      created.Device = std::make_unique<TQM_SimulDevice>(context.LogId, context.MultiId,
                                                         *context.Clock, context.ReceiveEvent);
      created.Decoder = std::make_unique<TQM_DemoDecoder>(*context.Host);
      return QM_No_Err;
    }
    case TDeviceKind::File: {
      auto file = std::make_unique<TQM_FileDeviceItem>(
          context.LogId, target.Address, connection.FileDataLoopForEver, context.MultiId,
          *context.Clock, context.ReceiveEvent);
      if (file->DevType() == QM_TxtFile) {
        created.Decoder = std::make_unique<TQM_FileTextDecoder>(*file);
      } else {
        created.Decoder = std::make_unique<TQM_FileDetectDecoder>(
            *file, BinaryStreamKinds(*context.Host, *context.Clock));
      }
      created.Device = std::move(file);
      return QM_No_Err;
    }
    default:
      message = std::string(KindName(target.Kind)) + " devices are not available in this build";
      return QM_DeviceNotFound;
  }
}

}  // namespace orb
