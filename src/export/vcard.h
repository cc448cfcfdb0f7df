#pragma once
// vCard 3.0 (RFC 2426) cards of recovered contacts (Contacts.vcf), so that a person can
// put them back on a phone or into an address book.
//
//   BEGIN:VCARD / VERSION:3.0 / N:last;first;;; / FN / ORG / TEL / EMAIL;TYPE=INTERNET /
//   URL / ADR (the address as its street part) / NOTE (the extra text) / END:VCARD
//
// Text values escape backslash, semicolon, comma and line breaks (as \n); other control
// characters are dropped. Each number, e-mail and web address is a property of its own:
// as the address book's value table lists them where the reader found them, else one
// per line of the phone text (as the CSV document spreads them) and one per
// blank-separated word of the e-mail and web texts. Every line ends with CR LF and is
// folded at 75 octets without cutting a UTF-8 sequence.
#include <string>

#include "records/record_types.h"

namespace bv {

// The card of one contact.
std::string VCardOf(const ContactRecord& contact);

}  // namespace bv
