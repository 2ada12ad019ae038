#include "message/row_store.h"

#include "message/case_folding.h"

namespace qx::message {

void DataRow::Set(std::string_view folded_name, std::string_view value) {
  if (index_.empty()) {
    for (DataItem& item : items_) {
      if (item.name == folded_name) {
        item.value.assign(value);
        return;
      }
    }
  } else if (auto it = index_.find(std::string(folded_name)); it != index_.end()) {
    items_[it->second].value.assign(value);
    return;
  }
  items_.push_back(DataItem{std::string(folded_name), std::string(value)});
  if (!index_.empty()) {
    index_.emplace(items_.back().name, items_.size() - 1);
  } else if (items_.size() >= kIndexFrom) {
    for (std::size_t i = 0; i < items_.size(); ++i) index_.emplace(items_[i].name, i);
  }
}

const DataItem* DataRow::Find(std::string_view folded_name) const {
  if (!index_.empty()) {
    auto it = index_.find(std::string(folded_name));
    return it == index_.end() ? nullptr : &items_[it->second];
  }
  for (const DataItem& item : items_) {
    if (item.name == folded_name) return &item;
  }
  return nullptr;
}

int32_t RowStore::AddItem(int32_t row, std::string_view name, std::string_view value) {
  if (row < 1) return 0;
  if (static_cast<std::size_t>(row) > rows_.size()) rows_.resize(static_cast<std::size_t>(row));
  rows_[static_cast<std::size_t>(row) - 1].Set(FoldLowerDoubleByte(name), value);
  return 0;
}

void RowStore::Clear() {
  rows_.clear();
  rows_.shrink_to_fit();
  current_row_ = 1;
}

int32_t RowStore::Find(std::string_view name, const std::string** value) const {
  std::string folded = FoldLowerBytewise(name);
  if (rows_.empty() || current_row_ < 1 || current_row_ > row_count()) return kRowOutOfRange;
  const DataRow& row = rows_[static_cast<std::size_t>(current_row_) - 1];
  if (row.items().empty()) return kRowEmpty;
  const DataItem* item = row.Find(folded);
  if (item == nullptr) return kNoSuchItem;
  *value = &item->value;
  return kFound;
}

}  // namespace qx::message
