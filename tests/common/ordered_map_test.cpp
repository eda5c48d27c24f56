#include "common/ordered_map.h"

#include <gtest/gtest.h>

using quill::OrderedMap;

TEST(OrderedMap, KeepsInsertionOrderAndPositionOnReplace) {
  OrderedMap<std::string, int> m;
  EXPECT_TRUE(m.insert("b", 1));
  EXPECT_TRUE(m.insert("a", 2));
  EXPECT_FALSE(m.insert("b", 9));  // present: unchanged
  m.set("b", 3);                   // replaced in place
  m.set("c", 4);
  ASSERT_EQ(m.size(), 3u);
  EXPECT_EQ(m.at(0).first, "b");
  EXPECT_EQ(m.at(0).second, 3);
  EXPECT_EQ(m.keys(), (std::vector<std::string>{"b", "a", "c"}));
}

TEST(OrderedMap, KeysAreCaseSensitive) {
  OrderedMap<std::string, int> m;
  m.set("Key", 1);
  EXPECT_EQ(m.find("key"), nullptr);
  EXPECT_EQ(*m.find(std::string_view("Key")), 1);
}

TEST(OrderedMap, LargeMapsStayConsistentThroughErase) {
  OrderedMap<std::string, int> m;
  for (int i = 0; i < 100; ++i) m.set("k" + std::to_string(i), i);
  EXPECT_TRUE(m.erase("k10"));
  EXPECT_FALSE(m.erase("k10"));
  EXPECT_EQ(m.size(), 99u);
  EXPECT_EQ(*m.indexOf("k11"), 10u);
  EXPECT_EQ(m.get("k99"), 99);
  m["new"] = 5;
  EXPECT_EQ(*m.indexOf("new"), 99u);
}
