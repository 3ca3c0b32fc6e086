// A fresh folder for one test, removed with everything in it afterwards.
#pragma once

#include <atomic>
#include <filesystem>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace corvane::test {

class TempDir {
 public:
  TempDir() {
    static std::atomic<int> counter{0};
    namespace fs = std::filesystem;
    for (;;) {
      path_ = fs::temp_directory_path() / ("corvane-test-" + std::to_string(Pid()) + "-" + std::to_string(counter++));
      if (fs::create_directory(path_)) break;
    }
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  // An ASCII path inside the folder, as 8-bit text for the "A" style helpers.
  std::string File(const std::string& name) const { return (path_ / name).string(); }

  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path_)) names.push_back(entry.path().filename().string());
    return names;
  }

 private:
  static long Pid();
  std::filesystem::path path_;
};

inline long TempDir::Pid() {
#ifdef _WIN32
  return static_cast<long>(GetCurrentProcessId());
#else
  return static_cast<long>(getpid());
#endif
}

// Wide paths on Windows: the narrow stream functions would go through the ANSI code page.
inline std::FILE* OpenFile(const std::filesystem::path& path, bool write) {
#ifdef _WIN32
  return _wfopen(path.c_str(), write ? L"wb" : L"rb");
#else
  return std::fopen(path.c_str(), write ? "wb" : "rb");
#endif
}

inline std::FILE* OpenAppend(const std::filesystem::path& path) {
#ifdef _WIN32
  return _wfopen(path.c_str(), L"ab");
#else
  return std::fopen(path.c_str(), "ab");
#endif
}

inline void WriteFileBytes(const std::filesystem::path& path, const std::vector<unsigned char>& bytes) {
  std::FILE* f = OpenFile(path, true);
  if (f == nullptr) throw std::runtime_error("cannot create " + path.string());
  const bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  if (std::fclose(f) != 0 || !ok) throw std::runtime_error("cannot write " + path.string());
}

// The file's bytes; empty when it cannot be opened.
inline std::vector<unsigned char> ReadFileBytes(const std::filesystem::path& path) {
  std::vector<unsigned char> bytes;
  std::FILE* f = OpenFile(path, false);
  if (f == nullptr) return bytes;
  unsigned char chunk[65536];
  for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) != 0;) bytes.insert(bytes.end(), chunk, chunk + n);
  std::fclose(f);
  return bytes;
}

}  // namespace corvane::test
