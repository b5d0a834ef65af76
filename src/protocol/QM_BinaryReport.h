#pragma once
// ColdFire binary reports as the framing layer cuts them out: the header
// check that splits header and body (and packed reports into their
// sub-reports), and the decoded record of one report. The text line of the
// legacy interface is in QM_BinaryText.h.
//
// A report that fails a check becomes a QM_Err_BadFormat record; device
// bytes never index memory unchecked.

#include <cstdint>
#include <string>
#include <string_view>

#include "protocol/QM_CommonTypes.h"
#include "protocol/QM_Report.h"

namespace orb {

// What the decoders need from the device and the source that own them.
class IBinaryReportHost {
 public:
  virtual ~IBinaryReportHost() = default;

  virtual TQM_PeerType PeerType() const = 0;
  // The device's last received second.
  virtual uint32_t ReceivedSec() const = 0;
  virtual void SetReceivedSec(uint32_t second) = 0;
  // The user id on the device; 255 while unknown.
  virtual int UserId() const = 0;
  // Calibration values are sent multiplied by this factor.
  virtual int CalibFactorFloatToInt() const = 0;
  // The connected-user table of a 0x7030 body as text.
  virtual std::string ConnectedUsersText(std::string_view body) = 0;
  // Checks a 0x7902 flash or FRAM block (and may request the next block);
  // returns its "7902; ..." text, or an empty text while a read goes on.
  virtual std::string Check7902Report(std::string_view body) = 0;
  // The source's per-second data check; an error text or nothing.
  virtual std::string CheckDataPerSecondCounter() = 0;
  // The program's library version text.
  virtual std::string LibraryVersionText() const = 0;
};

// Splits `report` into header and `body`: sets FHeader, FIsData, FDataHeader
// and, for a packed report, keeps its sub-reports (the first one is `body`,
// the others come from NextPackedReport). A data header with the lost-data
// bit resets the checks; a data body beyond 24 records of `recordSize` bytes
// is cut (records are 8 bytes long for the simulator and ESP peers, else
// 7). A report too short for its header gives a QM_Err_BadFormat record.
TQM_Result CheckHeader(TSourceCodecState& state, std::string_view report, int recordSize,
                       std::string_view& body, TQM_ReportStruct& record);

// The next pending sub-report of a packed report, with the lost-data bit
// cleared from its header; false when none is pending. `body` stays valid
// until the next CheckHeader.
bool NextPackedReport(TSourceCodecState& state, std::string_view& body);

// The decoded record of a body that CheckHeader or NextPackedReport gave.
// QM_Err_BadFormat (error record) for a data header without scale entry.
TQM_Result ProcessBinReportStruct(TSourceCodecState& state, IBinaryReportHost& host,
                                  std::string_view body, TQM_ReportStruct& record);

}  // namespace orb
