// Arbitrary file content (short files, lying headers, partial blocks) through the
// encrypted-file reader: -202 with nothing written, or exactly the stated length.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "crypt/file_cipher.h"
#include "crypt/status.h"
#include "fuzz/fuzz_input.h"

namespace {

const std::string& Folder() {
  static const std::string folder = [] {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/corvane-fuzz-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    return pattern;
  }();
  return folder;
}

long FileSize(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return -1;
  std::fseek(f, 0, SEEK_END);
  const long size = std::ftell(f);
  std::fclose(f);
  return size;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace corvane;
  const fuzz::KeyAndData input = fuzz::SplitKey(data, size);
  const std::string in = Folder() + "/in.bf", out = in + ".bf";
  std::remove(out.c_str());
  std::FILE* f = std::fopen(in.c_str(), "wb");
  if (f == nullptr) std::abort();
  if (input.size != 0 && std::fwrite(input.data, 1, input.size, f) != input.size) std::abort();
  std::fclose(f);

  CDunlow dunlow;
  const std::int32_t status =
      DecryptFileBeside(dunlow, in.c_str(), kEncryptedFileSuffix, kLengthHeaderSize,
                        reinterpret_cast<const unsigned char*>(input.key.c_str()), static_cast<std::int32_t>(input.key.size()));
  std::uint32_t stated = 0;
  for (std::size_t i = 0; i < 4 && i < input.size; ++i) stated |= static_cast<std::uint32_t>(input.data[i]) << (8 * i);
  const bool consistent = input.size >= 4 && input.size - 4 >= stated;
  if (status == STATUS_OK) {
    if (!consistent || FileSize(out) != static_cast<long>(stated)) std::abort();
  } else if (status == STATUS_SHORT_FILE) {
    if (consistent || FileSize(out) != -1) std::abort();
  } else {
    std::abort();
  }
  return 0;
}
