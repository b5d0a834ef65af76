// Report requests against the locks of the source list: one request per
// source at a time, and a slow open of one source never holds up another.
#include <gtest/gtest.h>

#include <future>
#include <latch>
#include <thread>

#include "FakeConnectionEnvironment.h"
#include "sources/QM_SourceList.h"

namespace orb {
namespace {

// Hands out a data record per call; its decoder can be held inside a call.
class TEndlessDecoder final : public TQM_ReportDecoder {
 public:
  TEndlessDecoder(std::shared_future<void> gate, std::latch* reading)
      : FGate(std::move(gate)), FReading(reading) {}
  std::string_view Name() const override { return "Endless"; }
  TQM_Result GetReport(TQM_ReportDevice&, std::string&) override { return QM_No_Err; }
  void GetReportStruct(TQM_ReportDevice&, TQM_ReportStruct& record) override {
    if (FGate.valid()) {
      FReading->count_down();
      FGate.wait();
    }
    TQM_Doubles values{};
    record.SetDoubles(0x0910, 1, values);
  }

 private:
  std::shared_future<void> FGate;
  std::latch* FReading;
};

class TOpenDevice final : public TQM_BaseDevice {
 public:
  explicit TOpenDevice(const TDeviceContext& context)
      : TQM_BaseDevice(context.LogId, QM_Remote, context.MultiId, *context.Clock,
                       context.ReceiveEvent) {}
  TQM_Result OpenPort(std::string&) override { return QM_No_Err; }
  void ClosePort() override {}
  TQM_Result DeviceWrite(std::string_view) override { return QM_No_Err; }
  bool CheckDeviceClosed() override { return false; }
};

// "10.0.0.2" opens only when the test lets it; reads of "10.0.0.3" wait for
// the read gate.
class TGatedFactory final : public IDeviceFactory {
 public:
  TQM_Result Create(const TDeviceTarget& target, const TConnectionString&,
                    const TDeviceContext& context, TCreatedDevice& created, std::string&) override {
    if (target.Address == "10.0.0.2") {
      Opening.count_down();
      OpenGate.wait();
    }
    created.Device = std::make_unique<TOpenDevice>(context);
    created.Decoder = std::make_unique<TEndlessDecoder>(
        target.Address == "10.0.0.3" ? ReadGate : std::shared_future<void>(), &Reading);
    return QM_No_Err;
  }
  std::latch Opening{1};
  std::promise<void> OpenRelease;
  std::shared_future<void> OpenGate = OpenRelease.get_future().share();
  std::latch Reading{1};
  std::promise<void> ReadRelease;
  std::shared_future<void> ReadGate = ReadRelease.get_future().share();
};

class SourceListConcurrencyTest : public ::testing::Test {
 protected:
  SourceListConcurrencyTest() {
    services.Factory = &factory;
    services.Environment = &machine;
  }
  test::TFakeConnectionEnvironment machine;
  TGatedFactory factory;
  TSourceServices services;
};

TEST_F(SourceListConcurrencyTest, SlowOpenOfOneSourceDoesNotStopAnother) {
  TSourceList list(services);
  ASSERT_EQ(list.Multi_AddSource(), 1);
  std::string text = "10.0.0.1 ReportStruct";
  ASSERT_EQ(list.Multi_OpenConnectionEx(0, text, false), mcSuccess);

  std::thread opener([&] {
    std::string slow = "10.0.0.2 ReportStruct";
    list.Multi_OpenConnectionEx(1, slow, false);
  });
  factory.Opening.wait();  // source 1 is inside its open now
  TQM_ReportStruct record;
  for (int n = 0; n < 1000; ++n) {
    list.Multi_GetReportStruct(record, 0);
    ASSERT_EQ(record.GetHeader(), 0x0910);
  }
  std::string command = "\x01";
  list.Multi_SendCommand(0, command);  // the main thread reaches source 0 too
  factory.OpenRelease.set_value();
  opener.join();
  list.Multi_GetReportStruct(record, 1);
  EXPECT_EQ(record.GetHeader(), 0x0910);
}

TEST_F(SourceListConcurrencyTest, SecondRequestForTheSameSourceReturnsEmpty) {
  TSourceList list(services);
  std::string text = "10.0.0.3 ReportStruct";
  ASSERT_EQ(list.Multi_OpenConnectionEx(0, text, false), mcSuccess);
  std::promise<TQM_ReportStruct> firstResult;
  std::thread first([&] {
    TQM_ReportStruct record;
    list.Multi_GetReportStruct(record, 0);
    firstResult.set_value(record);
  });
  // The first request is held inside the source; a second one must not wait
  // for it and must not read the source at the same time.
  factory.Reading.wait();
  TQM_ReportStruct second;
  list.Multi_GetReportStruct(second, 0);
  EXPECT_EQ(second.GetReportType(), rt_None);
  factory.ReadRelease.set_value();
  first.join();
  EXPECT_EQ(firstResult.get_future().get().GetHeader(), 0x0910);
}

}  // namespace
}  // namespace orb
