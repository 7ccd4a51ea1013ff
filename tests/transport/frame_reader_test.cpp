#include <gtest/gtest.h>
#include <sys/socket.h>

#include <vector>

#include "norvo/posix/unique_fd.hpp"
#include "norvo/wire/frame.hpp"
#include "norvo/wire/socket_io.hpp"

namespace norvo::wire {
namespace {

struct SocketPair {
    SocketPair() {
        int fds[2];
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
        writer = posix::UniqueFd(fds[0]);
        reader = posix::UniqueFd(fds[1]);
    }
    void send(const std::vector<std::uint8_t>& bytes) {
        ASSERT_TRUE(write_all(writer.get(), bytes));
    }
    void hang_up() { writer = {}; }

    posix::UniqueFd writer;
    posix::UniqueFd reader;
};

std::vector<std::uint8_t> frame_with_payload(std::uint32_t call_id, std::size_t payload) {
    return make_frame(FrameKind::Call, 6, call_id,
                      std::vector<std::uint8_t>(payload, static_cast<std::uint8_t>(call_id)));
}

// Frames of every size around the read-ahead, written at once so that reads take
// several of them, or parts of them, together.
TEST(FrameReader, FramesArrivingTogetherComeOutWholeAndInOrder) {
    SocketPair pair;
    const std::size_t ahead = FrameReader::kReadAhead;
    const std::vector<std::size_t> payloads{
        0, 3, ahead - kHeaderSize - 1, ahead - kHeaderSize, ahead - kHeaderSize + 1, 7, 20'000, 1};
    std::vector<std::uint8_t> stream;
    for (std::uint32_t id = 0; id < payloads.size(); ++id) {
        const auto frame = frame_with_payload(id + 1, payloads[id]);
        stream.insert(stream.end(), frame.begin(), frame.end());
    }
    pair.send(stream);
    pair.hang_up();
    FrameReader reader(pair.reader.get());
    for (std::uint32_t id = 0; id < payloads.size(); ++id) {
        const auto frame = reader.next();
        ASSERT_TRUE(frame) << id;
        EXPECT_EQ(frame->header.call_id, id + 1);
        EXPECT_EQ(frame->payload,
                  std::vector<std::uint8_t>(payloads[id], static_cast<std::uint8_t>(id + 1)));
    }
    EXPECT_EQ(reader.next().error(), ReadFailure::Closed);
}

TEST(FrameReader, MalformedFrameIsSkippedAndTheNextOneRead) {
    SocketPair pair;
    auto bad = frame_with_payload(1, 4);
    bad[kLengthSize + 2] = 1;  // a reserved byte
    pair.send(bad);
    pair.send(frame_with_payload(2, 4));
    FrameReader reader(pair.reader.get());
    EXPECT_EQ(reader.next().error(), ReadFailure::Malformed);
    const auto good = reader.next();
    ASSERT_TRUE(good);
    EXPECT_EQ(good->header.call_id, 2u);
}

TEST(FrameReader, EndsOnAnOversizedLengthOrAStreamCutShort) {
    {
        SocketPair pair;
        pair.send({0xFF, 0xFF, 0xFF, 0xFF, 2, 0, 0, 0});
        FrameReader reader(pair.reader.get());
        EXPECT_EQ(reader.next().error(), ReadFailure::Oversized);
    }
    for (const std::size_t payload : {std::size_t{10}, std::size_t{5000}}) {
        SocketPair pair;
        auto frame = frame_with_payload(1, payload);
        frame.pop_back();
        pair.send(frame);
        pair.hang_up();
        FrameReader reader(pair.reader.get());
        EXPECT_EQ(reader.next().error(), ReadFailure::Closed) << payload;
    }
}

// The client reads the Hello alone, then hands the socket to a reader for good.
TEST(FrameReader, TakesOverWhereReadFrameStopped) {
    SocketPair pair;
    auto both = make_frame(FrameKind::Hello, 0, 0, std::vector<std::uint8_t>(8));
    const auto second = frame_with_payload(9, 2);
    both.insert(both.end(), second.begin(), second.end());
    pair.send(both);
    const auto hello = read_frame(pair.reader.get());
    ASSERT_TRUE(hello);
    EXPECT_EQ(hello->header.kind, static_cast<std::uint8_t>(FrameKind::Hello));
    FrameReader reader(pair.reader.get());
    const auto next = reader.next();
    ASSERT_TRUE(next);
    EXPECT_EQ(next->header.call_id, 9u);
}

}  // namespace
}  // namespace norvo::wire
