// vtapctl: a command-line client of the tap service.

#include <fmt/format.h>

#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "connection.hpp"
#include "monitor.hpp"
#include "norvo/tools/meaning_text.hpp"
#include "norvo/tools/property_text.hpp"
#include "results.hpp"
#include "session.hpp"

namespace {

using namespace norvo;
using vtapctl::Printer;

constexpr std::string_view kUsage = R"(usage: vtapctl [--socket PATH] COMMAND
       vtapctl -h | --help | --version
  query KEY                 reads a property on a fresh context
  set KEY VALUE             writes a property on a fresh context
  session                   runs commands from standard input, one per line:
                            open, close, set KEY VALUE, query KEY, start COOKIE,
                            phone [PULSE], packet HEX, stop, sleep MS, wait
  monitor [--ignore-unidentified]
                            prints every event of a sensor run until Ctrl-C;
                            --ignore-unidentified turns the service-wide switch
                            on, which also shows each confirmed tap's offset
KEY is decimal or 0x-hex; VALUE is 0/1 for switches, a number for key 3, text
for key 7, or hex:BYTES. A result line is followed by what it means, indented by
two blanks: the value decoded, or the name of a failure's code.
)";

#ifdef _WIN32
constexpr std::string_view kEndpoints =
    "Without --socket, PATH is the local RPC endpoint NorvoVxtRpcEndpoint.\n";
#else
constexpr std::string_view kEndpoints =
    "Without --socket, vtapctl tries /run/norvo-vtap/NorvoVxtRpcEndpoint (the system\n"
    "service), then $XDG_RUNTIME_DIR/norvo-vtap/NorvoVxtRpcEndpoint (your own).\n";
#endif

constexpr int kFailed = 1;
constexpr int kUsageError = 2;

int usage_error(std::string_view reason) {
    std::fprintf(stderr, "vtapctl: %.*s\n%.*s", static_cast<int>(reason.size()), reason.data(),
                 static_cast<int>(kUsage.size()), kUsage.data());
    return kUsageError;
}

// One call on a fresh context, closed again afterwards.
template <class Call>
int one_shot(vtapctl::Connection& connection, Printer& out, Call call) {
    auto context = connection.RemoteOpen();
    if (!context) {
        out.line(
            vtapctl::result_line("open", vtapctl::Result<void>(std::unexpected(context.error()))));
        return kFailed;
    }
    const bool succeeded = call(*context);
    const auto closed = connection.RemoteClose(*context);
    if (!closed)
        out.line(vtapctl::result_line("close", closed));
    return succeeded && closed ? 0 : kFailed;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string_view> args(argv + 1, argv + argc);
    std::optional<std::string> endpoint;
    while (!args.empty() && args.front().starts_with("-")) {
        const auto option = args.front();
        if (option == "-h" || option == "--help") {
            fmt::print("{}{}{}", kUsage, kEndpoints, tools::reference_text());
            return 0;
        }
        if (option == "--version") {
            fmt::print("vtapctl {}\n", NORVO_VERSION);
            return 0;
        }
        if (option != "--socket")
            return usage_error(fmt::format("unknown option '{}'", option));
        if (args.size() < 2 || args[1].empty())
            return usage_error("--socket needs a PATH");
        endpoint = std::string(args[1]);
        args.erase(args.begin(), args.begin() + 2);
    }
    if (args.empty())
        return usage_error("no command given");
    const auto command = args.front();
    args.erase(args.begin());

    vtapctl::MonitorOptions monitor;
    if (command == "monitor") {
        for (auto arg : args) {
            if (arg != "--ignore-unidentified")
                return usage_error(fmt::format("unknown option '{}'", arg));
            monitor.ignore_unidentified = true;
        }
        vtapctl::block_stop_signals();
    } else if (command == "query" && args.size() != 1) {
        return usage_error("query takes KEY");
    } else if (command == "set" && args.size() < 2) {
        return usage_error("set takes KEY VALUE");
    } else if (command == "session" && !args.empty()) {
        return usage_error("session takes no arguments");
    } else if (command != "query" && command != "set" && command != "session") {
        return usage_error(fmt::format("unknown command '{}'", command));
    }

    std::optional<std::int32_t> key;
    std::vector<std::uint8_t> value;
    if (command == "query" || command == "set") {
        auto parsed_key = tools::parse_property_key(args[0]);
        if (!parsed_key)
            return usage_error(parsed_key.error());
        key = *parsed_key;
    }
    if (command == "set") {
        // The value is the rest of the line, as in a session.
        std::string text(args[1]);
        for (std::size_t i = 2; i < args.size(); ++i) text += fmt::format(" {}", args[i]);
        auto parsed_value = tools::parse_property_value(*key, text);
        if (!parsed_value)
            return usage_error(parsed_value.error());
        value = std::move(*parsed_value);
    }

    auto connection = vtapctl::connect(endpoint);
    if (!connection)
        return kFailed;
    Printer out;
    if (command == "monitor")
        return vtapctl::run_monitor(*connection, monitor, out);
    if (command == "session")
        return vtapctl::Session(*connection, out).run(std::cin) ? 0 : kUsageError;
    if (command == "query") {
        return one_shot(*connection, out, [&](const vtapctl::ContextHandle& context) {
            const auto read = vtapctl::read_property(*connection, context, *key);
            out.line(vtapctl::query_line(args[0], *key, read));
            return read && read->value == 0;
        });
    }
    return one_shot(*connection, out, [&](const vtapctl::ContextHandle& context) {
        const auto written = connection->NorvoSetProperty(context, *key, value);
        out.line(vtapctl::result_line(fmt::format("set {}", args[0]), written));
        return written && *written == 0;
    });
}
