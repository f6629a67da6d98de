#include "ui/CheckTree.h"

#include <algorithm>

namespace quorvel {

namespace {

std::uint32_t adjusted(std::uint32_t count, std::int64_t change) {
  return static_cast<std::uint32_t>(std::max<std::int64_t>(0, std::int64_t{count} + change));
}

}  // namespace

std::uint32_t CheckTree::countableDescendants(const CheckItemData& item) const {
  return item.descendants - item.separatorsBelow - item.disabledBelow;
}

CheckItemId CheckTree::insert(CheckItemId parent, bool checked) { return add(parent, false, checked); }

CheckItemId CheckTree::insertSeparator(CheckItemId parent) { return add(parent, true, false); }

void CheckTree::clear() {
  items_.clear();
  topItems_.clear();
}

CheckItemId CheckTree::add(CheckItemId parent, bool separator, bool checked) {
  if ((parent != kNoCheckItem && !contains(parent)) || items_.size() >= kNoCheckItem) return kNoCheckItem;
  const auto id = static_cast<CheckItemId>(items_.size());
  std::vector<CheckItemId>& siblings = parent == kNoCheckItem ? topItems_ : items_[parent].children;
  CheckItemData item;
  item.parent = parent;
  item.row = static_cast<std::uint32_t>(siblings.size());
  item.separator = separator;
  item.checked = checked && !separator;
  siblings.push_back(id);
  items_.push_back(std::move(item));
  walkUp(parent, items_[id].checked ? 1 : 0, CountChange{1, separator ? 1 : 0, 0});
  return id;
}

void CheckTree::applyCheck(CheckItemId item, bool on) {
  if (!contains(item) || !countable(items_[item])) return;
  const std::int64_t delta = spread(item, on);
  if (delta == 0) return;
  walkUp(items_[item].parent, delta, {});
  if (observer_) observer_->checkChanged(item, on);
}

void CheckTree::toggle(CheckItemId item) {
  if (contains(item)) applyCheck(item, !items_[item].checked);
}

void CheckTree::setEnabled(CheckItemId item, bool enabled) {
  if (!contains(item) || items_[item].enabled == enabled) return;
  CheckItemData& data = items_[item];
  const int before = stateImage(item);
  data.enabled = enabled;
  std::int64_t delta = 0;
  CountChange change;
  if (!data.separator) {
    change.disabled = enabled ? -1 : 1;
    if (data.checked) delta = enabled ? 1 : -1;
  }
  reportImage(item, before);
  walkUp(data.parent, delta, change);
}

std::int64_t CheckTree::spread(CheckItemId root, bool on) {
  struct Frame {
    CheckItemId id;
    std::size_t nextChild;
    int imageBefore;
  };
  std::vector<Frame> stack{{root, 0, stateImage(root)}};
  std::int64_t delta = 0;
  while (!stack.empty()) {
    const Frame frame = stack.back();
    CheckItemData& item = items_[frame.id];
    if (frame.nextChild < item.children.size()) {
      ++stack.back().nextChild;
      const CheckItemId child = item.children[frame.nextChild];
      stack.push_back({child, 0, stateImage(child)});
      continue;
    }
    // Every child is done: count them again rather than trust the old
    // counts, which keeps disabled items and separators out exactly.
    std::uint32_t checkedBelow = 0;
    for (const CheckItemId childId : item.children) {
      const CheckItemData& child = items_[childId];
      checkedBelow += child.checkedDescendants + (countable(child) && child.checked ? 1 : 0);
    }
    item.checkedDescendants = checkedBelow;
    const std::uint32_t countableBelow = countableDescendants(item);
    bool own = item.checked;
    if (countableBelow > 0) {
      own = checkedBelow == countableBelow;
    } else if (countable(item)) {
      own = on;
    }
    if (own != item.checked && countable(item)) delta += own ? 1 : -1;
    item.checked = own;
    stack.pop_back();
    reportImage(frame.id, frame.imageBefore);
  }
  return delta;
}

void CheckTree::walkUp(CheckItemId id, std::int64_t delta, const CountChange& change) {
  for (; id != kNoCheckItem; id = items_[id].parent) {
    const int before = stateImage(id);
    CheckItemData& item = items_[id];
    item.descendants = adjusted(item.descendants, change.descendants);
    item.separatorsBelow = adjusted(item.separatorsBelow, change.separators);
    item.disabledBelow = adjusted(item.disabledBelow, change.disabled);
    item.checkedDescendants = adjusted(item.checkedDescendants, delta);
    // An item with nothing countable below keeps its own flag, as a file does.
    const std::uint32_t countableBelow = countableDescendants(item);
    if (countableBelow > 0) {
      const bool own = item.checkedDescendants == countableBelow;
      if (own != item.checked && countable(item)) delta += own ? 1 : -1;
      item.checked = own;
    }
    reportImage(id, before);
  }
}

void CheckTree::reportImage(CheckItemId item, int before) {
  if (observer_ && stateImage(item) != before) observer_->stateImageChanged(item);
}

bool CheckTree::isChecked(CheckItemId id) const {
  if (!contains(id)) return false;
  const CheckItemData& item = items_[id];
  const std::uint32_t countableBelow = countableDescendants(item);
  if (countableBelow > 0) return item.checkedDescendants == countableBelow;
  return item.checked;
}

CheckMark CheckTree::checkMark(CheckItemId id) const {
  if (!contains(id)) return CheckMark::Unchecked;
  const CheckItemData& item = items_[id];
  const std::uint32_t countableBelow = countableDescendants(item);
  if (countableBelow == 0) return item.checked ? CheckMark::Checked : CheckMark::Unchecked;
  if (item.checkedDescendants == 0) return CheckMark::Unchecked;
  if (item.checkedDescendants == countableBelow) return CheckMark::Checked;
  return CheckMark::PartlyChecked;
}

int CheckTree::stateImage(CheckItemId id) const {
  const int image = static_cast<int>(checkMark(id));
  return contains(id) && !items_[id].enabled ? image + kDisabledImage : image;
}

std::vector<CheckItemId> CheckTree::topmostChecked() const {
  std::vector<CheckItemId> found;
  std::vector<CheckItemId> pending(topItems_.rbegin(), topItems_.rend());
  while (!pending.empty()) {
    const CheckItemId id = pending.back();
    pending.pop_back();
    const CheckItemData& item = items_[id];
    // A disabled item below would be saved with its folder, so such a
    // folder is taken apart instead.
    if (countable(item) && isChecked(id) && item.disabledBelow == 0) {
      found.push_back(id);
      continue;
    }
    pending.insert(pending.end(), item.children.rbegin(), item.children.rend());
  }
  return found;
}

}  // namespace quorvel
