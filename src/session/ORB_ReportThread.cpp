#include "session/ORB_ReportThread.h"

#include <exception>

#include "logging/LogUnit.h"
#include "session/ORB_DebugConf.h"
#include "session/ORB_Sessions.h"

namespace orb {

TORB_ReportThread::TORB_ReportThread(const TReportThreadServices& services,
                                     std::vector<TSessionItem*> sessions)
    : FServices(services),
      FReceiveEvent(services.ReceiveEvent ? services.ReceiveEvent : NamedEvent("BaseReceiveEvent")),
      FSessions(std::move(sessions)) {
  FThread.Start("ReportThread", [this](std::stop_token stop) { Execute(stop); });
}

TORB_ReportThread::~TORB_ReportThread() { Terminate(); }

void TORB_ReportThread::Terminate() {
  if (!FThread.Joinable()) return;
  FThread.RequestStop();
  FReceiveEvent->SetEvent();  // ends the wait between passes
  FThread.Join();
  // Nobody is inside a session any more.
  std::lock_guard lock(FLock);
  FCurrent = nullptr;
  FInPass = false;
}

void TORB_ReportThread::SetSessions(std::vector<TSessionItem*> sessions) {
  std::lock_guard lock(FLock);
  FSessions = std::move(sessions);
  ++FListVersion;
}

void TORB_ReportThread::RemoveSession(TSessionItem* aSession) {
  std::unique_lock lock(FLock);
  FRemovedSession = aSession;
  if (aSession == nullptr) return;
  ++FWaiters;
  FLeft.wait(
      lock, [&] { return FCurrent != aSession && (!FInPass || FSnapshotVersion == FListVersion); });
  --FWaiters;
}

void TORB_ReportThread::Execute(std::stop_token stop) {
  Log(".Execute START");
  while (!stop.stop_requested()) {
    try {
      // Read before the pass: a device that signals during the pass ends
      // the wait at once.
      const uint64_t seen = FReceiveEvent->Generation();
      int openCount = 0;
      const bool taken = Pass(openCount);
      if (taken || stop.stop_requested()) continue;
      const int64_t wait = openCount == 0      ? kIdleWaitMs
                           : FHasSerialSession ? kSerialWaitMs
                                               : kReceiveTimeoutMs;
      FReceiveEvent->ResetEvent();
      const int64_t deadline = FServices.Clock->MonotonicMs() + wait;
      FWaitMs = wait;
      FReceiveEvent->WaitForChangeUntil(seen, deadline);
      FWaitMs = 0;
    } catch (const std::exception& e) {
      LeaveSession();
      Log(".Execute failed");
      Failed(nullptr, ExceptionClassName(e), e.what());
    } catch (...) {
      LeaveSession();
      Failed(nullptr, "unknown", "");
    }
  }
  Log(".Execute END");
}

bool TORB_ReportThread::Pass(int& openCount) {
  {
    std::lock_guard lock(FLock);
    if (FSnapshotVersion != FListVersion) {
      FSnapshot = FSessions;
      FSnapshotVersion = FListVersion;
    }
    FInPass = true;
  }
  bool taken = false;
  bool serial = false;
  for (TSessionItem* session : FSnapshot) {
    if (!EnterSession(session)) continue;
    if (session->OpenString() != "none") {
      serial = serial || IsOlderSerialCounter(*session);
      if (session->IsRunning()) ++openCount;
      try {
        if (session->GetReport()) taken = true;
      } catch (const std::exception& e) {
        Failed(session, ExceptionClassName(e), e.what());
      } catch (...) {
        Failed(session, "unknown", "");
      }
    }
    LeaveSession();
  }
  FHasSerialSession = serial;
  bool wake = false;
  {
    std::lock_guard lock(FLock);
    FInPass = false;
    wake = FWaiters > 0;
  }
  if (wake) FLeft.notify_all();
  ++FPassCount;
  return taken;
}

bool TORB_ReportThread::EnterSession(TSessionItem* session) {
  if (session == nullptr) return false;
  {
    std::lock_guard lock(FLock);
    if (session != FRemovedSession) {
      FCurrent = session;
      return true;
    }
  }
  if (FServices.Debug != nullptr && FServices.Debug->Active(dcReportThread)) {
    Log(std::string(session->SessionType() == 0 ? ".GetQMReport" : ".GetSensorReport") +
        ": session removed " + session->ToString());
  }
  return false;
}

void TORB_ReportThread::LeaveSession() {
  bool wake = false;
  {
    std::lock_guard lock(FLock);
    FCurrent = nullptr;
    wake = FWaiters > 0;
  }
  if (wake) FLeft.notify_all();
}

void TORB_ReportThread::Failed(TSessionItem* session, const std::string& className,
                               const std::string& what) {
  bool removed = false;
  if (session != nullptr) {
    std::lock_guard lock(FLock);
    removed = session == FRemovedSession;
  }
  if (removed) {
    Log(".Execute session removed -> ignore Exception " + what);
    return;
  }
  TMessageItem item;
  item.MsgType = mtError;
  item.Code = kInternalException;
  item.ViaThread = true;
  if (session != nullptr) {
    Log(std::string(session->SessionType() == 0 ? ".GetQMReport" : ".GetSensorReport") +
        " failed: " + session->ToString() + " " + what);
    item.sIndex = session->Index();
    item.sColor = session->Color();
    item.Text = "Internal Exception GetReport(" + className + "): " + what;
  } else {
    item.Text = "Internal Exception ReportThread(" + className + "): " + what;
  }
  // A failure that repeats at every pass is shown once.
  std::string failure = std::to_string(item.sIndex) + " " + item.Text;
  if (failure == FLastFailure) return;
  FLastFailure = std::move(failure);
  if (FServices.OnMsg) FServices.OnMsg(std::move(item));
}

bool TORB_ReportThread::IsOlderSerialCounter(const TSessionItem& session) const {
  if (session.SessionType() != 0 || session.ConnectionType() != ctSerial) return false;
  const auto* counter = dynamic_cast<const TQMSessionItem*>(&session);
  return counter != nullptr && !counter->IsESP();
}

void TORB_ReportThread::Log(const std::string& text) const {
  if (FServices.Debug != nullptr) FServices.Debug->Info(dcReportThread, FDbgTag + text);
}

}  // namespace orb
