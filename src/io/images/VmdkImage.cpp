#include "io/images/VmdkImage.h"

#include <libvmdk.h>

#include "io/images/LibraryChain.h"

namespace quorvel {

namespace {

std::string takeError(libvmdk_error_t*& error) {
  return images::takeLibraryError(error, libvmdk_error_sprint, libvmdk_error_free);
}

std::string folderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash == 0 ? 1 : slash);
}

struct VmdkTraits {
  using Handle = libvmdk_handle_t;

  static bool open(Handle*& handle, const std::string& path, std::string& libraryText) {
    libvmdk_error_t* error = nullptr;
    if (libvmdk_handle_initialize(&handle, &error) != 1) {
      libraryText = takeError(error);
      return false;
    }
    const std::string folder = folderOf(path);
    if (libvmdk_handle_open(handle, path.c_str(), LIBVMDK_OPEN_READ, &error) == 1 &&
        libvmdk_handle_set_extent_data_files_path(handle, folder.c_str(), folder.size(), &error) == 1 &&
        libvmdk_handle_open_extent_data_files(handle, &error) == 1)
      return true;
    libraryText = takeError(error);
    libvmdk_handle_close(handle, &error);
    takeError(error);
    libvmdk_handle_free(&handle, &error);
    takeError(error);
    return false;
  }

  static void release(Handle*& handle) {
    libvmdk_error_t* error = nullptr;
    libvmdk_handle_close(handle, &error);
    takeError(error);
    libvmdk_handle_free(&handle, &error);
    takeError(error);
  }

  static std::string refusal(Handle*) { return {}; }

  static std::string parentName(Handle* handle) {
    libvmdk_error_t* error = nullptr;
    std::size_t size = 0;
    const int has = libvmdk_handle_get_utf8_parent_filename_size(handle, &size, &error);
    takeError(error);
    if (has != 1 || size == 0) return {};
    if (size > 65536) return "(unnamed)";
    std::string name(size, '\0');
    if (libvmdk_handle_get_utf8_parent_filename(handle, reinterpret_cast<std::uint8_t*>(name.data()), size, &error) !=
        1) {
      takeError(error);
      return "(unnamed)";
    }
    name.resize(name.find('\0') == std::string::npos ? name.size() : name.find('\0'));
    return name;
  }

  static bool setParent(Handle* child, Handle* parent, std::string& libraryText) {
    libvmdk_error_t* error = nullptr;
    if (libvmdk_handle_set_parent_handle(child, parent, &error) == 1) return true;
    libraryText = takeError(error);
    return false;
  }

  static std::uint64_t mediaSize(Handle* handle) {
    libvmdk_error_t* error = nullptr;
    size64_t size = 0;
    if (libvmdk_handle_get_media_size(handle, &size, &error) != 1) size = 0;
    takeError(error);
    return size;
  }

  static std::int64_t read(Handle* handle, void* destination, std::size_t count, std::uint64_t offset) {
    libvmdk_error_t* error = nullptr;
    const ssize_t got =
        libvmdk_handle_read_buffer_at_offset(handle, destination, count, static_cast<off64_t>(offset), &error);
    takeError(error);
    return got;
  }
};

}  // namespace

ImageOpening openVmdkImage(const std::string& path) { return images::openLibraryChain<VmdkTraits>(path, "VMDK"); }

}  // namespace quorvel
