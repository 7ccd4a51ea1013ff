#include "norvo/service/pending_taps.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <ostream>
#include <variant>
#include <vector>

namespace {

using namespace std::chrono_literals;
using norvo::Duration;
using norvo::Instant;
using norvo::service::ExpiredTap;
using norvo::service::PendingTaps;
using Form = PendingTaps::Form;

const Instant kT0 = Instant{} + 1h;
constexpr Duration kRange = 500ms;

Instant at(std::chrono::milliseconds offset) {
    return kT0 + offset;
}

// The form and the pending deadlines, oldest first, read by draining a copy.
struct Snapshot {
    Form form;
    std::vector<Instant> deadlines;
    std::size_t laptop_taps;

    friend bool operator==(const Snapshot&, const Snapshot&) = default;

    // Deadlines as milliseconds after t0, for readable failures.
    friend void PrintTo(const Snapshot& s, std::ostream* os) {
        *os << "form " << static_cast<int>(s.form) << ", laptop taps " << s.laptop_taps
            << ", deadlines [";
        for (auto d : s.deadlines) {
            *os << " " << std::chrono::duration_cast<std::chrono::milliseconds>(d - kT0).count();
        }
        *os << " ]";
    }
};

Snapshot snapshot(const PendingTaps& taps) {
    PendingTaps copy = taps;
    std::vector<Instant> deadlines;
    while (auto deadline = copy.next_deadline()) {
        deadlines.push_back(*deadline);
        copy.expire_oldest();
    }
    return {taps.form(), deadlines, taps.pending_laptop_taps()};
}

enum class Start { Idle, Phone, OneLaptop, ThreeLaptops };
enum class Op { Phone, Laptop, Expire };

// Idle; PhoneTapPending(t0+500); LaptopTapsPending([t0+500]);
// LaptopTapsPending([t0+500, t0+510, t0+520]).
PendingTaps make(Start start) {
    PendingTaps taps;
    switch (start) {
        case Start::Idle:
            break;
        case Start::Phone:
            taps.record_phone_tap(at(0ms), kRange);
            break;
        case Start::OneLaptop:
            taps.record_laptop_tap(at(0ms), kRange);
            break;
        case Start::ThreeLaptops:
            for (auto offset : {0ms, 10ms, 20ms}) taps.record_laptop_tap(at(offset), kRange);
            break;
    }
    return taps;
}

// Every operation comes at t0+100, so a new deadline is t0+600.
std::variant<bool, ExpiredTap> apply(PendingTaps& taps, Op op) {
    switch (op) {
        case Op::Phone:
            return taps.record_phone_tap(at(100ms), kRange);
        case Op::Laptop:
            return taps.record_laptop_tap(at(100ms), kRange);
        case Op::Expire:
            return taps.expire_oldest();
    }
    return ExpiredTap::None;
}

TEST(PendingTaps, StartsIdle) {
    const PendingTaps taps;
    EXPECT_EQ(snapshot(taps), (Snapshot{Form::Idle, {}, 0}));
}

TEST(PendingTaps, TransitionTable) {
    struct Case {
        Start start;
        Op op;
        std::variant<bool, ExpiredTap> result;
        Form form;
        std::vector<std::chrono::milliseconds> deadlines;
    };
    const Case cases[] = {
        {Start::Idle, Op::Phone, false, Form::PhoneTapPending, {600ms}},
        {Start::Idle, Op::Laptop, false, Form::LaptopTapsPending, {600ms}},
        {Start::Idle, Op::Expire, ExpiredTap::None, Form::Idle, {}},
        // The earlier phone tap is replaced.
        {Start::Phone, Op::Phone, false, Form::PhoneTapPending, {600ms}},
        {Start::Phone, Op::Laptop, true, Form::Idle, {}},
        {Start::Phone, Op::Expire, ExpiredTap::Phone, Form::Idle, {}},
        {Start::OneLaptop, Op::Phone, true, Form::Idle, {}},
        {Start::OneLaptop, Op::Laptop, false, Form::LaptopTapsPending, {500ms, 600ms}},
        {Start::OneLaptop, Op::Expire, ExpiredTap::Laptop, Form::Idle, {}},
        // The oldest laptop tap is the one confirmed or expired; the later ones stay.
        {Start::ThreeLaptops, Op::Phone, true, Form::LaptopTapsPending, {510ms, 520ms}},
        {Start::ThreeLaptops,
         Op::Laptop,
         false,
         Form::LaptopTapsPending,
         {500ms, 510ms, 520ms, 600ms}},
        {Start::ThreeLaptops,
         Op::Expire,
         ExpiredTap::Laptop,
         Form::LaptopTapsPending,
         {510ms, 520ms}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "start " << static_cast<int>(c.start) << ", op " << static_cast<int>(c.op));
        PendingTaps taps = make(c.start);
        EXPECT_EQ(apply(taps, c.op), c.result);
        std::vector<Instant> deadlines;
        for (auto offset : c.deadlines) deadlines.push_back(at(offset));
        const std::size_t laptop_taps = c.form == Form::LaptopTapsPending ? deadlines.size() : 0;
        EXPECT_EQ(snapshot(taps), (Snapshot{c.form, deadlines, laptop_taps}));
    }
}

// Expiry happens only through expire_oldest, so a partner recorded after the
// deadline, or with a range of zero, still confirms.
TEST(PendingTaps, PartnerRecordedAfterTheDeadlineStillConfirms) {
    for (Duration range : {Duration{0}, kRange}) {
        PendingTaps phone_first;
        phone_first.record_phone_tap(at(0ms), range);
        EXPECT_EQ(phone_first.next_deadline(), at(0ms) + range);
        EXPECT_TRUE(phone_first.record_laptop_tap(at(900ms), range));
        EXPECT_EQ(phone_first.form(), Form::Idle);

        PendingTaps laptop_first;
        laptop_first.record_laptop_tap(at(0ms), range);
        EXPECT_EQ(laptop_first.next_deadline(), at(0ms) + range);
        EXPECT_TRUE(laptop_first.record_phone_tap(at(900ms), range));
        EXPECT_EQ(laptop_first.form(), Form::Idle);
    }
}

TEST(PendingTaps, LaptopTapsRunOutOneByOneOldestFirst) {
    PendingTaps taps = make(Start::ThreeLaptops);
    for (auto deadline : {500ms, 510ms, 520ms}) {
        EXPECT_EQ(taps.next_deadline(), at(deadline));
        EXPECT_EQ(taps.expire_oldest(), ExpiredTap::Laptop);
    }
    EXPECT_EQ(taps.form(), Form::Idle);
    EXPECT_EQ(taps.next_deadline(), std::nullopt);
    EXPECT_EQ(taps.expire_oldest(), ExpiredTap::None);
    EXPECT_EQ(taps.form(), Form::Idle);
}

// A burst longer than the queue's first storage, matched in arrival order.
TEST(PendingTaps, LongLaptopBurstIsConfirmedInArrivalOrder) {
    PendingTaps taps;
    for (int i = 0; i < 100; ++i) {
        EXPECT_FALSE(taps.record_laptop_tap(at(std::chrono::milliseconds{i}), kRange));
    }
    EXPECT_EQ(taps.pending_laptop_taps(), 100u);
    for (int i = 0; i < 99; ++i) {
        EXPECT_EQ(taps.next_deadline(), at(std::chrono::milliseconds{i}) + kRange);
        EXPECT_TRUE(taps.record_phone_tap(at(200ms), kRange));
    }
    EXPECT_EQ(snapshot(taps), (Snapshot{Form::LaptopTapsPending, {at(99ms) + kRange}, 1}));
    EXPECT_TRUE(taps.record_phone_tap(at(200ms), kRange));
    EXPECT_EQ(taps.form(), Form::Idle);
    // After the queue empties, the next phone tap waits again.
    EXPECT_FALSE(taps.record_phone_tap(at(300ms), kRange));
    EXPECT_EQ(snapshot(taps), (Snapshot{Form::PhoneTapPending, {at(800ms)}, 0}));
}

}  // namespace
