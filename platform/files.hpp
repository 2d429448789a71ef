// Byte-mode file output, as the snapshot needs it: create a file, write it,
// close it, then move it over the previous one in one step.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace platform {

class OutputFile {
public:
    virtual ~OutputFile() = default;
    // Writes all bytes or reports failure.
    virtual bool write(const void* data, std::size_t size) = 0;
    // Flushes and closes; false when the last bytes could not be stored.
    virtual bool close() = 0;
};

class FileSystem {
public:
    virtual ~FileSystem() = default;
    // Creates or truncates `path` for writing in byte mode; null on failure.
    // Never creates folders.
    virtual std::unique_ptr<OutputFile> create(const std::string& path) = 0;
    // Moves `from` over `to` atomically, replacing any file there.
    virtual bool replace(const std::string& from, const std::string& to) = 0;
    virtual bool remove(const std::string& path) = 0;
    // Why the latest failed call failed, in words for a person.
    virtual std::string last_error() const = 0;
};

// The backend's file system, or the one installed by set_file_system.
FileSystem& file_system();
// Installs a replacement (tests use one that fails on demand); null
// restores the backend's own.
void set_file_system(FileSystem* files);

}  // namespace platform
