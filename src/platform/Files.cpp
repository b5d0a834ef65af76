#include "platform/Files.h"

#include "platform/NumberFormat.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>

namespace orb {

namespace fs = std::filesystem;

namespace {
std::mutex gHomeLock;
fs::path gHomeFolder;

std::string ErrnoText(const std::string& what, const fs::path& path) {
  return what + " " + path.string() + ": " + std::strerror(errno);
}

bool IsWritableFolder(const fs::path& folder) {
  return !folder.empty() && access(folder.c_str(), W_OK | X_OK) == 0;
}
}  // namespace

void SetHomeFolder(const fs::path& folder) {
  std::lock_guard lock(gHomeLock);
  gHomeFolder = folder;
}

fs::path ExecutablePath() {
  std::error_code error;
  const fs::path path = fs::read_symlink("/proc/self/exe", error);
  return error ? fs::path() : path;
}

fs::path ProgramFolder() {
  {
    std::lock_guard lock(gHomeLock);
    if (!gHomeFolder.empty()) {
      fs::create_directories(gHomeFolder);
      return gHomeFolder;
    }
  }
  const fs::path exeFolder = ExecutablePath().parent_path();
  if (IsWritableFolder(exeFolder)) return exeFolder;
  const char* home = std::getenv("HOME");
  const fs::path fallback = fs::path(home != nullptr ? home : ".") / ".config" / "orb";
  fs::create_directories(fallback);
  return fallback;
}

bool WriteFileAtomic(const fs::path& path, std::string_view content, std::string& error) {
  static std::atomic<unsigned> counter{0};
  const fs::path temp = path.string() + ".tmp" + std::to_string(getpid()) + "_" +
                        std::to_string(counter.fetch_add(1));
  const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) {
    error = ErrnoText("cannot create", temp);
    return false;
  }
  size_t written = 0;
  while (written < content.size()) {
    const ssize_t n = write(fd, content.data() + written, content.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    written += static_cast<size_t>(n);
  }
  const bool ok = written == content.size() && fsync(fd) == 0;
  if (!ok) error = ErrnoText("cannot write", temp);
  close(fd);
  if (ok && rename(temp.c_str(), path.c_str()) == 0) {
    // The rename itself must reach the disk too.
    const int dir = open(path.parent_path().empty() ? "." : path.parent_path().c_str(),
                         O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
      fsync(dir);
      close(dir);
    }
    return true;
  }
  if (ok) error = ErrnoText("cannot rename to", path);
  unlink(temp.c_str());
  return false;
}

bool ReadWholeFile(const fs::path& path, std::string& content, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = ErrnoText("cannot open", path);
    return false;
  }
  std::ostringstream data;
  data << in.rdbuf();
  content = std::move(data).str();
  return true;
}

TExclusiveFile::~TExclusiveFile() { Close(); }

TExclusiveFile::TExclusiveFile(TExclusiveFile&& other) noexcept
    : FFd(other.FFd), FPosition(other.FPosition) {
  other.FFd = -1;
}

TExclusiveFile& TExclusiveFile::operator=(TExclusiveFile&& other) noexcept {
  if (this != &other) {
    Close();
    FFd = other.FFd;
    FPosition = other.FPosition;
    other.FFd = -1;
  }
  return *this;
}

bool TExclusiveFile::Open(const fs::path& path, bool truncate, std::string& error) {
  Close();
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    error = ErrnoText("cannot open", path);
    return false;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    error = ErrnoText("in use by another writer:", path);
    close(fd);
    return false;
  }
  if (truncate && ftruncate(fd, 0) != 0) {
    error = ErrnoText("cannot empty", path);
    close(fd);
    return false;
  }
  const off_t end = truncate ? 0 : lseek(fd, 0, SEEK_END);
  if (end < 0) {
    error = ErrnoText("cannot open", path);
    close(fd);
    return false;
  }
  FFd = fd;
  FPosition = end;
  return true;
}

bool TExclusiveFile::CreateNew(const fs::path& path, std::string& error) {
  Close();
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) {
    error = ErrnoText("cannot create", path);
    return false;
  }
  flock(fd, LOCK_EX | LOCK_NB);  // a new file has no other writer yet
  FFd = fd;
  FPosition = 0;
  return true;
}

void TExclusiveFile::Close() {
  if (FFd < 0) return;
  close(FFd);  // also releases the lock
  FFd = -1;
}

bool TExclusiveFile::Write(std::string_view data) {
  if (FFd < 0) return false;
  // The position is kept here: pwrite spares the kernel the lock of the
  // shared file position on every line.
  while (!data.empty()) {
    const ssize_t n = pwrite(FFd, data.data(), data.size(), static_cast<off_t>(FPosition));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data.remove_prefix(static_cast<size_t>(n));
    FPosition += n;
  }
  return true;
}

bool TExclusiveFile::Seek(int64_t position) {
  if (FFd < 0 || position < 0) return false;
  FPosition = position;
  return true;
}

bool TExclusiveFile::TruncateAtPosition() {
  return FFd >= 0 && ftruncate(FFd, static_cast<off_t>(FPosition)) == 0;
}

int64_t TExclusiveFile::Position() const { return FFd >= 0 ? FPosition : -1; }

bool ProbeWritableFolder(const fs::path& folder, std::string& reason) {
  std::string name = (folder / ".orb-probe-XXXXXX").string();
  const int fd = mkstemp(name.data());
  if (fd < 0) {
    reason = std::strerror(errno);
    return false;
  }
  close(fd);
  unlink(name.c_str());
  return true;
}

fs::path CreateUniqueFile(const fs::path& folder, std::string_view stem, std::string_view ending,
                          TExclusiveFile& file, std::string& error) {
  constexpr int kMaxTries = 1000;
  for (int n = 1; n <= kMaxTries; ++n) {
    std::string name(stem);
    if (n > 1) {
      name += '-';
      name += IntToText(n);
    }
    name += ending;
    const fs::path path = folder / name;
    if (file.CreateNew(path, error)) return path;
    if (errno != EEXIST) return {};
  }
  error = "no free file name for " + std::string(stem) + std::string(ending);
  return {};
}

}  // namespace orb
