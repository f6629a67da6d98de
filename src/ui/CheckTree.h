#pragma once
// Tri-state check boxes over a tree of items: checking a folder checks
// everything below it, and a folder shows checked, unchecked or partly
// checked from counts kept on every item, so no change ever walks more than
// the changed subtree and the path up to the top.
#include <cstdint>
#include <limits>
#include <vector>

namespace quorvel {

// An item, by its index in the order it was inserted. Ids stay valid until clear().
using CheckItemId = std::uint32_t;
inline constexpr CheckItemId kNoCheckItem = std::numeric_limits<CheckItemId>::max();

// The check-box picture of an item; kDisabledImage is added for a disabled item.
enum class CheckMark { Unchecked = 1, Checked = 2, PartlyChecked = 3 };
inline constexpr int kDisabledImage = 4;

// What is kept per item. A separator is never checked; separators and
// disabled items are left out of every count, so they never keep a folder
// from showing checked.
struct CheckItemData {
  CheckItemId parent = kNoCheckItem;
  std::uint32_t row = 0;  // position among its parent's children
  std::vector<CheckItemId> children;
  bool checked = false;  // the item's own flag
  bool enabled = true;
  bool separator = false;
  std::uint32_t descendants = 0;         // items below, of every kind
  std::uint32_t checkedDescendants = 0;  // countable items below that are checked
  std::uint32_t separatorsBelow = 0;
  std::uint32_t disabledBelow = 0;  // disabled items below that are not separators
};

// Told about changes; calls arrive inside the changing call.
class CheckTreeObserver {
 public:
  virtual ~CheckTreeObserver() = default;
  // The item's state image differs from before: its box must be drawn again.
  virtual void stateImageChanged(CheckItemId item) { (void)item; }
  // applyCheck changed the item's check, or the check of something below it.
  virtual void checkChanged(CheckItemId item, bool checked) {
    (void)item;
    (void)checked;
  }
};

class CheckTree {
 public:
  explicit CheckTree(CheckTreeObserver* observer = nullptr) : observer_(observer) {}

  // A new last child of `parent` (kNoCheckItem: a top item), enabled. An item
  // inserted unchecked under a fully checked branch makes the branch partly
  // checked; `checked` lets a folder pass its check on to items created later.
  CheckItemId insert(CheckItemId parent, bool checked = false);
  CheckItemId insertSeparator(CheckItemId parent);
  void clear();

  // Checks or unchecks the item and everything below it, then brings the
  // ancestors up to date. Disabled items and separators ignore it.
  void applyCheck(CheckItemId item, bool on);
  // A click on the item's box: the opposite of its own flag, so a partly
  // checked folder becomes checked whole.
  void toggle(CheckItemId item);
  // A disabled item keeps its check and is left out of its ancestors' counts.
  void setEnabled(CheckItemId item, bool enabled);

  // Checked: a folder with countable items below when all of them are
  // checked, any other item when its own flag is on.
  bool isChecked(CheckItemId item) const;
  CheckMark checkMark(CheckItemId item) const;
  int stateImage(CheckItemId item) const;  // checkMark, plus kDisabledImage when disabled

  // The topmost items whose whole subtree is checked, in tree order: a
  // caller saves each of them whole, so a checked folder is saved with
  // everything in it and a checked file alone under a partly checked folder.
  std::vector<CheckItemId> topmostChecked() const;

  bool contains(CheckItemId item) const { return item < items_.size(); }
  std::size_t size() const { return items_.size(); }
  const CheckItemData& data(CheckItemId item) const { return items_.at(item); }
  CheckItemId parent(CheckItemId item) const { return items_.at(item).parent; }
  const std::vector<CheckItemId>& children(CheckItemId item) const { return items_.at(item).children; }
  const std::vector<CheckItemId>& topItems() const { return topItems_; }

 private:
  bool countable(const CheckItemData& item) const { return item.enabled && !item.separator; }
  std::uint32_t countableDescendants(const CheckItemData& item) const;
  CheckItemId add(CheckItemId parent, bool separator, bool checked);
  // Gives the subtree the flag; returns how many counted items changed their
  // flag, as a signed change of the ancestors' checked counts.
  std::int64_t spread(CheckItemId item, bool on);
  // How the counts of every ancestor change when an item joins or leaves them.
  struct CountChange {
    int descendants = 0;
    int separators = 0;
    int disabled = 0;
  };
  // Adds `delta` to the checked counts from `item` up to the top and
  // recomputes each one's own flag, passing its own change on upwards.
  void walkUp(CheckItemId item, std::int64_t delta, const CountChange& change);
  void reportImage(CheckItemId item, int before);

  std::vector<CheckItemData> items_;
  std::vector<CheckItemId> topItems_;
  CheckTreeObserver* observer_;
};

}  // namespace quorvel
