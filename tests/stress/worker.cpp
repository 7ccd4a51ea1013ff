#include "worker.hpp"

#include <fmt/format.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <optional>
#include <random>
#include <vector>

#include "bad_frames.hpp"
#include "norvo/service/hresult.hpp"
#include "norvo/service/properties.hpp"
#include "stress_client.hpp"
#include "tally.hpp"

namespace norvo::stress {
namespace {

namespace call = wire::call;
namespace result = wire::result;
namespace hr = service::hr;
using Bytes = std::vector<std::uint8_t>;

constexpr std::int32_t kDebugMode = service::property_key::debug_mode;
constexpr std::int32_t kPhoneTap = 3;

struct Context {
    wire::ContextToken token;
    std::optional<std::uint32_t> start;  // the call id of its outstanding start
    std::uint64_t accepted = 0;          // phone events of that start answered with 0
    std::uint64_t counted = 0;           // of those, already in the tally
};

// A property set and the result it must get.
struct SetCase {
    std::int32_t key;
    Bytes value;
    service::HRESULT expected;
};

const std::vector<SetCase> kSets = {
    {2, {1}, hr::ok},
    {2, {0}, hr::ok},
    {3, {0x2C, 0x01, 0, 0}, hr::ok},
    {3, {0, 0, 0, 0}, hr::ok},
    {3, {0x2C, 0x01}, hr::invalid_arg},
    {6, {7}, hr::ok},
    {9, {1}, hr::ok},
    {7, {'w', 'o', 'r', 'k', 'e', 'r'}, hr::ok},
    {7, {0xFF, 0x41}, hr::ok},
    {7, Bytes(129, 'x'), hr::invalid_arg},
    {7, {}, hr::invalid_arg},
    {1, {1}, hr::invalid_arg},
    {4, {0, 0, 0, 0}, hr::invalid_arg},
    {10, {1}, hr::invalid_arg},
    {-5, {1}, hr::invalid_arg},
    {kDebugMode, {1, 1}, hr::invalid_arg},
};

// A queried key and the value lengths it may report with S_OK; none: E_INVALIDARG.
struct QueryCase {
    std::int32_t key;
    std::optional<std::int32_t> size;  // none: any length of at least 1
    bool may_be_absent;                // E_UNEXPECTED allowed (no tap strength yet)
};

const std::vector<QueryCase> kQueries = {
    {1, 8, false}, {2, 1, false},  {3, 4, false}, {4, 4, false}, {5, 4, true},
    {6, 1, false}, {7, {}, false}, {8, 1, false}, {9, 1, false}, {kDebugMode, 1, false},
};

// A phone packet and whether it is well formed.
struct PhoneCase {
    Bytes packet;
    bool valid;
};

const std::vector<PhoneCase> kPhones = {
    {{1, 0, 1, 0, 0, 0}, true},
    {{2, 0, 1, 0, 4, 0, 0, 0, 0x80, 0x3F}, true},
    {{1, 0, 1, 0, 0, 0, 9, 9}, true},
    {{1, 0, 1, 0, 4, 0, 0, 0, 0x80, 0x3F}, false},
    {{2, 0, 1, 0, 0, 0}, false},
    {{3, 0, 1, 0, 0, 0}, false},
    {{1, 0, 2, 0, 0, 0}, false},
    {{2, 0, 1, 0, 4, 0, 0}, false},
    {{1, 0}, false},
};

class Worker {
  public:
    Worker(const WorkerPlan& plan, StressClient client)
        : plan_(plan), rng_(plan.seed), client_(std::move(client)) {
        client_.set_reply_status([this] { return chance(20) ? wire::status::call_failed : 0; });
    }

    int run() {
        const int kill_at = chance(4) ? pick(plan_.steps) : -1;
        for (int step = 0; step < plan_.steps && failures_.empty(); ++step) {
            if (step == kill_at)
                die_in_a_call();
            do_one();
        }
        if (failures_.empty())
            finish();
        return report();
    }

  private:
    bool chance(int one_in) { return pick(one_in) == 0; }
    int pick(int count) { return std::uniform_int_distribution<int>(0, count - 1)(rng_); }
    template <class T>
    const T& any_of(const std::vector<T>& items) {
        return items[static_cast<std::size_t>(pick(static_cast<int>(items.size())))];
    }

    void fail(std::string what) { failures_.push_back(std::move(what)); }

    void do_one() {
        if (contexts_.empty())
            return open();
        auto& context =
            contexts_[static_cast<std::size_t>(pick(static_cast<int>(contexts_.size())))];
        switch (pick(14)) {
            case 0:
                return contexts_.size() < 3 ? open() : query(context);
            case 1:
            case 2:
                return set(context);
            case 3:
            case 4:
                return query(context);
            case 5:
                return context.start ? restart(context) : start(context);
            case 6:
            case 7:
            case 8:
                return context.start || chance(2) ? phone(context) : start(context);
            case 9:
                return context.start ? stop(context) : start(context);
            case 10:
                return close(context);
            case 11:
                return burst(context);
            case 12:
                ++tally_.garbage;
                if (auto why = feed_bad_frames(plan_.socket, rng_(), plan_.deadline))
                    fail(*why);
                return;
            default:
                ++tally_.vanished;
                if (auto why = vanish(plan_.socket, rng_(), plan_.deadline))
                    fail(*why);
                return;
        }
    }

    // The answer to one call, or a failure when none came in time.
    template <class Call>
    std::optional<Answer> call(const Call& c, std::string_view name) {
        return await(client_.send(c), name);
    }

    std::optional<Answer> await(std::uint32_t id, std::string_view name) {
        ++tally_.calls;
        auto answer = client_.await(id, plan_.deadline);
        if (!answer) {
            fail(fmt::format("{} not answered: {}", name, answer.error()));
            return std::nullopt;
        }
        if (answer->fault) {
            fail(fmt::format("{} answered with RPC status {}", name, answer->status));
            return std::nullopt;
        }
        return std::move(*answer);
    }

    template <class Result>
    std::optional<Result> decoded(const std::optional<Answer>& answer, std::string_view name) {
        if (!answer)
            return std::nullopt;
        auto out = wire::decode<Result>(answer->payload);
        if (!out)
            fail(fmt::format("{}: a result that does not decode", name));
        return out;
    }

    std::optional<service::HRESULT> status_of(const std::optional<Answer>& answer,
                                              std::string_view name) {
        const auto out = decoded<result::Status>(answer, name);
        return out ? std::optional(out->value) : std::nullopt;
    }

    void expect_status(const std::optional<Answer>& answer, std::string_view name,
                       std::initializer_list<service::HRESULT> allowed) {
        const auto value = status_of(answer, name);
        if (value && std::find(allowed.begin(), allowed.end(), *value) == allowed.end())
            fail(fmt::format("{} returned {:#x}", name, static_cast<std::uint32_t>(*value)));
    }

    void open() {
        const auto opened = decoded<result::RemoteOpen>(call(call::RemoteOpen{}, "open"), "open");
        if (!opened)
            return;
        if (opened->context.is_null())
            return fail("open gave the null handle");
        const std::string name = fmt::format("stress {:x}", plan_.seed);
        expect_status(
            call(call::NorvoSetProperty{opened->context, 7, {{name.begin(), name.end()}}}, "set 7"),
            "set 7", {hr::ok});
        expect_status(call(call::NorvoSetProperty{opened->context, kDebugMode, {{1}}}, "set debug"),
                      "set debug", {hr::ok});
        contexts_.push_back({opened->context, {}, 0, 0});
    }

    void set(const Context& context) {
        const auto& c = any_of(kSets);
        const auto name = fmt::format("set {}", c.key);
        expect_status(call(call::NorvoSetProperty{context.token, c.key, {c.value}}, name), name,
                      {c.expected});
    }

    void query(const Context& context) {
        const bool unknown = chance(8);
        const auto& c = unknown ? QueryCase{11, {}, false} : any_of(kQueries);
        const auto name = fmt::format("query {}", c.key);
        const auto out = decoded<result::NorvoQueryProperty>(
            call(call::NorvoQueryProperty{context.token, c.key, wire::PropertyBuffer{Bytes(200)}},
                 name),
            name);
        if (!out)
            return;
        if (unknown) {
            if (out->value != hr::invalid_arg)
                fail(fmt::format("{} of an unknown key returned {:#x}", name, out->value));
            return;
        }
        if (c.may_be_absent && out->value == hr::unexpected)
            return;
        if (out->value != hr::ok || (c.size && out->size != *c.size) || out->size < 1)
            fail(fmt::format("{} returned {:#x} size {}", name, out->value, out->size));
    }

    void start(Context& context) {
        const auto id = client_.send(call::NorvoStartSensor{context.token, rng_()});
        std::string why;
        if (!client_.pump_until([&] { return !client_.run(id).signals.empty(); },
                                Clock::now() + plan_.deadline, why)) {
            return fail("start did not signal that its loop runs: " + why);
        }
        if (client_.run(id).signals.front() != 0)
            return fail(fmt::format("start signalled {:#x}", client_.run(id).signals.front()));
        ++tally_.starts;
        context.start = id;
        context.accepted = 0;
        context.counted = 0;
    }

    // Every phone event the run accepted has come back as a PhoneTap.
    void settle(Context& context) {
        if (!context.start)
            return;
        const auto& tally = client_.run(*context.start);
        std::string why;
        if (!client_.pump_until([&] { return tally.phone_taps >= context.accepted; },
                                Clock::now() + plan_.deadline, why)) {
            return fail(fmt::format("{} phone events accepted, {} taken by the loop: {}",
                                    context.accepted, tally.phone_taps, why));
        }
        if (tally.phone_taps != context.accepted) {
            return fail(fmt::format("{} phone events accepted, {} PhoneTap callbacks",
                                    context.accepted, tally.phone_taps));
        }
        tally_.phones += context.accepted - context.counted;
        tally_.phone_taps += tally.phone_taps - context.counted;
        context.counted = context.accepted;
    }

    // The start ended by the call just made returns 0.
    void expect_start_ended(Context& context) {
        expect_status(await(*context.start, "start"), "start", {hr::ok});
        client_.forget_run(*context.start);
        context.start.reset();
    }

    void stop(Context& context) {
        settle(context);
        expect_status(call(call::NorvoStopSensor{context.token}, "stop"), "stop", {hr::ok});
        if (chance(4)) {
            // A second stop finds the first unread, or the loop gone.
            expect_status(call(call::NorvoStopSensor{context.token}, "second stop"), "second stop",
                          {hr::ok, hr::abort});
        }
        expect_start_ended(context);
    }

    void restart(Context& context) {
        settle(context);
        // The new start drops the earlier run's stop sender, which ends that run.
        Context replaced{context.token, context.start, 0, 0};
        const auto id = client_.send(call::NorvoStartSensor{context.token, rng_()});
        expect_start_ended(replaced);
        std::string why;
        if (!client_.pump_until([&] { return !client_.run(id).signals.empty(); },
                                Clock::now() + plan_.deadline, why)) {
            return fail("a second start did not signal: " + why);
        }
        ++tally_.starts;
        context.start = id;
        context.accepted = 0;
        context.counted = 0;
    }

    void phone(Context& context) {
        const auto& c = any_of(kPhones);
        const auto value = status_of(
            call(call::NorvoReceiveClientEvent{context.token, {c.packet}}, "phone"), "phone");
        if (!value)
            return;
        if (!c.valid) {
            if (*value != hr::invalid_arg)
                fail(fmt::format("a bad phone packet returned {:#x}", *value));
        } else if (*value == hr::ok) {
            if (!context.start)
                fail("a phone event with no run returned 0");
            ++context.accepted;
        } else if (*value != hr::abort) {
            fail(fmt::format("a phone event returned {:#x}", *value));
        }
    }

    void close(Context& context) {
        settle(context);
        const auto closed =
            decoded<result::RemoteClose>(call(call::RemoteClose{context.token}, "close"), "close");
        if (closed && !closed->context.is_null())
            fail("close did not null the handle");
        if (context.start)
            expect_start_ended(context);
        const auto token = context.token;  // `context` itself moves while erasing
        std::erase_if(contexts_, [&](const Context& c) { return c.token == token; });
    }

    // Several calls on the wire at once, answered in any order.
    void burst(const Context& context) {
        std::vector<std::uint32_t> ids;
        for (int i = 0; i < 4; ++i) {
            ids.push_back(client_.send(call::NorvoQueryProperty{context.token, 4, {}}));
            ids.push_back(client_.send(call::NorvoSetProperty{context.token, 9, {{1}}}));
        }
        for (const auto id : ids) await(id, "burst");
    }

    // SIGKILL with a call outstanding: a start, or a call beside a running start.
    void die_in_a_call() {
        if (contexts_.empty())
            open();
        if (contexts_.empty())
            return;  // the failed open is reported
        ++tally_.kills;
        report();
        auto& context = contexts_.back();
        if (context.start || chance(2)) {
            client_.send(call::NorvoQueryProperty{context.token, 4, {}});
            client_.send(call::RemoteClose{context.token});
        } else {
            client_.send(call::NorvoStartSensor{context.token, 1});
        }
        ::kill(::getpid(), SIGKILL);
    }

    void finish() {
        for (auto& context : contexts_) settle(context);
        if (chance(2))
            return;  // leave the rest to the rundown
        while (!contexts_.empty() && failures_.empty()) {
            auto& context = contexts_.back();
            if (context.start)
                stop(context);
            close(context);
        }
    }

    int report() {
        fmt::print("{}\n", format_tally(tally_));
        for (const auto& failure : failures_) fmt::print("failure {}\n", failure);
        std::fflush(stdout);
        return failures_.empty() ? 0 : 1;
    }

    const WorkerPlan& plan_;
    std::mt19937_64 rng_;
    StressClient client_;
    std::vector<Context> contexts_;
    Tally tally_;
    std::vector<std::string> failures_;
};

}  // namespace

int run_worker(const WorkerPlan& plan) {
    auto client = StressClient::connect(plan.socket, plan.deadline);
    if (!client) {
        fmt::print("{}\nfailure {}\n", format_tally({}), client.error());
        return 1;
    }
    return Worker(plan, std::move(*client)).run();
}

}  // namespace norvo::stress
