#include "norvo/linux/iio_buffer.hpp"

#include <fcntl.h>
#include <fmt/format.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>

#include "iio_sysfs.hpp"

namespace norvo::linux_platform {
namespace {

namespace fs = std::filesystem;

constexpr std::array<std::string_view, 3> kAxisChannels{"in_accel_x", "in_accel_y", "in_accel_z"};
constexpr std::size_t kRecordsPerRead = 64;
constexpr std::string_view kEnableSuffix = "_en";
// The buffer holds this many read periods: a reader that runs late loses nothing.
constexpr unsigned kPeriodsHeld = 10;

bool wanted(std::string_view channel) {
    return channel == iio::kTimestampChannel ||
           std::find(kAxisChannels.begin(), kAxisChannels.end(), channel) != kAxisChannels.end();
}

std::optional<unsigned> whole_number(const std::optional<std::string>& text) {
    unsigned value = 0;
    if (!text)
        return std::nullopt;
    const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), value);
    if (error != std::errc{} || end != text->data() + text->size())
        return std::nullopt;
    return value;
}

std::optional<double> decimal(const std::optional<std::string>& text) {
    double value = 0;
    if (!text)
        return std::nullopt;
    const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), value);
    if (error != std::errc{} || end != text->data() + text->size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

posix::PosixError unreadable(const fs::path& file) {
    return posix::PosixError{fmt::format("cannot read {}", file.native())};
}

}  // namespace

std::expected<posix::UniqueFd, int> open_iio_node(const std::string& name) {
    posix::UniqueFd fd(::open(("/dev/" + name).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid())
        return std::unexpected(errno);
    return fd;
}

std::expected<std::unique_ptr<IioBuffer>, IioBufferError> IioBuffer::open(
    const fs::path& folder, const Settings& settings) {
    const std::string name = folder.filename();
    auto node = settings.open_node(name);
    if (!node) {
        return std::unexpected(IioBufferError{
            node.error() == EBUSY,
            posix::PosixError{fmt::format("cannot open /dev/{}", name), node.error()}});
    }
    std::unique_ptr<IioBuffer> buffer(new IioBuffer);
    buffer->node_name_ = "/dev/" + name;
    buffer->node_ = std::move(*node);
    if (auto configured = buffer->configure(folder, settings); !configured)
        return std::unexpected(IioBufferError{false, configured.error()});
    return buffer;
}

IioBuffer::~IioBuffer() {
    // A device gone meanwhile has no buffer left to disable.
    if (!enable_.empty())
        (void)iio::set_attribute(enable_, "0");
}

std::expected<void, posix::PosixError> IioBuffer::configure(const fs::path& folder,
                                                            const Settings& settings) {
    auto accelerometer = iio::accelerometer(folder);
    if (!accelerometer)
        return std::unexpected(accelerometer.error());
    model_ = accelerometer->model;
    const fs::path buffer = folder / (iio::exists(folder / "buffer") ? "buffer" : "buffer0");
    const auto enable = buffer / "enable";
    // Another program may have left it running: its channels and size cannot change while it runs.
    if (iio::read_attribute(enable) != "0") {
        if (auto stopped = iio::set_attribute(enable, "0"); !stopped)
            return std::unexpected(stopped.error());
    }
    auto clock = iio::timestamp_clock(folder);
    if (!clock)
        return std::unexpected(clock.error());
    clock_ = clock->id;
    clock_name_ = clock->name;
    const auto scan = folder / "scan_elements";
    for (const auto& file : iio::folder_names(scan)) {
        if (!file.ends_with(kEnableSuffix))
            continue;
        const bool on =
            wanted(std::string_view(file).substr(0, file.size() - kEnableSuffix.size()));
        if (auto set = iio::set_attribute(scan / file, on ? "1" : "0"); !set)
            return std::unexpected(set.error());
    }
    if (auto laid_out = read_layout(folder); !laid_out)
        return laid_out;
    for (std::size_t i = 0; i < axes_.size(); ++i) {
        axes_[i].scale = accelerometer->axes[i].scale;
        axes_[i].offset = accelerometer->axes[i].offset;
    }
    if (auto rate = choose_rate(accelerometer->rate, accelerometer->available, settings.least_rate);
        !rate)
        return rate;
    const auto per_read = static_cast<unsigned>(std::max(
        1.0, std::ceil(rate_hz_ * std::chrono::duration<double>(settings.read_period).count())));
    watermark_ = std::max(1u, per_read / 2);
    if (auto sized =
            iio::set_attribute(buffer / "length", fmt::format("{}", kPeriodsHeld * per_read));
        !sized)
        return sized;
    // Only devices with a FIFO of their own have hwfifo_ attributes: the watermark goes to the
    // chip, which then hands samples over in batches. Older kernels have no watermark at all.
    device_fifo_ = iio::exists(buffer / "hwfifo_watermark");
    if (iio::exists(buffer / "watermark")) {
        if (auto set = iio::set_attribute(buffer / "watermark", fmt::format("{}", watermark_));
            !set)
            return set;
    }
    if (auto started = iio::set_attribute(enable, "1"); !started) {
        auto error = started.error();
        const auto trigger = iio::read_attribute(folder / "trigger" / "current_trigger");
        if (error.code == EINVAL && trigger && trigger->empty())
            error.what += " (it has no trigger: trigger/current_trigger is empty)";
        return std::unexpected(error);
    }
    enable_ = enable;
    return {};
}

std::chrono::nanoseconds IioBuffer::batch() const {
    if (!device_fifo_)
        return {};
    return std::chrono::nanoseconds(std::llround(watermark_ * 1e9 / rate_hz_));
}

std::expected<void, posix::PosixError> IioBuffer::choose_rate(const fs::path& rate_file,
                                                              const fs::path& available,
                                                              double least) {
    // A device that says nothing of its rates is asked for the least, and takes the nearest it can.
    const auto offered = iio::read_attribute(available);
    const double asked = offered ? iio::choose_rate(*offered, least).value_or(least) : least;
    if (auto set = iio::set_attribute(rate_file, fmt::format("{}", asked)); !set)
        refused_rate_ = set.error();
    const auto rate = decimal(iio::read_attribute(rate_file));
    if (!rate || *rate <= 0)
        return std::unexpected(posix::PosixError{
            fmt::format("its sampling frequency {} is no rate", rate_file.native())});
    rate_hz_ = *rate;
    return {};
}

std::expected<void, posix::PosixError> IioBuffer::read_layout(const fs::path& folder) {
    const auto scan = folder / "scan_elements";
    std::vector<iio::ScanChannel> channels;
    for (const auto& file : iio::folder_names(scan)) {
        if (!file.ends_with(kEnableSuffix) || iio::read_attribute(scan / file) != "1")
            continue;
        iio::ScanChannel channel{file.substr(0, file.size() - kEnableSuffix.size()), 0, {}};
        const auto index_file = scan / (channel.name + "_index");
        const auto index = whole_number(iio::read_attribute(index_file));
        if (!index)
            return std::unexpected(unreadable(index_file));
        channel.index = *index;
        const auto type_file = scan / (channel.name + "_type");
        const auto type_text = iio::read_attribute(type_file);
        if (!type_text)
            return std::unexpected(unreadable(type_file));
        auto type = iio::parse_channel_type(*type_text);
        if (!type)
            return std::unexpected(
                posix::PosixError{fmt::format("{}: {}", type_file.native(), type.error())});
        channel.type = *type;
        channels.push_back(std::move(channel));
    }
    const auto layout = iio::lay_out(std::move(channels));
    const auto field = [&](std::string_view name) -> std::expected<Field, posix::PosixError> {
        const auto* placed = layout.find(name);
        if (!placed)
            return std::unexpected(posix::PosixError{
                fmt::format("its channel {} stays off in {}", name, scan.native())});
        return Field{placed->offset, placed->channel.type};
    };
    for (std::size_t i = 0; i < axes_.size(); ++i) {
        auto axis = field(kAxisChannels[i]);
        if (!axis)
            return std::unexpected(axis.error());
        axes_[i] = *axis;
    }
    auto timestamp = field(iio::kTimestampChannel);
    if (!timestamp)
        return std::unexpected(timestamp.error());
    timestamp_ = *timestamp;
    record_size_ = layout.size;
    return {};
}

std::expected<IioBuffer::Read, posix::PosixError> IioBuffer::read() {
    Read out;
    const std::size_t chunk = kRecordsPerRead * record_size_;
    for (;;) {
        const std::size_t kept = pending_.size();
        pending_.resize(kept + chunk);
        const ssize_t n = ::read(node_.get(), pending_.data() + kept, chunk);
        pending_.resize(kept + static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            break;
        if (n < 0)
            return std::unexpected(posix::last_error(fmt::format("cannot read {}", node_name_)));
        const std::size_t whole = pending_.size() / record_size_ * record_size_;
        for (std::size_t at = 0; at < whole; at += record_size_)
            decode(pending_.data() + at, out.samples);
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(whole));
        if (!pending_.empty())
            out.split_record = record_size_;
        if (static_cast<std::size_t>(n) < chunk)
            break;
    }
    return out;
}

void IioBuffer::decode(const std::uint8_t* record, std::vector<detect::AccelSample>& out) const {
    const std::span<const std::uint8_t> bytes(record, record_size_);
    const auto value = [&](const Field& f) {
        return (static_cast<double>(iio::channel_value(bytes, f.at, f.type)) + f.offset) * f.scale;
    };
    out.push_back(detect::AccelSample{
        detect::Timestamp(iio::channel_value(bytes, timestamp_.at, timestamp_.type)),
        value(axes_[0]), value(axes_[1]), value(axes_[2])});
}

}  // namespace norvo::linux_platform
