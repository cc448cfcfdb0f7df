#include "records/name_lookup.h"

namespace bv {

std::vector<std::string_view> ContactNameLookup::PhoneTexts(const std::vector<NamedPhone>& contacts,
                                                            std::vector<std::size_t>& owners) {
  std::vector<std::string_view> texts;
  for (std::size_t i = 0; i < contacts.size(); ++i) {
    if (contacts[i].phone.empty()) continue;
    texts.push_back(contacts[i].phone);
    owners.push_back(i);
  }
  return texts;
}

ContactNameLookup::ContactNameLookup(const std::vector<NamedPhone>& contacts)
    : contacts_(contacts), phones_(PhoneTexts(contacts, owners_)) {}

const std::string& ContactNameLookup::NameFor(std::string_view number) {
  const std::ptrdiff_t i = phones_.Find(number);
  return i < 0 ? empty_ : contacts_[owners_[static_cast<std::size_t>(i)]].name;
}

}  // namespace bv
