// The host's side of the framed stream, for black-box tests: reads frames from the program's
// standard output and checks each one as the host relies on it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "child-process.h"
#include "json-line.h"

namespace pelko::phone::testing {

struct StreamFrame {
    int kind = 0;         ///< 1 picture, 2 status
    std::string payload;  ///< the JPEG bytes or the JSON text
    JSON status;          ///< the parsed status (kind 2)
};

/// Reads frames one at a time and checks, as it goes, that every status is a well-formed
/// "started" or "error" object, that every picture is a JPEG of exactly the size the latest
/// "started" announced, that a "started" comes before the first picture, and that nothing
/// follows an "error".
class FrameReader {
  public:
    explicit FrameReader(pelko::testing::ChildProcess& child) : child_(child) {}

    /// The next whole frame; nothing at the end of the stream or when none came in time.
    std::optional<StreamFrame> next(
        pelko::testing::Timeout timeout = pelko::testing::defaultTimeout);
    /// Reads frames until the stream ends; false when it ended inside a frame.
    bool readToEnd(pelko::testing::Timeout timeout = pelko::testing::defaultTimeout);

    int pictures() const { return pictures_; }
    /// Every status frame read so far, in order.
    const std::vector<JSON>& statuses() const { return statuses_; }
    /// The "error" statuses read so far.
    std::vector<JSON> errors() const;

  private:
    void check(const StreamFrame& frame);
    pelko::testing::ChildProcess& child_;
    int pictures_ = 0;
    std::vector<JSON> statuses_;
    std::optional<std::pair<int, int>> announced_;
};

}  // namespace pelko::phone::testing
