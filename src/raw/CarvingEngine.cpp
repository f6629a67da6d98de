#include "raw/CarvingEngine.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <map>


namespace quorvel::raw {

namespace {

constexpr std::size_t kStep = 512;
constexpr std::size_t kChunk = 1 << 20;
constexpr std::uint8_t kAnyByte = 0x2A;  // "*" in a signature matches any byte

std::uint64_t roundUpToStep(std::uint64_t bytes) { return (bytes + kStep - 1) / kStep * kStep; }

bool signatureAt(const std::uint8_t* signature, std::size_t length, const std::uint8_t* bytes) {
  for (std::size_t i = 0; i < length; ++i)
    if (signature[i] != kAnyByte && signature[i] != bytes[i]) return false;
  return true;
}

}  // namespace

std::string CarveCategory::text() const {
  return count > 0 ? name + " (" + std::to_string(count) + ")" : name;
}

std::string carvedFileName(std::uint64_t offset, const std::string& extension) {
  std::string name = std::to_string(offset) + " .";
  for (const char c : extension) name += (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20) ? '_' : c;
  return name;
}

std::filesystem::path defaultSettingsPath() {
  std::error_code error;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
  return (error ? std::filesystem::current_path(error) : program.parent_path()) / kDefaultSettingsName;
}

void CarvingEngine::load(const std::vector<SignatureRecord>& records, bool structureAware) {
  for (const SignatureRecord& r : records) {
    SignatureSetting setting;
    setting.startLength = std::min<std::uint8_t>(r.startLength, kSignatureBytes);
    setting.endLength = std::min<std::uint8_t>(r.endLength, kSignatureBytes);
    setting.extension = extensionText(r);
    setting.sizeFieldOffset = r.sizeFieldOffset > 0 ? r.sizeFieldOffset : -1;
    setting.sizeFieldBytes = r.sizeFieldBytes;
    setting.headerSize = r.headerSize;
    setting.sizeIncludesHeader = r.sizeIncludesHeader;
    setting.reserved = r.reserved1;
    setting.approximateSize = r.approximateSize;
    setting.skipSize = r.skipSize;
    setting.category = categoryText(r);
    if (structureAware) setting.structure = structureForExtension(setting.extension);

    SignatureItem item;
    item.extension = r.extension;
    item.extension[4] = 0;
    item.extensionLength = r.extensionLength;
    item.startSignature = r.startSignature;
    item.endSignature = r.endSignature;
    item.startLength = setting.startLength;
    item.endLength = setting.endLength;
    item.settingNumber = settings_.size();
    settings_.push_back(std::move(setting));
    items_.push_back(item);
  }
}

bool CarvingEngine::loadFile(const std::filesystem::path& path, SettingsOrigin origin, std::string& message,
                     const std::function<bool(const SignatureRecord&)>& keep) {
  SettingsRead read = readSettingsFile(path, origin);
  message = read.message;
  if (!read.ok) return false;
  if (keep) std::erase_if(read.records, [&](const SignatureRecord& r) { return !keep(r); });
  load(read.records, origin == SettingsOrigin::Default);
  return true;
}

struct CarvingEngine::Row {
  std::uint8_t length = 0;
  std::size_t setting = 0;
  std::array<std::uint8_t, kSignatureBytes> bytes{};
};

// One pass over a volume: the match table, the queues of open starts and
// the rules that turn matches into carved files.
class CarvingEngine::Run {
 public:
  Run(CarvingEngine& engine, const VolumeView& view, CarveRun& run, std::size_t runIndex)
      : engine_(engine), view_(view), run_(run), runIndex_(runIndex), queues_(engine.settings_.size()) {
    // Start rows by their first byte, in table order; "*" first bytes in every list.
    for (const SignatureItem& item : engine.items_) {
      if (item.startLength <= 1) continue;  // a one-byte signature never matches
      Row row{item.startLength, item.settingNumber, item.startSignature};
      const std::size_t index = starts_.size();
      starts_.push_back(row);
      for (int b = 0; b < 256; ++b)
        if (row.bytes[0] == kAnyByte || row.bytes[0] == b) startsByFirstByte_[b].push_back(index);
    }
    for (const SignatureItem& item : engine.items_)
      if (item.endLength > 1 && engine.settings_[item.settingNumber].structure == FileStructure::None)
        ends_.push_back(Row{item.endLength, item.settingNumber, item.endSignature});
  }

  std::uint64_t visit(std::uint64_t pos, Bytes window) {
    std::uint64_t next = pos + kStep;
    bool started = false;
    for (const std::size_t index : startsByFirstByte_[window[0]]) {
      const Row& row = starts_[index];
      if (window.size() < row.length || !signatureAt(row.bytes.data(), row.length, window.data())) continue;
      started = true;
      next = std::max(next, onStart(row.setting, pos, window));
      break;
    }
    if (open_ > 0) {
      // Ends lie anywhere; one starting at a start just found is that start.
      searchEnds(pos, started ? 1 : 0, window);
    }
    return next;
  }

  // Open starts left at the end: each runs to the next open start of its
  // setting, the last for the approximate size.
  void finish() {
    for (std::size_t s = 0; s < queues_.size(); ++s) {
      const std::deque<std::uint64_t>& queue = queues_[s];
      const std::int64_t approximate = engine_.settings_[s].approximateSize;
      for (std::size_t i = queue.size(); i-- > 0;) {
        std::int64_t length = i + 1 < queue.size() ? static_cast<std::int64_t>(queue[i + 1] - queue[i]) : approximate;
        length = std::min(length, approximate);
        if (length <= 0) continue;
        carveFile(s, queue[i], static_cast<std::uint64_t>(length), {});
      }
    }
  }

 private:
  std::uint64_t skipStep(const SignatureSetting& s) const {
    return s.skipSize > static_cast<std::int64_t>(kStep) ? static_cast<std::uint64_t>(s.skipSize) / kStep * kStep : kStep;
  }

  std::uint64_t onStart(std::size_t index, std::uint64_t pos, Bytes window) {
    const SignatureSetting& s = engine_.settings_[index];
    const std::uint64_t remaining = view_.size() - pos;
    if (s.structure != FileStructure::None) {
      const std::uint64_t limit =
          s.approximateSize > 0 ? std::min<std::uint64_t>(remaining, static_cast<std::uint64_t>(s.approximateSize)) : remaining;
      const std::optional<FileEnd> end = findFileEnd(s.structure, view_, pos, limit);
      if (!end || end->length == 0) return pos + kStep;
      carveFile(index, pos, end->length, end->extension);
      return pos + roundUpToStep(end->length);
    }
    if (s.endLength > 1) {
      queues_[index].push_back(pos);
      ++open_;
      return pos + kStep;
    }
    const bool sizeRule = s.sizeFieldBytes > 0 && s.sizeFieldOffset >= 0 &&
                          static_cast<std::int64_t>(s.sizeFieldOffset) + s.sizeFieldBytes <= static_cast<std::int64_t>(kStep);
    if (sizeRule) {
      std::array<std::uint8_t, kStep> header{};
      std::copy_n(window.begin(), std::min(window.size(), kStep), header.begin());
      if (window.size() < kStep) view_.read(pos, header.data(), header.size());
      std::int64_t size = static_cast<std::int32_t>(le32(Bytes(header), static_cast<std::size_t>(s.sizeFieldOffset)));
      if (s.approximateSize < size) size = 0;
      if (s.sizeFieldBytes != 4 || size <= 0) return pos + kStep;
      const std::uint64_t length = std::min<std::uint64_t>(static_cast<std::uint64_t>(size), remaining);
      carveFile(index, pos, length, {});
      return pos + std::max<std::uint64_t>(kStep, roundUpToStep(length));
    }
    const std::uint64_t length =
        std::min<std::uint64_t>(static_cast<std::uint64_t>(std::max<std::int64_t>(0, s.approximateSize)), remaining);
    carveFile(index, pos, length, {});
    return pos + skipStep(s);
  }

  // Looks for the end signatures of settings with open starts at every byte
  // of the step at `pos`, reading past the chunk where a signature may cross it.
  void searchEnds(std::uint64_t pos, std::size_t firstByte, Bytes window) {
    constexpr std::size_t kNeed = kStep + kSignatureBytes - 1;
    Bytes bytes = window;
    if (bytes.size() < kNeed) {
      std::copy(window.begin(), window.end(), tail_.begin());
      std::size_t have = window.size();
      const std::int64_t more = view_.readUpTo(pos + have, std::span<std::uint8_t>(tail_.data() + have, kNeed - have));
      if (more > 0) have += static_cast<std::size_t>(more);
      bytes = Bytes(tail_.data(), have);
    }
    const std::size_t stepEnd = std::min(kStep, bytes.size());
    for (const Row& row : ends_) {
      std::deque<std::uint64_t>& queue = queues_[row.setting];
      std::size_t i = firstByte;
      while (!queue.empty() && i < stepEnd) {
        if (row.bytes[0] != kAnyByte) {
          const void* hit = std::memchr(bytes.data() + i, row.bytes[0], stepEnd - i);
          if (hit == nullptr) break;
          i = static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - bytes.data());
        }
        if (i + row.length > bytes.size() || !signatureAt(row.bytes.data(), row.length, bytes.data() + i)) {
          ++i;
          continue;
        }
        const std::uint64_t at = pos + i;
        const std::uint64_t start = queue.front();
        if (at < start + engine_.settings_[row.setting].startLength) {
          ++i;
          continue;
        }
        queue.pop_front();
        --open_;
        // The file ends with the signature's last byte.
        std::uint64_t length = at + row.length - start;
        const std::int64_t approximate = engine_.settings_[row.setting].approximateSize;
        if (approximate > 0 && length > static_cast<std::uint64_t>(approximate)) length = static_cast<std::uint64_t>(approximate);
        carveFile(row.setting, start, length, {});
        i += row.length;
      }
    }
  }

  // Every carved file is named after its start, however its end was found.
  void carveFile(std::size_t setting, std::uint64_t start, std::uint64_t length, const std::string& extension) {
    const SignatureSetting& s = engine_.settings_[setting];
    CarvedFile file;
    file.start = start;
    file.length = std::min(length, view_.size() - std::min(start, view_.size()));
    file.name = carvedFileName(start, extension.empty() ? s.extension : extension);
    file.run = runIndex_;
    file.category = run_.categoryOfSetting[setting];
    CarveCategory& category = run_.categories[file.category];
    ++category.count;
    category.files.push_back(engine_.carved_.size());
    engine_.carved_.push_back(std::move(file));
    if (engine_.onCarved) engine_.onCarved(engine_.carved_.size() - 1);
  }

  CarvingEngine& engine_;
  const VolumeView& view_;
  CarveRun& run_;
  std::size_t runIndex_;
  std::vector<Row> starts_;
  std::array<std::vector<std::size_t>, 256> startsByFirstByte_;
  std::vector<Row> ends_;
  std::vector<std::deque<std::uint64_t>> queues_;
  std::size_t open_ = 0;
  std::array<std::uint8_t, kStep + kSignatureBytes> tail_{};
};

std::pair<std::vector<std::string>, std::vector<std::size_t>> CarvingEngine::categories() const {
  std::vector<std::string> names;
  std::vector<std::size_t> ofSetting;
  std::map<std::string, std::size_t> index;
  for (const SignatureSetting& s : settings_) {
    const auto [it, added] = index.emplace(s.category, names.size());
    if (added) names.push_back(s.category);
    ofSetting.push_back(it->second);
  }
  return {names, ofSetting};
}

bool CarvingEngine::carve(const VolumeView& view, JobContext& job) {
  CarveRun run;
  auto [names, ofSetting] = categories();
  for (std::string& name : names) run.categories.push_back(CarveCategory{std::move(name), 0, {}});
  run.categoryOfSetting = std::move(ofSetting);
  const std::size_t runIndex = runs_.size();
  runs_.push_back(std::move(run));
  CarveRun& current = runs_.back();

  SectorScanOptions options;
  options.chunkBytes = kChunk;
  options.stepBytes = kStep;
  SectorScan scan(view, job, options);
  const std::int64_t chunks = static_cast<std::int64_t>(scan.chunkCount());
  job.setProgressRange(0, chunks);
  scan.afterChunk = [&](std::uint64_t next) {
    job.setProgress(static_cast<std::int64_t>(std::min<std::uint64_t>(next / kChunk, static_cast<std::uint64_t>(chunks))));
    return true;
  };
  scan.onUnreadable = [&](std::uint64_t, std::uint64_t) {
    if (!current.unreadable) job.setStatus(kUnreadableStatus);
    current.unreadable = true;
  };
  Run pass(*this, view, runs_[runIndex], runIndex);
  runs_[runIndex].end = scan.run([&](std::uint64_t pos, Bytes window) { return pass.visit(pos, window); });
  pass.finish();
  job.setProgress(chunks);
  job.showMessage(kCarveDone);
  return true;
}

}  // namespace quorvel::raw
