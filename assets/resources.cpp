#include "assets/resources.hpp"

#include <algorithm>
#include <cstring>
#include <string>

namespace assets {

namespace {

struct Entry {
    std::string name;
    const std::uint8_t* data;
    std::int32_t length;
    const Entry* next;
};

// Head of the list, newest entry first. Entries are never removed, so they
// are allocated once and intentionally kept until the process ends (only an
// EmbeddedTableScope drops the entries made while it was alive).
const Entry*& head() {
    static const Entry* first = nullptr;
    return first;
}

const Entry* find(std::string_view name) {
    for (const Entry* e = head(); e != nullptr; e = e->next) {
        if (e->name == name) return e;
    }
    return nullptr;
}

// Reads straight from a registered block; never writes.
class EmbeddedStream final : public Stream {
public:
    EmbeddedStream(const std::uint8_t* data, std::int64_t length, bool readable)
        : data_(data), length_(std::max<std::int64_t>(0, length)), readable_(readable) {}

    std::int64_t position() const override { return position_; }
    std::int64_t size() const override { return length_; }

    std::int64_t seek(std::int64_t offset) override {
        position_ = std::clamp<std::int64_t>(offset, 0, length_);
        return position_;
    }

    std::int64_t read(void* buffer, std::int64_t count) override {
        if (count <= 0 || !readable_) return 0;
        const std::int64_t n = std::min(count, length_ - position_);
        if (n <= 0) return 0;
        std::memcpy(buffer, data_ + position_, std::size_t(n));
        position_ += n;
        return n;
    }

    std::int64_t write(const void*, std::int64_t) override { return 0; }

private:
    const std::uint8_t* data_;
    std::int64_t length_;
    bool readable_;
    std::int64_t position_ = 0;
};

std::unique_ptr<Stream> open_embedded(std::string_view name, bool readable, bool writeable) {
    if (writeable) return nullptr;
    const std::uint8_t* data = embedded_data(name);
    if (data == nullptr) return nullptr;
    return std::make_unique<EmbeddedStream>(data, embedded_length(name), readable);
}

}  // namespace

EmbeddedTableScope::EmbeddedTableScope() : outer_(head()) { head() = nullptr; }

EmbeddedTableScope::~EmbeddedTableScope() {
    while (const Entry* e = head()) {
        head() = e->next;
        delete e;
    }
    head() = static_cast<const Entry*>(outer_);
}

int register_embedded(std::string_view name, const std::uint8_t* data, std::int32_t length) {
    if (find(name) != nullptr) return 0;
    head() = new Entry{std::string(name), data, length, head()};
    return 1;
}

const std::uint8_t* embedded_data(std::string_view name) {
    const Entry* e = find(name);
    return e != nullptr ? e->data : nullptr;
}

std::int32_t embedded_length(std::string_view name) {
    const Entry* e = find(name);
    return e != nullptr ? e->length : 0;
}

std::unique_ptr<Stream> open_url(std::string_view url, bool readable, bool writeable) {
    const std::size_t sep = url.find("::");
    if (sep == std::string_view::npos) return nullptr;  // a plain file path

    std::string protocol(url.substr(0, sep));
    std::transform(protocol.begin(), protocol.end(), protocol.begin(), [](unsigned char c) {
        return char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    });
    const std::string_view name = url.substr(sep + 2);

    // The stream sources, asked in turn; the embedded one is the only one.
    if (protocol == "incbin") {
        if (auto s = open_embedded(name, readable, writeable)) return s;
    }
    return nullptr;
}

}  // namespace assets
