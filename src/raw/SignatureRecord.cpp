#include "raw/SignatureRecord.h"

#include <algorithm>
#include <cctype>

#include "fs/Utf16.h"
#include "fs/Utf8.h"

namespace quorvel::raw {

namespace {

// Field offsets inside a record.
constexpr std::size_t kExtension = 0;
constexpr std::size_t kExtensionLength = 10;
constexpr std::size_t kStart = 11;
constexpr std::size_t kEnd = 21;
constexpr std::size_t kStartLength = 31;
constexpr std::size_t kEndLength = 32;
constexpr std::size_t kIndex = 33;
constexpr std::size_t kSizeFieldOffset = 34;
constexpr std::size_t kSizeFieldBytes = 38;
constexpr std::size_t kHeaderSize = 42;
constexpr std::size_t kHeaderIncluded = 46;
constexpr std::size_t kReserved1 = 47;
constexpr std::size_t kApproximate = 51;
constexpr std::size_t kSkip = 59;
constexpr std::size_t kCategory = 67;
constexpr std::size_t kReserved2 = 167;

template <typename T>
void putLe(std::array<std::uint8_t, kRecordBytes>& out, std::size_t at, T value) {
  auto bits = static_cast<std::make_unsigned_t<T>>(value);
  for (std::size_t i = 0; i < sizeof(T); ++i) out[at + i] = static_cast<std::uint8_t>(bits >> (8 * i));
}

std::u16string utf16Units(std::string_view text) {
  std::u16string units;
  for (std::size_t i = 0; i < text.size();) {
    char32_t c = 0;
    std::size_t n = decodeUtf8(text, i, c);
    if (n == 0) c = 0xFFFD, n = 1;
    i += n;
    if (c >= 0x10000) {
      c -= 0x10000;
      units += static_cast<char16_t>(0xD800 + (c >> 10));
      units += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      units += static_cast<char16_t>(c);
    }
  }
  return units;
}

template <std::size_t N>
std::string unitsText(const std::array<char16_t, N>& units, std::size_t maxUnits) {
  std::array<std::uint8_t, 2 * N> bytes{};
  for (std::size_t i = 0; i < N; ++i) {
    bytes[2 * i] = static_cast<std::uint8_t>(units[i]);
    bytes[2 * i + 1] = static_cast<std::uint8_t>(units[i] >> 8);
  }
  return utf16leToUtf8(Bytes(bytes.data(), bytes.size()), std::min(maxUnits, N));
}

std::string_view trimmedLeft(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  return text;
}

// Calls visit with each comma-separated piece of a signature text that is
// not empty, as typed.
template <class Visit>
void forEachSignaturePiece(std::string_view text, Visit visit) {
  while (true) {
    const std::size_t comma = text.find(',');
    if (const std::string_view piece = text.substr(0, comma); !piece.empty()) visit(piece);
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
}

std::string_view withoutHexPrefix(std::string_view piece) {
  if (piece.size() >= 2 && piece[0] == '0' && (piece[1] == 'x' || piece[1] == 'X')) piece.remove_prefix(2);
  return piece;
}

}  // namespace

std::array<std::uint8_t, kRecordBytes> encodeRecord(const SignatureRecord& r) {
  std::array<std::uint8_t, kRecordBytes> out{};
  for (std::size_t i = 0; i < kExtensionUnits; ++i) putLe<std::uint16_t>(out, kExtension + 2 * i, r.extension[i]);
  out[kExtensionLength] = r.extensionLength;
  std::copy(r.startSignature.begin(), r.startSignature.end(), out.begin() + kStart);
  std::copy(r.endSignature.begin(), r.endSignature.end(), out.begin() + kEnd);
  out[kStartLength] = r.startLength;
  out[kEndLength] = r.endLength;
  out[kIndex] = r.index;
  putLe(out, kSizeFieldOffset, r.sizeFieldOffset);
  putLe(out, kSizeFieldBytes, r.sizeFieldBytes);
  putLe(out, kHeaderSize, r.headerSize);
  out[kHeaderIncluded] = r.sizeIncludesHeader;
  putLe(out, kReserved1, r.reserved1);
  putLe(out, kApproximate, r.approximateSize);
  putLe(out, kSkip, r.skipSize);
  for (std::size_t i = 0; i < kCategoryUnits; ++i) putLe<std::uint16_t>(out, kCategory + 2 * i, r.category[i]);
  putLe(out, kReserved2, r.reserved2);
  return out;
}

SignatureRecord decodeRecord(Bytes b) {
  SignatureRecord r;
  for (std::size_t i = 0; i < kExtensionUnits; ++i) r.extension[i] = le16(b, kExtension + 2 * i);
  r.extensionLength = u8(b, kExtensionLength);
  for (std::size_t i = 0; i < kSignatureBytes; ++i) {
    r.startSignature[i] = u8(b, kStart + i);
    r.endSignature[i] = u8(b, kEnd + i);
  }
  r.startLength = u8(b, kStartLength);
  r.endLength = u8(b, kEndLength);
  r.index = u8(b, kIndex);
  r.sizeFieldOffset = static_cast<std::int32_t>(le32(b, kSizeFieldOffset));
  r.sizeFieldBytes = static_cast<std::int32_t>(le32(b, kSizeFieldBytes));
  r.headerSize = static_cast<std::int32_t>(le32(b, kHeaderSize));
  r.sizeIncludesHeader = u8(b, kHeaderIncluded);
  r.reserved1 = le32(b, kReserved1);
  r.approximateSize = static_cast<std::int64_t>(le64(b, kApproximate));
  r.skipSize = static_cast<std::int64_t>(le64(b, kSkip));
  for (std::size_t i = 0; i < kCategoryUnits; ++i) r.category[i] = le16(b, kCategory + 2 * i);
  r.reserved2 = le32(b, kReserved2);
  return r;
}

std::string extensionText(const SignatureRecord& record) { return unitsText(record.extension, 4); }
std::string categoryText(const SignatureRecord& record) { return unitsText(record.category, kCategoryUnits); }

std::vector<std::uint8_t> startSignatureBytes(const SignatureRecord& record) {
  return {record.startSignature.begin(),
          record.startSignature.begin() + std::min<std::size_t>(record.startLength, kSignatureBytes)};
}
std::vector<std::uint8_t> endSignatureBytes(const SignatureRecord& record) {
  return {record.endSignature.begin(),
          record.endSignature.begin() + std::min<std::size_t>(record.endLength, kSignatureBytes)};
}

std::vector<std::uint8_t> parseSignatureText(std::string_view text) {
  std::vector<std::uint8_t> bytes;
  forEachSignaturePiece(text, [&](std::string_view piece) {
    std::uint64_t value = 0;
    for (const char c : withoutHexPrefix(trimmedLeft(piece))) {
      if (!std::isxdigit(static_cast<unsigned char>(c))) break;
      value = (value << 4) | static_cast<std::uint64_t>(std::isdigit(static_cast<unsigned char>(c))
                                                            ? c - '0'
                                                            : (std::tolower(static_cast<unsigned char>(c)) - 'a' + 10));
    }
    bytes.push_back(static_cast<std::uint8_t>(value));
  });
  return bytes;
}

std::string signatureTextFault(std::string_view text, std::string_view which) {
  std::size_t count = 0;
  std::string fault;
  forEachSignaturePiece(text, [&](std::string_view piece) {
    piece = trimmedLeft(piece);
    while (!piece.empty() && std::isspace(static_cast<unsigned char>(piece.back()))) piece.remove_suffix(1);
    if (piece.empty() || !fault.empty()) return;
    const std::string_view digits = withoutHexPrefix(piece);
    const bool hex = !digits.empty() && digits.size() <= 2 &&
                     std::all_of(digits.begin(), digits.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
    if (!hex)
      fault = "The " + std::string(which) + " signature takes hexadecimal bytes separated by commas (such as 0x89,0x50); \"" +
              std::string(piece) + "\" is not one.";
    ++count;
  });
  if (fault.empty() && count == 1)
    fault = "The " + std::string(which) + " signature needs at least 2 bytes: a single byte is found in nearly every sector.";
  return fault;
}

std::int32_t parseDecimal32(std::string_view text) {
  text = trimmedLeft(text);
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  std::int64_t value = 0;
  for (const char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) break;
    value = std::min<std::int64_t>(value * 10 + (c - '0'), std::int64_t{1} << 32);
  }
  if (negative) value = -value;
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, INT32_MIN, INT32_MAX));
}

FormRecord recordFromForm(const SignatureForm& form, std::uint8_t index) {
  const std::u16string extension = utf16Units(form.extension);
  if (extension.empty()) return {std::nullopt, kExtensionEmpty};
  const std::vector<std::uint8_t> start = parseSignatureText(form.startSignature);
  if (start.empty()) return {std::nullopt, kSignatureEmpty};
  // What is not bytes would be stored as zeros, which match nearly anything.
  for (const auto& [text, which] : {std::pair{std::string_view(form.startSignature), "start"},
                                    std::pair{std::string_view(form.endSignature), "end"}})
    if (std::string fault = signatureTextFault(text, which); !fault.empty()) return {std::nullopt, std::move(fault)};
  const std::vector<std::uint8_t> end = parseSignatureText(form.endSignature);

  SignatureRecord r;
  r.index = index;
  for (std::size_t i = 0; i < 4 && i < extension.size(); ++i) r.extension[i] = extension[i];
  r.extensionLength = static_cast<std::uint8_t>(extension.size());
  r.startLength = static_cast<std::uint8_t>(std::min(start.size(), kSignatureBytes));
  std::copy_n(start.begin(), r.startLength, r.startSignature.begin());
  r.endLength = static_cast<std::uint8_t>(std::min(end.size(), kSignatureBytes));
  std::copy_n(end.begin(), r.endLength, r.endSignature.begin());
  const std::int32_t offset = parseDecimal32(form.sizeFieldOffset);
  r.sizeFieldOffset = offset > 0 ? offset : -1;
  r.sizeFieldBytes = parseDecimal32(form.sizeFieldBytes);
  r.headerSize = parseDecimal32(form.headerSize);
  r.sizeIncludesHeader = form.sizeIncludesHeader ? 1 : 0;
  r.approximateSize = parseDecimal32(form.approximateSize);
  r.skipSize = parseDecimal32(form.skipSize);
  const std::u16string category = utf16Units(form.category);
  std::copy_n(category.begin(), std::min(category.size(), kCategoryUnits), r.category.begin());
  return {r, kRecordSaved};
}

}  // namespace quorvel::raw
