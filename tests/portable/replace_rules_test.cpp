// The rules of replacing a file as pure functions: temporary names that fit the limits
// of both platforms (Wine enforces neither MAX_PATH nor Windows' name limit, so this is
// where the Windows rule is shown), and the targets that are left alone.
#include "crypt/replace_rules.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace corvane {
namespace {

template <typename Char>
std::basic_string<Char> Name(std::size_t length, Char c = static_cast<Char>('n')) {
  return std::basic_string<Char>(length, c);
}

template <typename Char>
std::basic_string<Char> Temporary(const std::basic_string<Char>& name, std::size_t folderLength, std::uint32_t counter,
                                  std::size_t nameLimit, std::size_t pathLimit, std::uint32_t pid = 0x1a2b) {
  Char out[1024];
  const std::size_t n =
      MakeTemporaryName(name.data(), name.size(), folderLength, pid, counter, nameLimit, pathLimit, out);
  EXPECT_LE(n, name.size() + kTemporaryNameExtra);
  return std::basic_string<Char>(out, n);
}

constexpr std::size_t kNoPathLimit = 1 << 20;

TEST(TemporaryName, TheUsualFormWhereItFits) {
  EXPECT_EQ(Temporary<char>("a.bf", 0, 0, 255, kNoPathLimit), "a.bf.~1a2b-0.tmp");
  EXPECT_EQ(Temporary<char>("report.pdf.bf", 0, 0x2f, 255, kNoPathLimit, 0xFFFFFFFFu),
            "report.pdf.bf.~ffffffff-2f.tmp");
  EXPECT_EQ(Temporary<wchar_t>(L"a.bf", 40, 7, kWindowsNameLimit, kWindowsPathLimit), L"a.bf.~1a2b-7.tmp");
  // The longest long form is what the buffers are sized for.
  EXPECT_EQ(Temporary<char>("x", 0, 0xFFFFFFFFu, 255, kNoPathLimit, 0xFFFFFFFFu).size(), 1 + kTemporaryNameExtra);
}

// Linux: a name of up to 255 bytes is valid, so is its temporary name, for every length
// (241 to 252 bytes used to fail: the usual form passed 255).
TEST(TemporaryName, NeverPassesTheNameLimit) {
  for (std::size_t length = 1; length <= 255; ++length) {
    SCOPED_TRACE(length);
    const std::string name = Name<char>(length);
    const std::string temporary = Temporary(name, 0, 3, 255, kNoPathLimit);
    EXPECT_LE(temporary.size(), 255u);
    EXPECT_NE(temporary, name);
    if (length + 12 <= 255) {
      EXPECT_EQ(temporary, name + ".~1a2b-3.tmp");
    } else {
      EXPECT_LE(temporary.size(), length) << "the short form is never longer than the target's name";
    }
  }
}

// Windows without the long-path opt-in: a target whose full path has at most 259
// characters gets a temporary file whose path is no longer, wherever the name sits.
TEST(TemporaryName, WindowsPathsStayWithinMaxPath) {
  for (std::size_t folder : {3u, 100u, 200u, 240u, 250u, 255u}) {
    for (std::size_t length = 1; folder + length <= kWindowsPathLimit && length <= kWindowsNameLimit; ++length) {
      SCOPED_TRACE(std::to_string(folder) + " + " + std::to_string(length));
      const std::wstring temporary = Temporary(Name<wchar_t>(length), folder, 5, kWindowsNameLimit, kWindowsPathLimit);
      EXPECT_LE(folder + temporary.size(), kWindowsPathLimit);
      EXPECT_LE(temporary.size(), kWindowsNameLimit);
      const bool usualFits = folder + length + 12 <= kWindowsPathLimit && length + 12 <= kWindowsNameLimit;
      EXPECT_EQ(temporary.size() == length + 12, usualFits);
    }
  }
  // With the "\\?\" prefix, only the name limit counts.
  EXPECT_EQ(Temporary(Name<wchar_t>(100), 400, 5, kWindowsNameLimit, kWindowsPrefixedPathLimit).size(), 112u);
}

TEST(TemporaryName, ShortFormsKeepTheStartOfTheNameAndVaryByAttempt) {
  const std::string name = Name<char>(250, 'a');
  const std::string first = Temporary(name, 0, 0, 255, kNoPathLimit);
  EXPECT_EQ(first.size(), 250u);
  EXPECT_EQ(first.substr(0, 237), name.substr(0, 237));
  EXPECT_EQ(first[237], '~');
  EXPECT_EQ(first.substr(246), ".tmp");
  std::set<std::string> names;
  for (std::uint32_t counter = 0; counter < 1000; ++counter)
    names.insert(Temporary(name, 0, counter, 255, kNoPathLimit));
  EXPECT_EQ(names.size(), 1000u);
  // Names too short for the marker become "~" and digits, still varying.
  std::set<std::wstring> tiny;
  for (std::uint32_t counter = 0; counter < 200; ++counter) {
    const std::wstring t = Temporary(std::wstring(L"ab.bf"), 255, counter, kWindowsNameLimit, kWindowsPathLimit);
    EXPECT_EQ(t.size(), 5u);
    EXPECT_EQ(t[0], L'~');
    tiny.insert(t);
  }
  EXPECT_GT(tiny.size(), 190u);
  EXPECT_EQ(Temporary(std::wstring(L"a"), 258, 1, kWindowsNameLimit, kWindowsPathLimit), L"~");
}

TEST(TemporaryName, ShortFormsNeverCutACharacter) {
  // 125 two-byte characters (é in UTF-8) and one more byte: the cut falls inside one.
  std::string utf8 = "x";
  for (int i = 0; i < 125; ++i) utf8 += "\xC3\xA9";
  const std::string t = Temporary(utf8, 0, 9, 240, kNoPathLimit);
  ASSERT_LE(t.size(), utf8.size());
  const std::size_t marker = t.find('~');
  ASSERT_NE(marker, std::string::npos);
  EXPECT_EQ(marker % 2, 1u) << "the kept part ends after a whole character";
  // UTF-16: a surrogate pair (U+1F600) is kept whole or not at all.
  std::wstring utf16 = L"y";
  for (int i = 0; i < 125; ++i) utf16 += L"\xD83D\xDE00";
  const std::wstring w = Temporary(utf16, 0, 9, kWindowsNameLimit, kWindowsPathLimit);
  const std::size_t at = w.find(L'~');
  ASSERT_NE(at, std::wstring::npos);
  EXPECT_EQ(at % 2, 1u);
  EXPECT_FALSE(w[at - 1] >= 0xD800 && w[at - 1] <= 0xDBFF) << "no lone high surrogate before the marker";
}

TEST(ReplaceRules, WhichTargetsAreLeftAlone) {
  EXPECT_EQ(RefusalOf(TargetKind::kMissing), FileProblem::kNone);
  EXPECT_EQ(RefusalOf(TargetKind::kFile), FileProblem::kNone);
  EXPECT_EQ(RefusalOf(TargetKind::kReadOnlyFile), FileProblem::kReadOnly);
  EXPECT_EQ(RefusalOf(TargetKind::kFolder), FileProblem::kFolder);
  EXPECT_EQ(RefusalOf(TargetKind::kSymbolicLink), FileProblem::kSymbolicLink);
  EXPECT_EQ(RefusalOf(TargetKind::kOther), FileProblem::kNotRegular);
}

// Windows' attribute bits as GetFileAttributes and the reparse tag report them; the
// file symbolic links that Wine does not show are decided here.
TEST(ReplaceRules, WindowsAttributesGiveTheKindOfTarget) {
  struct Case {
    std::uint32_t attributes, tag;
    TargetKind kind;
  };
  const Case cases[] = {
      {0xFFFFFFFFu, 0, TargetKind::kMissing},
      {0x20, 0, TargetKind::kFile},  // archive
      {0x80, 0, TargetKind::kFile},  // normal
      {0x26, 0, TargetKind::kFile},  // hidden, system: ReplaceFileW keeps them
      {0x21, 0, TargetKind::kReadOnlyFile},
      {0x10, 0, TargetKind::kFolder},
      {0x410, 0xA0000003u, TargetKind::kFolder},  // a junction
      {0x410, 0xA000000Cu, TargetKind::kFolder},  // a folder symbolic link
      {0x420, 0xA000000Cu, TargetKind::kSymbolicLink},
      {0x421, 0xA000000Cu, TargetKind::kSymbolicLink},  // read-only link: a link all the same
      {0x420, 0xA000001Du, TargetKind::kSymbolicLink},  // a WSL symbolic link
      {0x420, 0x9000001Au, TargetKind::kFile},          // a cloud file placeholder
      {0x420, 0x80000013u, TargetKind::kFile},          // a deduplicated file
      {0x40, 0, TargetKind::kOther},                    // a device
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.attributes) + " " + std::to_string(c.tag));
    EXPECT_EQ(WindowsTargetKind(c.attributes, c.tag), c.kind);
  }
}

// ReplaceFileW only where a link at the target is seen (and refused) first: NTFS and ReFS
// volumes of Windows. Wine (its ReplaceFileW deletes a link's target, its volumes report
// no reparse points), FAT volumes and volumes that cannot be asked get a rename.
TEST(ReplaceRules, ReplaceFileOnlyWhereLinksAreReported) {
  constexpr std::uint32_t kNtfs = 0x03E700FF, kFat32 = 0x00020006, kWine = 0x0000000A;
  EXPECT_TRUE(ReplaceFileMayBeUsed(false, true, kNtfs));
  EXPECT_FALSE(ReplaceFileMayBeUsed(false, true, kFat32));
  EXPECT_FALSE(ReplaceFileMayBeUsed(false, false, kNtfs));
  EXPECT_FALSE(ReplaceFileMayBeUsed(true, true, kWine));
  EXPECT_FALSE(ReplaceFileMayBeUsed(true, true, kNtfs)) << "a later Wine that reports reparse points";
}

}  // namespace
}  // namespace corvane
