#pragma once
// Recording fakes of the counter store's sinks and builders of its reports.

#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "data/ORC_DataManagement.h"

namespace orb::test {

// Header words: mode in bits 14..12, interval index in bits 11..8.
constexpr uint16_t Header(int mode, int intervalIndex = 9) {
  return static_cast<uint16_t>(mode << 12 | intervalIndex << 8);
}
constexpr uint16_t kPhase1s = Header(0);
constexpr uint16_t kFreq1s = Header(2);
constexpr uint16_t kDiff1s = Header(4);
constexpr uint16_t kRaw1ms = Header(6, 0);

inline TQM_ReportStruct PhaseReport(uint16_t header, std::initializer_list<Phase> phases,
                                    int64_t deviceMs = 1) {
  TQM_ReportPhases values{};
  std::copy(phases.begin(), phases.end(), values.begin());
  TQM_ReportStruct report;
  report.SetPhases(header, static_cast<int>(phases.size()), values);
  report.SetDeviceMs(deviceMs);
  return report;
}

inline TQM_ReportStruct DoubleReport(uint16_t header, std::initializer_list<double> doubles,
                                     int64_t deviceMs = 1) {
  TQM_Doubles values{};
  std::copy(doubles.begin(), doubles.end(), values.begin());
  TQM_ReportStruct report;
  report.SetDoubles(header, static_cast<int>(doubles.size()), values);
  report.SetDeviceMs(deviceMs);
  return report;
}

struct TRecordingSampler : IDataSampler {
  void AddStrings(int, bool, const TReportStrings& s) override { Strings.push_back(s); }
  void AddStringsVirtual(int, bool, const TReportStrings& s) override { Virtual.push_back(s); }
  void AddStringsSpecial(int, bool, const TReportStrings& s) override { Special.push_back(s); }
  void SetSessionSyncTime(int, bool, std::string_view t) override { SyncTimes.emplace_back(t); }
  void AddWarning(int, bool, std::string_view t) override { Warnings.emplace_back(t); }
  void UpdateSession(int, bool, int code, std::string_view text) override {
    Updates.push_back(std::to_string(code) + ":" + std::string(text));
  }
  std::vector<TReportStrings> Strings, Virtual, Special;
  std::vector<std::string> SyncTimes, Warnings, Updates;
};

struct TRecordingServer : IDataServerOutput {
  void AddServerLine(int multiId, int type, std::string_view line) override {
    Lines.push_back(std::to_string(multiId) + "/" + std::to_string(type) + ":" + std::string(line));
  }
  std::vector<std::string> Lines;
};

// A store with recording sinks and its messages as "code text".
struct TORCFixture {
  TORCFixture() : Store(std::make_unique<TORC_DataManagement>(-1, 0, false, Options)) {
    Store->SetSampler(&Sampler);
    Store->SetServerOutput(&Server);
    Store->SetOnError([this](int code, int, const std::string& text) {
      Errors.push_back(std::to_string(code) + " " + text);
    });
    Store->SetOnWarning([this](int code, int, const std::string& text) {
      Warnings.push_back(std::to_string(code) + " " + text);
    });
  }
  // Feeds reports of one channel, each phase `step` periods after the last.
  void FeedPhases(int count, Phase& phase, double step, uint16_t header = kPhase1s) {
    for (int i = 0; i < count; ++i) {
      Store->ExtractReport(PhaseReport(header, {phase}));
      Phase delta;
      delta.FromDouble(step);
      phase = Phase::Add(phase, delta);
    }
  }

  TLogOptionsSnapshot Options;
  TRecordingSampler Sampler;
  TRecordingServer Server;
  std::unique_ptr<TORC_DataManagement> Store;
  std::vector<std::string> Errors;
  std::vector<std::string> Warnings;
};

}  // namespace orb::test
