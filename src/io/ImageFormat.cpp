#include "io/ImageFormat.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

#include "io/images/EwfImage.h"
#include "io/images/QcowImage.h"
#include "io/images/RawImage.h"
#include "io/images/SplitRawImage.h"
#include "io/images/VhdiImage.h"
#include "io/images/VmdkImage.h"

namespace quorvel {

namespace {

bool startsWith(std::span<const std::uint8_t> bytes, std::string_view magic) {
  return bytes.size() >= magic.size() && std::memcmp(bytes.data(), magic.data(), magic.size()) == 0;
}

constexpr std::string_view kEwf1{"EVF\x09\x0d\x0a\xff\x00", 8};
constexpr std::string_view kEwf2{"EVF2\x0d\x0a\x81\x00", 8};
constexpr std::string_view kVhdx{"vhdxfile"};
constexpr std::string_view kVhdFooter{"conectix"};
constexpr std::string_view kVmdkSparse{"KDMV"};
constexpr std::string_view kVmdkCowd{"COWD"};
constexpr std::string_view kVmdkDescriptor{"# Disk DescriptorFile"};
constexpr std::string_view kQcow{"QFI\xfb", 4};
constexpr std::size_t kVhdFooterSize = 512;

}  // namespace

ImageFormat detectImageFormat(std::span<const std::uint8_t> head, std::span<const std::uint8_t> tail) {
  if (startsWith(head, kEwf1) || startsWith(head, kEwf2)) return ImageFormat::Ewf;
  if (startsWith(head, kVhdx)) return ImageFormat::Vhdx;
  if (startsWith(head, kVhdFooter)) return ImageFormat::Vhd;  // dynamic: a footer copy leads
  if (startsWith(head, kVmdkSparse) || startsWith(head, kVmdkCowd) || startsWith(head, kVmdkDescriptor))
    return ImageFormat::Vmdk;
  if (startsWith(head, kQcow)) return ImageFormat::Qcow;
  if (tail.size() >= kVhdFooterSize && startsWith(tail.subspan(tail.size() - kVhdFooterSize), kVhdFooter))
    return ImageFormat::Vhd;  // fixed: the footer follows the raw disk
  return ImageFormat::Raw;
}

ImageOpening openImage(const std::string& path) {
  std::string missingPart;
  if (auto parts = splitRawParts(path, missingPart)) {
    if (!missingPart.empty()) {
      ImageOpening opening;
      opening.errorNumber = ENOENT;
      opening.error = "Cannot read the split image " + path + ": its part " + missingPart + " is missing.";
      return opening;
    }
    return openSplitRawImage(*parts);
  }

  ImageOpening raw = openRawImage(path);
  if (!raw.backend) return raw;
  std::array<std::uint8_t, 512> head{};
  std::array<std::uint8_t, 512> tail{};
  const std::int64_t headCount = raw.backend->readAt(0, head.data(), head.size());
  const std::uint64_t size = raw.backend->size();
  const std::int64_t tailCount = size >= tail.size() ? raw.backend->readAt(size - tail.size(), tail.data(), tail.size()) : 0;
  const auto headBytes = std::span<const std::uint8_t>(head).first(static_cast<std::size_t>(std::max<std::int64_t>(headCount, 0)));
  const auto tailBytes = std::span<const std::uint8_t>(tail).first(static_cast<std::size_t>(std::max<std::int64_t>(tailCount, 0)));

  switch (detectImageFormat(headBytes, tailBytes)) {
    case ImageFormat::Raw: return raw;
    case ImageFormat::Ewf: return openEwfImage(path);
    case ImageFormat::Vhd: return openVhdiImage(path, "VHD");
    case ImageFormat::Vhdx: return openVhdiImage(path, "VHDX");
    case ImageFormat::Vmdk: return openVmdkImage(path);
    case ImageFormat::Qcow: return openQcowImage(path);
  }
  return raw;
}

}  // namespace quorvel
