#include "io/images/VhdiImage.h"

#include <libvhdi.h>

#include "io/images/LibraryChain.h"

namespace quorvel {

namespace {

std::string takeError(libvhdi_error_t*& error) {
  return images::takeLibraryError(error, libvhdi_error_sprint, libvhdi_error_free);
}

struct VhdiTraits {
  using Handle = libvhdi_file_t;

  static bool open(Handle*& file, const std::string& path, std::string& libraryText) {
    libvhdi_error_t* error = nullptr;
    if (libvhdi_file_initialize(&file, &error) != 1) {
      libraryText = takeError(error);
      return false;
    }
    if (libvhdi_file_open(file, path.c_str(), LIBVHDI_OPEN_READ, &error) == 1) return true;
    libraryText = takeError(error);
    libvhdi_file_free(&file, &error);
    takeError(error);
    return false;
  }

  static void release(Handle*& file) {
    libvhdi_error_t* error = nullptr;
    libvhdi_file_close(file, &error);
    takeError(error);
    libvhdi_file_free(&file, &error);
    takeError(error);
  }

  static std::string refusal(Handle*) { return {}; }

  static std::string parentName(Handle* file) {
    libvhdi_error_t* error = nullptr;
    std::uint32_t diskType = 0;
    if (libvhdi_file_get_disk_type(file, &diskType, &error) != 1) diskType = 0;
    takeError(error);
    if (diskType != LIBVHDI_DISK_TYPE_DIFFERENTIAL) return {};
    std::size_t size = 0;
    if (libvhdi_file_get_utf8_parent_filename_size(file, &size, &error) != 1 || size == 0 || size > 65536) {
      takeError(error);
      return "(unnamed)";
    }
    std::string name(size, '\0');
    if (libvhdi_file_get_utf8_parent_filename(file, reinterpret_cast<std::uint8_t*>(name.data()), size, &error) != 1) {
      takeError(error);
      return "(unnamed)";
    }
    name.resize(name.find('\0') == std::string::npos ? name.size() : name.find('\0'));
    return name.empty() ? "(unnamed)" : name;
  }

  static bool setParent(Handle* child, Handle* parent, std::string& libraryText) {
    libvhdi_error_t* error = nullptr;
    if (libvhdi_file_set_parent_file(child, parent, &error) == 1) return true;
    libraryText = takeError(error);
    return false;
  }

  static std::uint64_t mediaSize(Handle* file) {
    libvhdi_error_t* error = nullptr;
    size64_t size = 0;
    if (libvhdi_file_get_media_size(file, &size, &error) != 1) size = 0;
    takeError(error);
    return size;
  }

  static std::int64_t read(Handle* file, void* destination, std::size_t count, std::uint64_t offset) {
    libvhdi_error_t* error = nullptr;
    const ssize_t got = libvhdi_file_read_buffer_at_offset(file, destination, count, static_cast<off64_t>(offset), &error);
    takeError(error);
    return got;
  }
};

}  // namespace

ImageOpening openVhdiImage(const std::string& path, const std::string& kind) {
  return images::openLibraryChain<VhdiTraits>(path, kind);
}

}  // namespace quorvel
