// The DevTools connection against a peer played by the test on real pipes.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include <csignal>

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "browser/chromium/cdp_connection.h"

namespace {

using cdp::Completion;
using cdp::Request;

class ConnectionTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(::pipe2(commands_, O_CLOEXEC), 0);
        ASSERT_EQ(::pipe2(replies_, O_CLOEXEC), 0);
        connection_ = std::make_unique<cdp::Connection>(commands_[1], replies_[0]);
    }
    void TearDown() override {
        connection_.reset();
        closePeer();
    }
    void closePeer() {
        for (int* fd : {&commands_[0], &replies_[1]}) {
            if (*fd >= 0) ::close(*fd);
            *fd = -1;
        }
    }

    // Reads one command as the browser would.
    nlohmann::json readCommand() {
        std::string text;
        char c;
        while (::read(commands_[0], &c, 1) == 1 && c != '\0') text += c;
        return nlohmann::json::parse(text);
    }
    void reply(const std::string& text) {
        const std::string framed = text + std::string(1, '\0');
        ASSERT_EQ(::write(replies_[1], framed.data(), framed.size()), static_cast<ssize_t>(framed.size()));
    }
    void reply(const nlohmann::json& message) { reply(message.dump()); }

    // Waits (bounded, so a fault fails instead of hanging) until `count` completions arrived.
    std::vector<Completion> collect(std::size_t count) {
        std::vector<Completion> got;
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (got.size() < count && std::chrono::steady_clock::now() < giveUp) {
            if (connection_->hasCompletions()) {
                for (auto& c : connection_->takeCompletions()) got.push_back(std::move(c));
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        }
        return got;
    }
    // Nothing more arrives within a short while.
    bool quiet() {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        return !connection_->hasCompletions();
    }

    int commands_[2] = {-1, -1};
    int replies_[2] = {-1, -1};
    std::unique_ptr<cdp::Connection> connection_;
};

TEST_F(ConnectionTest, RepliesAreMatchedByIdAndDecodedOffTheMainThread) {
    connection_->send(Request::ListTargets, "Target.getTargets", nlohmann::json::object());
    connection_->send(Request::Snapshot, "Page.captureScreenshot", {{"format", "png"}}, "S1");
    connection_->send(Request::Input, "Input.dispatchMouseEvent", {{"type", "mousePressed"}}, "S1");
    const auto list = readCommand();
    const auto shot = readCommand();
    const auto input = readCommand();
    EXPECT_EQ(list["method"], "Target.getTargets");
    EXPECT_FALSE(list.contains("sessionId"));
    EXPECT_EQ(shot["method"], "Page.captureScreenshot");
    EXPECT_EQ(shot["sessionId"], "S1");
    EXPECT_EQ(shot["params"]["format"], "png");
    EXPECT_NE(list["id"], shot["id"]);

    // Out of order, with an event and an unknown id in between.
    reply(nlohmann::json{{"method", "Target.attachedToTarget"}, {"params", {{"sessionId", "S1"}}}});
    reply(nlohmann::json{{"id", 999}, {"result", nlohmann::json::object()}});
    reply(nlohmann::json{{"id", input["id"]}, {"result", nlohmann::json::object()}});
    reply(nlohmann::json{{"id", shot["id"]}, {"result", {{"data", "iVBORw0KGgo="}}}});
    nlohmann::json targets = nlohmann::json::array();
    targets.push_back({{"targetId", "B"}, {"type", "browser"}});
    targets.push_back({{"targetId", "P1"}, {"type", "page"}});
    targets.push_back({{"targetId", "P2"}, {"type", "page"}});
    nlohmann::json listReply;
    listReply["id"] = list["id"];
    listReply["result"]["targetInfos"] = targets;
    reply(listReply);
    auto got = collect(2);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].request, Request::Snapshot);
    EXPECT_TRUE(got[0].ok);
    EXPECT_EQ(got[0].snapshot.bytes, (std::vector<std::uint8_t>{0x89, 'P', 'N', 'G', 0x0d, 0x0a, 0x1a, 0x0a}));
    EXPECT_EQ(got[1].request, Request::ListTargets);
    EXPECT_EQ(got[1].value, "P1");
    EXPECT_TRUE(quiet()) << "input replies are not reported";
}

TEST_F(ConnectionTest, ErrorRepliesAndUnusableSnapshotsFailWithoutEndingTheConnection) {
    for (const char* data : {static_cast<const char*>(""), "not base64!", static_cast<const char*>(nullptr)}) {
        connection_->send(Request::Snapshot, "Page.captureScreenshot", nlohmann::json::object(), "S");
        const auto cmd = readCommand();
        if (data == nullptr) {
            reply(nlohmann::json{{"id", cmd["id"]}, {"error", {{"code", -32000}, {"message", "Unable"}}}});
        } else {
            reply(nlohmann::json{{"id", cmd["id"]}, {"result", {{"data", data}}}});
        }
        auto got = collect(1);
        ASSERT_EQ(got.size(), 1u);
        EXPECT_FALSE(got[0].ok);
        EXPECT_EQ(got[0].type, Completion::Type::Reply);
        if (data == nullptr) {
            EXPECT_EQ(got[0].text, "Unable");
        }
    }
    connection_->send(Request::Attach, "Target.attachToTarget", {{"targetId", "P"}});
    reply(nlohmann::json{{"id", readCommand()["id"]}, {"result", {{"sessionId", "S9"}}}});
    auto got = collect(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_TRUE(got[0].ok);
    EXPECT_EQ(got[0].value, "S9");
}

TEST_F(ConnectionTest, ALostPeerFailsEveryOutstandingRequestExactlyOnce) {
    connection_->send(Request::Snapshot, "Page.captureScreenshot", nlohmann::json::object(), "S");
    connection_->send(Request::Snapshot, "Page.captureScreenshot", nlohmann::json::object(), "S");
    connection_->send(Request::Input, "Input.dispatchMouseEvent", nlohmann::json::object(), "S");
    const auto first = readCommand();
    readCommand();
    readCommand();
    // The first is answered just before the peer goes away: that answer still counts.
    reply(nlohmann::json{{"id", first["id"]}, {"result", {{"data", "TWFu"}}}});
    closePeer();

    auto got = collect(3);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_TRUE(got[0].ok);
    EXPECT_EQ(got[1].request, Request::Snapshot);
    EXPECT_FALSE(got[1].ok);
    EXPECT_EQ(got[2].type, Completion::Type::Lost);
    EXPECT_TRUE(quiet());

    // Requests after the loss still complete, as failures; writing to the dead pipe must not
    // raise SIGPIPE in this process (the test would die of it).
    connection_->send(Request::Snapshot, "Page.captureScreenshot", nlohmann::json::object(), "S");
    connection_->send(Request::Input, "Input.dispatchMouseEvent", nlohmann::json::object(), "S");
    got = collect(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_FALSE(got[0].ok);
    EXPECT_EQ(got[0].request, Request::Snapshot);
    EXPECT_TRUE(quiet());
}

TEST_F(ConnectionTest, WritingToAPeerThatStoppedReadingIsALossNotACrash) {
    ::close(commands_[0]);
    commands_[0] = -1;
    connection_->send(Request::Snapshot, "Page.captureScreenshot", nlohmann::json::object(), "S");
    auto got = collect(2);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_FALSE(got[0].ok);
    EXPECT_EQ(got[1].type, Completion::Type::Lost);
}

TEST_F(ConnectionTest, GarbageOnThePipeIsALoss) {
    for (const std::string garbage : {"this is not JSON {{{", "[1,2,3]"}) {
        TearDown();
        SetUp();
        connection_->send(Request::Snapshot, "Page.captureScreenshot", nlohmann::json::object(), "S");
        readCommand();
        reply(garbage);
        auto got = collect(2);
        ASSERT_EQ(got.size(), 2u) << garbage;
        EXPECT_FALSE(got[0].ok);
        EXPECT_EQ(got[1].type, Completion::Type::Lost);
    }
}

TEST_F(ConnectionTest, AnEndlessMessageIsCutOffAtTheCap) {
    connection_->send(Request::Snapshot, "Page.captureScreenshot", nlohmann::json::object(), "S");
    readCommand();
    // More than the cap without a NUL, written from a thread because the pipe fills.
    std::thread writer([fd = replies_[1]] {
        // The connection stops reading and closes its end; the write then fails with EPIPE.
        sigset_t pipeSignal;
        sigemptyset(&pipeSignal);
        sigaddset(&pipeSignal, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
        const std::string block(1 << 20, 'x');
        for (std::size_t sent = 0; sent <= cdp::maxMessageBytes + block.size(); sent += block.size()) {
            if (::write(fd, block.data(), block.size()) <= 0) return;
        }
    });
    auto got = collect(2);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_FALSE(got[0].ok);
    EXPECT_EQ(got[1].type, Completion::Type::Lost);
    // The reader stops reading; closing our end lets the writer finish.
    connection_.reset();
    writer.join();
}

TEST_F(ConnectionTest, StopsPromptlyWhileThePeerNeitherReadsNorAnswers) {
    // Far more than a pipe holds: the I/O thread is left with unwritten bytes.
    const std::string big(256 * 1024, 'u');
    for (int i = 0; i < 8; ++i) connection_->send(Request::Navigate, "Page.navigate", {{"url", big}}, "S");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    connection_.reset();  // would hang in join if a write blocked
    SUCCEED();
}

}  // namespace
