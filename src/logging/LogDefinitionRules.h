#pragma once
// The rules of the dialog "Define Log Configuration", without a window: the
// automatic file name, the string class of a panel, when "Ok" is allowed
// and the size choices.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "logging/App_LogDefinition.h"

namespace orb {

// What a panel of the dialog logs: one part of one session.
enum class TLogPanelPart { Counter, CounterVirtual, LTV, LTVVirtual, Sensor };

// "ORC_", "ORCV_", "LTV_", "LTVV_" or "" for sensors, after the letter and "_".
std::string LogPanelName(std::string_view letter, TLogPanelPart part);
TSamplerStringClass LogPanelStringClass(TLogPanelPart part, uint32_t types);
// The file-name tokens of the first panel's types, "_", the letters of the
// sources in the order added, "_", the definition number and ".txt".
std::string AutoLogFileName(uint32_t firstPanelTypes, std::string_view letters, int number);
// Phase and frequency of channels 1 to 24 of each counter session in
// `sessions` (the first the main source) into `fileName`, with a header, no
// date prefix, no size limit, enabled.
std::unique_ptr<TLogDefinition> PhaseAndFrequencyDefinition(const std::vector<int>& sessions,
                                                            const std::string& fileName);

// Every panel has a type and a channel or card.
bool LogDefinitionComplete(const std::vector<const TSimpleLogDefinition*>& panels);

constexpr std::array<std::string_view, 6> kLogFileSizeCaptions = {"unlimited", "128 MB", "256 MB",
                                                                  "512 MB",    "1 GB",   "2 GB"};
// The caption index of a stored size; a size not offered shows "unlimited".
int LogFileSizeIndex(int64_t bytes);

}  // namespace orb
