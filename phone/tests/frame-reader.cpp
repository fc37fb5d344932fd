#include "frame-reader.h"

#include <gtest/gtest.h>

#include "test-support.h"

namespace pelko::phone::testing {

std::optional<StreamFrame> FrameReader::next(pelko::testing::Timeout timeout) {
    auto header = child_.readBytes(5, timeout);
    if (!header) return {};
    const auto* b = reinterpret_cast<const unsigned char*>(header->data());
    const std::size_t length = (std::size_t{b[0]} << 24) | (b[1] << 16) | (b[2] << 8) | b[3];
    EXPECT_GE(length, 1u);
    StreamFrame frame;
    frame.kind = b[4];
    if (length > 1) {
        auto payload = child_.readBytes(length - 1, timeout);
        if (!payload) {
            ADD_FAILURE() << "the stream ended inside a frame";
            return {};
        }
        frame.payload = std::move(*payload);
    }
    check(frame);
    return frame;
}

bool FrameReader::readToEnd(pelko::testing::Timeout timeout) {
    while (next(timeout)) {
    }
    return child_.readToEnd(timeout).empty();
}

std::vector<JSON> FrameReader::errors() const {
    std::vector<JSON> errors;
    for (const auto& status : statuses_) {
        if (status.value("event", "") == "error") errors.push_back(status);
    }
    return errors;
}

void FrameReader::check(const StreamFrame& frame) {
    // The error frame ends the stream: nothing may follow it.
    EXPECT_TRUE(errors().empty()) << "a frame of kind " << frame.kind << " after the error frame";
    if (frame.kind == 1) {
        ++pictures_;
        ASSERT_TRUE(announced_) << "a picture came before any \"started\" status";
        EXPECT_EQ(jpegSize(frame.payload), announced_) << "picture " << pictures_;
        EXPECT_TRUE(frame.payload.ends_with("\xFF\xD9")) << "a whole JPEG file";
        return;
    }
    ASSERT_EQ(frame.kind, 2) << "unknown kind";
    auto status = parseJSON(frame.payload);
    ASSERT_TRUE(status && status->is_object()) << frame.payload;
    EXPECT_EQ(compactJSON(*status), frame.payload) << "compact JSON";
    statuses_.push_back(*status);
    const std::string event = status->value("event", "");
    if (event == "started") {
        EXPECT_EQ(status->size(), 5u) << frame.payload;
        for (const char* key : {"width", "height", "sourceWidth", "sourceHeight"}) {
            EXPECT_TRUE((*status)[key].is_number_integer()) << key;
        }
        announced_ = std::pair{(*status)["width"].get<int>(), (*status)["height"].get<int>()};
    } else if (event == "error") {
        EXPECT_EQ(status->size(), 3u) << frame.payload;
        EXPECT_TRUE((*status)["code"].is_string() && (*status)["message"].is_string());
        EXPECT_EQ(errors().size(), 1u) << "at most one error frame";
    } else {
        ADD_FAILURE() << "unknown status " << frame.payload;
    }
}

}  // namespace pelko::phone::testing
