// A scriptable message port for the client and resident tests.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/message-port.h"

namespace pelko::notifier::testing {

class FakeLocalPort final : public LocalPort {
  public:
    explicit FakeLocalPort(bool& invalidated) : invalidated_(invalidated) {}
    void invalidate() override { invalidated_ = true; }

  private:
    bool& invalidated_;
};

class FakePorts final : public MessagePorts {
  public:
    struct Request {
        std::string name;
        int32_t messageId;
        std::string payload;
        Duration timeout;
    };

    /// Whether a request is received; by default nothing answers.
    std::function<bool(const Request&)> answers = [](const Request&) { return false; };
    /// Whether `createLocal` finds the name free.
    bool nameFree = true;

    std::vector<Request> requests;
    std::string registeredName;
    PortCallback callback;
    MainQueue mainQueue;
    bool invalidated = false;

    std::unique_ptr<LocalPort> createLocal(const std::string& name, PortCallback portCallback,
                                           MainQueue queue) override {
        if (!nameFree) return nullptr;
        registeredName = name;
        callback = std::move(portCallback);
        mainQueue = std::move(queue);
        return std::make_unique<FakeLocalPort>(invalidated);
    }
    bool sendRequest(const std::string& name, int32_t messageId, const std::string& payload,
                     Duration timeout) override {
        requests.push_back({name, messageId, payload, timeout});
        return answers(requests.back());
    }
};

}  // namespace pelko::notifier::testing
