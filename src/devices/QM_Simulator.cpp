#include "devices/QM_Simulator.h"

#include <bit>

#include "logging/LogUnit.h"
#include "platform/NumberFormat.h"
#include "protocol/ByteOrder.h"
#include "protocol/QM_TextUtils.h"

namespace orb {

namespace df = demo_format;

namespace {

constexpr uint16_t kLTVHeader = 0x7900;
constexpr std::string_view kReSyncText = "Measurement re-synchronized";
constexpr uint8_t kRawDataMode = 6;

std::span<const uint8_t> AsBytes(std::string_view text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

}  // namespace

TQM_SimulDevice::TQM_SimulDevice(int logId, int multiId, IClock& clock,
                                 std::shared_ptr<TEvent> receiveEvent, TQM_SimulShared& shared)
    : TQM_BaseDevice(logId, QM_Simul, multiId, clock, std::move(receiveEvent)),
      FShared(shared),
      FCommands(logId) {
  const uint32_t serial = FShared.NextSerialNumber();
  SetSerialNumberValue(serial);
  SetORCChannelCount(FChannelCount);
  FRandom.seed(serial);
}

TQM_SimulDevice::~TQM_SimulDevice() { ClosePort(); }

// ---- Transport ------------------------------------------------------------------

TQM_Result TQM_SimulDevice::OpenPort(std::string& message) {
  message.clear();
  {
    std::lock_guard lock(FStateLock);
    if (FThread) return QM_No_Err;
    ClearPhases();
    LogDebug(LogId(), "TQM_SimulDevice.OpenPort");
    ISimulReports& reports = *this;
    FThread = std::make_unique<TQM_SimulThread>(reports, FStateLock, Clock(), LogId());
    FThread->Start();
  }
  SetPortIsOpened(true);
  return QM_No_Err;
}

void TQM_SimulDevice::ClosePort() {
  std::unique_ptr<TQM_SimulThread> thread;
  {
    std::lock_guard lock(FStateLock);
    thread = std::move(FThread);
  }
  if (thread) LogDebug(LogId(), "TQM_SimulDevice.ClosePort");
  // Joined outside the lock: the worker takes it for its last round.
  thread.reset();
  SetPortIsOpened(false);
}

bool TQM_SimulDevice::CheckDeviceClosed() {
  if (PortIsOpened()) return false;
  SetError(QM_DeviceNotConnected, "SimulDevice closed");
  LogDebug(LogId(), "TQM_SimulDevice.CheckDeviceClosed: SimulDevice closed");
  return true;
}

void TQM_SimulDevice::WaitGenerated() {
  TQM_SimulThread* thread = nullptr;
  {
    std::lock_guard lock(FStateLock);
    thread = FThread.get();
  }
  if (thread) thread->WaitCaughtUp();
}

std::string TQM_SimulDevice::ChannelCountCommand(int channels) {
  if (channels <= 0 || channels >= kMaxChannels) return std::string(1, '\x30');
  if (channels <= 11) return std::string(1, static_cast<char>(0x30 + channels));
  return std::string{'\x3F', static_cast<char>(channels)};
}

int TQM_SimulDevice::ChannelCount() const {
  std::lock_guard lock(FStateLock);
  return FChannelCount;
}

// ---- Commands -------------------------------------------------------------------------

TQM_Result TQM_SimulDevice::Refuse(TQM_Result code, std::string_view message) {
  SetError(code, message);
  if (LogActive(LogId())) LogDebug(LogId(), "TQM_SimulDevice.DeviceWrite: " + std::string(message));
  return code;
}

TQM_Result TQM_SimulDevice::DeviceWrite(std::string_view bytes) {
  std::lock_guard lock(FStateLock);
  if (!FThread) {
    SetError(QM_DeviceNotConnected, "SimulDevice closed");
    LogDebug(LogId(), "TQM_SimulDevice.DeviceWrite: no thread");
    return QM_DeviceNotConnected;
  }
  const std::string hex = BytesToHex(bytes);
  if (LogActive(LogId())) LogDebug(LogId(), "TQM_SimulDevice.DeviceWrite " + hex);
  if (!FCommands.CheckCommand(bytes)) {
    return Refuse(FCommands.ErrorCode(), FCommands.ErrorMessage());
  }
  if (LogActive(LogId())) {
    LogDebug(LogId(), "{" + hex + "}");
    LogDebug(LogId() + 1, "{" + hex + "}");
  }
  if (FCommands.WriteFRAMCmd()) {
    const size_t offset = FCommands.FRAMAdr();
    FShared.WriteStorage(offset, FCommands.FRAMContent());
    // Whole blocks are answered with their report, as the counter does.
    if (offset % TQM_SimulShared::kBlockSize == 0) {
      const size_t block = offset / TQM_SimulShared::kBlockSize;
      if (block == 0) {
        F7901ReportNeeded = true;
      } else if (block < TQM_SimulShared::kBlockCount) {
        F7902ReportNeeded |= static_cast<uint16_t>(1u << (block - 1));
      }
    }
  }
  if (FCommands.ResetPhaseDiffCmd()) return Refuse(QM_CmdIgnored, "Unsupported command " + hex);
  if (FCommands.IntervalCmd()) FThread->SetRate(FCommands.Rate());
  if (FCommands.ChannelCountCmd()) {
    FChannelCount = FCommands.ChannelCount();
    SetORCChannelCount(FChannelCount);
  }
  if (FCommands.ModeCmd()) {
    if (FCommands.Mode() == kRawDataMode) {
      return Refuse(QM_CmdIgnored, "Unsupported command mode raw data");
    }
    FThread->SetMode(FCommands.Mode());
  }
  if (FCommands.ScramblerCmd()) FScrambler = FCommands.Scrambler();
  return QM_No_Err;
}

void TQM_SimulDevice::ConfigChannel(int channel, double stdDev, double base) {
  if (channel < 1 || channel > kMaxChannels) return;
  if (LogActive(LogId())) {
    std::string text = "TQM_SimulDevice.ConfigChannel ";
    AppendIntText(text, channel);
    text += ", base=";
    AppendFloatText(text, base);
    text += ", stdDev=";
    AppendFloatText(text, stdDev);
    LogDebug(LogId(), text);
  }
  std::lock_guard lock(FStateLock);
  const auto index = static_cast<size_t>(channel - 1);
  TChannelConfig& config = FConfig[index];
  if (base != config.Base) {
    FPhaseValues[index] = 0.0;
    FPhaseCount[index] = 0;
  } else if (stdDev != config.StdDev) {
    // The noise accumulated so far is dropped.
    const int interval = FThread ? FThread->Interval() : 0;
    FPhaseValues[index] = base / 1000.0 * interval * static_cast<double>(FPhaseCount[index]);
  }
  config.Base = base;
  config.StdDev = stdDev;
}

void TQM_SimulDevice::ClearPhases() {
  FPhaseValues.fill(0.0);
  FPhaseCount.fill(0);
}

// ---- Reports ------------------------------------------------------------------------------

void TQM_SimulDevice::Emit(std::string_view what, std::span<const uint8_t> report) {
  if (ReceiveBuffer().Write(report)) {
    FOverflowReported = false;
  } else if (!FOverflowReported) {
    // Reported once per overflow: nobody reads, and the worker goes on.
    FOverflowReported = true;
    SetError(QM_Err_ReceiveBufferOverflow, "SimulDevice: receive buffer full");
  }
  const std::string_view bytes(reinterpret_cast<const char*>(report.data()), report.size());
  if (LogId() >= 0 && LogActive(LogId() + 1)) LogDebug(LogId() + 1, BytesToHex(bytes));
  if (FLowLevelLog && LogActive(LogId())) {
    LogDebug(LogId(), "TQM_SimulDevice." + std::string(what) + " " + BytesToHex(bytes));
  }
}

void TQM_SimulDevice::WriteMessage(std::string_view what, uint16_t header,
                                   std::span<const uint8_t> payload) {
  std::array<uint8_t, df::kMaxMessage> report;
  const size_t length = std::min<size_t>(payload.size(), 255);
  report[0] = report[1] = report[2] = df::kMarker;
  report[3] = df::kMessageMark;
  StoreBE16(&report[4], header);
  report[6] = static_cast<uint8_t>(length);
  std::copy_n(payload.begin(), length, report.begin() + df::kPrefixSize);
  Emit(what, std::span(report).first(df::kPrefixSize + length));
}

void TQM_SimulDevice::WriteDataReport(std::string_view what, uint16_t header, int count) {
  FReport[0] = FReport[1] = FReport[2] = FReport[3] = df::kMarker;
  StoreBE16(&FReport[4], header);
  FReport[6] = static_cast<uint8_t>(count);
  Emit(what,
       std::span(FReport).first(df::kPrefixSize + df::kValueSize * static_cast<size_t>(count)));
}

void TQM_SimulDevice::GenerateTimeStamp() {
  const uint32_t stamp = ++FTimeStamp;
  std::array<uint8_t, 4> payload;
  StoreBE32(payload.data(), stamp);
  WriteMessage("GenerateTimeStamp", 0x7016, payload);
  if (FShared.LTVData() && stamp % 10 == 5) GenerateLTV();
}

void TQM_SimulDevice::GenerateLTV() {
  for (size_t i = 0; i < static_cast<size_t>(FChannelCount); ++i) {
    const double value = FConfig[i].LTVBase + Noise(FConfig[i].LTVStdDev);
    StoreLE(&FReport[df::kPrefixSize + df::kValueSize * i], value);
  }
  WriteDataReport("GenerateLTV", kLTVHeader, FChannelCount);
}

void TQM_SimulDevice::GenerateODI() {
  ++FODICount;
  FODIValue ^= 0x01;
  if (FODICount % 2 == 0) FODIValue ^= 0x04;
  if (FODICount % 5 == 0) FODIValue ^= 0x20;
  std::array<uint8_t, 9> payload;
  payload[0] = ' ';
  for (int digit = 0; digit < 8; ++digit) {
    payload[static_cast<size_t>(8 - digit)] = "0123456789ABCDEF"[(FODIValue >> (4 * digit)) & 0xF];
  }
  WriteMessage("GenerateODI", 0x7100, payload);
}

void TQM_SimulDevice::GenerateStorageAnswers() {
  const bool calibrationRequested = FCommands.GetCalibCmd();
  if (calibrationRequested || F7901ReportNeeded) {
    F7901ReportNeeded = false;
    WriteMessage("GenerateData", 0x7901, FShared.Block(0));
  }
  int block = 0;
  if (F7902ReportNeeded != 0) {
    // Written blocks first, lowest first; a read request waits for a later
    // round instead of being dropped.
    block = std::countr_zero(F7902ReportNeeded) + 1;
    F7902ReportNeeded &= static_cast<uint16_t>(F7902ReportNeeded - 1);
  } else if (FCommands.GetOHRCmd()) {
    const int requested = FCommands.OHRBlock();
    block = requested >= 2 && requested <= 4 ? requested : 1;
  }
  if (block != 0) WriteMessage("GenerateData", 0x7902, FShared.Block(block));
}

void TQM_SimulDevice::GenerateData(uint8_t rate, uint8_t mode, int intervalMs) {
  if (FCommands.VersionCmd()) {
    WriteMessage("GenerateData", 0x7001,
                 AsBytes(FShared.LTVData() ? kVersionTextLTV : kVersionText));
  }
  if (FCommands.ReSyncCmd()) WriteMessage("GenerateData", 0x7F51, AsBytes(kReSyncText));
  GenerateStorageAnswers();
  if (FShared.DigitalInputs()) GenerateODI();

  for (size_t i = 0; i < static_cast<size_t>(FChannelCount); ++i) {
    const TChannelConfig& config = FConfig[i];
    double value = 0.0;
    switch (mode) {
      case 0:
      case 1:  // phase in cycles
        FPhaseValues[i] += (config.Base + Noise(config.StdDev)) / 1000.0 * intervalMs;
        ++FPhaseCount[i];
        value = FPhaseValues[i];
        break;
      case 2:
      case 3:  // frequency
        value = (config.Base + Noise(config.StdDev)) / 1000.0;
        break;
      default:  // differences to channel 1
        value = i == 0 ? 0.0 : Noise(config.StdDev);
        break;
    }
    StoreLE(&FReport[df::kPrefixSize + df::kValueSize * i], value);
  }
  const auto header = static_cast<uint16_t>(((rate + 16 * mode) << 8) | (16 * FScrambler));
  WriteDataReport("GenerateData", header, FChannelCount);
}

void TQM_SimulDevice::Generate7020(uint8_t rate, uint8_t mode) {
  const std::array<uint8_t, 2> payload = {static_cast<uint8_t>(rate + 16 * mode),
                                          static_cast<uint8_t>(16 * FScrambler)};
  WriteMessage("Generate7020", 0x7020, payload);
  ClearPhases();
}

}  // namespace orb
