// Readers for the known-answer files in tests/vectors.
#pragma once

#include <cstdint>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace corvane::test {

using Bytes = std::vector<unsigned char>;

inline Bytes FromHex(const std::string& hex) {
  if (hex.size() % 2 != 0) throw std::runtime_error("odd hex length: " + hex);
  Bytes out;
  for (std::size_t i = 0; i < hex.size(); i += 2) out.push_back(static_cast<unsigned char>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  return out;
}

inline std::string ToHex(const unsigned char* data, std::size_t n) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (std::size_t i = 0; i < n; ++i) {
    out += digits[data[i] >> 4];
    out += digits[data[i] & 15];
  }
  return out;
}
inline std::string ToHex(const Bytes& b) { return ToHex(b.data(), b.size()); }

inline std::string VectorPath(const std::string& name) { return std::string(CORVANE_VECTOR_DIR) + "/" + name; }

inline std::vector<std::string> DataLines(const std::string& name) {
  std::ifstream in(VectorPath(name), std::ios::binary);
  if (!in) throw std::runtime_error("cannot open vector file " + VectorPath(name));
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    lines.push_back(line);
  }
  return lines;
}

// blowfish_le.txt: key, one plaintext block, its ciphertext (hex, space separated).
struct BlockVector {
  Bytes key, plaintext, ciphertext;
};

inline std::vector<BlockVector> BlowfishBlockVectors() {
  std::vector<BlockVector> out;
  for (const std::string& line : DataLines("blowfish_le.txt")) {
    std::istringstream fields(line);
    std::string k, p, c;
    fields >> k >> p >> c;
    out.push_back({FromHex(k), FromHex(p), FromHex(c)});
  }
  return out;
}

// blowfish_ecb_buffers.txt: key text, plaintext, zero-padded ECB ciphertext (TAB separated).
struct BufferVector {
  std::string key;
  Bytes plaintext, ciphertext;
};

inline std::vector<BufferVector> BlowfishBufferVectors() {
  std::vector<BufferVector> out;
  for (const std::string& line : DataLines("blowfish_ecb_buffers.txt")) {
    const std::size_t tab1 = line.find('\t');
    const std::size_t tab2 = line.find('\t', tab1 + 1);
    if (tab1 == std::string::npos || tab2 == std::string::npos) throw std::runtime_error("bad line: " + line);
    out.push_back({line.substr(0, tab1), FromHex(line.substr(tab1 + 1, tab2 - tab1 - 1)), FromHex(line.substr(tab2 + 1))});
  }
  return out;
}

}  // namespace corvane::test
