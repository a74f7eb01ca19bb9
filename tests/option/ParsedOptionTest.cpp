#include "option/ParsedOption.h"

#include <gtest/gtest.h>

#include <vector>

namespace option {
namespace {

const OptionSpec row{1, 0, "a", "alpha", takesNoArgument, ""};

// Walks the list forward from its head and checks every backward link on the way.
std::vector<const ParsedOption*> walk(ParsedOption& head) {
  std::vector<const ParsedOption*> order{&head};
  EXPECT_TRUE(head.isFirst());
  const ParsedOption* record = &head;
  while (!record->isLast()) {
    const ParsedOption* next = record->next();
    EXPECT_EQ(next->prev(), record);
    EXPECT_FALSE(next->isFirst());
    order.push_back(next);
    record = next;
  }
  EXPECT_EQ(record->next(), &head);
  EXPECT_EQ(head.prev(), record);
  return order;
}

// A record on its own, new or assigned again after it was linked, is a list
// of one.
TEST(ParsedOption, ARecordOnItsOwnIsAListOfOne) {
  ParsedOption fresh;
  EXPECT_FALSE(fresh.isSet());
  EXPECT_EQ(fresh.nameText, nullptr);
  EXPECT_EQ(fresh.argText, nullptr);
  EXPECT_EQ(fresh.nameLength, 0);
  ParsedOption head;
  ParsedOption second;
  head.assign(&row, "a", nullptr);
  second.assign(&row, "a", nullptr);
  head.linkAtEnd(&second);
  head.assign(&row, "a", nullptr);
  for (ParsedOption* record : {&fresh, &head}) {
    EXPECT_EQ(walk(*record), std::vector<const ParsedOption*>{record});
  }
}

// The names that parsing hands over are checked in the parser's table; the
// two here it does not make: no name at all, and the dash of "-r-=x", named
// by the dash alone as the '=' follows it at once.
TEST(ParsedOption, NameLengthCoversTheNameUpToAnEqualsSign) {
  ParsedOption record;
  record.assign(&row, nullptr, "arg");
  EXPECT_TRUE(record.isSet());
  EXPECT_EQ(record.nameLength, 0);
  record.assign(&row, "-=x", "arg");
  EXPECT_EQ(record.nameLength, 1);
}

// The parser appends through a list's head only; this documents that any
// member of the list will do.
TEST(ParsedOption, LinkAtEndKeepsOrderWhenCalledOnAnyMember) {
  ParsedOption records[4];
  for (ParsedOption& record : records) {
    record.assign(&row, "a", nullptr);
  }
  records[0].linkAtEnd(&records[1]);
  records[1].linkAtEnd(&records[2]);  // called on the last record
  records[0].linkAtEnd(&records[3]);  // called on the head again
  const std::vector<const ParsedOption*> expected{&records[0], &records[1], &records[2],
                                                  &records[3]};
  EXPECT_EQ(walk(records[0]), expected);
  EXPECT_EQ(records[2].first(), &records[0]);
}

}  // namespace
}  // namespace option
