#pragma once
// A fresh folder per test, removed afterwards.

#include <filesystem>
#include <string>

namespace orb::test {

class TTempFolder {
 public:
  TTempFolder();
  ~TTempFolder();
  TTempFolder(const TTempFolder&) = delete;
  TTempFolder& operator=(const TTempFolder&) = delete;

  const std::filesystem::path& Path() const { return FPath; }
  std::filesystem::path operator/(const std::string& name) const { return FPath / name; }

 private:
  std::filesystem::path FPath;
};

std::string ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, const std::string& content);

}  // namespace orb::test
