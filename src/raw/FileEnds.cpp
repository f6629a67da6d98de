#include "raw/FileEnds.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "raw/FileBytes.h"

namespace quorvel::raw {

namespace {

using End = std::optional<FileEnd>;

End endAt(std::uint64_t length, std::string extension = {}) { return FileEnd{length, std::move(extension)}; }

bool printableTag(Bytes tag) {
  return std::all_of(tag.begin(), tag.end(), [](std::uint8_t c) { return c >= 0x20 && c < 0x7F; });
}

// JPEG: markers to the end of the scan data; an embedded thumbnail lies
// inside an APP segment and is passed over by its length.
End jpegEnd(FileBytes& f) {
  std::uint64_t p = 2;
  bool frame = false, scan = false;
  for (int segments = 0;; ++segments) {
    Bytes m = f.peek(p, 2);
    if (m.empty() || m[0] != 0xFF) return std::nullopt;
    const std::uint8_t marker = m[1];
    if (segments == 0 && !(marker >= 0xC0 && marker != 0xD9 && marker != 0xDA && marker != 0xFF)) return std::nullopt;
    if (marker == 0xFF) {  // fill byte
      ++p;
      continue;
    }
    if (marker == 0xD9) {
      if (!frame || !scan) return std::nullopt;
      return endAt(p + 2);
    }
    if ((marker >= 0xD0 && marker <= 0xD7) || marker == 0x01) {
      p += 2;
      continue;
    }
    if (marker == 0x00 || marker == 0xD8) return std::nullopt;
    Bytes header = f.peek(p, 4);
    if (header.empty()) return std::nullopt;
    const std::uint16_t length = be16(header, 2);
    if (length < 2) return std::nullopt;
    if ((marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC)) frame = true;
    p += 2 + length;
    if (marker != 0xDA) continue;
    scan = true;
    // Entropy-coded data: up to the first 0xFF that is not stuffing or a restart marker.
    while (true) {
      Bytes data = f.from(p);
      if (data.empty()) return std::nullopt;
      const void* ff = std::memchr(data.data(), 0xFF, data.size());
      if (ff == nullptr) {
        p += data.size();
        continue;
      }
      p += static_cast<std::uint64_t>(static_cast<const std::uint8_t*>(ff) - data.data());
      Bytes pair = f.peek(p, 2);
      if (pair.empty()) return std::nullopt;
      if (pair[1] == 0x00 || (pair[1] >= 0xD0 && pair[1] <= 0xD7)) {
        p += 2;
        continue;
      }
      if (pair[1] == 0xFF) {
        ++p;
        continue;
      }
      break;
    }
  }
}

End pngEnd(FileBytes& f) {
  std::uint64_t p = 8;
  for (bool first = true;; first = false) {
    Bytes chunk = f.peek(p, 8);
    if (chunk.empty()) return std::nullopt;
    const std::uint32_t length = be32(chunk, 0);
    Bytes type = chunk.subspan(4, 4);
    if (length > 0x7FFFFFFF ||
        !std::all_of(type.begin(), type.end(), [](std::uint8_t c) { return (c | 0x20) >= 'a' && (c | 0x20) <= 'z'; }))
      return std::nullopt;
    if (first && !hasText(type, 0, "IHDR")) return std::nullopt;
    p += 12 + std::uint64_t{length};
    if (hasText(type, 0, "IEND")) return p <= f.limit() ? endAt(p) : std::nullopt;
  }
}

// GIF sub-blocks: length bytes up to a zero one.
bool skipSubBlocks(FileBytes& f, std::uint64_t& p) {
  while (true) {
    Bytes n = f.peek(p, 1);
    if (n.empty()) return false;
    p += 1 + std::uint64_t{n[0]};
    if (n[0] == 0) return true;
  }
}

End gifEnd(FileBytes& f) {
  Bytes h = f.peek(0, 13);
  if (h.empty() || !(hasText(h, 0, "GIF87a") || hasText(h, 0, "GIF89a"))) return std::nullopt;
  std::uint64_t p = 13;
  if (h[10] & 0x80) p += 3u << ((h[10] & 7) + 1);
  while (true) {
    Bytes b = f.peek(p, 1);
    if (b.empty()) return std::nullopt;
    if (b[0] == 0x3B) return endAt(p + 1);
    if (b[0] == 0x21) {
      p += 2;
    } else if (b[0] == 0x2C) {
      Bytes d = f.peek(p, 10);
      if (d.empty()) return std::nullopt;
      p += 10;
      if (d[9] & 0x80) p += 3u << ((d[9] & 7) + 1);
      p += 1;  // LZW minimum code size
    } else {
      return std::nullopt;
    }
    if (!skipSubBlocks(f, p)) return std::nullopt;
  }
}

End bmpEnd(FileBytes& f) {
  Bytes h = f.peek(0, 30);
  if (h.empty()) return std::nullopt;
  const std::uint32_t size = le32(h, 2), dataOffset = le32(h, 10), dibSize = le32(h, 14);
  constexpr std::array<std::uint32_t, 7> dibSizes{12, 40, 52, 56, 64, 108, 124};
  if (std::find(dibSizes.begin(), dibSizes.end(), dibSize) == dibSizes.end()) return std::nullopt;
  if (le32(h, 6) != 0 || dataOffset < 14 + dibSize || dataOffset > size || size > f.limit()) return std::nullopt;
  return endAt(size);
}

End riffEnd(FileBytes& f) {
  Bytes h = f.peek(0, 16);
  if (h.empty() || !printableTag(h.subspan(8, 8))) return std::nullopt;
  const std::uint64_t size = le32(h, 4);
  if (size < 4) return std::nullopt;
  // Writers differ on the pad byte of an odd last chunk; the size they
  // wrote says whether they counted it.
  const std::uint64_t length = 8 + size;
  if (length > f.limit()) return std::nullopt;
  return endAt(length);
}

// Office documents are ZIP files named by the folders inside.
std::string zipExtensionForName(Bytes name) {
  if (hasText(name, 0, "word/")) return "docx";
  if (hasText(name, 0, "xl/")) return "xlsx";
  if (hasText(name, 0, "ppt/")) return "pptx";
  return {};
}

// The end-of-central-directory record whose directory lies right before it.
End zipEndBySearch(FileBytes& f, std::uint64_t from) {
  while (true) {
    const std::optional<std::uint64_t> hit = f.find(from, f.limit(), "PK\x05\x06");
    if (!hit) return std::nullopt;
    Bytes e = f.peek(*hit, 22);
    if (e.empty()) return std::nullopt;
    const std::uint64_t cdSize = le32(e, 12), cdOffset = le32(e, 16);
    if (cdOffset + cdSize == *hit) {
      const std::uint64_t end = *hit + 22 + le16(e, 20);
      if (end <= f.limit()) return endAt(end);
    }
    from = *hit + 1;
  }
}

End zipEnd(FileBytes& f) {
  std::uint64_t p = 0;
  std::string extension;
  while (true) {
    Bytes h = f.peek(p, 30);
    if (h.empty()) return std::nullopt;
    switch (le32(h, 0)) {
      case 0x04034b50: {  // local file header
        const std::uint16_t flags = le16(h, 6);
        const std::uint32_t compressed = le32(h, 18);
        if ((flags & 8) != 0 || compressed == 0xFFFFFFFF) return zipEndBySearch(f, p);
        p += 30 + std::uint64_t{le16(h, 26)} + le16(h, 28) + compressed;
        break;
      }
      case 0x02014b50: {  // central directory entry
        Bytes c = f.peek(p, 46);
        if (c.empty()) return std::nullopt;
        const std::uint16_t nameLength = le16(c, 28);
        if (extension.empty()) {
          Bytes name = f.peek(p + 46, nameLength);
          if (!name.empty()) extension = zipExtensionForName(name);
        }
        p += 46 + std::uint64_t{nameLength} + le16(c, 30) + le16(c, 32);
        break;
      }
      case 0x06064b50:  // zip64 end of central directory
        p += 12 + le64(f.peek(p, 12), 4);
        break;
      case 0x07064b50:  // zip64 locator
        p += 20;
        break;
      case 0x06054b50: {
        Bytes e = f.peek(p, 22);
        if (e.empty()) return std::nullopt;
        const std::uint64_t end = p + 22 + le16(e, 20);
        return end <= f.limit() ? endAt(end, extension) : std::nullopt;
      }
      default:  // no record of an archive here: not a whole ZIP file
        return std::nullopt;
    }
    if (p > f.limit()) return std::nullopt;
  }
}

bool isAligned(std::uint64_t offset) { return offset % 512 == 0; }

// A PDF ends at its last "%%EOF": incremental updates append objects and
// another "%%EOF" behind the first. What follows an "%%EOF" must look like
// PDF syntax, and a new PDF starting on a sector ends the search.
End pdfEnd(FileBytes& f) {
  std::uint64_t searchFrom = 5;
  std::optional<std::uint64_t> end;
  while (true) {
    const std::optional<std::uint64_t> hit = f.find(searchFrom, f.limit(), "%%EOF");
    if (!hit) return end ? endAt(*end) : std::nullopt;
    if (end) {
      // A new PDF between the previous end and this "%%EOF" ends the file there.
      std::uint64_t from = *end;
      while (const std::optional<std::uint64_t> next = f.find(from, *hit, "%PDF-")) {
        if (isAligned(*next)) return endAt(*end);
        from = *next + 1;
      }
    }
    std::uint64_t q = *hit + 5;
    Bytes eol = f.peek(q, 2);
    if (eol.size() == 2 && eol[0] == '\r' && eol[1] == '\n') q += 2;
    else if (!f.peek(q, 1).empty() && (f.peek(q, 1)[0] == '\n' || f.peek(q, 1)[0] == '\r')) q += 1;
    end = q;
    Bytes next = f.peek(q, 1);
    if (next.empty()) return endAt(q);
    const std::uint8_t c = next[0];
    const bool more = (c >= '0' && c <= '9') || c == 'x' || c == 't' || (c == '%' && !hasText(f.peek(q, 5), 0, "%PDF-"));
    if (!more) return endAt(q);
    searchFrom = q;
  }
}

End sqliteEnd(FileBytes& f) {
  Bytes h = f.peek(0, 100);
  if (h.empty() || !hasText(h, 0, std::string_view("SQLite format 3\0", 16))) return std::nullopt;
  std::uint64_t pageSize = be16(h, 16);
  if (pageSize == 1) pageSize = 65536;
  if (pageSize < 512 || (pageSize & (pageSize - 1)) != 0) return std::nullopt;
  if (h[21] != 64 || h[22] != 32 || h[23] != 32) return std::nullopt;
  const std::uint64_t pages = be32(h, 28);
  // The page count is only kept by writers that also keep the version-valid-for number.
  if (pages == 0 || be32(h, 92) != be32(h, 24)) return std::nullopt;
  if (pages > f.limit() / pageSize) return std::nullopt;
  return endAt(pages * pageSize);
}

End sevenZipEnd(FileBytes& f) {
  Bytes h = f.peek(0, 32);
  if (h.empty()) return std::nullopt;
  if (crc32(0, h.data() + 12, 20) != le32(h, 8)) return std::nullopt;
  const std::uint64_t offset = le64(h, 12), size = le64(h, 20);
  if (offset > f.limit() || size > f.limit() - offset || 32 + offset + size > f.limit()) return std::nullopt;
  return endAt(32 + offset + size);
}

End gzipEnd(FileBytes& f) {
  Bytes h = f.peek(0, 10);
  if (h.empty() || h[2] != 8 || (h[3] & 0xE0) != 0) return std::nullopt;
  const std::uint8_t flags = h[3];
  std::uint64_t p = 10;
  if (flags & 4) p += 2 + std::uint64_t{le16(f.peek(p, 2), 0)};
  for (const std::uint8_t textFlag : {std::uint8_t{8}, std::uint8_t{16}}) {
    if (!(flags & textFlag)) continue;
    const std::optional<std::uint64_t> zero = f.find(p, std::min(f.limit(), p + 65536), std::string_view("\0", 1));
    if (!zero) return std::nullopt;
    p = *zero + 1;
  }
  if (flags & 2) p += 2;
  z_stream stream{};
  if (inflateInit2(&stream, -15) != Z_OK) return std::nullopt;
  std::vector<std::uint8_t> out(64 * 1024);
  int status = Z_OK;
  std::uint64_t consumed = p;
  while (status == Z_OK) {
    Bytes in = f.from(consumed);
    if (in.empty()) break;
    stream.next_in = const_cast<Bytef*>(in.data());
    stream.avail_in = static_cast<uInt>(in.size());
    while (stream.avail_in > 0 && status == Z_OK) {
      stream.next_out = out.data();
      stream.avail_out = static_cast<uInt>(out.size());
      status = inflate(&stream, Z_NO_FLUSH);
    }
    consumed += in.size() - stream.avail_in;
    if (status == Z_BUF_ERROR) status = Z_OK;
  }
  inflateEnd(&stream);
  if (status != Z_STREAM_END || consumed + 8 > f.limit()) return std::nullopt;
  return endAt(consumed + 8);
}

End elfEnd(FileBytes& f) {
  Bytes h = f.peek(0, 64);
  if (h.empty() || h[6] != 1 || (h[4] != 1 && h[4] != 2) || (h[5] != 1 && h[5] != 2)) return std::nullopt;
  const bool wide = h[4] == 2, big = h[5] == 2;
  auto u16 = [big](Bytes b, std::size_t o) { return big ? be16(b, o) : le16(b, o); };
  auto u32 = [big](Bytes b, std::size_t o) { return big ? be32(b, o) : le32(b, o); };
  auto word = [&](Bytes b, std::size_t o) -> std::uint64_t { return wide ? (big ? be64(b, o) : le64(b, o)) : u32(b, o); };
  const std::uint64_t phoff = word(h, wide ? 0x20 : 0x1C), shoff = word(h, wide ? 0x28 : 0x20);
  const std::uint16_t phentsize = u16(h, wide ? 0x36 : 0x2A), phnum = u16(h, wide ? 0x38 : 0x2C);
  const std::uint16_t shentsize = u16(h, wide ? 0x3A : 0x2E), shnum = u16(h, wide ? 0x3C : 0x30);
  if (phentsize > 256 || shentsize > 256) return std::nullopt;
  std::uint64_t end = std::max<std::uint64_t>(wide ? 64 : 52, shoff + std::uint64_t{shnum} * shentsize);
  end = std::max(end, phoff + std::uint64_t{phnum} * phentsize);
  for (std::uint16_t i = 0; i < phnum; ++i) {
    Bytes ph = f.peek(phoff + std::uint64_t{i} * phentsize, phentsize);
    if (ph.empty()) return std::nullopt;
    end = std::max(end, word(ph, wide ? 0x08 : 0x04) + word(ph, wide ? 0x20 : 0x10));
  }
  for (std::uint16_t i = 0; i < shnum; ++i) {
    Bytes sh = f.peek(shoff + std::uint64_t{i} * shentsize, shentsize);
    if (sh.empty()) return std::nullopt;
    if (u32(sh, 4) == 8) continue;  // no bytes in the file
    end = std::max(end, word(sh, wide ? 0x18 : 0x10) + word(sh, wide ? 0x20 : 0x14));
  }
  if (end > f.limit()) return std::nullopt;
  return endAt(end);
}

End peEnd(FileBytes& f) {
  Bytes dos = f.peek(0, 64);
  if (dos.empty()) return std::nullopt;
  const std::uint32_t pe = le32(dos, 0x3C);
  if (pe < 64 || pe > 4096) return std::nullopt;
  Bytes coff = f.peek(pe, 24);
  if (coff.empty() || !hasText(coff, 0, std::string_view("PE\0\0", 4))) return std::nullopt;
  const std::uint16_t sections = le16(coff, 6), optionalSize = le16(coff, 20);
  Bytes opt = f.peek(pe + 24, optionalSize);
  if (optionalSize < 64 || opt.empty()) return std::nullopt;
  const std::uint16_t magic = le16(opt, 0);
  if (magic != 0x10B && magic != 0x20B) return std::nullopt;
  std::uint64_t end = le32(opt, 60);  // size of headers
  const std::size_t directories = magic == 0x10B ? 96 : 112;
  if (le32(opt, directories - 4) > 4) {  // the certificate table lies by file offset
    const std::uint64_t certificate = le32(opt, directories + 4 * 8), certificateSize = le32(opt, directories + 4 * 8 + 4);
    if (certificate != 0) end = std::max(end, certificate + certificateSize);
  }
  for (std::uint16_t i = 0; i < sections; ++i) {
    Bytes s = f.peek(pe + 24 + optionalSize + std::uint64_t{i} * 40, 40);
    if (s.empty()) return std::nullopt;
    if (le32(s, 16) != 0) end = std::max(end, std::uint64_t{le32(s, 20)} + le32(s, 16));
  }
  if (end == 0 || end > f.limit()) return std::nullopt;
  return endAt(end);
}

// Compound documents: the last sector any FAT entry marks as used.
End oleEnd(FileBytes& f) {
  Bytes h = f.peek(0, 512);
  if (h.empty() || le16(h, 28) != 0xFFFE) return std::nullopt;
  const std::uint16_t shift = le16(h, 30);
  if (shift != 9 && shift != 12) return std::nullopt;
  const std::uint64_t sectorSize = 1ull << shift;
  const std::uint32_t fatSectors = le32(h, 44);
  if (fatSectors == 0 || fatSectors > 109) return std::nullopt;  // further FAT sectors sit in a DIFAT chain
  std::uint64_t lastUsed = 0;
  for (std::uint32_t i = 0; i < fatSectors; ++i) {
    const std::uint32_t sector = le32(h, 76 + 4 * i);
    if (sector >= 0xFFFFFFFA) return std::nullopt;
    Bytes fat = f.peek((std::uint64_t{sector} + 1) * sectorSize, sectorSize);
    if (fat.empty()) return std::nullopt;
    for (std::uint64_t e = 0; e < sectorSize / 4; ++e)
      if (le32(fat, e * 4) != 0xFFFFFFFF) lastUsed = std::max(lastUsed, i * (sectorSize / 4) + e);
  }
  const std::uint64_t end = (lastUsed + 2) * sectorSize;
  if (end > f.limit()) return std::nullopt;
  return endAt(end);
}

End isoMediaEnd(FileBytes& f) {
  static constexpr std::array<std::string_view, 14> topLevel{"ftyp", "moov", "mdat", "free", "skip", "wide", "uuid",
                                                             "meta", "moof", "mfra", "pdin", "styp", "sidx", "pnot"};
  Bytes first = f.peek(0, 12);
  if (first.empty() || !hasText(first, 4, "ftyp")) return std::nullopt;
  const std::string extension = hasText(first, 8, "qt  ") ? "mov" : "";
  std::uint64_t p = 0;
  bool movie = false;
  while (true) {
    Bytes box = f.peek(p, 16);
    if (box.empty()) break;
    const std::string_view type(reinterpret_cast<const char*>(box.data()) + 4, 4);
    if (std::find(topLevel.begin(), topLevel.end(), type) == topLevel.end()) break;
    std::uint64_t size = be32(box, 0);
    if (size == 1) size = be64(box, 8);
    if (size < 8 || size > f.limit() - p) return std::nullopt;
    movie = movie || type == "moov" || type == "moof";
    p += size;
  }
  if (!movie) return std::nullopt;
  return endAt(p, extension);
}

// EBML variable-length integers: the leading one's position gives the length.
std::optional<std::pair<std::uint64_t, unsigned>> vint(FileBytes& f, std::uint64_t p, bool keepMarker) {
  Bytes b = f.peek(p, 1);
  if (b.empty() || b[0] == 0) return std::nullopt;
  unsigned length = 1;
  while (!(b[0] & (0x80 >> (length - 1)))) ++length;
  Bytes all = f.peek(p, length);
  if (all.empty()) return std::nullopt;
  std::uint64_t value = keepMarker ? all[0] : all[0] & (0xFF >> length);
  for (unsigned i = 1; i < length; ++i) value = (value << 8) | all[i];
  return std::make_pair(value, length);
}

End matroskaEnd(FileBytes& f) {
  std::uint64_t p = 0;
  for (int element = 0; element < 2; ++element) {
    const auto id = vint(f, p, true);
    if (!id) return std::nullopt;
    const auto size = vint(f, p + id->second, false);
    if (!size) return std::nullopt;
    if (size->first == (1ull << (7 * size->second)) - 1) return std::nullopt;  // unknown size
    if ((element == 0 && id->first != 0x1A45DFA3) || (element == 1 && id->first != 0x18538067)) return std::nullopt;
    p += id->second + size->second + size->first;
    if (p > f.limit()) return std::nullopt;
  }
  return endAt(p);
}

// TIFF: the chain of IFDs (and the EXIF IFDs they point to), each entry's
// data, and the strips or tiles the offset and byte-count tags name.
End tiffEnd(FileBytes& f) {
  Bytes h = f.peek(0, 8);
  if (h.empty()) return std::nullopt;
  const bool big = h[0] == 'M';
  auto u16 = [big](Bytes b, std::size_t o) -> std::uint32_t { return big ? be16(b, o) : le16(b, o); };
  auto u32 = [big](Bytes b, std::size_t o) -> std::uint32_t { return big ? be32(b, o) : le32(b, o); };
  static constexpr std::array<std::uint32_t, 14> typeBytes{0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
  // The values of an entry holding SHORTs or LONGs, inline or at their offset.
  auto values = [&](Bytes entry, std::vector<std::uint64_t>& out) {
    const std::uint32_t type = u16(entry, 2), count = u32(entry, 4);
    if ((type != 3 && type != 4) || count > 1 << 20) return false;
    const std::uint32_t width = type == 3 ? 2 : 4;
    const std::uint64_t at = std::uint64_t{count} * width <= 4 ? 0 : u32(entry, 8);
    for (std::uint32_t i = 0; i < count; ++i) {
      Bytes v = at == 0 ? entry.subspan(8 + i * width, width) : f.peek(at + std::uint64_t{i} * width, width);
      if (v.empty()) return false;
      out.push_back(width == 2 ? u16(v, 0) : u32(v, 0));
    }
    return true;
  };
  std::uint64_t end = 8;
  std::vector<std::uint64_t> pending{u32(h, 4)}, visited;
  while (!pending.empty() && visited.size() < 64) {
    const std::uint64_t ifd = pending.back();
    pending.pop_back();
    if (ifd < 8 || std::find(visited.begin(), visited.end(), ifd) != visited.end()) continue;
    visited.push_back(ifd);
    Bytes countBytes = f.peek(ifd, 2);
    if (countBytes.empty()) return std::nullopt;
    const std::uint32_t entries = u16(countBytes, 0);
    if (entries == 0) return std::nullopt;
    end = std::max(end, ifd + 2 + std::uint64_t{12} * entries + 4);
    std::vector<std::uint64_t> offsets[2], counts[2];  // strips, tiles
    for (std::uint32_t i = 0; i < entries; ++i) {
      Bytes e = f.peek(ifd + 2 + std::uint64_t{12} * i, 12);
      if (e.empty()) return std::nullopt;
      const std::uint32_t tag = u16(e, 0), type = u16(e, 2), count = u32(e, 4);
      if (type == 0 || type >= typeBytes.size()) return std::nullopt;
      const std::uint64_t bytes = std::uint64_t{typeBytes[type]} * count;
      if (bytes > 4) end = std::max(end, std::uint64_t{u32(e, 8)} + bytes);
      if (tag == 273 && !values(e, offsets[0])) return std::nullopt;
      if (tag == 279 && !values(e, counts[0])) return std::nullopt;
      if (tag == 324 && !values(e, offsets[1])) return std::nullopt;
      if (tag == 325 && !values(e, counts[1])) return std::nullopt;
      if (tag == 0x8769 || tag == 0x8825) pending.push_back(u32(e, 8));  // EXIF and GPS IFDs
    }
    for (int k = 0; k < 2; ++k) {
      if (offsets[k].size() != counts[k].size()) return std::nullopt;
      for (std::size_t i = 0; i < offsets[k].size(); ++i) end = std::max(end, offsets[k][i] + counts[k][i]);
    }
    Bytes next = f.peek(ifd + 2 + std::uint64_t{12} * entries, 4);
    if (next.empty()) return std::nullopt;
    if (u32(next, 0) != 0) pending.push_back(u32(next, 0));
  }
  if (end > f.limit()) return std::nullopt;
  return endAt(end);
}

// The length of the MPEG audio frame whose header is `h`, or 0 when `h` is no header.
std::uint64_t mpegFrameLength(Bytes h) {
  if (h.size() < 4 || h[0] != 0xFF || (h[1] & 0xE0) != 0xE0) return 0;
  const unsigned version = (h[1] >> 3) & 3, layer = (h[1] >> 1) & 3;  // version 3: MPEG-1; layer 1: III
  const unsigned bitrateIndex = h[2] >> 4, rateIndex = (h[2] >> 2) & 3, padding = (h[2] >> 1) & 1;
  if (version == 1 || layer == 0 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3) return 0;
  static constexpr std::uint16_t kMpeg1[3][15] = {
      {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},     // layer III
      {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},    // layer II
      {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448}  // layer I
  };
  static constexpr std::uint16_t kMpeg2[2][15] = {
      {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},         // layers II and III
      {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256}     // layer I
  };
  static constexpr std::uint32_t kRates[3] = {44100, 48000, 32000};
  const bool mpeg1 = version == 3;
  const std::uint32_t rate = kRates[rateIndex] >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
  const std::uint32_t kbps = mpeg1 ? kMpeg1[layer - 1][bitrateIndex] : kMpeg2[layer == 3 ? 1 : 0][bitrateIndex];
  if (layer == 3) return (12 * kbps * 1000 / rate + padding) * 4;
  const std::uint32_t perFrame = (layer == 1 && !mpeg1) ? 72 : 144;
  return perFrame * kbps * 1000 / rate + padding;
}

// MP3: the ID3v2 tag, then MPEG audio frames while their headers hold, then
// an ID3v1 tag if one follows.
End mp3End(FileBytes& f) {
  Bytes h = f.peek(0, 10);
  if (h.empty() || !hasText(h, 0, "ID3") || h[3] > 4) return std::nullopt;
  std::uint64_t size = 0;
  for (int i = 6; i < 10; ++i) {
    if (h[i] & 0x80) return std::nullopt;
    size = (size << 7) | h[i];
  }
  std::uint64_t p = 10 + size + ((h[5] & 0x10) ? 10 : 0);
  std::uint64_t frames = 0;
  while (true) {
    const std::uint64_t length = mpegFrameLength(f.peek(p, 4));
    if (length < 4 || p + length > f.limit()) break;
    p += length;
    ++frames;
  }
  if (frames == 0) return std::nullopt;
  if (hasText(f.peek(p, 128), 0, "TAG")) p += 128;
  return endAt(p);
}

// RAR 5 variable-length integers: seven bits a byte, low groups first.
std::optional<std::pair<std::uint64_t, unsigned>> rarVint(Bytes b, std::size_t at) {
  std::uint64_t value = 0;
  for (unsigned i = 0; i < 10 && at + i < b.size(); ++i) {
    value |= std::uint64_t{b[at + i] & 0x7Fu} << (7 * i);
    if (!(b[at + i] & 0x80)) return std::make_pair(value, i + 1);
  }
  return std::nullopt;
}

// RAR 5: blocks (a checked header, then its data) up to the end-of-archive block.
End rar5End(FileBytes& f) {
  std::uint64_t p = 8;
  for (bool first = true;; first = false) {
    Bytes start = f.peek(p, 7);
    if (start.empty()) return std::nullopt;
    const auto headerSize = rarVint(start, 4);
    if (!headerSize || headerSize->first == 0 || headerSize->first > 2 * 1024 * 1024) return std::nullopt;
    const std::size_t checked = headerSize->second + static_cast<std::size_t>(headerSize->first);
    if (checked > FileBytes::kCacheBytes - 4) return std::nullopt;
    Bytes header = f.peek(p, 4 + checked);
    if (header.empty() || crc32(0, header.data() + 4, static_cast<uInt>(checked)) != le32(header, 0)) return std::nullopt;
    Bytes fields = header.subspan(4 + headerSize->second);
    const auto type = rarVint(fields, 0);
    if (!type) return std::nullopt;
    const auto flags = rarVint(fields, type->second);
    if (!flags) return std::nullopt;
    if (first && type->first != 1) return std::nullopt;  // the main archive header comes first
    std::size_t at = type->second + flags->second;
    if (flags->first & 1) {  // an extra area's size
      const auto extra = rarVint(fields, at);
      if (!extra) return std::nullopt;
      at += extra->second;
    }
    std::uint64_t data = 0;
    if (flags->first & 2) {
      const auto size = rarVint(fields, at);
      if (!size) return std::nullopt;
      data = size->first;
    }
    if (data > f.limit()) return std::nullopt;
    p += 4 + checked + data;
    if (p > f.limit()) return std::nullopt;
    if (type->first == 5) return endAt(p);
  }
}

// RAR 4: blocks whose header gives its size and, for files, the packed size,
// up to the end-of-archive block.
End rar4End(FileBytes& f) {
  std::uint64_t p = 7;
  bool archive = false;
  while (true) {
    Bytes h = f.peek(p, 11);
    if (h.empty()) return std::nullopt;
    const std::uint8_t type = h[2];
    const std::uint16_t flags = le16(h, 3), size = le16(h, 5);
    if (type < 0x72 || type > 0x7B || size < 7) return std::nullopt;
    if (!archive) {
      // The archive header's check: the low 16 bits of the CRC of its fields.
      Bytes header = f.peek(p, size);
      if (type != 0x73 || header.empty() || (crc32(0, header.data() + 2, size - 2u) & 0xFFFF) != le16(h, 0))
        return std::nullopt;
      archive = true;
    }
    std::uint64_t data = (flags & 0x8000) ? le32(h, 7) : 0;
    if (type == 0x74 && (flags & 0x100)) {  // a file of 4 GiB or more: the high half of its packed size
      Bytes high = f.peek(p + 32, 4);
      if (high.empty()) return std::nullopt;
      data |= std::uint64_t{le32(high, 0)} << 32;
    }
    p += size + data;
    if (p > f.limit()) return std::nullopt;
    if (type == 0x7B) return endAt(p);
  }
}

End rarEnd(FileBytes& f) {
  Bytes h = f.peek(0, 8);
  if (h.empty()) return std::nullopt;
  if (h[6] == 0x01 && h[7] == 0x00) return rar5End(f);
  if (h[6] == 0x00) return rar4End(f);
  return std::nullopt;
}

}  // namespace

FileStructure structureForExtension(std::string_view e) {
  static constexpr std::pair<std::string_view, FileStructure> table[] = {
      {"jpg", FileStructure::Jpeg},      {"png", FileStructure::Png},      {"gif", FileStructure::Gif},
      {"bmp", FileStructure::Bmp},       {"wav", FileStructure::Riff},     {"avi", FileStructure::Riff},
      {"zip", FileStructure::Zip},       {"pdf", FileStructure::Pdf},      {"db", FileStructure::Sqlite},
      {"7z", FileStructure::SevenZip},   {"gz", FileStructure::Gzip},      {"elf", FileStructure::Elf},
      {"exe", FileStructure::Pe},        {"doc", FileStructure::Ole},      {"mp4", FileStructure::IsoMedia},
      {"mkv", FileStructure::Matroska},  {"tif", FileStructure::Tiff},     {"mp3", FileStructure::Mp3},
      {"rar", FileStructure::Rar},
  };
  for (const auto& [extension, structure] : table)
    if (extension == e) return structure;
  return FileStructure::None;
}

std::optional<FileEnd> findFileEnd(FileStructure structure, const VolumeView& view, std::uint64_t start,
                                   std::uint64_t limit) {
  FileBytes f(view, start, limit);
  switch (structure) {
    case FileStructure::Jpeg: return jpegEnd(f);
    case FileStructure::Png: return pngEnd(f);
    case FileStructure::Gif: return gifEnd(f);
    case FileStructure::Bmp: return bmpEnd(f);
    case FileStructure::Riff: return riffEnd(f);
    case FileStructure::Zip: return zipEnd(f);
    case FileStructure::Pdf: return pdfEnd(f);
    case FileStructure::Sqlite: return sqliteEnd(f);
    case FileStructure::SevenZip: return sevenZipEnd(f);
    case FileStructure::Gzip: return gzipEnd(f);
    case FileStructure::Elf: return elfEnd(f);
    case FileStructure::Pe: return peEnd(f);
    case FileStructure::Ole: return oleEnd(f);
    case FileStructure::IsoMedia: return isoMediaEnd(f);
    case FileStructure::Matroska: return matroskaEnd(f);
    case FileStructure::Tiff: return tiffEnd(f);
    case FileStructure::Mp3: return mp3End(f);
    case FileStructure::Rar: return rarEnd(f);
    case FileStructure::None: break;
  }
  return std::nullopt;
}

}  // namespace quorvel::raw
