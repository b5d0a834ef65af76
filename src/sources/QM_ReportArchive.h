#pragma once
// Where a source hands the binary reports it receives to be archived.

#include <string_view>

namespace orb {

class IReportArchive {
 public:
  virtual ~IReportArchive() = default;
  // One archive item: a length byte and that many bytes of one binary
  // report. Called on the report thread under the source's operation lock.
  virtual void ArchiveData(std::string_view Item) = 0;
};

}  // namespace orb
