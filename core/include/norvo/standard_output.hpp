#pragma once
// The lines the service writes to its standard output. Without an installed writer a
// line is written and flushed at once; a host whose standard output may block installs
// one that never waits.

#include <memory>
#include <string_view>

namespace norvo::standard_output {

class Writer {
  public:
    virtual ~Writer() = default;
    // Called from any thread with the line's text, without its line feed.
    virtual void write_line(std::string_view line) = 0;
};

void set_writer(std::shared_ptr<Writer> writer);

void write_line(std::string_view line);

}  // namespace norvo::standard_output
