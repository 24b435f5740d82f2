// The installed copy's files: this start's own image pinned and copied from, the copy
// found where the service is registered, put in place, its version compared and its
// Start-menu shortcut. It asks the service manager only where the service runs from.
#include "control/installed_copy.h"

#include "control/scm.h"
#include "control/service_client.h"

PinnedImage g_pinned_image;

namespace {

// FNV-1a over 64 bits: the pinned file cannot change while its handle is open, so this
// only has to notice a copy that went wrong or a file that was not held as it should be.
const uint64_t kDigestSeed = 14695981039346656037ull;
const uint64_t kDigestPrime = 1099511628211ull;
const uint32_t kChunkBytes = 64 * 1024;

uint8_t g_chunk[kChunkBytes];

// Reads the whole file, writing it to `out` when given; 0 with its size and digest.
int read_whole(FileHandle file, FileHandle out, uint64_t* size, uint64_t* digest) {
  *size = 0;
  *digest = kDigestSeed;
  for (;;) {
    const int32_t length = read_file_at(file, *size, g_chunk, kChunkBytes);
    if (length < 0) return -1;
    if (length == 0) return 0;
    if (out != nullptr && write_file(out, g_chunk, static_cast<uint32_t>(length)) != 0) return -1;
    for (int32_t i = 0; i < length; ++i) *digest = (*digest ^ g_chunk[i]) * kDigestPrime;
    *size += static_cast<uint32_t>(length);
  }
}

bool is_pinned_image(uint64_t size, uint64_t digest) {
  return g_pinned_image.file != nullptr && size == g_pinned_image.size && digest == g_pinned_image.digest;
}

}  // namespace

int pin_own_image() {
  if (g_pinned_image.file != nullptr) return 0;
  FileHolder file(open_own_image());
  uint64_t size = 0;
  uint64_t digest = 0;
  if (file.handle == nullptr || read_whole(file.handle, nullptr, &size, &digest) != 0) return -1;
  // Kept open for the life of the process, an approval's elevated copy included.
  g_pinned_image.file = file.handle;
  g_pinned_image.size = size;
  g_pinned_image.digest = digest;
  file.handle = nullptr;
  return 0;
}

int copy_pinned_image(const wchar_t* to) {
  if (g_pinned_image.file == nullptr) return -1;
  FileHolder out(create_file_to_write(to));
  uint64_t size = 0;
  uint64_t digest = 0;
  if (out.handle == nullptr || read_whole(g_pinned_image.file, out.handle, &size, &digest) != 0) return -1;
  return is_pinned_image(size, digest) ? 0 : -1;
}

bool matches_pinned_image(FileHandle file) {
  uint64_t size = 0;
  uint64_t digest = 0;
  return read_whole(file, nullptr, &size, &digest) == 0 && is_pinned_image(size, digest);
}

int locate_installed_copy(InstallPaths* paths) {
  // Where the service runs from, when there is one: an x86-64 window beside the x86
  // service finds the same copy, which its own Program Files folder would not name.
  // A registration of any other form is not this layout's, and names no copy of ours.
  wchar_t command_line[kCommandLineCapacity];
  wchar_t image[kExecutablePathCapacity];
  if (read_registered_command_line(command_line) == 0) {
    if (image_of_command_line(command_line, image, kExecutablePathCapacity) != 0) return -1;
    return find_install_paths_of_image(image, paths);
  }
  wchar_t program_files[kExecutablePathCapacity];
  const uint32_t length = program_files_folder(program_files, kExecutablePathCapacity);
  if (length == 0 || length >= kExecutablePathCapacity) return -1;
  return find_install_paths(program_files, paths);
}

bool runs_installed_copy() {
  wchar_t own_path[kExecutablePathCapacity];
  const uint32_t length = own_executable_path(own_path, kExecutablePathCapacity);
  InstallPaths paths;
  return length > 0 && length < kExecutablePathCapacity && locate_installed_copy(&paths) == 0 &&
         same_path(own_path, paths.target);
}

int32_t compare_with_installed_copy() {
  InstallPaths paths;
  uint64_t installed = 0;
  if (locate_installed_copy(&paths) != 0 || read_file_version(paths.target, &installed) != 0) {
    return kInstalledUnreadable;
  }
  // A copy that cannot tell its own version is never taken for a newer one.
  uint64_t own = 0;
  if (read_file_version(nullptr, &own) != 0) return kCopyOlder;
  if (own > installed) return kCopyNewer;
  return own == installed ? kCopySame : kCopyOlder;
}

int place_installed_copy(const InstallPaths* paths, FileHolder* placed) {
  make_folder(paths->folder);
  if (copy_pinned_image(paths->staging) != 0) {
    delete_file(paths->staging);
    return -1;
  }
  delete_file(paths->aside);  // set aside by an earlier replacement, and no longer running
  const bool set_aside = move_file_replacing(paths->target, paths->aside) == 0;
  if (move_file_replacing(paths->staging, paths->target) == 0) {
    // What now stands at the target must be what this start read: a copy of a file that
    // changed since, or that changed on its way, is never registered or run.
    placed->handle = open_file_to_read(paths->target);
    if (placed->handle != nullptr && matches_pinned_image(placed->handle)) return 0;
    if (placed->handle != nullptr) close_file(placed->handle);
    placed->handle = nullptr;
    delete_file(paths->target);
  }
  delete_file(paths->staging);
  if (set_aside) move_file_replacing(paths->aside, paths->target);
  return -1;
}

void add_start_menu_shortcut() {
  InstallPaths paths;
  if (locate_installed_copy(&paths) == 0) make_start_menu_shortcut(paths.target, paths.folder);
}

void add_startup_shortcut() {
  InstallPaths paths;
  if (locate_installed_copy(&paths) == 0) make_startup_shortcut(paths.target, paths.folder);
}
