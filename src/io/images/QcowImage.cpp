#include "io/images/QcowImage.h"

#include <libqcow.h>

#include "io/images/LibraryChain.h"

namespace quorvel {

namespace {

std::string takeError(libqcow_error_t*& error) {
  return images::takeLibraryError(error, libqcow_error_sprint, libqcow_error_free);
}

struct QcowTraits {
  using Handle = libqcow_file_t;

  static bool open(Handle*& file, const std::string& path, std::string& libraryText) {
    libqcow_error_t* error = nullptr;
    if (libqcow_file_initialize(&file, &error) != 1) {
      libraryText = takeError(error);
      return false;
    }
    if (libqcow_file_open(file, path.c_str(), LIBQCOW_OPEN_READ, &error) == 1) return true;
    libraryText = takeError(error);
    libqcow_file_free(&file, &error);
    takeError(error);
    return false;
  }

  static void release(Handle*& file) {
    libqcow_error_t* error = nullptr;
    libqcow_file_close(file, &error);
    takeError(error);
    libqcow_file_free(&file, &error);
    takeError(error);
  }

  // Without the key the library would hand back cipher text as if it were
  // the disk.
  static std::string refusal(Handle* file) {
    libqcow_error_t* error = nullptr;
    std::uint32_t method = LIBQCOW_ENCRYPTION_METHOD_NONE;
    const bool known = libqcow_file_get_encryption_method(file, &method, &error) == 1;
    takeError(error);
    if (!known) return "its encryption cannot be determined";
    if (method == LIBQCOW_ENCRYPTION_METHOD_NONE) return {};
    return "it is encrypted, and encrypted images cannot be read; decrypt it first with qemu-img convert";
  }

  static std::string parentName(Handle* file) {
    libqcow_error_t* error = nullptr;
    std::size_t size = 0;
    const int has = libqcow_file_get_utf8_backing_filename_size(file, &size, &error);
    takeError(error);
    if (has != 1 || size == 0) return {};
    if (size > 65536) return "(unnamed)";
    std::string name(size, '\0');
    if (libqcow_file_get_utf8_backing_filename(file, reinterpret_cast<std::uint8_t*>(name.data()), size, &error) != 1) {
      takeError(error);
      return "(unnamed)";
    }
    name.resize(name.find('\0') == std::string::npos ? name.size() : name.find('\0'));
    return name;
  }

  static bool setParent(Handle* child, Handle* parent, std::string& libraryText) {
    libqcow_error_t* error = nullptr;
    if (libqcow_file_set_parent_file(child, parent, &error) == 1) return true;
    libraryText = takeError(error);
    return false;
  }

  static std::uint64_t mediaSize(Handle* file) {
    libqcow_error_t* error = nullptr;
    size64_t size = 0;
    if (libqcow_file_get_media_size(file, &size, &error) != 1) size = 0;
    takeError(error);
    return size;
  }

  static std::int64_t read(Handle* file, void* destination, std::size_t count, std::uint64_t offset) {
    libqcow_error_t* error = nullptr;
    const ssize_t got = libqcow_file_read_buffer_at_offset(file, destination, count, static_cast<off64_t>(offset), &error);
    takeError(error);
    return got;
  }
};

}  // namespace

ImageOpening openQcowImage(const std::string& path) { return images::openLibraryChain<QcowTraits>(path, "QCOW2"); }

}  // namespace quorvel
