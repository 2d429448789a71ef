// The operating system's files on Linux, through the POSIX calls.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

#include "platform/backend.hpp"
#include "platform/files.hpp"

namespace platform::backend {

namespace {

class PosixFile final : public OutputFile {
public:
    PosixFile(int fd, std::string& last_error) : fd_(fd), last_error_(last_error) {}
    ~PosixFile() override {
        if (fd_ >= 0) ::close(fd_);
    }
    PosixFile(const PosixFile&) = delete;
    PosixFile& operator=(const PosixFile&) = delete;

    bool write(const void* data, std::size_t size) override {
        if (fd_ < 0) return fail(EBADF);
        const auto* bytes = static_cast<const unsigned char*>(data);
        while (size > 0) {
            const ssize_t written = ::write(fd_, bytes, size);
            if (written < 0) {
                if (errno == EINTR) continue;
                return fail(errno);
            }
            // A regular file that takes no byte of a non-empty write is full.
            if (written == 0) return fail(ENOSPC);
            bytes += written;
            size -= std::size_t(written);
        }
        return true;
    }

    // The bytes go to the disk before the close reports success: the caller
    // moves this file over the previous save next, and a crash right after
    // that move must not leave an empty file where the old one was.
    bool close() override {
        if (fd_ < 0) return fail(EBADF);
        int error = 0;
        if (::fsync(fd_) != 0 && errno != EINVAL) error = errno;  // EINVAL: cannot be synced
        if (::close(fd_) != 0 && error == 0 && errno != EINTR) error = errno;
        fd_ = -1;
        return error == 0 || fail(error);
    }

private:
    bool fail(int error) {
        last_error_ = std::strerror(error);
        return false;
    }

    int fd_;
    std::string& last_error_;
};

class PosixFiles final : public FileSystem {
public:
    std::unique_ptr<OutputFile> create_new(const std::string& path, bool& taken) override {
        // O_EXCL: only a file made by this call is opened; with O_NOFOLLOW
        // a symbolic link at `path` is refused, never written through.
        int fd;
        do {
            fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        } while (fd < 0 && errno == EINTR);
        taken = fd < 0 && errno == EEXIST;
        if (fd < 0) {
            fail(errno);
            return nullptr;
        }
        return std::make_unique<PosixFile>(fd, last_error_);
    }

    bool replace(const std::string& from, const std::string& to) override {
        // A file the user made read-only is left alone, as writing it in
        // place would fail too; rename(2) alone would replace it.
        if (::access(to.c_str(), W_OK) != 0 && errno != ENOENT) return fail(errno);
        if (::rename(from.c_str(), to.c_str()) != 0) return fail(errno);
        return sync_folder_of(to);
    }

    bool remove(const std::string& path) override {
        if (::unlink(path.c_str()) != 0) return fail(errno);
        return true;
    }

    std::string last_error() const override { return last_error_; }

private:
    bool fail(int error) {
        last_error_ = std::strerror(error);
        return false;
    }

    // The new name is an entry of the folder: until the folder reaches the
    // disk, a power cut can bring the old entry back. A folder that cannot
    // be opened or synced here (EINVAL) is not an error; a failed sync is.
    bool sync_folder_of(const std::string& path) {
        const std::string folder = folder_of(path);
        int fd;
        do {
            fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        } while (fd < 0 && errno == EINTR);
        if (fd < 0) return true;
        const int error = ::fsync(fd) != 0 && errno != EINVAL ? errno : 0;
        ::close(fd);
        return error == 0 || fail(error);
    }

    std::string last_error_;
};

}  // namespace

FileSystem& native_files() {
    static PosixFiles files;
    return files;
}

}  // namespace platform::backend
