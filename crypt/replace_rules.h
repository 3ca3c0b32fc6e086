// The rules of replacing a file safely, as pure functions: which targets are left
// alone, and the name of the temporary file written beside the target. They are
// portable so that the Windows rules, which Wine does not enforce (MAX_PATH, file
// symbolic links), are tested natively as well as under Wine.
#pragma once

#include <cstddef>
#include <cstdint>

namespace corvane {

// Why a file operation failed, for messages that name the cause.
enum class FileProblem {
  kNone,
  kNotFound,            // no such file, or a folder on its path is missing
  kFolder,              // a folder where a file is expected
  kNotRegular,          // a device, a pipe or a socket where a file is expected
  kNoAccess,            // permission denied
  kReadOnly,            // a read-only file at the output path
  kReadOnlyFileSystem,  // the file system is mounted read-only
  kSymbolicLink,        // a symbolic link at the output path
  kInUse,               // another program holds the file open
  kNoSpace,             // no space left on the device, or the quota is used up
  kNameTooLong,         // the path, or a name in it, is too long for the file system
  kBadName,             // not a valid file name (or not representable in the code page)
  kOther,               // another error of the system (its code is kept beside)
};

// What is at the output path when it is about to be replaced.
enum class TargetKind { kMissing, kFile, kReadOnlyFile, kFolder, kSymbolicLink, kOther };

// kNone where the output may be created (kMissing) or replaced (kFile); otherwise why
// the target is left as it is. A symbolic link is refused rather than replaced by a
// file or followed: both platforms treat it alike, and a link planted at an output
// path can then never redirect a write.
constexpr FileProblem RefusalOf(TargetKind kind) {
  switch (kind) {
    case TargetKind::kMissing:
    case TargetKind::kFile:
      return FileProblem::kNone;
    case TargetKind::kReadOnlyFile:
      return FileProblem::kReadOnly;
    case TargetKind::kFolder:
      return FileProblem::kFolder;
    case TargetKind::kSymbolicLink:
      return FileProblem::kSymbolicLink;
    default:
      return FileProblem::kNotRegular;
  }
}

// Windows: what GetFileAttributes's bits (and, for a reparse point, its tag) describe.
// Reparse points other than symbolic links (cloud placeholders, deduplicated files) are
// ordinary files to their users and are replaced like any other file.
namespace windows_bits {
constexpr std::uint32_t kInvalidAttributes = 0xFFFFFFFFu;
constexpr std::uint32_t kReadOnly = 0x1, kFolder = 0x10, kDevice = 0x40, kReparsePoint = 0x400;
constexpr std::uint32_t kSymbolicLinkTag = 0xA000000Cu, kUnixSymbolicLinkTag = 0xA000001Du;
}  // namespace windows_bits

constexpr TargetKind WindowsTargetKind(std::uint32_t attributes, std::uint32_t reparseTag) {
  namespace bits = windows_bits;
  if (attributes == bits::kInvalidAttributes) return TargetKind::kMissing;
  if ((attributes & bits::kFolder) != 0) return TargetKind::kFolder;
  if ((attributes & bits::kReparsePoint) != 0 &&
      (reparseTag == bits::kSymbolicLinkTag || reparseTag == bits::kUnixSymbolicLinkTag))
    return TargetKind::kSymbolicLink;
  if ((attributes & bits::kDevice) != 0) return TargetKind::kOther;
  if ((attributes & bits::kReadOnly) != 0) return TargetKind::kReadOnlyFile;
  return TargetKind::kFile;
}

// Whether the finished temporary file may take the target's place through ReplaceFileW,
// which keeps the target's ACL, attributes and streams: only where symbolic links are
// reported (the volume has reparse points), so that one is refused before ReplaceFileW
// could follow it, and not on Wine, whose ReplaceFileW deletes a link's target, shows a
// Unix link as a plain file and keeps no ACL. Elsewhere a rename replaces the target's
// own directory entry, a link included, and never the file a link leads to.
constexpr std::uint32_t kVolumeSupportsReparsePoints = 0x80;  // FILE_SUPPORTS_REPARSE_POINTS
constexpr bool ReplaceFileMayBeUsed(bool onWine, bool volumeKnown, std::uint32_t volumeFlags) {
  return !onWine && volumeKnown && (volumeFlags & kVolumeSupportsReparsePoints) != 0;
}

// The most characters the long form of a temporary name adds to the target's name:
// ".~" and "-", up to 8 hexadecimal digits each for the process and the counter, ".tmp".
constexpr std::size_t kTemporaryNameExtra = 23;

// Windows without the long-path opt-in: a full path has at most MAX_PATH - 1 characters;
// with the "\\?\" prefix, up to 32,767. Names have at most 255 characters on every file
// system Windows writes to.
constexpr std::size_t kWindowsPathLimit = 259;
constexpr std::size_t kWindowsPrefixedPathLimit = 32766;
constexpr std::size_t kWindowsNameLimit = 255;

namespace temporary_name_detail {

// At least minDigits and at most maxDigits (at most 16) lowercase digits of value.
template <typename Char>
std::size_t AppendHex(std::uint64_t value, std::size_t minDigits, std::size_t maxDigits, Char* out) {
  if (maxDigits == 0) return 0;
  std::size_t digits = 1;
  while (digits < maxDigits && (value >> (4 * digits)) != 0) ++digits;
  if (digits < minDigits) digits = minDigits;
  for (std::size_t i = 0; i < digits; ++i) {
    const unsigned nibble = (value >> (4 * (digits - 1 - i))) & 0xFu;
    out[i] = static_cast<Char>(nibble < 10 ? '0' + nibble : 'a' + (nibble - 10));
  }
  return digits;
}

template <typename Char>
std::size_t AppendAscii(const char* text, Char* out) {
  std::size_t n = 0;
  for (; text[n] != '\0'; ++n) out[n] = static_cast<Char>(text[n]);
  return n;
}

// Whether a unit continues the character before it: a UTF-8 continuation byte, or the
// low half of a UTF-16 surrogate pair. A name is never cut in front of one.
template <typename Char>
constexpr bool Continues(Char c) {
  if (sizeof(Char) == 1) return (static_cast<unsigned char>(c) & 0xC0u) == 0x80u;
  const std::uint32_t unit = static_cast<std::uint32_t>(c);
  return unit >= 0xDC00u && unit <= 0xDFFFu;
}

}  // namespace temporary_name_detail

// Writes the name of the temporary file for one attempt into out (room for
// nameLength + kTemporaryNameExtra characters, no terminator) and returns its length.
// The long form "<name>.~<pid>-<counter>.tmp" is taken where it is within nameLimit and
// the whole path (folderLength characters before the name) within pathLimit. Otherwise
// the name is never longer than the target's own, so that a target whose name and path
// are valid always has a valid temporary file: the start of the name, "~", eight
// hexadecimal digits made from the process and the counter, ".tmp"; a name shorter than
// that becomes "~" and as many digits as fit. 0 for an empty name.
template <typename Char>
std::size_t MakeTemporaryName(const Char* name, std::size_t nameLength, std::size_t folderLength, std::uint32_t pid,
                              std::uint32_t counter, std::size_t nameLimit, std::size_t pathLimit, Char* out) {
  using namespace temporary_name_detail;
  if (nameLength == 0) return 0;
  Char suffix[kTemporaryNameExtra];
  std::size_t extra = AppendAscii(".~", suffix);
  extra += AppendHex(pid, 1, 8, suffix + extra);
  extra += AppendAscii("-", suffix + extra);
  extra += AppendHex(counter, 1, 8, suffix + extra);
  extra += AppendAscii(".tmp", suffix + extra);
  const std::size_t longLength = nameLength + extra;
  if (longLength <= nameLimit && folderLength <= pathLimit && longLength <= pathLimit - folderLength) {
    for (std::size_t i = 0; i < nameLength; ++i) out[i] = name[i];
    for (std::size_t i = 0; i < extra; ++i) out[nameLength + i] = suffix[i];
    return longLength;
  }

  const std::uint32_t mixed = pid * 0x9E3779B1u + counter * 0x85EBCA77u + (counter >> 16);
  constexpr std::size_t kMarker = 13;  // "~", 8 digits, ".tmp"
  if (nameLength < kMarker) {
    out[0] = static_cast<Char>('~');
    return 1 + AppendHex(mixed, nameLength - 1, nameLength - 1, out + 1);
  }
  std::size_t keep = nameLength - kMarker;
  while (keep != 0 && Continues(name[keep])) --keep;
  for (std::size_t i = 0; i < keep; ++i) out[i] = name[i];
  std::size_t n = keep;
  out[n++] = static_cast<Char>('~');
  n += AppendHex(mixed, 8, 8, out + n);
  n += AppendAscii(".tmp", out + n);
  return n;
}

}  // namespace corvane
