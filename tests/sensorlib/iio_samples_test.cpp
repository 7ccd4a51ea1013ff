// A sample accelerometer's way to taps, without a device: its records decoded by the channels'
// types, the rate asked of it, and each tap handed on at a fixed delay after its onset.

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "detect/knocks.hpp"
#include "norvo/linux/iio_scan.hpp"
#include "norvo/linux/tap_delivery.hpp"

namespace norvo::testing {
namespace {

namespace iio = linux_platform::iio;
using std::chrono::milliseconds;
using std::chrono::nanoseconds;

// Each case: a channel's type as sysfs shows it, its storage bytes as they lie in a record
// (after a byte of another channel, so that the offset counts), and the value meant.
TEST(IioScan, DecodesEachChannelByItsType) {
    const struct {
        const char* type;
        std::vector<std::uint8_t> bytes;
        std::int64_t value;
    } cases[] = {
        {"le:s16/16>>0", {0x18, 0xFC}, -1000},
        {"be:s16/16>>0", {0xFC, 0x18}, -1000},
        {"le:u16/16>>0", {0x18, 0xFC}, 0xFC18},
        {"le:s12/16>>4", {0x80, 0xFF}, -8},  // the low nibble is another field's
        {"be:u12/16>>4", {0xAB, 0xCD}, 0xABC},
        {"le:s16/32>>0", {0x30, 0xF8, 0x5A, 0x5A}, -2000},  // a hub's 16 bits in 32
        {"le:s20/32>>4", {0x0F, 0x00, 0xF0, 0xFF}, -65536},
        {"le:u8/8>>0", {0xFF}, 255},
        {"le:s8/8>>0", {0xFF}, -1},
        {"le:s64/64>>0", {0x00, 0xE4, 0x0B, 0x54, 0x02, 0x00, 0x00, 0x00}, 10'000'000'000},
        {"le:s16/16X2>>0", {0x02, 0x00, 0x05, 0x00}, 2},  // the first of two elements
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type);
        const auto type = iio::parse_channel_type(std::string(c.type) + "\n");
        ASSERT_TRUE(type) << type.error();
        std::vector<std::uint8_t> record{0x77};
        record.insert(record.end(), c.bytes.begin(), c.bytes.end());
        EXPECT_EQ(iio::channel_value(record, 1, *type), c.value);
    }
    for (const auto* bad : {"xe:s16/16>>0", "le:f16/16>>0", "le:s16>>0", "le:s17/16>>0",
                            "le:s16/24>>0", "le:s12/16>>8", "le:s16/16X0>>0", "le:s16/16>>0 x"}) {
        EXPECT_FALSE(iio::parse_channel_type(bad)) << bad;
    }
    EXPECT_EQ(iio::parse_channel_type("le:s16/12>>0").error(),
              "channel type 'le:s16/12>>0' is stored in other than 8, 16, 32 or 64 bits");
}

// The kernel's layout: scan index order, the timestamp last whatever its index, each channel
// aligned to its own size, the record to its largest.
TEST(IioScan, LaysRecordsOutAsTheKernelDoes) {
    const auto type = [](const char* text) { return *iio::parse_channel_type(text); };
    const struct {
        const char* what;
        std::vector<iio::ScanChannel> channels;
        std::vector<std::size_t> offsets;  // of the channels in the order given
        std::size_t size;
    } cases[] = {
        {"a hub: 16 bits in 32, then the timestamp",
         {{"in_accel_x", 0, type("le:s16/32>>0")},
          {"in_accel_y", 1, type("le:s16/32>>0")},
          {"in_accel_z", 2, type("le:s16/32>>0")},
          {"in_timestamp", 3, type("le:s64/64>>0")}},
         {0, 4, 8, 16},
         24},
        {"16-bit axes listed out of order, a timestamp with a low index",
         {{"in_timestamp", 0, type("le:s64/64>>0")},
          {"in_accel_z", 3, type("le:s16/16>>0")},
          {"in_accel_x", 1, type("le:s16/16>>0")},
          {"in_accel_y", 2, type("le:s16/16>>0")}},
         {8, 4, 0, 2},
         16},
        {"a byte, then a repeated channel aligned to its whole size",
         {{"in_temp", 0, type("le:u8/8>>0")}, {"in_rot", 1, type("le:s16/16X2>>0")}},
         {0, 4},
         8},
        {"no timestamp: padded to the largest",
         {{"in_accel_x", 0, type("le:s32/32>>0")}, {"in_temp", 1, type("le:u8/8>>0")}},
         {0, 4},
         8},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto layout = iio::lay_out(c.channels);
        EXPECT_EQ(layout.size, c.size);
        for (std::size_t i = 0; i < c.channels.size(); ++i) {
            const auto* placed = layout.find(c.channels[i].name);
            ASSERT_NE(placed, nullptr);
            EXPECT_EQ(placed->offset, c.offsets[i]) << c.channels[i].name;
        }
    }
}

// At least 100 Hz where the device offers it: the least such; else the most it offers.
TEST(IioScan, AsksForTheLeastRateOfAtLeast100Hz) {
    const struct {
        const char* available;
        std::optional<double> chosen;
    } cases[] = {
        {"12.5 25 50 100 200 400\n", 100},
        {"15.620000 31.260000 62.500000 125 250 500 1000", 125},
        {"400 200 50", 200},
        {"10 25 50", 50},
        {"[1 1 400]", 100},
        {"[10 7 400]", 101},
        {"[1 1 60]", 60},
        {"[125 125 1000]", 125},
        {"", std::nullopt},
        {"fast slow", std::nullopt},
        {"[1 400]", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(iio::choose_rate(c.available, 100), c.chosen) << c.available;
}

// When a tap reaches the sensor loop must not depend on when its samples were read. A stream
// of knocks is read as a device's buffer hands it over: every read period, at any phase, from a
// device that passes each sample on at once or one whose own FIFO holds a batch, and once with
// a read held up by a busy machine. Every tap is handed on exactly its delay after its onset,
// however its samples came, and the same taps each time; one decided later than that (the
// late read) is handed on at once.
TEST(TapDelivery, HandsEachTapOnAFixedDelayAfterItsOnset) {
    const detect::TapParameters parameters;
    constexpr double kRate = 100;
    const auto samples = test::stream(kRate, 12, {{1.5, 3}, {3.2, 1.2}, {5.9, 6}, {9.1, 2}});
    // The device's clock is the realtime one: its timestamps are a fixed step off the monotonic.
    const nanoseconds to_monotonic = -std::chrono::hours(1);
    constexpr milliseconds kHeldUp{400};
    const struct {
        const char* what;
        milliseconds read_period, phase;
        std::size_t batch;    // samples a device's own FIFO holds before passing them on
        milliseconds late{};  // the read due then comes kHeldUp late: the tap at 3.2 s with it
    } cases[] = {
        {"read every 100 ms", milliseconds(100), milliseconds(0), 1},
        {"read at another phase", milliseconds(100), milliseconds(37), 1},
        {"read every 20 ms", milliseconds(20), milliseconds(5), 1},
        {"a FIFO of 5 samples", milliseconds(100), milliseconds(61), 5},
        {"a read held up", milliseconds(100), milliseconds(0), 1, milliseconds(3400)},
    };
    std::vector<detect::Timestamp> onsets;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const nanoseconds batch(c.batch > 1 ? std::llround(c.batch * 1e9 / kRate) : 0);
        linux_platform::TapDelivery taps(
            parameters, linux_platform::delivery_delay(parameters, kRate, c.read_period, batch));
        // Virtual time on the monotonic clock, the samples' times on it too: the reader's timer,
        // and the delivery timer between reads.
        std::vector<std::pair<detect::Tap, detect::Timestamp>> handed;  // and when
        const auto deliver = [&](detect::Timestamp now) {
            for (const auto& due : taps.take_due(now)) handed.emplace_back(due.tap, now);
        };
        std::size_t next = 0;
        for (detect::Timestamp read = c.phase; next < samples.size(); read += c.read_period) {
            if (read == c.late)
                read += kHeldUp;
            while (taps.next_due() && *taps.next_due() <= read) deliver(*taps.next_due());
            // A sample is there once the FIFO's batch it belongs to is full.
            for (; next < samples.size(); ++next) {
                const std::size_t full = (next / c.batch + 1) * c.batch - 1;
                if (full >= samples.size() || samples[full].time > read)
                    break;
                auto sample = samples[next];
                sample.time -= to_monotonic;
                taps.push(sample, to_monotonic);
            }
            deliver(read);
        }
        while (taps.next_due()) deliver(*taps.next_due());

        ASSERT_EQ(handed.size(), 4u);
        std::vector<detect::Timestamp> these;
        for (const auto& [tap, at] : handed) {
            these.push_back(tap.onset);
            if (c.late.count() > 0 && std::abs(test::seconds(tap.onset) - 3.2) < 0.05)
                EXPECT_EQ(at, c.late + kHeldUp);
            else
                EXPECT_EQ(at, tap.onset + taps.delay()) << test::seconds(tap.onset);
        }
        if (onsets.empty())
            onsets = these;
        EXPECT_EQ(these, onsets);
    }
    EXPECT_EQ(linux_platform::delivery_delay(parameters, kRate, milliseconds(100), {}),
              milliseconds(332));
}

}  // namespace
}  // namespace norvo::testing
