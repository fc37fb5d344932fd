// The request loop inside the process: parameter readers, the dispatcher and reply shapes.
#include "request-loop.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "method.h"
#include "sim/sim-desktop.h"

namespace pelko::computer {
namespace {

TEST(ParamReaders, TakeOnlyValuesOfTheWantedType) {
    const JSON params = JSON::parse(R"({
        "text": "hello", "number": 3, "flag": true, "empty": "",
        "path": ["File", "Save…"], "mixed": ["File", 3]
    })");
    EXPECT_EQ(param<std::string>(params, "text"), "hello");
    EXPECT_EQ(param<std::string>(params, "empty"), "");
    EXPECT_EQ(param<std::string>(params, "number"), std::nullopt) << "a number is not text";
    EXPECT_EQ(param<std::string>(params, "missing"), std::nullopt);
    EXPECT_EQ(param<bool>(params, "flag"), true);
    EXPECT_EQ(param<bool>(params, "number"), std::nullopt);
    EXPECT_EQ(param<std::vector<std::string>>(params, "path"),
              (std::vector<std::string>{"File", "Save…"}));
    EXPECT_EQ(param<std::vector<std::string>>(params, "mixed"), std::nullopt);
    EXPECT_EQ(param<std::vector<std::string>>(params, "text"), std::nullopt);
}

TEST(ParamReaders, IntegersComeFromAnyNumberAndFlags) {
    const JSON params = JSON::parse(R"({
        "whole": 12, "fraction": 2.9, "negative": -2.9, "yes": true, "no": false,
        "text": "5", "huge": 1e300, "tiny": -1e300, "unsigned": 18446744073709551615
    })");
    EXPECT_EQ(intParam(params, "whole"), 12);
    EXPECT_EQ(intParam(params, "fraction"), 2) << "fractions are cut toward zero";
    EXPECT_EQ(intParam(params, "negative"), -2);
    EXPECT_EQ(intParam(params, "yes"), 1);
    EXPECT_EQ(intParam(params, "no"), 0);
    EXPECT_EQ(intParam(params, "text"), std::nullopt) << "a string is absent";
    EXPECT_EQ(intParam(params, "missing"), std::nullopt);
    EXPECT_EQ(intParam(params, "huge"), INT64_MAX);
    EXPECT_EQ(intParam(params, "tiny"), INT64_MIN);
    EXPECT_EQ(intParam(params, "unsigned"), INT64_MAX);
    EXPECT_EQ(doubleParam(params, "fraction"), 2.9);
    EXPECT_EQ(doubleParam(params, "whole"), 12.0);
    EXPECT_EQ(doubleParam(params, "text"), std::nullopt);
}

// A computer on a simulated desktop whose output lines are collected in memory. The queues
// drain when `run` ends, so every reply has been written when it returns.
class RequestLoop : public ::testing::Test {
  protected:
    std::vector<JSON> run(const std::vector<std::string>& lines) {
        char* buffer = nullptr;
        size_t size = 0;
        std::FILE* stream = open_memstream(&buffer, &size);
        {
            Computer computer(platform, stream);
            for (const auto& line : lines) serve(computer, line);
        }
        std::fclose(stream);
        std::vector<JSON> replies;
        std::string text(buffer, size);
        std::free(buffer);
        for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
             start = end + 1)
            replies.push_back(JSON::parse(text.substr(start, end - start)));
        return replies;
    }

    VirtualClock clock;
    MainLoop mainLoop{clock};
    sim::SimDesktop desktop{clock, JSON{{"trusted", false}, {"screenCapture", true}}};
    Platform platform{clock, mainLoop, desktop, desktop, desktop, desktop, desktop, desktop};
};

TEST_F(RequestLoop, RepliesCarryResultOrErrorWithCode) {
    const auto replies = run({
        R"({"id": 1, "method": "status"})",
        R"({"id": 2, "method": "Status"})",
        R"({"id": 3, "method": "state", "params": {"app": "Notes"}})",
        R"({"id": 4, "method": "ping", "params": []})",
    });
    ASSERT_EQ(replies.size(), 4u);
    EXPECT_EQ(replies[0], JSON::parse(R"({"id": 1, "result":
                                          {"accessibility": false, "screenRecording": true}})"));
    EXPECT_EQ(replies[1],
              JSON::parse(R"({"id": 2, "error": "Unknown method Status.", "code": "bad-input"})"))
        << "names are compared case-sensitively";
    EXPECT_EQ(replies[2]["code"], "accessibility");  // the desktop does not trust the program
    EXPECT_FALSE(replies[2].contains("result"));
    EXPECT_EQ(replies[3], JSON::parse(R"({"id": 4, "result": {"pong": true}})"));
}

TEST_F(RequestLoop, HandleThrowsTheUnknownMethodFailure) {
    Computer computer(platform, stdout);
    try {
        handle(computer, "", JSON::object());
        FAIL() << "an empty method name must fail";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.message, "Unknown method .");
        EXPECT_EQ(failure.code, "bad-input");
    }
}

TEST(LineOutput, WritesOneCompactLineAndNothingForInvalidText) {
    char* buffer = nullptr;
    size_t size = 0;
    std::FILE* stream = open_memstream(&buffer, &size);
    {
        LineOutput output(stream);
        output.emit({{"event", "stop"}});
        output.emit({{"event", "bad \xC3"}});
        output.emit({{"id", nullptr}, {"result", {{"ok", true}}}});
    }
    std::fclose(stream);
    EXPECT_EQ(std::string(buffer, size),
              "{\"event\":\"stop\"}\n{\"id\":null,\"result\":{\"ok\":true}}\n");
    std::free(buffer);
}

}  // namespace
}  // namespace pelko::computer
