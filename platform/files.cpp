#include "platform/files.hpp"

#include <random>

#include "platform/backend.hpp"

namespace platform {

namespace {
FileSystem* installed = nullptr;
}  // namespace

FileSystem& file_system() {
    return installed != nullptr ? *installed : backend::native_files();
}

void set_file_system(FileSystem* files) { installed = files; }

std::string folder_of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return path.substr(0, slash == 0 ? 1 : slash);
}

std::unique_ptr<OutputFile> create_temporary(FileSystem& files, const std::string& target,
                                             std::string& path) {
    // Unpredictable names, so that nobody can place something where the
    // next one will be; create_new refuses what is placed anyway.
    static constexpr char kLetters[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::random_device random;
    std::unique_ptr<OutputFile> file;
    for (int tries = 0; tries < 100 && file == nullptr; ++tries) {
        path = target + '.';
        for (int i = 0; i < 6; ++i) path += kLetters[random() % (sizeof kLetters - 1)];
        path += ".tmp";
        bool taken = false;
        file = files.create_new(path, taken);
        if (file == nullptr && !taken) break;
    }
    if (file == nullptr) path.clear();
    return file;
}

}  // namespace platform
