#pragma once
// Frames over a connected stream socket.

#include <chrono>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <vector>

#include "norvo/wire/frame.hpp"

namespace norvo::wire {

struct ReceivedFrame {
    FrameHeader header;
    std::vector<std::uint8_t> payload;
};

// Why a frame could not be read; Closed and TimedOut stand for failed writes too.
enum class ReadFailure {
    Closed,     // end of stream or a failed read: nothing more comes
    Oversized,  // a length outside the limits: the stream cannot be followed any further
    Malformed,  // a frame of valid length whose header is wrong; the next frame can be read
    TimedOut,   // the deadline passed first
};

using Deadline = std::optional<std::chrono::steady_clock::time_point>;  // none: no limit

// Milliseconds poll(2) may wait: -1 for no deadline, 0 once it has passed.
[[nodiscard]] int remaining_ms(Deadline deadline);

// Until `fd` is ready for poll(2)'s `events` or the peer hung up: TimedOut once
// the deadline has passed, Closed when poll fails.
[[nodiscard]] std::expected<void, ReadFailure> wait_ready(int fd, short events, Deadline deadline);

// Blocks until one whole frame has arrived. Never allocates more than kMaxFrameSize.
// Reads no byte past the frame, so another reader can take over the socket after it.
[[nodiscard]] std::expected<ReceivedFrame, ReadFailure> read_frame(int fd);

// Cuts frames out of bytes that arrive in pieces, for a reader that reads
// whatever has come (or never blocks). The buffer grows only as bytes arrive,
// never past one frame, and shrinks back once it has been emptied.
class FrameAssembler {
  public:
    static constexpr std::size_t kReadAhead = 1024;

    // Room for the next read, at least one byte.
    std::span<std::uint8_t> space();
    // `count` bytes were read into space().
    void commit(std::size_t count) { end_ += count; }
    // The next whole frame or failure; none until more bytes have come. After
    // Oversized nothing more can be taken.
    std::optional<std::expected<ReceivedFrame, ReadFailure>> next();

  private:
    std::vector<std::uint8_t> buffer_;
    std::size_t begin_ = 0;  // held bytes are [begin_, end_)
    std::size_t end_ = 0;
    std::size_t wanted_ = kReadAhead;  // the frame being read, length field included
};

// Reads the frames of one socket for as long as it lives, taking whatever has arrived
// in one read: a small frame costs one read instead of two, and frames that arrive
// together cost one read in all.
class FrameReader {
  public:
    static constexpr std::size_t kReadAhead = FrameAssembler::kReadAhead;

    explicit FrameReader(int fd) : fd_(fd) {}

    // As read_frame, or TimedOut once `deadline` has passed (what has come stays held).
    [[nodiscard]] std::expected<ReceivedFrame, ReadFailure> next(Deadline deadline = {});

  private:
    int fd_;
    FrameAssembler assembler_;
};

// Blocks until `bytes` are filled; false once the peer is gone.
bool read_exact(int fd, std::span<std::uint8_t> bytes);

// Blocks until every byte is written; false once the peer is gone. Never raises SIGPIPE.
bool write_all(int fd, std::span<const std::uint8_t> bytes);

}  // namespace norvo::wire
