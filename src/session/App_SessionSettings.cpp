// The keys every session keeps under its prefix, in the order they are
// written.

#include <limits>

#include "data/App_DataManagement.h"
#include "platform/ConvertError.h"
#include "session/App_Sessions.h"
#include "session/App_Settings.h"
#include "session/ORB_SessionKeys.h"

namespace orb {
namespace {

constexpr std::string_view kScaleSeparator = ";";

}  // namespace

void TSessionItem::ReadSettings(TAppSettings& Settings, const std::string& Prefix) {
  FErrorMessage.clear();
  // The layout the file was written in, which the store may already have
  // raised for this run's writers.
  try {
    Settings.GetVersionFormat();
  } catch (const EConvertError&) {
    // The store refused such a file when it loaded it; keep its version.
  }
  TSessionKeyReader reader(Settings, Prefix, FErrorMessage);
  FSessionType = reader.Get("SessionType", int32_t{0});
  FDebugLog = reader.Get("Debug_Log", FProfessional);
  FDebugReport = reader.Get("Debug_Report", true);
  FDebugLowLevel = reader.Get("Debug_LowLevel", true);
  FOpenString = reader.Get("OpenString", std::string());
  FConnectionType = reader.Get("ConnectionType", int32_t{ctUnknown}, ctUnknown, ctDemoNone);
  FColor = reader.Get("Color", int32_t{kDefaultColor});
  FFriendlyName = reader.Get("FriendlyName", std::string());
  reader.ReadGroup("", FChannelData);
  TDataManagement& store = *DataManagement();
  ReadVirtualChannels(reader, "V_", store, FvirtualChannelData, FvirtualDescription);

  const std::string scales = reader.Get("HorizontalScale", std::string("1;1"));
  const auto items = SplitItemList(scales, kScaleSeparator);
  for (const THorizontalScale scale : {hsShort, hsLong}) {
    const size_t i = scale == hsShort ? 0 : 1;
    int32_t factor = 1;
    // A factor below 1 would divide the views' time axis by zero or less.
    if (i < items.size() && (!TryTextToInt32(items[i], factor) || factor < 1)) {
      reader.Note("HorizontalScale", "'" + scales + "' is not a valid scale factor pair");
      factor = 1;
    }
    store.SetScaleFactor(scale, factor);
  }

  FIntervalMs =
      reader.Get("Interval", int32_t{kDefaultIntervalMs}, 0, std::numeric_limits<int32_t>::max());
  if (FIntervalMs == 0) FIntervalMs = kDefaultIntervalMs;
}

void TSessionItem::SaveSettings(TAppSettings& Settings, const std::string& Prefix) {
  Settings.SetValue(Prefix + "SessionType", int32_t{FSessionType});
  Settings.SetValue(Prefix + "Debug_Log", FDebugLog);
  Settings.SetValue(Prefix + "Debug_Report", FDebugReport);
  Settings.SetValue(Prefix + "Debug_LowLevel", FDebugLowLevel);
  Settings.SetValue(Prefix + "OpenString", FOpenString);
  Settings.SetValue(Prefix + "ConnectionType", int32_t{FConnectionType});
  Settings.SetValue(Prefix + "Color", int32_t{FColor});
  Settings.SetValue(Prefix + "FriendlyName", FFriendlyName);
  FChannelData.SaveSettings(Settings, Prefix);
  TDataManagement& store = *DataManagement();
  SaveVirtualChannels(Settings, Prefix + "V_", store, FvirtualChannelData, FvirtualDescription);
  Settings.SetValue(Prefix + "HorizontalScale", IntToText(store.ScaleFactor(hsShort)) +
                                                    std::string(kScaleSeparator) +
                                                    IntToText(store.ScaleFactor(hsLong)));
  Settings.SetValue(Prefix + "Interval", int32_t{FIntervalMs});
}

}  // namespace orb
