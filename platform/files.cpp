#include "platform/files.hpp"

#include "platform/backend.hpp"

namespace platform {

namespace {
FileSystem* installed = nullptr;
}  // namespace

FileSystem& file_system() {
    return installed != nullptr ? *installed : backend::native_files();
}

void set_file_system(FileSystem* files) { installed = files; }

}  // namespace platform
