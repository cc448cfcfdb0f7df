// Note documents of the newer note store: gzip members around a protocol-buffer
// document, as the app writes them (text, then attribute runs with paragraph styles,
// checklists among them), and documents that are cut, foreign or hostile.
#include <gtest/gtest.h>
#include <zlib.h>

#include <set>

#include "mkbackup.h"
#include "records/note_document.h"
#include "records/note_reader.h"
#include "records_fixture.h"

namespace bv {
namespace {

std::string Varint(std::uint64_t v) {
  std::string out;
  while (v >= 0x80) {
    out += static_cast<char>((v & 0x7F) | 0x80);
    v >>= 7;
  }
  return out + static_cast<char>(v);
}
std::string Bytes(int field, const std::string& payload) {
  return Varint(static_cast<std::uint64_t>(field) << 3 | 2) + Varint(payload.size()) + payload;
}
std::string Number(int field, std::uint64_t value) {
  return Varint(static_cast<std::uint64_t>(field) << 3) + Varint(value);
}

// A document as the app writes it: version fields, the text, and per line an
// attribute run, a checklist item (style 103 with its done flag) where asked.
std::string Document(const std::string& text, bool checklist) {
  std::string runs;
  std::size_t from = 0;
  for (int line = 0; from < text.size(); ++line) {
    std::size_t end = text.find('\n', from);
    end = end == std::string::npos ? text.size() : end + 1;
    std::string style = Number(1, line == 0 ? 0 : checklist ? 103 : 3);
    if (checklist && line > 0)
      style += Bytes(5, Bytes(1, std::string(16, 'u')) + Number(2, line % 2));
    runs += Bytes(5, Number(1, end - from) + Bytes(2, style) + "\x28" + Varint(line));
    from = end;
  }
  // A fixed64 and a fixed32 field the reader must step over.
  const std::string fixed =
      std::string("\x39", 1) + std::string(8, '\x01') + "\x45" + std::string(4, '\x02');
  return Number(1, 0) +
         Bytes(2, Number(1, 0) + Number(2, 0) + fixed + Bytes(3, Bytes(2, text) + runs));
}

// Real deflate in a gzip member (window bits 16 + 15), as the phone writes it.
std::string Gzip(const std::string& data, int windowBits = 16 + MAX_WBITS) {
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, 9, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY), Z_OK);
  std::string out(deflateBound(&z, data.size()), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

TEST(NoteDocument, LongUnicodeAndChecklistTextsAreReadWhole) {
  std::string longText = "Shopping\n";
  while (longText.size() < 200000) longText += "a line of a long note with ümlauts and 見て\n";
  const std::string texts[] = {
      "Title\nbody", "Grüße 😀👍🏽\n你好 — “quotes” & <tags> &amp;", longText,
      "Packing list\nPassport\nTickets\nCharger", "Photo \xEF\xBF\xBC after"};
  for (const std::string& text : texts) {
    for (bool checklist : {false, true}) {
      std::string out = "stale";
      ASSERT_TRUE(DecodeNoteDocument(Gzip(Document(text, checklist)), out)) << text.size();
      EXPECT_EQ(out, text);
    }
  }
  // A zlib stream in place of the gzip member reads the same.
  std::string out;
  EXPECT_TRUE(DecodeNoteDocument(Gzip(Document("zlib", false), MAX_WBITS), out));
  EXPECT_EQ(out, "zlib");
}

TEST(NoteDocument, CutForeignAndHostileDocumentsGiveNoText) {
  const std::string text = "Groceries\nmilk\neggs";
  const std::string zdata = Gzip(Document(text, true));
  std::string out;
  for (std::size_t cut = 0; cut < zdata.size(); ++cut) {
    out = "stale";
    EXPECT_FALSE(DecodeNoteDocument(std::string_view(zdata).substr(0, cut), out)) << cut;
    EXPECT_EQ(out, "");
  }
  std::string crc = zdata;
  crc[crc.size() - 6] ^= 1;  // the gzip trailer's check
  EXPECT_FALSE(DecodeNoteDocument(crc, out));
  // A locked note's document is encrypted (the phone keeps a property list there).
  EXPECT_FALSE(DecodeNoteDocument("bplist00\xd1\x01\x02", out));
  EXPECT_FALSE(DecodeNoteDocument("", out));
  // Compressed, but not the document: no field 2, a group, a length past the end, a
  // key varint longer than ten bytes.
  for (const std::string& document :
       {Number(1, 5), std::string("\x13\x14"), Bytes(2, Bytes(3, "")).substr(0, 3) + "\x7f",
        std::string(11, '\xff'), Bytes(2, Bytes(3, Number(2, 7)))}) {
    out = "stale";
    EXPECT_FALSE(DecodeNoteDocument(Gzip(document), out));
    EXPECT_EQ(out, "");
  }
  // A small member that inflates beyond the cap is refused, not allocated.
  const std::string bomb = Gzip(std::string(std::size_t{1} << 20, 'z'));
  std::string inflated;
  EXPECT_FALSE(InflateDocument(bomb, inflated, std::size_t{1} << 19));
  EXPECT_TRUE(inflated.empty());
  EXPECT_TRUE(InflateDocument(bomb, inflated, std::size_t{1} << 20));
  EXPECT_EQ(inflated.size(), std::size_t{1} << 20);
}

TEST(NoteDocument, ProtoFieldsOfEveryWireType) {
  const std::string message = Number(1, 300) + std::string("\x11", 1) + std::string(8, '\x07') +
                              Bytes(3, "abc") + std::string("\x25\x01\x02\x03\x04", 5);
  ProtoFields fields(message);
  std::uint32_t field = 0;
  int type = 0;
  std::string_view bytes;
  std::uint64_t number = 0;
  ASSERT_TRUE(fields.Next(field, type, bytes, number));
  EXPECT_EQ(field, 1u);
  EXPECT_EQ(number, 300u);
  ASSERT_TRUE(fields.Next(field, type, bytes, number));
  EXPECT_EQ(type, 1);
  EXPECT_EQ(number, 0x0707070707070707u);
  ASSERT_TRUE(fields.Next(field, type, bytes, number));
  EXPECT_EQ(bytes, "abc");
  ASSERT_TRUE(fields.Next(field, type, bytes, number));
  EXPECT_EQ(type, 5);
  EXPECT_EQ(number, 0x04030201u);
  EXPECT_FALSE(fields.Next(field, type, bytes, number));
  EXPECT_FALSE(fields.Failed());
  const std::string shorter = message.substr(0, message.size() - 2);
  ProtoFields cut(shorter);
  while (cut.Next(field, type, bytes, number)) {
  }
  EXPECT_TRUE(cut.Failed());
  const std::string zeroField("\x00\x01", 2);  // field number 0 does not exist
  ProtoFields zero(zeroField);
  EXPECT_FALSE(zero.Next(field, type, bytes, number));
  EXPECT_TRUE(zero.Failed());
}

// The newer store of mkbackup backups: the whole text of every note from its document,
// iOS 17's creation dates from ZCREATIONDATE3.
TEST(NoteDocument, NotesOfIos17BackupsHaveTheirWholeTextAndDates) {
  test::TempFolder t;
  mkbackup::BackupOptions o;
  o.iosVersion = "17.3";
  o.seed = 41;
  o.notes = 23;
  o.deletedRows = false;
  const auto backup = test::BuildBackup(t, o);
  const test::Json truth = test::ReadTruth(backup);
  const test::Json* store = test::FindDatabase(truth, "NoteStore.sqlite");
  ASSERT_NE(store, nullptr);
  std::multiset<std::string> expected;
  for (const auto& [pk, text] : (*store)["bodyTexts"].members) expected.insert(text.Str());
  ASSERT_EQ(expected.size(), 23u);
  std::list<NoteRecord> notes;
  ASSERT_EQ(NoteReader().ReadNewerStore(test::StoredFile(backup, *store).string(), notes), 0);
  std::multiset<std::string> bodies;
  std::size_t longest = 0;
  for (const NoteRecord& n : notes) {
    bodies.insert(n.body);
    longest = std::max(longest, n.body.size());
    EXPECT_EQ(n.date.size(), 19u) << n.title;
  }
  EXPECT_EQ(bodies, expected);
  EXPECT_GT(longest, 4000u);
}

}  // namespace
}  // namespace bv
