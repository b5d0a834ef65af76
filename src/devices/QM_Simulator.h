#pragma once
// The simulated counter: a transport without hardware. Its worker writes
// time stamps, measurement reports and the answers to commands in the demo
// format into the receive buffer, paced by the selected interval on the
// injected clock; commands are carried out by the device itself.
//
// Demo format: every report starts with a 4-byte marker.
//   data:    FB FB FB FB, header (2 bytes, big-endian), channel count n,
//            n little-endian doubles
//   message: FB FB FB FC, header (2 bytes, big-endian), payload length L,
//            L payload bytes
//
// One state lock guards everything the commands and the worker share
// (settings, phases, counts, request flags): commands hold it while they
// are carried out, the worker for each generation round.

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <random>
#include <span>
#include <string>
#include <string_view>

#include "devices/QM_BaseDevice.h"
#include "devices/QM_SimulShared.h"
#include "devices/QM_SimulThread.h"
#include "protocol/QM_Commands.h"

namespace orb {

namespace demo_format {
constexpr uint8_t kMarker = 0xFB;
constexpr uint8_t kMessageMark = 0xFC;  // the fourth marker byte of a message
constexpr size_t kPrefixSize = 7;       // marker, header, count or length
constexpr size_t kValueSize = 8;
constexpr size_t kMaxDataReport = kPrefixSize + kValueSize * kMaxChannels;
constexpr size_t kMaxMessage = kPrefixSize + 255;
}  // namespace demo_format

class TQM_SimulDevice final : public TQM_BaseDevice, private ISimulReports {
 public:
  static constexpr std::string_view kVersionText = "VERSION Simulator: 5.0 240826";
  static constexpr std::string_view kVersionTextLTV = "VERSION Simulator LTV: 5.0 240826";

  // 4 channels of 10 MHz; the serial number is the next of `shared`.
  TQM_SimulDevice(int logId, int multiId = 0, IClock& clock = SystemClock(),
                  std::shared_ptr<TEvent> receiveEvent = nullptr,
                  TQM_SimulShared& shared = SimulShared());
  ~TQM_SimulDevice() override;

  // The command that sets `channels` channels (1..23; 0 and anything larger:
  // all 24).
  static std::string ChannelCountCommand(int channels);

  // Starts the worker; the phases start from 0.
  TQM_Result OpenPort(std::string& message) override;
  // Stops and joins the worker.
  void ClosePort() override;
  // Carries out one command; a refused one sets the error state.
  TQM_Result DeviceWrite(std::string_view bytes) override;
  bool CheckDeviceClosed() override;

  // Channel 1..24 (others are ignored): frequency base in Hz and the
  // deviation of its noise. A new base restarts the channel's phase.
  void ConfigChannel(int channel, double stdDev, double base);
  int ChannelCount() const;
  // The simulated time of the last time stamp.
  int64_t TimeStampMs() const override { return int64_t{100} * FTimeStamp.load(); }
  // Also logs each generated report on the device's log.
  void SetLowLevelLog(bool on) { FLowLevelLog = on; }
  // Blocks until the worker has generated everything due at the clock's
  // present time; returns at once while closed. Not while closing.
  void WaitGenerated();

 private:
  struct TChannelConfig {
    double Base = 10'000'000.0;
    double StdDev = 0.001;
    double LTVBase = 3'300'000.0;
    double LTVStdDev = 10'000.15;
  };

  // ISimulReports, with the state lock held.
  void GenerateTimeStamp() override;
  void GenerateData(uint8_t rate, uint8_t mode, int intervalMs) override;
  void Generate7020(uint8_t rate, uint8_t mode) override;

  void GenerateLTV();
  void GenerateODI();
  void GenerateStorageAnswers();
  void WriteMessage(std::string_view what, uint16_t header, std::span<const uint8_t> payload);
  // Completes the data report in FReport for `count` values and writes it.
  void WriteDataReport(std::string_view what, uint16_t header, int count);
  void Emit(std::string_view what, std::span<const uint8_t> report);
  TQM_Result Refuse(TQM_Result code, std::string_view message);
  void ClearPhases();
  double Noise(double deviation) { return deviation * FNormal(FRandom); }

  TQM_SimulShared& FShared;
  std::atomic<bool> FLowLevelLog{false};

  mutable std::mutex FStateLock;
  TQM_CommandInterpreter FCommands;
  std::array<TChannelConfig, kMaxChannels> FConfig{};
  std::array<double, kMaxChannels> FPhaseValues{};
  std::array<int64_t, kMaxChannels> FPhaseCount{};
  int FChannelCount = 4;
  uint8_t FScrambler = 0;
  uint32_t FODIValue = 0xFFFFFFFF;
  uint32_t FODICount = 0;
  bool F7901ReportNeeded = false;
  uint16_t F7902ReportNeeded = 0;  // bit k-1 for storage block k
  std::atomic<uint32_t> FTimeStamp{0};
  bool FOverflowReported = false;
  std::array<uint8_t, demo_format::kMaxDataReport> FReport{};
  std::mt19937_64 FRandom;
  std::normal_distribution<double> FNormal{0.0, 1.0};
  // Last, so that it is stopped before the state it works on goes away.
  std::unique_ptr<TQM_SimulThread> FThread;
};

}  // namespace orb
