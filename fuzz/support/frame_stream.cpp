#include "frame_stream.hpp"

#include <sys/socket.h>

#include <algorithm>
#include <optional>

#include "check.hpp"
#include "norvo/posix/unique_fd.hpp"

namespace norvo::fuzz {
namespace {

constexpr std::size_t kMaxStreamSize = 64 * 1024;

// What read_frame must return for the frame at the front of `rest`, and how many bytes it spans.
struct Expected {
    std::optional<wire::ReadFailure> failure{};
    std::size_t span = 0;
};

Expected expect_front(std::span<const std::uint8_t> rest) {
    if (rest.size() < wire::kLengthSize)
        return {wire::ReadFailure::Closed};
    const auto length = wire::frame_length(rest.first<wire::kLengthSize>());
    if (!length)
        return {wire::ReadFailure::Oversized};
    if (rest.size() - wire::kLengthSize < *length)
        return {wire::ReadFailure::Closed};
    const auto span = wire::kLengthSize + *length;
    if (rest[6] != 0 || rest[7] != 0)
        return {wire::ReadFailure::Malformed, span};
    return {std::nullopt, span};
}

}  // namespace

bool for_each_frame(std::span<const std::uint8_t> stream,
                    const std::function<void(const wire::ReceivedFrame&)>& visit) {
    if (stream.size() > kMaxStreamSize)
        return false;
    int fds[2];
    check(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) == 0, "socketpair");
    posix::UniqueFd writer(fds[0]);
    const posix::UniqueFd reader(fds[1]);
    check(wire::write_all(writer.get(), stream), "the stream fits the socket buffer");
    writer = posix::UniqueFd();

    auto rest = stream;
    for (;;) {
        const auto expected = expect_front(rest);
        const auto frame = wire::read_frame(reader.get());
        if (expected.failure) {
            check(!frame && frame.error() == *expected.failure,
                  "read_frame fails as the bytes say");
            if (*expected.failure != wire::ReadFailure::Malformed)
                return true;
        } else {
            check(frame.has_value(), "a well-formed frame is read");
            const auto original = rest.first(expected.span);
            const auto remade =
                wire::make_frame(static_cast<wire::FrameKind>(frame->header.kind),
                                 frame->header.opnum, frame->header.call_id, frame->payload);
            check(std::ranges::equal(remade, original), "a frame re-encodes to its bytes");
            visit(*frame);
        }
        rest = rest.subspan(expected.span);
    }
}

}  // namespace norvo::fuzz
