#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "devices/LoopbackTransport.h"
#include "devices/QM_ReportDevice.h"
#include "devices/QM_TextLineDecoder.h"
#include "protocol/ByteOrder.h"

namespace orb {
namespace {

using test::TLoopbackTransport;

std::string Numbered(uint32_t n) {
  std::string command(4, '\0');
  StoreBE32(reinterpret_cast<uint8_t*>(command.data()), n);
  return command;
}

// The main thread sends while the report thread pumps: each command reaches
// the device exactly once and in the order sent, whether it was written at
// once or queued.
void SendWhileTheEngineRuns(bool ownCommandList) {
  TFakeClock clock;
  TLoopbackTransport device(clock);
  device.SetHasCommandList(ownCommandList);
  TSourceCodecState codec;
  TQM_ReportDevice report(device, codec, std::make_unique<TQM_TextLineDecoder>());
  constexpr uint32_t kCommands = 20'000;

  std::atomic<bool> sent{false};
  std::thread sender([&] {
    for (uint32_t n = 0; n < kCommands; ++n) {
      std::string command = Numbered(n);
      EXPECT_EQ(report.SendCommand(command), QM_No_Err);
    }
    sent = true;
  });
  TQM_ReportStruct record;
  while (!sent || report.GetPendingCmdsCount() > 0) report.GetReportStruct(record);
  sender.join();

  const std::vector<std::string> written = device.Written();
  ASSERT_EQ(written.size(), kCommands);
  for (uint32_t n = 0; n < kCommands; ++n) ASSERT_EQ(written[n], Numbered(n)) << n;
}

TEST(CommandQueueConcurrency, QueuedOnlyCommandsAreWrittenOnceInOrder) {
  SendWhileTheEngineRuns(false);
}

TEST(CommandQueueConcurrency, DirectAndQueuedWritesNeverOverlapOrReorder) {
  SendWhileTheEngineRuns(true);
}

// A blocking read wakes on new data even when a reader of another device
// resets the shared event between its try and its wait. The fake clock never
// moves, so a lost wake-up would hang here.
TEST(BlockingReadConcurrency, NoWakeUpIsLostOnASharedEvent) {
  TFakeClock clock;
  auto event = std::make_shared<TEvent>(clock);
  TLoopbackTransport reader(clock, QM_HID, ptColdfire, event);
  TLoopbackTransport other(clock, QM_HID, ptColdfire, event);
  reader.SetBlockingIO(true);

  std::atomic<bool> done{false};
  std::thread resetter([&] {
    uint8_t value = 0;
    while (!done) other.ReceiveBuffer().PeekChar(value);  // finds nothing, resets the event
  });
  constexpr int kRounds = 300;
  std::thread writer([&] {
    for (int i = 0; i < kRounds; ++i) reader.Push(std::string(1, static_cast<char>(i)));
  });
  int received = 0;
  std::string out;
  while (received < kRounds) {
    ASSERT_TRUE(reader.DeviceRead(1, out));
    EXPECT_EQ(static_cast<uint8_t>(out[0]), static_cast<uint8_t>(received));
    ++received;
  }
  writer.join();
  done = true;
  resetter.join();
}

// Transport threads set errors while the report thread takes them: every
// message taken is whole and belongs to its code.
TEST(DeviceErrorConcurrency, TakenErrorsAreNeverTorn) {
  TFakeClock clock;
  TLoopbackTransport device(clock);
  TSourceCodecState codec;
  TQM_ReportDevice report(device, codec, std::make_unique<TQM_TextLineDecoder>());
  const std::string overflow(200, 'o');
  const std::string write(300, 'w');
  std::atomic<bool> done{false};
  std::thread transport([&] {
    for (int i = 0; i < 20'000; ++i) {
      if (i % 2 == 0) {
        device.SetError(QM_Err_ReceiveBufferOverflow, overflow);
      } else {
        device.SetError(QM_WriteError, write);
      }
    }
    done = true;
  });
  int taken = 0;
  while (!done || device.ErrorCode() != QM_No_Err) {
    std::string message;
    const TQM_Result code = report.CheckDeviceError(message);
    if (code == QM_No_Err) continue;
    ++taken;
    ASSERT_EQ(message, code == QM_WriteError ? write : overflow);
  }
  transport.join();
  EXPECT_GT(taken, 0);
}

}  // namespace
}  // namespace orb
