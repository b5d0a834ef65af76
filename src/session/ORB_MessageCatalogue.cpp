#include "session/ORB_MessageCatalogue.h"

#include <array>

namespace orb {

namespace {

constexpr std::array<TMessageRecord, 15> kErrorWarning = {{
    {mtError, -1, "E - All Errors, Warnings"},
    {mtError, 92, "E - Logfile closed"},
    {mtError, 102, "E - OHR Data missing"},
    {mtError, 32761, "E - 10MHz Reference Invalid"},
    {mtError, 32759, "E - No measurements, check reference clock"},
    {mtError, 32755, "E - Performance Limitation: 10ms"},
    {mtError, 524067, "E - Scrambler in use"},
    {mtError, 32752, "E - Unsupported mode"},
    {mtError, 95, "E - Transmit calibration data to device failed"},
    {mtWarning, 17, "W - PPI Offset"},
    {mtWarning, 41, "W - Clock Supervisor Warning"},
    {mtWarning, 43, "W - Clock Supervisor End Warning"},
    {mtWarning, 42, "W - Sensor Supervisor Warning"},
    {mtWarning, 45, "W - ORC time resetted"},
    {mtWarning, 32546, "W - Measurement or Timestamp Count Failure"},
}};

constexpr std::array<TMessageRecord, 18> kInfo = {{
    {mtInfo, -2, "I - All Infos"},
    {mtInfo, 13, "I - Mode, Interval Settings Changed"},
    {mtInfo, 14, "I - Scrambler Settings Changed"},
    {mtInfo, 15, "I - PPI Settings Changed"},
    {mtInfo, 16, "I - Phase Difference Resetted"},
    {mtInfo, 23, "I - Interrupted connection is running again"},
    {mtInfo, 71, "I - Connected, Disconnected"},
    {mtInfo, 75, "I - Sending Command"},
    {mtInfo, 82, "I - Start/Stop Local Server"},
    {mtInfo, 91, "I - Logfile opened"},
    {mtInfo, 92, "I - Logfile closed"},
    {mtInfo, 96, "I - LTV calibration changed"},
    {mtInfo, 101, "I - OHR Data Changed"},
    {mtInfo, 105, "I - ADEV Configuration Changed"},
    {mtInfo, 151, "I - Compatibility adjustments"},
    {mtInfo, 28673, "I - Device Version "},
    {mtInfo, 32593, "I - Device Measurement interval (re-)synchronized"},
    {mtInfo, 32760, "I - 10MHz Reference Clock Ok"},
}};

constexpr std::array<TMessageRecord, 10> kHW = {{
    {mtInfo, -3, "E - All Internal Hardware Errors"},
    {mtError, 32767, "E - PLL unlocked"},
    {mtError, 32766, "E - SWC: 10MHz PLL unlocked"},
    {mtError, 32765, "E - SCR: 5MHz:10MHz PLL unlocked"},
    {mtError, 32763, "E - ORD: Dithering/Scrambling is obsolete"},
    {mtError, 32756, "E - FPGA Data Format Error"},
    {mtError, 524065, "E - Input Data Overrun Error"},
    {mtError, 524049, "E - ORC: T2 underflow"},
    {mtError, 524050, "E - ORC: T2 d4>=2"},
    {mtError, 32656, "E - Sync Error with LTV data"},
}};

constexpr std::array<TMessageRecord, 12> kSW = {{
    {mtInfo, -4, "E - All Internal Software Errors"},
    {mtError, 12, "E - Device Reports Invalid Mode, Interval"},
    {mtError, 22, "E - Reading Report Failed, Connection Closed"},
    {mtError, 51, "E - Internal Exception Error"},
    {mtError, 61, "E - Error INI File"},
    {mtError, 524066, "E - Raw Data Reception Error"},
    {mtError, 21, "E - Reading Report Failed"},
    {mtError, 31, "E - Data Loss"},
    {mtError, 72, "E - Connect Source Failed"},
    {mtError, 76, "E - Send Command Failed"},
    {mtError, 77, "E - Send Command Failed, Connection Closed"},
    {mtError, 81, "E - Local TCP Server Start/Stop Error"},
}};

}  // namespace

std::span<const TMessageRecord> MessageCatalogue(TNotifyClass Class) {
  switch (Class) {
    case ncErrorWarning:
      return kErrorWarning;
    case ncInfo:
      return kInfo;
    case ncHW:
      return kHW;
    case ncSW:
      break;
  }
  return kSW;
}

}  // namespace orb
