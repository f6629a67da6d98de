#include "fs/Catalogue.h"

#include <algorithm>
#include <cstring>

namespace quorvel {

namespace {

// Cuts UTF-8 text to at most `limit` bytes without splitting a character.
std::string_view cutUtf8(std::string_view text, std::size_t limit) {
  if (text.size() <= limit) return text;
  std::size_t end = limit;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

constexpr Catalogue::Flag kTimeFlags[3] = {Catalogue::kCreated, Catalogue::kAccessed, Catalogue::kModified};

}  // namespace

// ---------------------------------------------------------------- names

std::uint32_t NamePool::add(std::string_view text, std::uint16_t& storedLength) {
  text = cutUtf8(text, std::min<std::size_t>(kBlockSize, 0xFFFF));
  storedLength = static_cast<std::uint16_t>(text.size());
  if (text.empty()) return 0;
  if (blocks_.empty() || kBlockSize - used_ < text.size()) {
    blocks_.push_back(std::make_unique<char[]>(kBlockSize));
    used_ = 0;
  }
  const auto block = static_cast<std::uint32_t>(blocks_.size() - 1);
  std::memcpy(blocks_.back().get() + used_, text.data(), text.size());
  const std::uint32_t handle = block * kBlockSize + used_;
  used_ += static_cast<std::uint32_t>(text.size());
  return handle;
}

std::string_view NamePool::get(std::uint32_t handle, std::uint16_t length) const {
  if (length == 0) return {};
  const std::uint32_t block = handle / kBlockSize;
  const std::uint32_t offset = handle % kBlockSize;
  if (block >= blocks_.size() || offset + length > kBlockSize) return {};
  return {blocks_[block].get() + offset, length};
}

void NamePool::clear() {
  blocks_.clear();
  used_ = 0;
}

// ---------------------------------------------------------------- filling

void Catalogue::clear() {
  entries_.clear();
  entries_.shrink_to_fit();
  names_.clear();
  root_ = orphans_ = kNoEntry;
}

void Catalogue::reserve(std::size_t count) {
  try {
    entries_.reserve(count);
  } catch (const std::exception&) {
    // A damaged count only costs a regrowth.
  }
}

EntryId Catalogue::add(std::string_view name, std::uint16_t flags) {
  // The last ids stay free: kUnderOrphans and kNoEntry are not entries.
  if (entries_.size() >= kUnderOrphans) return kNoEntry;
  Entry& e = entries_.emplace_back();
  e.flags = flags;
  e.nameHandle = names_.add(name, e.nameLength);
  return static_cast<EntryId>(entries_.size() - 1);
}

void Catalogue::resize(std::size_t count) {
  if (count > entries_.size() && count < kUnderOrphans) entries_.resize(count);
}

void Catalogue::resetEntry(EntryId id) {
  if (valid(id)) entries_[id] = Entry{};
}

void Catalogue::truncate(std::size_t count) {
  if (count < entries_.size()) entries_.resize(count);
  if (orphans_ != kNoEntry && orphans_ >= count) orphans_ = kNoEntry;
}

void Catalogue::setName(EntryId id, std::string_view text) {
  if (valid(id)) entries_[id].nameHandle = names_.add(text, entries_[id].nameLength);
}

void Catalogue::setFlag(EntryId id, Flag flag, bool on) {
  if (!valid(id)) return;
  if (on)
    entries_[id].flags |= flag;
  else
    entries_[id].flags &= static_cast<std::uint16_t>(~flag);
}

void Catalogue::setTimes(EntryId id, const EntryTimes& times) {
  if (!valid(id)) return;
  Entry& e = entries_[id];
  const std::optional<FileTime>* given[3] = {&times.created, &times.accessed, &times.modified};
  for (int k = 0; k < 3; ++k) {
    e.flags &= static_cast<std::uint16_t>(~kTimeFlags[k]);
    if (!*given[k]) continue;
    e.flags |= kTimeFlags[k];
    e.seconds[k] = (*given[k])->seconds;
    e.nanoseconds[k] = (*given[k])->nanoseconds;
  }
}

EntryId Catalogue::orphanFolder(std::string_view name) {
  if (orphans_ == kNoEntry) orphans_ = add(name, kFolder);
  return orphans_;
}

// ---------------------------------------------------------------- the build

bool Catalogue::shown(EntryId id) const {
  return id == root_ || id == orphans_ || (valid(id) && entries_[id].parent != kNoEntry);
}

void Catalogue::adoptUnusableParents() {
  // Decided on the parents as the parser left them; an entry adopted here
  // stays shown, so its own children keep it.
  std::vector<bool> wasShown(entries_.size());
  for (EntryId i = 0; i < entries_.size(); ++i) wasShown[i] = shown(i);
  for (EntryId i = 0; i < entries_.size(); ++i) {
    Entry& e = entries_[i];
    if (i == root_ || i == orphans_) {
      e.parent = kNoEntry;
      continue;
    }
    const EntryId p = e.parent;
    if (p == kNoEntry) continue;
    if (p == kUnderOrphans || p == i || !valid(p) || !wasShown[p] || !(entries_[p].flags & kFolder)) e.parent = orphans_;
  }
}

void Catalogue::cutCycles() {
  // 0 unseen, 1 on the path being walked, 2 known to end at the top. The
  // lowest entry of a cycle goes under the orphan folder, whichever entry
  // the walk met the cycle at: the same damage gives the same tree.
  std::vector<std::uint8_t> state(entries_.size(), 0);
  const auto next = [&](EntryId v) { return v < entries_.size() ? entries_[v].parent : kNoEntry; };
  for (EntryId s = 0; s < entries_.size(); ++s) {
    if (state[s] != 0) continue;
    EntryId v = s;
    while (v < entries_.size() && state[v] == 0) {
      state[v] = 1;
      v = next(v);
    }
    EntryId cut = kNoEntry;
    if (v < entries_.size() && state[v] == 1) {
      cut = v;
      for (EntryId w = next(v); w != v; w = next(w)) cut = std::min(cut, w);
    }
    for (EntryId w = s; w < entries_.size() && state[w] == 1; w = next(w)) state[w] = 2;
    if (cut != kNoEntry) entries_[cut].parent = orphans_;
  }
}

void Catalogue::linkChains(const std::vector<EntryId>* order) {
  for (Entry& e : entries_) e.firstChild = e.nextSibling = kNoEntry;
  const auto link = [&](EntryId i) {
    Entry& e = entries_[i];
    if (e.parent == kNoEntry || i == orphans_) return;
    e.nextSibling = entries_[e.parent].firstChild;
    entries_[e.parent].firstChild = i;
  };
  // From the last entry to the first, so that chains read in order.
  if (!order) {
    for (EntryId i = static_cast<EntryId>(entries_.size()); i-- > 0;) link(i);
    return;
  }
  std::vector<bool> linked(entries_.size(), false);
  for (auto it = order->rbegin(); it != order->rend(); ++it)
    if (valid(*it) && !linked[*it]) {
      linked[*it] = true;
      link(*it);
    }
  for (EntryId i = 0; i < entries_.size(); ++i)
    if (!linked[i] && i != orphans_) entries_[i].parent = kNoEntry;
}

void Catalogue::build(EntryId root, std::string_view orphanFolderName, const std::vector<EntryId>* linkOrder) {
  root_ = valid(root) && (entries_[root].flags & kFolder) ? root : kNoEntry;
  if (orphanFolder(orphanFolderName) == kNoEntry) {
    // No id left for it: what has no usable parent is not shown.
    for (Entry& e : entries_)
      if (e.parent == kUnderOrphans || (e.parent != kNoEntry && !valid(e.parent))) e.parent = kNoEntry;
    linkChains(linkOrder);
    return;
  }
  adoptUnusableParents();
  cutCycles();
  linkChains(linkOrder);
  Entry& orphans = entries_[orphans_];
  if (orphans.firstChild == kNoEntry || root_ == kNoEntry) return;
  // The orphan folder is the root's last child.
  orphans.parent = root_;
  EntryId* link = &entries_[root_].firstChild;
  for (std::size_t steps = 0; *link != kNoEntry && steps < entries_.size(); ++steps) link = &entries_[*link].nextSibling;
  *link = orphans_;
}

// ---------------------------------------------------------------- browsing

std::vector<EntryId> Catalogue::topEntries() const {
  if (root_ != kNoEntry) return children(root_);
  if (orphans_ != kNoEntry && valid(orphans_) && entries_[orphans_].firstChild != kNoEntry) return {orphans_};
  return {};
}

std::vector<EntryId> Catalogue::children(EntryId folder) const {
  std::vector<EntryId> out;
  if (!valid(folder)) return out;
  for (EntryId c = entries_[folder].firstChild; c < entries_.size() && out.size() < entries_.size();
       c = entries_[c].nextSibling)
    out.push_back(c);
  return out;
}

std::string_view Catalogue::name(EntryId id) const {
  return valid(id) ? names_.get(entries_[id].nameHandle, entries_[id].nameLength) : std::string_view();
}

EntryTimes Catalogue::times(EntryId id) const {
  EntryTimes out;
  if (!valid(id)) return out;
  const Entry& e = entries_[id];
  std::optional<FileTime>* slots[3] = {&out.created, &out.accessed, &out.modified};
  for (int k = 0; k < 3; ++k)
    if (e.flags & kTimeFlags[k]) *slots[k] = FileTime{e.seconds[k], e.nanoseconds[k]};
  return out;
}

}  // namespace quorvel
