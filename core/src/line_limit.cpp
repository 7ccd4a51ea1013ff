#include "norvo/line_limit.hpp"

#include <algorithm>

namespace norvo::log {

AccountBuckets::AccountBuckets(LineLimitShape shape)
    : shape_(shape),
      cost_(Duration(std::chrono::seconds(1)) / std::max<std::size_t>(shape.per_second, 1)),
      full_(cost_ * static_cast<Duration::rep>(std::max<std::size_t>(shape.burst, 1))),
      others_{.credit = full_, .refilled = {}} {}

AccountBuckets::Verdict AccountBuckets::admit(std::string_view account, Instant now) {
    auto& bucket = bucket_for(account, now);
    refill(bucket, now);
    if (bucket.credit >= cost_) {
        bucket.credit -= cost_;
        return Verdict::write;
    }
    if (bucket.held++ > 0)
        return Verdict::hold;
    bucket.due = now + shape_.interval;
    return Verdict::hold_first;
}

std::vector<HeldBack> AccountBuckets::take_due(Instant now) {
    std::vector<HeldBack> out;
    for (auto& [account, bucket] : buckets_) take(account, bucket, now, out);
    take({}, others_, now, out);
    return out;
}

std::optional<Instant> AccountBuckets::next_due() const {
    std::optional<Instant> next;
    const auto consider = [&](const Bucket& bucket) {
        if (bucket.held > 0 && (!next || bucket.due < *next))
            next = bucket.due;
    };
    for (const auto& [account, bucket] : buckets_) consider(bucket);
    consider(others_);
    return next;
}

AccountBuckets::Bucket& AccountBuckets::bucket_for(std::string_view account, Instant now) {
    if (const auto found = buckets_.find(account); found != buckets_.end())
        return found->second;
    if (buckets_.size() >= shape_.accounts)
        std::erase_if(buckets_, [&](const auto& entry) { return quiet(entry.second, now); });
    if (buckets_.size() >= shape_.accounts)
        return others_;
    return buckets_.emplace(account, Bucket{.credit = full_, .refilled = now}).first->second;
}

void AccountBuckets::refill(Bucket& bucket, Instant now) const {
    if (now <= bucket.refilled)
        return;
    bucket.credit = std::min(full_, bucket.credit + (now - bucket.refilled));
    bucket.refilled = now;
}

bool AccountBuckets::quiet(const Bucket& bucket, Instant now) const {
    return bucket.held == 0 &&
           (now <= bucket.refilled ? bucket.credit : bucket.credit + (now - bucket.refilled)) >=
               full_;
}

void AccountBuckets::take(std::string_view account, Bucket& bucket, Instant now,
                          std::vector<HeldBack>& out) {
    if (bucket.held == 0 || bucket.due > now)
        return;
    out.push_back({std::string(account), bucket.held});
    bucket.held = 0;
}

}  // namespace norvo::log
