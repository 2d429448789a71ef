// The Embedded resource table and the embedded stream, driven by a sequence
// of calls taken from the input and checked against a model: a map from
// name to block (first registration wins), and for each open stream its
// block, its size and a position that stays within 0 ... size. Reads must
// return the model's counts and bytes, writes 0.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "assets/resources.hpp"
#include "tests/fuzz/fuzz_support.hpp"

namespace {

using fuzz::check;

// Blocks registered point into this: registration copies nothing, so the
// bytes must outlive the table (they do: the table is scoped to one input).
constexpr std::size_t kPool = 4096;

struct Block {
    const std::uint8_t* data;
    std::int32_t length;
};

struct OpenStream {
    std::unique_ptr<assets::Stream> stream;
    Block block;
    bool readable;
    std::int64_t position = 0;
    std::int64_t size() const { return std::max<std::int32_t>(block.length, 0); }
};

// Flips the case of the letters whose bit is set in `mask`.
std::string recase(std::string text, std::uint64_t mask) {
    for (std::size_t i = 0; i < text.size() && i < 64; ++i) {
        const char c = text[i];
        if ((mask >> i & 1) == 0) continue;
        if (c >= 'a' && c <= 'z') text[i] = char(c - 'a' + 'A');
        else if (c >= 'A' && c <= 'Z') text[i] = char(c - 'A' + 'a');
    }
    return text;
}

std::string lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return text;
}

// Offsets and counts near the interesting places: 0, the size, past it,
// negative, and far out.
std::int64_t amount(FuzzedDataProvider& in, std::int64_t size) {
    switch (in.ConsumeIntegralInRange(0, 4)) {
        case 0: return in.ConsumeIntegralInRange<std::int64_t>(-4, 4);
        case 1: return size + in.ConsumeIntegralInRange<std::int64_t>(-4, 4);
        case 2: return in.ConsumeIntegralInRange<std::int64_t>(-8, size + 8);
        case 3: return in.ConsumeIntegral<std::int64_t>();
        default: return in.ConsumeIntegralInRange<std::int64_t>(0, 2 * std::int64_t(kPool));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    std::vector<std::uint8_t> pool(kPool);
    for (std::size_t i = 0; i < kPool; ++i) pool[i] = std::uint8_t(i * 7 + i / 256);

    assets::EmbeddedTableScope table;
    std::map<std::string, Block> model;
    std::vector<std::string> names;  // every name tried, for lookups and URLs
    std::vector<OpenStream> streams;

    while (in.remaining_bytes() > 0) {
        switch (in.ConsumeIntegralInRange(0, 9)) {
            case 0: {  // register a block of the pool, or a negative length
                std::string name = in.ConsumeRandomLengthString(12);
                const auto offset = in.ConsumeIntegralInRange<std::size_t>(0, kPool);
                std::int32_t length = in.ConsumeIntegralInRange<std::int32_t>(0, std::int32_t(kPool - offset));
                if (in.ConsumeIntegralInRange(0, 15) == 0) length = -in.ConsumeIntegralInRange<std::int32_t>(1, INT32_MAX);
                const std::uint8_t* at = pool.data() + offset;
                const bool fresh = model.find(name) == model.end();
                check(assets::register_embedded(name, at, length) == (fresh ? 1 : 0),
                      "register adds a new name and refuses a taken one");
                if (fresh) model[name] = {at, length};
                names.push_back(std::move(name));
                break;
            }
            case 1: {  // lookups, of names registered or not
                std::string name = names.empty() || in.ConsumeBool()
                                       ? in.ConsumeRandomLengthString(12)
                                       : recase(names[in.ConsumeIntegralInRange<std::size_t>(0, names.size() - 1)],
                                                in.ConsumeBool() ? in.ConsumeIntegral<std::uint64_t>() : 0);
                const auto found = model.find(name);
                check(assets::embedded_data(name) == (found != model.end() ? found->second.data : nullptr),
                      "data lookup gives the first block registered under the exact name");
                check(assets::embedded_length(name) == (found != model.end() ? found->second.length : 0),
                      "length lookup gives its length, 0 for an unknown name");
                break;
            }
            case 2:
            case 3: {  // open a URL made of a protocol, a separator and a name
                std::string url;
                if (in.ConsumeIntegralInRange(0, 7) == 0) {
                    url = in.ConsumeRandomLengthString(40);
                } else {
                    const std::string protocol =
                        in.ConsumeBool() ? recase("incbin", in.ConsumeIntegral<std::uint64_t>()) : in.ConsumeRandomLengthString(8);
                    static const char* const kSeparators[] = {"::", ":", "", ":::", "::::", ": :"};
                    const char* separator = kSeparators[in.ConsumeIntegralInRange<std::size_t>(0, 5)];
                    const std::string name =
                        names.empty() || in.ConsumeIntegralInRange(0, 3) == 0
                            ? in.ConsumeRandomLengthString(12)
                            : recase(names[in.ConsumeIntegralInRange<std::size_t>(0, names.size() - 1)],
                                     in.ConsumeIntegralInRange(0, 3) == 0 ? in.ConsumeIntegral<std::uint64_t>() : 0);
                    url = protocol + separator + name;
                }
                const bool readable = in.ConsumeBool();
                const bool writeable = in.ConsumeIntegralInRange(0, 3) == 0;

                // The model: the protocol is what comes before the first
                // "::", in any case; the name is the rest, exactly.
                const std::size_t sep = url.find("::");
                const auto found = sep == std::string::npos ? model.end() : model.find(url.substr(sep + 2));
                const bool opens = sep != std::string::npos && lower(url.substr(0, sep)) == "incbin" && !writeable &&
                                   found != model.end() && found->second.data != nullptr;
                std::unique_ptr<assets::Stream> s = assets::open_url(url, readable, writeable);
                check((s != nullptr) == opens, "an incbin URL of a registered name opens, without the writeable flag");
                if (!s) break;
                OpenStream open{std::move(s), found->second, readable};
                check(open.stream->size() == open.size(), "a stream's size is its entry's length");
                check(open.stream->position() == 0, "a stream starts at 0");
                if (streams.size() == 4) streams.erase(streams.begin());
                streams.push_back(std::move(open));
                break;
            }
            case 4:
                if (!streams.empty()) streams.erase(streams.begin() + std::ptrdiff_t(in.ConsumeIntegralInRange<std::size_t>(0, streams.size() - 1)));
                break;
            default: {  // seek, read or write on an open stream
                if (streams.empty()) break;
                OpenStream& s = streams[in.ConsumeIntegralInRange<std::size_t>(0, streams.size() - 1)];
                switch (in.ConsumeIntegralInRange(0, 2)) {
                    case 0: {
                        const std::int64_t offset = amount(in, s.size());
                        s.position = std::clamp<std::int64_t>(offset, 0, s.size());
                        check(s.stream->seek(offset) == s.position, "seek clamps to 0 ... size");
                        break;
                    }
                    case 1: {
                        const std::int64_t count = amount(in, s.size());
                        const std::int64_t expected =
                            count <= 0 || !s.readable ? 0 : std::min(count, s.size() - s.position);
                        // Exactly the bytes the model expects, so that a
                        // longer copy overruns the buffer.
                        std::vector<std::uint8_t> buffer(static_cast<std::size_t>(expected));
                        check(s.stream->read(buffer.data(), count) == expected, "read returns the model's count");
                        check(expected == 0 || std::memcmp(buffer.data(), s.block.data + s.position, std::size_t(expected)) == 0,
                              "read copies the block's bytes from the position");
                        s.position += expected;
                        break;
                    }
                    default: {
                        const std::int64_t count = amount(in, s.size());
                        std::vector<std::uint8_t> buffer(std::size_t(std::clamp<std::int64_t>(count, 0, 64)), 0xAB);
                        check(s.stream->write(buffer.data(), std::min<std::int64_t>(count, std::int64_t(buffer.size()))) == 0,
                              "write returns 0");
                        break;
                    }
                }
                check(s.stream->position() == s.position && s.position >= 0 && s.position <= s.size(),
                      "the position stays within 0 ... size, where the model has it");
                check(s.stream->size() == s.size(), "the size never changes");
                break;
            }
        }
    }
    return 0;
}
