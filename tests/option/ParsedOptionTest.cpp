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

TEST(ParsedOption, EmptyRecordIsAListOfOneThatIsNotSet) {
  ParsedOption record;
  EXPECT_FALSE(record.isSet());
  EXPECT_EQ(record.nameText, nullptr);
  EXPECT_EQ(record.argText, nullptr);
  EXPECT_EQ(record.nameLength, 0);
  EXPECT_TRUE(record.isFirst());
  EXPECT_TRUE(record.isLast());
  EXPECT_EQ(record.next(), &record);
  EXPECT_EQ(record.prev(), &record);
}

TEST(ParsedOption, NameLengthCoversTheNameUpToAnEqualsSign) {
  struct Case {
    const char* name;
    std::int32_t expected;
  };
  // "rb" is the name text of the r in "-rb", "-x" that of the dash in "-r-x",
  // "-=x" that of the dash in "-r-=x".
  const Case cases[] = {
      {nullptr, 0},  {"r", 1},         {"rb", 1},   {"-", 1},    {"-x", 2},       {"-=x", 1},
      {"--help", 6}, {"--help=on", 6}, {"--=x", 2}, {"---x", 4}, {"--he=a=b", 4},
  };
  for (const Case& c : cases) {
    ParsedOption record;
    record.assign(&row, c.name, "arg");
    EXPECT_EQ(record.nameLength, c.expected) << (c.name != nullptr ? c.name : "(null)");
    EXPECT_TRUE(record.isSet());
  }
}

TEST(ParsedOption, AssignMakesARecordAListOfOneAgain) {
  ParsedOption head;
  ParsedOption second;
  head.assign(&row, "a", nullptr);
  second.assign(&row, "a", nullptr);
  head.linkAtEnd(&second);
  head.assign(&row, "a", nullptr);
  EXPECT_EQ(head.next(), &head);
  EXPECT_EQ(head.prev(), &head);
  EXPECT_TRUE(head.isFirst());
  EXPECT_TRUE(head.isLast());
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
