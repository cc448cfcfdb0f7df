#pragma once
// Address-book names for phone numbers: the first person, in address-book row order,
// whose phone text is not empty and contains the number as an exact substring (no
// normalisation of spaces, signs or punctuation). Each distinct number is looked up
// once. Not thread-safe.
#include <string>
#include <string_view>
#include <vector>

#include "records/first_containing.h"
#include "records/record_types.h"

namespace bv {

class ContactNameLookup {
 public:
  // `contacts` must outlive the lookup.
  explicit ContactNameLookup(const std::vector<NamedPhone>& contacts);
  // The matching person's name, or an empty text.
  const std::string& NameFor(std::string_view number);

 private:
  static std::vector<std::string_view> PhoneTexts(const std::vector<NamedPhone>& contacts,
                                                  std::vector<std::size_t>& owners);
  const std::vector<NamedPhone>& contacts_;
  std::vector<std::size_t> owners_;  // contact index of each phone text
  FirstContaining phones_;
  const std::string empty_;
};

}  // namespace bv
