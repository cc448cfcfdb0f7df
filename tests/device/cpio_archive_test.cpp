// The cpio cutter and walker over crafted archives: prefixes, magic inside data, sizes
// past the search window, damaged and truncated headers.
#include "device/cpio_archive.h"

#include <gtest/gtest.h>

#include <cstring>

#include "device/device_fixture.h"

namespace bv::test {
namespace {

std::string Member(const std::string& name, const std::string& data, unsigned mode = 0100644) {
  char head[77];
  std::snprintf(head, sizeof head, "070707%06o%06o%06o%06o%06o%06o%06o%011o%06o%011llo", 0, 1, mode,
                0, 0, 1, 0, 0, static_cast<unsigned>(name.size() + 1),
                static_cast<unsigned long long>(data.size()));
  return std::string(head, 76) + name + std::string(1, '\0') + data;
}

std::string Trailer() {
  return Member("TRAILER!!!", "");
}

const unsigned char* Bytes(const std::string& s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

// Reads `bytes` as the walker reads an archive: what lies past the end is not there.
ByteReader ReaderOver(const std::string& bytes) {
  return [&bytes](std::uint64_t off, void* buf, std::size_t n) {
    if (off >= bytes.size()) return std::size_t{0};
    n = std::min<std::size_t>(n, bytes.size() - off);
    std::memcpy(buf, bytes.data() + off, n);
    return n;
  };
}

bool Find(const std::string& archive, const char* path, MemberSpan& span) {
  return FindMember(Bytes(archive), archive.size(), archive.size(), path, span);
}

TEST(CpioArchive, FindsMembersByTheirHeaderSize) {
  // A text message that happens to hold the next header's magic must not cut the
  // database short.
  const std::string sms = "SQLite format 3 ... 07070700 ... the rest";
  const std::string archive =
      Member("./var/mobile/Library/AddressBook/AddressBook.sqlitedb", "AB") +
      Member("./var/mobile/Library/SMS/sms.db", sms) + Trailer();
  MemberSpan span;
  ASSERT_TRUE(Find(archive, "/var/mobile/Library/SMS/sms.db", span));
  EXPECT_TRUE(span.fromHeader);
  EXPECT_EQ(archive.substr(span.offset, span.size), sms);
  ASSERT_TRUE(Find(archive, "/var/mobile/Library/AddressBook/AddressBook.sqlitedb", span));
  EXPECT_EQ(archive.substr(span.offset, span.size), "AB");
  // Absolute stored names as well.
  const std::string absolute = Member("/var/mobile/Library/SMS/sms.db", "abs") + Trailer();
  ASSERT_TRUE(Find(absolute, "/var/mobile/Library/SMS/sms.db", span));
  EXPECT_EQ(absolute.substr(span.offset, span.size), "abs");
  // A longer name that merely ends like the searched one is another member.
  const std::string other = Member("./var/mobile/Library/SMS/sms.db-wal", "wal") + Trailer();
  EXPECT_FALSE(Find(other, "/var/mobile/Library/SMS/sms.db", span));
}

TEST(CpioArchive, WithoutAHeaderTheDataEndsAtTheNextMagic) {
  // Damaged header in front of the name: the next member's magic ends the data.
  std::string archive =
      Member("./var/mobile/Library/SMS/sms.db", "DATA") + Member("x", "y") + Trailer();
  archive[10] = 'Z';
  MemberSpan span;
  ASSERT_TRUE(Find(archive, "/var/mobile/Library/SMS/sms.db", span));
  EXPECT_FALSE(span.fromHeader);
  EXPECT_EQ(archive.substr(span.offset, span.size), "DATA");
  // And with no magic after it, nothing is cut.
  const std::string bare = std::string("junk/var/mobile/Library/SMS/sms.db") + '\0' + "tail";
  EXPECT_FALSE(Find(bare, "/var/mobile/Library/SMS/sms.db", span));
  EXPECT_FALSE(Find(bare, "/var/mobile/Library/AddressBook/AddressBook.sqlitedb", span));
  EXPECT_FALSE(FindMember(nullptr, 0, 0, "/x", span));
}

TEST(CpioArchive, SizesAreClampedToTheArchive) {
  // A header claiming more data than the archive holds gives what is there.
  std::string archive = Member("./var/mobile/Library/SMS/sms.db", "short");
  std::memcpy(&archive[65], "77777777777", 11);
  MemberSpan span;
  ASSERT_TRUE(Find(archive, "/var/mobile/Library/SMS/sms.db", span));
  EXPECT_EQ(span.offset + span.size, archive.size());
  // The walker stops there instead of reading past the end.
  std::size_t seen = 0;
  const ByteReader read = ReaderOver(archive);
  EXPECT_EQ(WalkCpio(read, archive.size(), [&](const CpioMember&) { return ++seen, true; }), 0u);
}

TEST(CpioArchive, WalkVisitsMembersUntilTheTrailerOrDamage) {
  const std::string archive = Member("a", "1") + Member("dir", "", 040755) + Member("b", "22") +
                              Trailer() + Member("after", "x");
  const ByteReader read = ReaderOver(archive);
  std::vector<std::string> names;
  std::vector<bool> regular;
  EXPECT_EQ(WalkCpio(read, archive.size(),
                     [&](const CpioMember& m) {
                       names.push_back(m.name);
                       regular.push_back(m.header.IsRegularFile());
                       return true;
                     }),
            3u);
  EXPECT_EQ(names, (std::vector<std::string>{"a", "dir", "b"}));
  EXPECT_EQ(regular, (std::vector<bool>{true, false, true}));
  // A bad digit in the second header ends the walk after the first member.
  std::string damaged = archive;
  damaged[Member("a", "1").size() + 20] = '9';
  names.clear();
  const ByteReader readDamaged = ReaderOver(damaged);
  WalkCpio(readDamaged, damaged.size(),
           [&](const CpioMember& m) { return names.push_back(m.name), true; });
  EXPECT_EQ(names, (std::vector<std::string>{"a"}));
}

TEST(CpioArchive, CutFindsNamesOnlyInTheFirst16MiBButCopiesWholeMembers) {
  TempFolder t;
  // A member whose name lies inside the window but whose data runs past it is copied
  // whole.
  std::string big(17u << 20, 'd');
  big.replace(1000, 8, "07070700");
  const std::string archive = Member("./var/mobile/Library/SMS/sms.db", big) + Trailer();
  WriteFile(t.path() / "Tarnwick", archive);
  EXPECT_EQ(CutMember(t.path() / "Tarnwick", "/var/mobile/Library/SMS/sms.db", t.path() / "sms"),
            0);
  EXPECT_EQ(fs::file_size(t.path() / "sms"), big.size());
  // One that starts after 16 MiB is not found: no copy, no error.
  WriteFile(t.path() / "Tarnwick",
            Member("pad", std::string(16u << 20, 'p')) +
                Member("./var/mobile/Library/AddressBook/AddressBook.sqlitedb", "AB") + Trailer());
  EXPECT_EQ(CutMember(t.path() / "Tarnwick", "/var/mobile/Library/AddressBook/AddressBook.sqlitedb",
                      t.path() / "personcontent"),
            0);
  EXPECT_FALSE(fs::exists(t.path() / "personcontent"));
  // Nothing unpacked: nothing to cut.
  EXPECT_EQ(CutMember(t.path() / "missing", "/x", t.path() / "y"), 0);
  EXPECT_FALSE(fs::exists(t.path() / "y"));
  // An earlier, longer copy is replaced, not overwritten in place.
  WriteFile(t.path() / "Tarnwick", Member("./var/mobile/Library/SMS/sms.db", "new") + Trailer());
  EXPECT_EQ(CutMember(t.path() / "Tarnwick", "/var/mobile/Library/SMS/sms.db", t.path() / "sms"),
            0);
  EXPECT_EQ(ReadAll(t.path() / "sms"), "new");
}

TEST(CpioArchive, ReadsTheArchivesLibarchiveWrites) {
  const std::string archive = MakeCpio({{"./var/mobile/Library/SMS/sms.db", "payload"}}, false);
  MemberSpan span;
  ASSERT_TRUE(Find(archive, "/var/mobile/Library/SMS/sms.db", span));
  EXPECT_TRUE(span.fromHeader);
  EXPECT_EQ(archive.substr(span.offset, span.size), "payload");
}

}  // namespace
}  // namespace bv::test
