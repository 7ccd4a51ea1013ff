#pragma once
// How many lines each account's calls may have written: a burst, then a steady rate
// (a token bucket per account). The lines held back are counted per account and
// interval, for one summary each. Time is given by the caller; not thread safe.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "norvo/clock.hpp"

namespace norvo::log {

struct LineLimitShape {
    std::size_t burst = 20;      // lines an account may write at once
    std::size_t per_second = 5;  // and then, on average
    std::chrono::seconds interval{10};
    // Accounts followed one by one; those beyond share one bucket, so that a flood of
    // accounts costs no more memory than this.
    std::size_t accounts = 256;
};

struct HeldBack {
    std::string account;  // empty: the accounts beyond the table
    std::uint64_t lines = 0;
    bool operator==(const HeldBack&) const = default;
};

class AccountBuckets {
  public:
    enum class Verdict {
        write,
        hold,
        hold_first,  // the first held line of an interval: a summary is due at its end
    };

    explicit AccountBuckets(LineLimitShape shape);

    Verdict admit(std::string_view account, Instant now);
    // The lines held in every interval that has ended by `now`; their counts start afresh.
    std::vector<HeldBack> take_due(Instant now);
    // What is held, due or not: the last summaries at exit.
    std::vector<HeldBack> take_all() { return take_due(Instant::max()); }
    // When the next summary is due; none while nothing is held.
    std::optional<Instant> next_due() const;
    std::size_t tracked() const { return buckets_.size(); }

  private:
    struct Bucket {
        Duration credit;  // a line costs one line's time; full holds a burst of them
        Instant refilled;
        std::uint64_t held = 0;
        Instant due{};
    };

    Bucket& bucket_for(std::string_view account, Instant now);
    void refill(Bucket& bucket, Instant now) const;
    // Full and holding nothing: it may be forgotten, and made again when needed.
    bool quiet(const Bucket& bucket, Instant now) const;
    void take(std::string_view account, Bucket& bucket, Instant now, std::vector<HeldBack>& out);

    const LineLimitShape shape_;
    const Duration cost_;
    const Duration full_;
    std::map<std::string, Bucket, std::less<>> buckets_;
    Bucket others_;
};

}  // namespace norvo::log
