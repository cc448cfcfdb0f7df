// The cards of Contacts.vcf, read back by a strict reader of our own (tests/support).
#include "export/vcard.h"

#include <gtest/gtest.h>

#include "vcard_parser.h"

namespace bv {
namespace {

using test::ParseVCards;
using test::VCard;

VCard OneCard(const ContactRecord& c) {
  const std::string text = VCardOf(c);
  std::vector<VCard> cards;
  try {
    cards = ParseVCards(text);
  } catch (const std::exception& e) {
    ADD_FAILURE() << e.what() << "\n" << text;
    return {};
  }
  EXPECT_EQ(cards.size(), 1u) << text;
  return cards.empty() ? VCard{} : cards[0];
}

std::vector<std::string> Values(const VCard& card, const std::string& name) {
  std::vector<std::string> values;
  for (const auto* p : card.All(name)) values.push_back(p->components.at(0));
  return values;
}

TEST(VCardProperties, EveryFieldRoundTripsThroughEscaping) {
  ContactRecord c;
  c.first = "Anna, \"The Boss\";";
  c.last = "Berg\\Back";
  c.name = "Anna, \"The Boss\"; Berg\\Back";
  c.organization = "A;B,C";
  c.phone = "+1 (555) 100-0013 \r\n+44 79 1234\n\n";
  c.email = "anna@x.se  b@y.org ";
  c.url = "http://x.org/a,b;c https://y.org/";
  c.address = "Main St 1\r\nTown";
  c.extra = "line one\nline two, with; all\\";
  const VCard card = OneCard(c);
  const auto n = card.All("N");
  ASSERT_EQ(n.size(), 1u);
  EXPECT_EQ(n[0]->components,
            (std::vector<std::string>{"Berg\\Back", "Anna, \"The Boss\";", "", "", ""}));
  EXPECT_EQ(card.One("FN"), c.name);
  ASSERT_EQ(card.All("ORG").size(), 1u);
  EXPECT_EQ(card.All("ORG")[0]->components, (std::vector<std::string>{"A;B,C"}));
  EXPECT_EQ(Values(card, "TEL"), (std::vector<std::string>{"+1 (555) 100-0013", "+44 79 1234"}));
  EXPECT_EQ(Values(card, "EMAIL"), (std::vector<std::string>{"anna@x.se", "b@y.org"}));
  for (const auto* e : card.All("EMAIL")) EXPECT_EQ(e->params.at("TYPE"), "INTERNET");
  EXPECT_EQ(Values(card, "URL"),
            (std::vector<std::string>{"http://x.org/a,b;c", "https://y.org/"}));
  const auto adr = card.All("ADR");
  ASSERT_EQ(adr.size(), 1u);
  EXPECT_EQ(adr[0]->components[2], "Main St 1\nTown");
  EXPECT_EQ(card.One("NOTE"), c.extra);
}

TEST(VCardProperties, TheValueTablesNumbersComeBeforeTheSearchText) {
  ContactRecord c;
  c.first = "Josh";
  c.name = "Josh";
  c.phone = "(919) 579-0479 +19195790479 01119195790479 (919) 391-2507 +19193912507 ";
  c.phones = {"(919) 579-0479", "(919) 391-2507"};
  c.email = "j@x.org k@x.org";
  c.emails = {"j@x.org"};
  c.url = "http://a http://b";
  const VCard card = OneCard(c);
  EXPECT_EQ(Values(card, "TEL"), c.phones);
  EXPECT_EQ(Values(card, "EMAIL"), c.emails);
  EXPECT_EQ(Values(card, "URL"), (std::vector<std::string>{"http://a", "http://b"}));
}

TEST(VCardProperties, NamesWithoutPartsAndEmptyFieldsLeftOut) {
  ContactRecord company;
  company.organization = "Pizza Place";
  company.name = "Pizza Place";
  company.phone = "+15550100";
  VCard card = OneCard(company);
  EXPECT_EQ(card.One("FN"), "Pizza Place");
  EXPECT_EQ(card.All("N")[0]->components, (std::vector<std::string>(5)));
  EXPECT_TRUE(card.All("EMAIL").empty());
  EXPECT_TRUE(card.All("ADR").empty());
  EXPECT_TRUE(card.All("NOTE").empty());
  EXPECT_TRUE(card.All("URL").empty());

  // Nobody's name: the card goes by the number, then the address, never "No Name".
  ContactRecord number;
  number.name = "No Name";
  number.phone = "+15550199\n+15550198";
  EXPECT_EQ(OneCard(number).One("FN"), "+15550199");
  ContactRecord mail;
  mail.name = "No Name";
  mail.email = "who@x.org";
  EXPECT_EQ(OneCard(mail).One("FN"), "who@x.org");
  EXPECT_EQ(OneCard(ContactRecord{}).One("FN"), "No Name");
  // A record that another source named without parts keeps that name.
  ContactRecord named;
  named.name = "Bea";
  EXPECT_EQ(OneCard(named).One("FN"), "Bea");
  // CJK parts: the name as the phone shows it, the parts in N.
  ContactRecord wang;
  wang.first = "\u5c0f\u660e";
  wang.last = "\u738b";
  wang.name = "\u738b\u5c0f\u660e";
  card = OneCard(wang);
  EXPECT_EQ(card.One("FN"), "\u738b\u5c0f\u660e");
  EXPECT_EQ(card.All("N")[0]->components[0], "\u738b");
}

TEST(VCardFolding, LongLinesFoldAt75OctetsWithoutCuttingACharacter) {
  // Every offset of a three- and a four-byte character against the fold.
  for (std::size_t lead = 0; lead < 4; ++lead) {
    ContactRecord c;
    c.first = std::string(lead, 'a');
    for (int i = 0; i < 40; ++i) c.first += "\u738b";
    c.last = "\U0001F600\U0001F600\U0001F600 and more \U0001F600 text to go over the limit";
    c.name = c.first + " " + c.last;
    c.extra = std::string(300, 'x') + "\n" + c.last;
    const std::string text = VCardOf(c);
    EXPECT_NE(text.find("\r\n "), std::string::npos) << "folded";
    const VCard card = OneCard(c);  // the reader checks lengths and sequences
    EXPECT_EQ(card.One("FN"), c.name);
    EXPECT_EQ(card.One("NOTE"), c.extra);
  }
  // A line of exactly 75 octets stays whole; one more octet folds it.
  ContactRecord c;
  c.name = "Ann";
  c.extra = std::string(75 - 5, 'y');
  EXPECT_NE(VCardOf(c).find("\r\nNOTE:" + c.extra + "\r\n"), std::string::npos);
  c.extra += 'y';
  EXPECT_NE(VCardOf(c).find("\r\nNOTE:" + std::string(70, 'y') + "\r\n y\r\n"), std::string::npos);
}

TEST(VCardReader, RejectsWhatAStrictImporterRejects) {
  ContactRecord c;
  c.name = "Ann";
  c.first = "Ann";
  const std::string good = VCardOf(c);
  ASSERT_NO_THROW(ParseVCards(good + good));
  auto rejects = [&](std::string text, const char* what) {
    EXPECT_THROW(ParseVCards(text), std::runtime_error) << what << "\n" << text;
  };
  auto replace = [&](std::string from, std::string to) {
    std::string text = good;
    text.replace(text.find(from), from.size(), to);
    return text;
  };
  rejects(replace("FN:Ann", "FN:A,nn"), "a bare comma");
  rejects(replace("FN:Ann", "FN:A\\xnn"), "an unknown escape");
  rejects(replace("FN:Ann", "FN:" + std::string(80, 'n')), "a line over 75 octets");
  rejects(replace("FN:Ann\r\n", "FN:A\xE7\x8E\r\n \x8Bnn\r\n"), "a character cut by the fold");
  rejects(replace("VERSION:3.0\r\n", ""), "no version");
  rejects(replace("VERSION:3.0", "VERSION:2.1"), "another version");
  rejects(replace("FN:Ann\r\n", ""), "no FN");
  rejects(replace("N:;Ann;;;", "N:;Ann;;"), "four components of N");
  rejects(replace("END:VCARD\r\n", "END:VCARD\n"), "a bare LF");
  rejects(replace("END:VCARD\r\n", ""), "no end");
  rejects(replace("FN:Ann\r\n", "FN:Ann\r\n\r\n"), "an empty line");
}

}  // namespace
}  // namespace bv
