// The Embedded resource table and the streams behind "incbin::" URLs.
//
// The table is one process-wide singly linked list of (name, data, length),
// newest first. It only grows; names are unique and compared exactly.
// Registration copies nothing: the data stays where the caller keeps it.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

namespace assets {

// 1 when the entry was added, 0 when the name is taken (the table is then
// unchanged and the first entry stays).
int register_embedded(std::string_view name, const std::uint8_t* data, std::int32_t length);
// The entry's data, or null when no entry has that name.
const std::uint8_t* embedded_data(std::string_view name);
// The entry's length, or 0 when no entry has that name.
std::int32_t embedded_length(std::string_view name);

// While one is alive, registration, the lookups and "incbin::" opening see a
// table of its own, empty at first; when it ends, its entries are dropped
// and the table in place before is back as it was. The program never makes
// one: tests and fuzz targets do, so that registering one entry per input,
// millions of times over, neither grows the process-wide table nor slows
// its lookups.
class EmbeddedTableScope {
public:
    EmbeddedTableScope();
    ~EmbeddedTableScope();
    EmbeddedTableScope(const EmbeddedTableScope&) = delete;
    EmbeddedTableScope& operator=(const EmbeddedTableScope&) = delete;

private:
    const void* outer_;
};

// A byte stream as the loaders use it.
class Stream {
public:
    virtual ~Stream() = default;
    virtual std::int64_t position() const = 0;
    virtual std::int64_t size() const = 0;
    // Moves to `offset` (clamped to 0 ... size) and returns the new position.
    virtual std::int64_t seek(std::int64_t offset) = 0;
    // Copies up to `count` bytes and returns how many were copied.
    virtual std::int64_t read(void* buffer, std::int64_t count) = 0;
    virtual std::int64_t write(const void* buffer, std::int64_t count) = 0;
};

// Opens "protocol::name" (protocol in any case, name exact). Only the
// embedded source exists: it answers "incbin" URLs opened without the
// writeable flag. A URL without "::" is a plain file path, which no source
// here opens. Null when no source yields a stream.
std::unique_ptr<Stream> open_url(std::string_view url, bool readable, bool writeable);

// Registers the five built-in files, in the order frame.png, pixel.bmp,
// backdrop.bmp, shake.wav, pen.png.
void register_builtin_files();

}  // namespace assets
