// The rows of one recordset of the current reply: DataRow holds DataItem name/value pairs in the
// order they were first added, names folded to lower case (double-byte aware), one item per
// name. RowStore numbers rows from 1 and keeps the current row that lookups read.
//
// Storing is linear in the size of a reply: rows are appended to a vector, and a row with many
// items finds an existing name through a hash index instead of walking its items.
#ifndef QX_MESSAGE_ROW_STORE_H_
#define QX_MESSAGE_ROW_STORE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace qx::message {

struct DataItem {
  std::string name;
  std::string value;
};

class DataRow {
 public:
  // Replaces the value of an item of that (already folded) name in place, or appends a new one.
  void Set(std::string_view folded_name, std::string_view value);
  // The item whose name equals folded_name byte for byte, or null.
  const DataItem* Find(std::string_view folded_name) const;
  const std::vector<DataItem>& items() const { return items_; }

 private:
  // Rows this short are searched item by item; longer ones keep the index.
  static constexpr std::size_t kIndexFrom = 8;

  std::vector<DataItem> items_;
  std::unordered_map<std::string, std::size_t> index_;  // name -> position, once indexed
};

class RowStore {
 public:
  // Lookup outcomes, equal to the status codes they raise.
  static constexpr int32_t kFound = 0;
  static constexpr int32_t kRowOutOfRange = -100;
  static constexpr int32_t kRowEmpty = -101;
  static constexpr int32_t kNoSuchItem = -103;

  // Stores an item into row `row` (1-based). A row beyond the row count makes the table exactly
  // `row` rows long; rows skipped that way stay empty (lookups there give kRowEmpty). The name
  // is folded to lower case, double-byte aware. A row below 1 stores nothing. Always returns 0.
  int32_t AddItem(int32_t row, std::string_view name, std::string_view value);

  // Discards every row; the current row becomes 1.
  void Clear();

  // Looks up name (folded bytewise) in the current row. Returns kFound with *value pointing to
  // the stored value (valid until the next AddItem or Clear), or one of the failure codes above
  // with *value untouched.
  int32_t Find(std::string_view name, const std::string** value) const;

  int32_t row_count() const { return static_cast<int32_t>(rows_.size()); }
  int32_t current_row() const { return current_row_; }
  void set_current_row(int32_t row) { current_row_ = row; }
  const std::vector<DataRow>& rows() const { return rows_; }

 private:
  std::vector<DataRow> rows_;
  int32_t current_row_ = 0;
};

}  // namespace qx::message

#endif  // QX_MESSAGE_ROW_STORE_H_
