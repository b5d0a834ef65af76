#pragma once
// File helpers: the program's folder, atomic replacement of saved files and
// files opened for exclusive writing.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace orb {

// The program's folder: the `--home` folder when one was given, else the
// executable's folder when it is writable, else ~/.config/orb (created).
void SetHomeFolder(const std::filesystem::path& folder);
std::filesystem::path ProgramFolder();
std::filesystem::path ExecutablePath();

// Replaces `path` by `content` so that a crash leaves either the old or the
// new file: temporary file beside it, flush to disk, rename over the target.
bool WriteFileAtomic(const std::filesystem::path& path, std::string_view content,
                     std::string& error);

bool ReadWholeFile(const std::filesystem::path& path, std::string& content, std::string& error);

// A file opened for writing that no other writer can open at the same time
// (advisory lock, held until Close). Positions are byte offsets.
// True when a file can be created in `folder`: a uniquely named probe file
// is created and removed again, so no file of the user's is ever touched.
bool ProbeWritableFolder(const std::filesystem::path& folder, std::string& reason);

class TExclusiveFile;
// Creates folder/(stem + ending), or folder/(stem + "-2" + ending) and so on
// when that name is taken, so that an earlier file is never overwritten.
// Returns the path created, or an empty path with `error` set.
std::filesystem::path CreateUniqueFile(const std::filesystem::path& folder, std::string_view stem,
                                       std::string_view ending, TExclusiveFile& file,
                                       std::string& error);

class TExclusiveFile {
 public:
  TExclusiveFile() = default;
  ~TExclusiveFile();
  TExclusiveFile(const TExclusiveFile&) = delete;
  TExclusiveFile& operator=(const TExclusiveFile&) = delete;
  TExclusiveFile(TExclusiveFile&& other) noexcept;
  TExclusiveFile& operator=(TExclusiveFile&& other) noexcept;

  // Creates the file when missing; `truncate` empties it. False with `error`
  // set when it cannot be opened or another writer holds it.
  bool Open(const std::filesystem::path& path, bool truncate, std::string& error);
  // Only a file that does not exist yet; false (errno EEXIST) otherwise.
  bool CreateNew(const std::filesystem::path& path, std::string& error);
  void Close();
  bool IsOpen() const { return FFd >= 0; }

  bool Write(std::string_view data);  // the whole text or false
  bool Seek(int64_t position);
  bool TruncateAtPosition();
  int64_t Position() const;

 private:
  int FFd = -1;
  int64_t FPosition = 0;  // where the next write goes
};

}  // namespace orb
