#pragma once
// A virtual disk read through its library, with its chain of parents
// (differencing disks, backing files). One format supplies a Traits type:
//   using Handle = ...;
//   static bool open(Handle*&, const std::string& path, std::string& libraryText);
//   static void release(Handle*&);
//   static std::string refusal(Handle*);    // why this variant cannot be read, or empty
//   static std::string parentName(Handle*); // the parent as the child names it, or empty
//   static bool setParent(Handle* child, Handle* parent, std::string& libraryText);
//   static std::uint64_t mediaSize(Handle*);
//   static std::int64_t read(Handle*, void*, std::size_t, std::uint64_t offset);  // -1 on error
#include <atomic>
#include <cerrno>
#include <mutex>
#include <vector>

#include "io/ImageBackend.h"
#include "io/images/LibraryImage.h"

namespace quorvel::images {

template <typename Traits>
class LibraryChain final : public ImageBackend {
 public:
  using Handle = typename Traits::Handle;
  // The child first, then each parent; all stay open while the child reads.
  explicit LibraryChain(std::vector<Handle*> chain) : chain_(std::move(chain)), size_(Traits::mediaSize(chain_.front())) {}
  ~LibraryChain() override {
    for (Handle*& handle : chain_) Traits::release(handle);
  }
  LibraryChain(const LibraryChain&) = delete;
  LibraryChain& operator=(const LibraryChain&) = delete;

  std::uint64_t size() const override { return size_; }
  int errorNumber() const override { return errorNumber_; }

  std::int64_t readAt(std::uint64_t offset, void* destination, std::size_t byteCount) const override {
    if (offset >= size_) return 0;
    if (byteCount > size_ - offset) byteCount = static_cast<std::size_t>(size_ - offset);
    // The library's handle keeps a position and caches: reads take turns.
    std::lock_guard lock(mutex_);
    const std::int64_t got = Traits::read(chain_.front(), destination, byteCount, offset);
    if (got < 0) errorNumber_ = EIO;
    return got;
  }

 private:
  std::vector<Handle*> chain_;
  std::uint64_t size_ = 0;
  mutable std::mutex mutex_;
  mutable std::atomic<int> errorNumber_{0};
};

// Opens `path` and every parent it names, found beside it.
template <typename Traits>
ImageOpening openLibraryChain(const std::string& path, const std::string& kind) {
  using Handle = typename Traits::Handle;
  ImageOpening opening;
  opening.errorNumber = EINVAL;
  std::vector<Handle*> chain;
  auto fail = [&](const std::string& text) {
    for (Handle*& handle : chain) Traits::release(handle);
    opening.error = text;
    return std::move(opening);
  };

  std::string current = path;
  for (int depth = 0;; ++depth) {
    Handle* handle = nullptr;
    std::string libraryText;
    if (!Traits::open(handle, current, libraryText)) {
      return fail(current == path
                      ? cannotRead(kind, path, "the library cannot read this variant or the file is damaged", libraryText)
                      : cannotRead(kind, path, "its parent disk " + current + " cannot be read", libraryText));
    }
    if (const std::string refused = Traits::refusal(handle); !refused.empty()) {
      Traits::release(handle);
      return fail(cannotRead(kind, path, current == path ? refused : "its parent disk " + current + " " + refused));
    }
    if (!chain.empty() && !Traits::setParent(chain.back(), handle, libraryText)) {
      Traits::release(handle);
      return fail(cannotRead(kind, path, "the parent disk " + current + " does not fit it", libraryText));
    }
    chain.push_back(handle);

    const std::string stored = Traits::parentName(handle);
    if (stored.empty()) break;
    const std::string parent = findBeside(current, stored);
    if (parent.empty())
      return fail(cannotRead(kind, path, "its parent disk " + bareName(stored) + " is missing; put it in the same folder"));
    if (depth + 1 >= kMostParents) return fail(cannotRead(kind, path, "its chain of parent disks is too long or loops"));
    current = parent;
  }
  opening.errorNumber = 0;
  opening.backend = std::make_unique<LibraryChain<Traits>>(std::move(chain));
  return opening;
}

}  // namespace quorvel::images
