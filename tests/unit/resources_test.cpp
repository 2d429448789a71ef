// The Embedded resource table, "incbin::" URL opening and the embedded
// stream.
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "assets/resources.hpp"

namespace {

using assets::embedded_data;
using assets::embedded_length;
using assets::open_url;
using assets::register_embedded;

// A block of 10 known bytes, registered once under "ten.bin".
const std::array<std::uint8_t, 10> kTen = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
constexpr std::int64_t kTenLength = 10;

class ResourcesTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Registration of a present name changes nothing, so repeating this
        // in every test is harmless.
        assets::register_builtin_files();
        register_embedded("ten.bin", kTen.data(), std::int32_t(kTen.size()));
    }
};

TEST_F(ResourcesTest, BuiltinFilesAreRegistered) {
    for (const char* name : {"frame.png", "pixel.bmp", "backdrop.bmp", "shake.wav", "pen.png"}) {
        EXPECT_NE(embedded_data(name), nullptr) << name;
        EXPECT_GT(embedded_length(name), 0) << name;
    }
    EXPECT_EQ(embedded_length("pixel.bmp"), 1090);
    EXPECT_EQ(embedded_length("backdrop.bmp"), 481078);
}

TEST_F(ResourcesTest, RegisteringATakenNameKeepsTheFirstEntry) {
    const std::uint8_t* first = embedded_data("frame.png");
    const std::int32_t first_length = embedded_length("frame.png");
    const std::uint8_t other[3] = {'x', 'y', 'z'};

    EXPECT_EQ(register_embedded("frame.png", other, 3), 0);
    EXPECT_EQ(embedded_data("frame.png"), first);
    EXPECT_EQ(embedded_length("frame.png"), first_length);

    auto s = open_url("incbin::frame.png", true, false);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->size(), first_length);
    std::uint8_t signature[4] = {};
    EXPECT_EQ(s->read(signature, 4), 4);
    EXPECT_EQ(signature[1], 'P');
}

TEST_F(ResourcesTest, NewNameIsAddedOnce) {
    const std::uint8_t bytes[2] = {7, 8};
    EXPECT_EQ(register_embedded("new-entry", bytes, 2), 1);
    EXPECT_EQ(register_embedded("new-entry", bytes, 2), 0);
    EXPECT_EQ(embedded_data("new-entry"), bytes);
    EXPECT_EQ(embedded_length("new-entry"), 2);
}

TEST_F(ResourcesTest, UnknownNamesHaveNoData) {
    for (const char* name : {"never-registered.png", "", "FRAME.PNG", "frame.png ", "frame"}) {
        EXPECT_EQ(embedded_data(name), nullptr) << name;
        EXPECT_EQ(embedded_length(name), 0) << name;
        EXPECT_EQ(open_url(std::string("incbin::") + name, true, false), nullptr) << name;
    }
}

struct UrlCase {
    const char* url;
    bool writeable;
    bool opens;
};

TEST_F(ResourcesTest, UrlOpening) {
    const std::uint8_t bytes[1] = {42};
    register_embedded("a::b", bytes, 1);
    const UrlCase cases[] = {
        {"incbin::ten.bin", false, true},
        {"INCBIN::ten.bin", false, true},   // protocol in any case
        {"InCbIn::ten.bin", false, true},
        {"incbin::TEN.BIN", false, false},  // name exact
        {"incbin::ten.bin", true, false},   // never writeable
        {"ten.bin", false, false},          // a plain path: no source opens it
        {"incbin:ten.bin", false, false},
        {"file::ten.bin", false, false},
        {"incbin ::ten.bin", false, false},
        {"::ten.bin", false, false},
        {"incbin::", false, false},
        {"incbin::a::b", false, true},      // the first "::" splits
    };
    for (const UrlCase& c : cases) {
        auto s = open_url(c.url, true, c.writeable);
        EXPECT_EQ(s != nullptr, c.opens) << c.url << " writeable " << c.writeable;
    }
}

// --- the embedded stream ------------------------------------------------------

class EmbeddedStreamTest : public ResourcesTest {
protected:
    void SetUp() override {
        ResourcesTest::SetUp();
        stream = open_url("incbin::ten.bin", true, false);
        ASSERT_NE(stream, nullptr);
    }
    std::unique_ptr<assets::Stream> stream;
};

TEST_F(EmbeddedStreamTest, StartsAtZeroWithTheRegisteredSize) {
    EXPECT_EQ(stream->position(), 0);
    EXPECT_EQ(stream->size(), kTenLength);
}

TEST_F(EmbeddedStreamTest, SeekIsClamped) {
    struct Case {
        std::int64_t offset, expected;
    };
    const Case cases[] = {{-5, 0}, {kTenLength + 10, kTenLength}, {4, 4},
                          {INT64_MIN, 0}, {INT64_MAX, kTenLength}, {kTenLength, kTenLength}, {0, 0}};
    for (const Case& c : cases) {
        EXPECT_EQ(stream->seek(c.offset), c.expected) << c.offset;
        EXPECT_EQ(stream->position(), c.expected) << c.offset;
    }
}

TEST_F(EmbeddedStreamTest, ReadStopsAtTheEnd) {
    std::uint8_t buffer[100] = {};
    stream->seek(kTenLength - 3);
    EXPECT_EQ(stream->read(buffer, 100), 3);
    EXPECT_EQ(buffer[0], 7);
    EXPECT_EQ(buffer[2], 9);
    EXPECT_EQ(stream->position(), kTenLength);
    EXPECT_EQ(stream->read(buffer, 100), 0);
    EXPECT_EQ(stream->position(), kTenLength);
}

TEST_F(EmbeddedStreamTest, ReadAdvancesThroughTheBlock) {
    std::uint8_t buffer[4] = {};
    EXPECT_EQ(stream->read(buffer, 4), 4);
    EXPECT_EQ(stream->read(buffer, 4), 4);
    EXPECT_EQ(buffer[0], 4);
    EXPECT_EQ(buffer[3], 7);
    EXPECT_EQ(stream->position(), 8);
}

TEST_F(EmbeddedStreamTest, NonPositiveCountsReadNothing) {
    std::uint8_t buffer[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    EXPECT_EQ(stream->read(buffer, 0), 0);
    EXPECT_EQ(stream->read(buffer, -1), 0);
    EXPECT_EQ(stream->read(buffer, INT64_MIN), 0);
    EXPECT_EQ(stream->position(), 0);
    EXPECT_EQ(buffer[0], 0xEE);
}

TEST_F(EmbeddedStreamTest, WriteIsRefused) {
    const std::uint8_t bytes[3] = {1, 2, 3};
    EXPECT_EQ(stream->write(bytes, 3), 0);
    EXPECT_EQ(stream->position(), 0);
    EXPECT_EQ(stream->size(), kTenLength);
    EXPECT_EQ(kTen[0], 0);
}

TEST_F(ResourcesTest, StreamOpenedWithoutReadableReadsNothing) {
    auto s = open_url("incbin::ten.bin", false, false);
    ASSERT_NE(s, nullptr);
    std::uint8_t buffer[4] = {};
    EXPECT_EQ(s->read(buffer, 4), 0);
    EXPECT_EQ(s->position(), 0);
    EXPECT_EQ(s->seek(6), 6);  // seeking still works
}

TEST_F(ResourcesTest, NegativeLengthGivesAnEmptyStream) {
    const std::uint8_t bytes[4] = {1, 2, 3, 4};
    register_embedded("negative-length", bytes, -4);
    auto s = open_url("incbin::negative-length", true, false);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->size(), 0);
    EXPECT_EQ(s->seek(2), 0);
    std::uint8_t buffer[4] = {};
    EXPECT_EQ(s->read(buffer, 4), 0);
}

TEST_F(ResourcesTest, ScopedTableStartsEmptyAndLeavesTheOuterOneAsItWas) {
    const std::uint8_t* frame = embedded_data("frame.png");
    const std::uint8_t bytes[2] = {5, 6};
    {
        assets::EmbeddedTableScope scope;
        EXPECT_EQ(embedded_data("frame.png"), nullptr);
        EXPECT_EQ(open_url("incbin::ten.bin", true, false), nullptr);
        EXPECT_EQ(register_embedded("frame.png", bytes, 2), 1);  // free inside the scope
        EXPECT_EQ(register_embedded("scoped-only", bytes, 2), 1);
        auto s = open_url("incbin::frame.png", true, false);
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(s->size(), 2);
    }
    EXPECT_EQ(embedded_data("frame.png"), frame);
    EXPECT_EQ(embedded_data("scoped-only"), nullptr);
    EXPECT_NE(open_url("incbin::ten.bin", true, false), nullptr);
}

}  // namespace
