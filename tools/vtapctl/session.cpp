#include "session.hpp"

#include <fmt/format.h>

#include <charconv>
#include <chrono>
#include <cstdio>
#include <string>

#include "norvo/tools/callback_text.hpp"
#include "norvo/tools/property_text.hpp"
#include "results.hpp"

namespace norvo::vtapctl {
namespace {

class PrintingCallbacks final : public Callbacks {
  public:
    explicit PrintingCallbacks(Printer& out) : out_(out) {}

    void tap_event(std::int32_t kind, std::uint64_t timestamp, std::uint64_t cookie) override {
        out_.line(tools::tap_event_line(kind, timestamp, cookie));
    }
    void send_client_event(std::span<const std::uint8_t> packet, std::uint64_t cookie) override {
        out_.line(tools::send_client_event_line(packet, cookie));
    }
    void sensor_state_changed(std::uint64_t timestamp, std::uint16_t state,
                              std::uint64_t cookie) override {
        out_.line(tools::sensor_state_changed_line(timestamp, state, cookie));
    }
    void signal_return(std::int32_t status, std::uint64_t cookie) override {
        out_.line(tools::signal_return_line(status, cookie));
    }

  private:
    Printer& out_;
};

std::string_view trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// The first word, and the rest with its blanks trimmed.
std::pair<std::string_view, std::string_view> split_word(std::string_view text) {
    text = trim(text);
    const auto end = text.find_first_of(" \t");
    if (end == std::string_view::npos)
        return {text, {}};
    return {text.substr(0, end), trim(text.substr(end))};
}

template <class T>
std::optional<T> number(std::string_view text) {
    T value{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

// Decimal or 0x-hex, as cookies are written in the replay format.
std::optional<std::uint64_t> cookie_number(std::string_view text) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        std::uint64_t value = 0;
        const auto body = text.substr(2);
        const auto [end, ec] = std::from_chars(body.data(), body.data() + body.size(), value, 16);
        if (ec != std::errc{} || end != body.data() + body.size())
            return std::nullopt;
        return value;
    }
    return number<std::uint64_t>(text);
}

bool complain(std::string_view reason) {
    std::fprintf(stderr, "vtapctl: %.*s\n", static_cast<int>(reason.size()), reason.data());
    return false;
}

}  // namespace

std::unique_ptr<Callbacks> printing_callbacks(Printer& out) {
    return std::make_unique<PrintingCallbacks>(out);
}

Session::~Session() {
    wait_for_start();
}

bool Session::run(std::istream& input) {
    bool all_ran = true;
    std::string line;
    for (std::size_t number = 1; std::getline(input, line); ++number) {
        if (!execute(line)) {
            complain(fmt::format("line {} not run: {}", number, trim(line)));
            all_ran = false;
        }
    }
    if (start_outstanding_)
        connection_.disconnect();
    wait_for_start();
    return all_ran;
}

bool Session::execute(std::string_view line) {
    const auto [command, rest] = split_word(line);
    if (command.empty() || command.starts_with('#'))
        return true;

    if (command == "open") {
        if (!context_.is_null())
            return complain("a context is open already");
        const auto opened = connection_.RemoteOpen();
        Result<void> outcome;
        if (opened) {
            context_ = *opened;
        } else {
            outcome = std::unexpected(opened.error());
        }
        out_.line(result_line("open", outcome));
    } else if (command == "close") {
        close();
    } else if (command == "set") {
        const auto [key_text, value_text] = split_word(rest);
        const auto key = tools::parse_property_key(key_text);
        if (!key)
            return complain(key.error());
        const auto value = tools::parse_property_value(*key, value_text);
        if (!value)
            return complain(value.error());
        out_.line(result_line(fmt::format("set {}", key_text),
                              connection_.NorvoSetProperty(context_, *key, *value)));
    } else if (command == "query") {
        const auto key = tools::parse_property_key(rest);
        if (!key)
            return complain(key.error());
        out_.line(query_line(rest, *key, read_property(connection_, context_, *key)));
    } else if (command == "start") {
        return start(rest);
    } else if (command == "phone") {
        std::optional<float> pulse;
        if (!rest.empty()) {
            pulse = number<float>(rest);
            if (!pulse)
                return complain(fmt::format("pulse '{}' is not a number", rest));
        }
        out_.line(result_line(
            "phone", connection_.NorvoReceiveClientEvent(context_, tools::phone_packet(pulse))));
    } else if (command == "packet") {
        const auto bytes = tools::parse_hex(rest);
        if (!bytes)
            return complain(bytes.error());
        out_.line(result_line("packet", connection_.NorvoReceiveClientEvent(context_, *bytes)));
    } else if (command == "stop") {
        out_.line(result_line("stop", connection_.NorvoStopSensor(context_)));
    } else if (command == "sleep") {
        const auto ms = number<std::uint32_t>(rest);
        if (!ms)
            return complain(fmt::format("'{}' is not a number of milliseconds", rest));
        std::this_thread::sleep_for(std::chrono::milliseconds(*ms));
    } else if (command == "wait") {
        wait_for_start();
    } else {
        return complain(fmt::format("unknown command '{}'", command));
    }
    return true;
}

bool Session::start(std::string_view cookie_text) {
    const auto cookie = cookie_number(cookie_text);
    if (!cookie)
        return complain(fmt::format("cookie '{}' is not a 64-bit number", cookie_text));
    if (start_outstanding_)
        return complain("a start is outstanding already; `wait` for it");
    wait_for_start();
    callbacks_ = printing_callbacks(out_);
    start_outstanding_ = true;
    start_ = std::thread([this, context = context_, cookie = *cookie] {
        out_.line(result_line("start", connection_.NorvoStartSensor(context, cookie, *callbacks_)));
        start_outstanding_ = false;
    });
    return true;
}

// The close waits for the start it ends, so the start's line comes first.
void Session::close() {
    auto closed = connection_.RemoteClose(context_);
    if (closed)
        wait_for_start();
    out_.line(result_line("close", closed));
}

void Session::wait_for_start() {
    if (start_.joinable())
        start_.join();
}

}  // namespace norvo::vtapctl
