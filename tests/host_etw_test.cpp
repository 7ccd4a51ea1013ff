#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "norvo/host/etw.hpp"

namespace norvo::host::etw {
namespace {

std::vector<std::uint8_t> bytes_of(std::span<const std::uint8_t> s) {
    return {s.begin(), s.end()};
}

std::vector<std::uint8_t> bytes_of(std::string_view text) {
    std::vector<std::uint8_t> out(text.begin(), text.end());
    out.push_back(0);
    return out;
}

std::vector<std::uint8_t> concat(std::initializer_list<std::vector<std::uint8_t>> parts) {
    std::vector<std::uint8_t> out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

TEST(EtwLayout, ProviderTraitsAreSizeThenName) {
    EXPECT_EQ(bytes_of(provider_traits()), concat({{26, 0}, bytes_of("Corvane.Service.Vextora")}));
}

TEST(EtwLayout, EventMetadataDescribesTheFourFields) {
    const std::vector<std::uint8_t> counted_utf8{0x97, 0x23};
    EXPECT_EQ(bytes_of(event_metadata()), concat({{55, 0, 0},
                                                  bytes_of("TraceEvent"),
                                                  bytes_of("Message"),
                                                  counted_utf8,
                                                  bytes_of("Line#"),
                                                  {0x08},
                                                  bytes_of("File"),
                                                  counted_utf8,
                                                  bytes_of("Component Name"),
                                                  counted_utf8}));
}

TEST(EtwLayout, OneDescriptorPerLevel) {
    const std::vector<std::pair<log::Level, std::uint8_t>> levels = {
        {log::Level::Error, 2}, {log::Level::Warn, 3},  {log::Level::Info, 4},
        {log::Level::Debug, 5}, {log::Level::Trace, 5},
    };
    for (const auto& [level, etw_level] : levels) {
        const auto d = descriptor_for(level);
        EXPECT_EQ(d, (EventDescriptor{.id = 0,
                                      .version = 0,
                                      .channel = 11,
                                      .level = etw_level,
                                      .opcode = 0,
                                      .task = 0,
                                      .keyword = 0x23}));
    }
}

TEST(EtwEnable, SessionsFilterByLevelAndKeywords) {
    struct Case {
        std::uint32_t code;
        std::uint8_t level;
        std::uint64_t any, all;
        std::string passing;  // E W I D T, in that order
    };
    const std::vector<Case> cases = {
        {1, 4, 0x23, 0, "EWI"},        {1, 5, 0x1, 0, "EWIDT"}, {1, 2, 0xFF, 0x3, "E"},
        {1, 0, 0x23, 0, ""},           {1, 5, 0x40, 0, ""},     {1, 5, 0x23, 0x40, ""},
        {1, 255, 0x20, 0x23, "EWIDT"},
    };
    const std::vector<std::pair<log::Level, char>> levels = {{log::Level::Error, 'E'},
                                                             {log::Level::Warn, 'W'},
                                                             {log::Level::Info, 'I'},
                                                             {log::Level::Debug, 'D'},
                                                             {log::Level::Trace, 'T'}};
    for (const auto& c : cases) {
        EnableState state;
        state.on_enable_callback(c.code, c.level, c.any, c.all);
        std::string passing;
        for (const auto& [level, name] : levels) {
            if (state.is_enabled(descriptor_for(level)))
                passing += name;
        }
        EXPECT_EQ(passing, c.passing) << int(c.level) << " any " << c.any << " all " << c.all;
    }
}

TEST(EtwEnable, DisableStoresMinusOneAndOtherCodesChangeNothing) {
    EnableState state;
    EXPECT_EQ(state.level(), -1);
    EXPECT_FALSE(state.is_enabled(descriptor_for(log::Level::Error)));
    state.on_enable_callback(1, 4, 0x23, 0);
    state.on_enable_callback(2, 1, 0, 0);  // capture state
    EXPECT_EQ(state.level(), 4);
    EXPECT_TRUE(state.is_enabled(descriptor_for(log::Level::Info)));
    state.on_enable_callback(0, 5, 0x23, 0);
    EXPECT_EQ(state.level(), -1);
    EXPECT_FALSE(state.is_enabled(descriptor_for(log::Level::Error)));
}

std::vector<std::uint8_t> data_of(const DataDescriptor& d) {
    const auto* p = static_cast<const std::uint8_t*>(d.data);
    return {p, p + d.size};
}

template <class T>
T value_of(const DataDescriptor& d) {
    EXPECT_EQ(d.size, sizeof(T));
    T value;
    std::memcpy(&value, d.data, sizeof(T));
    return value;
}

TEST(EtwEventData, NineDescriptorsOfOneRecord) {
    const log::Record record{log::Level::Info, "rpc_server", "src/rpc.cpp", 77,
                             "Rpc Server listening"};
    const EventData data(record);
    const auto d = data.descriptors();
    std::vector<std::uint8_t> types;
    for (const auto& one : d) types.push_back(one.type);
    EXPECT_EQ(types, (std::vector<std::uint8_t>{2, 1, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(data_of(d[0]), bytes_of(provider_traits()));
    EXPECT_EQ(data_of(d[1]), bytes_of(event_metadata()));
    EXPECT_EQ(value_of<std::uint16_t>(d[2]), 20);
    EXPECT_EQ(data_of(d[3]),
              std::vector<std::uint8_t>(record.message.begin(), record.message.end()));
    EXPECT_EQ(value_of<std::uint32_t>(d[4]), 77u);
    EXPECT_EQ(value_of<std::uint16_t>(d[5]), 11);
    EXPECT_EQ(data_of(d[6]), std::vector<std::uint8_t>(record.file.begin(), record.file.end()));
    EXPECT_EQ(value_of<std::uint16_t>(d[7]), 10);
    EXPECT_EQ(data_of(d[8]), std::vector<std::uint8_t>(record.target.begin(), record.target.end()));
}

TEST(EtwEventData, CutsTextsAt65535BytesAndTakesARecordWithoutFile) {
    const std::string long_message(70'000, 'x');
    const log::Record record{log::Level::Error, "QuelVextoraService", "", 0, long_message};
    const EventData data(record);
    const auto d = data.descriptors();
    EXPECT_EQ(value_of<std::uint16_t>(d[2]), 65535);
    EXPECT_EQ(d[3].size, 65535u);
    EXPECT_EQ(d[3].data, long_message.data());
    EXPECT_EQ(value_of<std::uint32_t>(d[4]), 0u);
    EXPECT_EQ(value_of<std::uint16_t>(d[5]), 0);
    EXPECT_EQ(d[6].size, 0u);
}

class RecordingWriter final : public EventWriter {
  public:
    EnableState state;
    std::vector<std::pair<std::uint8_t, std::string>> written;  // level, message

    const EnableState& enable_state() const override { return state; }
    void write(const EventDescriptor& descriptor,
               std::span<const DataDescriptor, kDescriptorCount> data) override {
        const auto* text = static_cast<const char*>(data[3].data);
        written.emplace_back(descriptor.level, std::string(text, data[3].size));
    }
};

TEST(EtwLogger, WritesOnlyWhatASessionAskedFor) {
    auto writer = std::make_unique<RecordingWriter>();
    auto* w = writer.get();
    EtwLogger logger(std::move(writer));
    const auto record = [](log::Level level, std::string_view message) {
        return log::Record{level, "t", "f.cpp", 1, message};
    };
    EXPECT_FALSE(logger.accepts(log::Level::Error));
    logger.write(record(log::Level::Error, "unheard"));
    w->state.on_enable_callback(1, 4, 0x23, 0);
    EXPECT_TRUE(logger.accepts(log::Level::Info));
    EXPECT_FALSE(logger.accepts(log::Level::Debug));
    for (auto level : {log::Level::Error, log::Level::Warn, log::Level::Info, log::Level::Debug,
                       log::Level::Trace}) {
        logger.write(record(level, log::level_name(level)));
    }
    EXPECT_EQ(w->written, (std::vector<std::pair<std::uint8_t, std::string>>{
                              {2, "ERROR"}, {3, "WARN"}, {4, "INFO"}}));
}

}  // namespace
}  // namespace norvo::host::etw
