// Rows and items: names folded as they are stored and looked up, one item per name, the lookup
// outcomes, and sizes that would be quadratic with a plain walk.
#include "message/row_store.h"

#include <gtest/gtest.h>

#include <string>

#include "support/gbk.h"

namespace qx::message {
namespace {

TEST(RowStoreTest, LookupOutcomes) {
  RowStore store;
  const std::string* value = nullptr;
  EXPECT_EQ(store.Find("a", &value), RowStore::kRowOutOfRange) << "no rows";
  store.Clear();
  EXPECT_EQ(store.current_row(), 1);

  store.AddItem(1, "CENTER_ID", "3301");
  store.AddItem(1, test::Gbk(u8"姓名"), test::Gbk(u8"王"));
  store.AddItem(1, "Center_Id", "3302");  // same name: value replaced, position kept
  store.AddItem(2, "x", "");
  ASSERT_EQ(store.row_count(), 2);
  ASSERT_EQ(store.rows()[0].items().size(), 2u);
  EXPECT_EQ(store.rows()[0].items()[0].name, "center_id");
  EXPECT_EQ(store.rows()[0].items()[0].value, "3302");

  store.set_current_row(1);
  ASSERT_EQ(store.Find("center_ID", &value), RowStore::kFound);
  EXPECT_EQ(*value, "3302");
  ASSERT_EQ(store.Find(test::Gbk(u8"姓名"), &value), RowStore::kFound);
  EXPECT_EQ(*value, test::Gbk(u8"王"));
  value = nullptr;
  EXPECT_EQ(store.Find("staff_id", &value), RowStore::kNoSuchItem);
  EXPECT_EQ(value, nullptr);

  for (int32_t row : {0, 3, -1}) {
    store.set_current_row(row);
    EXPECT_EQ(store.Find("x", &value), RowStore::kRowOutOfRange) << row;
  }
  store.set_current_row(2);
  ASSERT_EQ(store.Find("X", &value), RowStore::kFound);
  EXPECT_EQ(*value, "");
}

// A name whose second byte is a capital: stored double-byte aware, asked for bytewise, so the
// two foldings disagree and the lookup does not find it, as the system has always done.
TEST(RowStoreTest, FoldingsDisagreeOnSecondBytes) {
  RowStore store;
  store.AddItem(1, "\x81\x41", "v");
  store.set_current_row(1);
  const std::string* value = nullptr;
  EXPECT_EQ(store.rows()[0].items()[0].name, "\x81\x41");
  EXPECT_EQ(store.Find("\x81\x41", &value), RowStore::kNoSuchItem);
}

TEST(RowStoreTest, SkippedRowsAreEmptyAndRowsBelowOneStoreNothing) {
  RowStore store;
  store.AddItem(0, "a", "1");
  store.AddItem(-5, "a", "1");
  EXPECT_EQ(store.row_count(), 0);
  store.AddItem(3, "a", "1");
  ASSERT_EQ(store.row_count(), 3);
  const std::string* value = nullptr;
  store.set_current_row(2);
  EXPECT_EQ(store.Find("a", &value), RowStore::kRowEmpty);
  store.set_current_row(3);
  EXPECT_EQ(store.Find("a", &value), RowStore::kFound);
  store.Clear();
  EXPECT_EQ(store.row_count(), 0);
  EXPECT_EQ(store.current_row(), 1);
}

// Wide rows go through the index: every name still found, replaced in place, order kept.
TEST(RowStoreTest, WideRowKeepsOrderAndReplacesInPlace) {
  constexpr int kItems = 20000;
  RowStore store;
  for (int i = 0; i < kItems; ++i) store.AddItem(1, "Item" + std::to_string(i), "v");
  for (int i = 0; i < kItems; i += 7) store.AddItem(1, "ITEM" + std::to_string(i), "w");
  store.set_current_row(1);
  ASSERT_EQ(store.rows()[0].items().size(), static_cast<size_t>(kItems));
  for (int i = 0; i < kItems; ++i) {
    const std::string* value = nullptr;
    ASSERT_EQ(store.Find("item" + std::to_string(i), &value), RowStore::kFound) << i;
    EXPECT_EQ(*value, i % 7 == 0 ? "w" : "v");
    EXPECT_EQ(store.rows()[0].items()[i].name, "item" + std::to_string(i));
  }
}

}  // namespace
}  // namespace qx::message
