#include "session/App_Sessions.h"
#include "session/App_Settings.h"

namespace orb {

void TSessionItem::ReadSettings(TAppSettings& Settings, const std::string& Prefix) {
  FSessionType = Settings.GetValue(Prefix + "SessionType", int32_t{0});
  FOpenString = Settings.GetValue(Prefix + "OpenString", "");
  FConnectionType = Settings.GetValue(Prefix + "ConnectionType", int32_t{ctUnknown});
  FColor = Settings.GetValue(Prefix + "Color", int32_t{kDefaultColor});
  FFriendlyName = Settings.GetValue(Prefix + "FriendlyName", "");
  FIntervalMs = Settings.GetValue(Prefix + "Interval", int32_t{kDefaultIntervalMs});
  if (FIntervalMs == 0) FIntervalMs = kDefaultIntervalMs;
}

void TSessionItem::SaveSettings(TAppSettings& Settings, const std::string& Prefix) {
  Settings.SetValue(Prefix + "SessionType", int32_t{FSessionType});
  Settings.SetValue(Prefix + "OpenString", FOpenString);
  Settings.SetValue(Prefix + "ConnectionType", int32_t{FConnectionType});
  Settings.SetValue(Prefix + "Color", int32_t{FColor});
  Settings.SetValue(Prefix + "FriendlyName", FFriendlyName);
  Settings.SetValue(Prefix + "Interval", int32_t{FIntervalMs});
}

}  // namespace orb
