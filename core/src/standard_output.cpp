#include "norvo/standard_output.hpp"

#include <cstdio>

#include "norvo/installed.hpp"

namespace norvo::standard_output {
namespace {

Installed<Writer> g_writer;

}  // namespace

void set_writer(std::shared_ptr<Writer> writer) {
    g_writer.set(std::move(writer));
}

void write_line(std::string_view line) {
    if (const auto writer = g_writer.get()) {
        writer->write_line(line);
        return;
    }
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

}  // namespace norvo::standard_output
