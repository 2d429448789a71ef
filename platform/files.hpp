// Byte-mode file output, as the snapshot needs it: create a new temporary
// file beside the target, write it, close it, then move it over the
// previous file in one step that outlasts a power cut.
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
    // Stores the bytes on the disk and closes; false when they could not
    // all be stored.
    virtual bool close() = 0;
};

class FileSystem {
public:
    virtual ~FileSystem() = default;
    // Creates `path` as a new, empty file for writing in byte mode; null on
    // failure. Whatever is at `path` already (a file, a folder, a symbolic
    // link, even one that points nowhere) makes it fail with `taken` set:
    // nothing there is opened, followed or changed. Never creates folders.
    virtual std::unique_ptr<OutputFile> create_new(const std::string& path, bool& taken) = 0;
    // Moves `from` over `to` in one step, replacing any file there, and
    // makes the move itself reach the disk (the folder is synced), so that
    // after a power cut `to` is either the old file or the new one.
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

// The folder part of `path` ("/" separates folders): "." when there is none.
std::string folder_of(const std::string& path);

// A new temporary file beside `target`, made through `files`: its name is
// `target`, a dot, six random letters and digits, and ".tmp". A name that
// is taken is never touched; another one is tried, up to 100 in all. On
// success `path` is the file's name; on failure null, and files.last_error()
// tells why.
std::unique_ptr<OutputFile> create_temporary(FileSystem& files, const std::string& target,
                                             std::string& path);

}  // namespace platform
