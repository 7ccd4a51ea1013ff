// Counts that disagree with their arrays: sent through the runtime by hostile stubs, and
// handed to the routines directly the way an engine that does not check them would.

#include "callback_mirror.h"
#include "client_session.hpp"
#include "hostile_client.h"
#include "norvo/windows/rpc/rpc_guard.h"
#include "test_service.hpp"

#include <gtest/gtest.h>

#include <fmt/format.h>

#include <cstddef>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace norvo::windows::rpc::test {
namespace {

constexpr long kClientUserAgent = 7;

template <class Call>
[[nodiscard]] Rpc<long> hostile(Call call) {
    long result = 0;
    if (auto done = guarded([&] { result = call(); }); !done)
        return std::unexpected(done.error());
    return result;
}

// Readable bytes that end where a no-access page begins: a routine that reads past them
// faults.
class BytesBeforeAGuardPage {
  public:
    explicit BytesBeforeAGuardPage(std::size_t size) {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        page_ = info.dwPageSize;
        base_ = static_cast<std::byte*>(
            VirtualAlloc(nullptr, 2 * page_, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
        DWORD old = 0;
        if (!base_ || !VirtualProtect(base_ + page_, page_, PAGE_NOACCESS, &old))
            throw std::runtime_error("no guard page");
        data_ = base_ + page_ - size;
    }
    BytesBeforeAGuardPage(const BytesBeforeAGuardPage&) = delete;
    BytesBeforeAGuardPage& operator=(const BytesBeforeAGuardPage&) = delete;
    ~BytesBeforeAGuardPage() { VirtualFree(base_, 0, MEM_RELEASE); }
    template <class T>
    T* as() const {
        return reinterpret_cast<T*>(data_);
    }

  private:
    std::size_t page_ = 0;
    std::byte* base_ = nullptr;
    std::byte* data_ = nullptr;
};

class HostileSizes : public ServiceClientTest {
  protected:
    void SetUp() override {
        ServiceClientTest::SetUp();
        session_.emplace(open());
    }
    PCONTEXT_HANDLE_TYPE context() const { return session_->handle(); }

    std::optional<Session> session_;
};

// A PROPERTY_BUFFER saying `size`, with room for `room` bytes behind it.
std::vector<std::uint8_t> property_buffer(short size, std::size_t room) {
    std::vector<std::uint8_t> storage(offsetof(PROPERTY_BUFFER, data) + room, 0x5a);
    std::memcpy(storage.data(), &size, sizeof size);
    return storage;
}

// One hostile call: `count` elements travel, the size says `size`.
struct Hostile {
    const char* procedure;
    std::function<Rpc<long>(PCONTEXT_HANDLE_TYPE, short size, short count)> send;
    std::function<std::string(int size)> entry_line;  // the routine's first log line
};

const std::vector<Hostile>& hostile_calls() {
    static const std::vector<Hostile> calls = {
        {"NorvoReceiveClientEvent",
         [](PCONTEXT_HANDLE_TYPE context, short size, short count) {
             std::vector<signed char> data(count, 1);
             return hostile([&] {
                 return hostile_NorvoReceiveClientEvent(context, size, data.data(), count);
             });
         },
         [](int) { return std::string("NorvoReceiveClientEvent() called"); }},
        {"NorvoSetProperty",
         [](PCONTEXT_HANDLE_TYPE context, short size, short count) {
             auto value = property_buffer(size, count);
             return hostile([&] {
                 return hostile_NorvoSetProperty(context, PROPERTY_KEY{kClientUserAgent},
                                                 reinterpret_cast<PROPERTY_BUFFER*>(value.data()),
                                                 count);
             });
         },
         [](int size) {
             return fmt::format("NorvoSetProperty() Called key: 7, input size: {}", size);
         }},
        {"NorvoQueryProperty",
         [](PCONTEXT_HANDLE_TYPE context, short size, short count) -> Rpc<long> {
             // Room for anything that might come back.
             auto buffer = property_buffer(size, 0x10000);
             auto* sent = reinterpret_cast<PROPERTY_BUFFER*>(buffer.data());
             long length = -1;
             const auto result = hostile([&] {
                 return hostile_NorvoQueryProperty(context, PROPERTY_KEY{key::confirmation_range},
                                                   &length, sent, count);
             });
             // A refused buffer comes back empty, not sized by what the client claimed.
             if (result == result::invalid_arg && size < 0) {
                 EXPECT_EQ(sent->size, 0);
                 EXPECT_EQ(length, 0);
             }
             return result;
         },
         [](int) { return std::string("NorvoQueryProperty() called"); }},
    };
    return calls;
}

// Wine's engine does not check the correlations that the format strings ask for (Windows'
// refuses such a call with RPC_X_BAD_STUB_DATA before the routine): a size that disagrees
// with its array reaches the routine. Fewer than travel is sent here, which no routine reads
// past.
TEST_F(HostileSizes, WinesEngineLetsASizeThatDisagreesWithItsArrayThrough) {
    for (const auto& call : hostile_calls()) {
        SCOPED_TRACE(call.procedure);
        log().clear();
        const auto result = call.send(context(), 2, 4);
        ASSERT_TRUE(result.has_value()) << "RPC exception " << result.error();
        EXPECT_TRUE(log().logged(call.entry_line(2)));
    }
    EXPECT_TRUE(log().logged("Output buffer too small 2 < 4"));

    ASSERT_EQ(RpcServerRegisterIf(norvo_mirror_server_interface, nullptr, nullptr), RPC_S_OK);
    const auto before = received_callbacks().size();
    std::vector<signed char> data(4, 1);
    const auto done =
        guarded([&] { hostile_SendClientEvent(binding_->get(), 2, data.data(), 9, 4); });
    RpcServerUnregisterIf(norvo_mirror_server_interface, nullptr, FALSE);
    EXPECT_TRUE(done);
    const auto received = received_callbacks();
    ASSERT_EQ(received.size(), before + 1);
    EXPECT_EQ(received.back(), (CallbackRecord{1, 2, 0, {1, 1}, 9}));
}

// Through the same engine, a negative size goes no further than the routine's first check.
TEST_F(HostileSizes, NegativeSizeIsRefusedBeforeTheRoutine) {
    for (const auto& call : hostile_calls()) {
        SCOPED_TRACE(call.procedure);
        log().clear();
        EXPECT_EQ(call.send(context(), -1, 4), result::invalid_arg);
        // Neither as given nor widened to 65535.
        EXPECT_FALSE(log().logged(call.entry_line(-1)));
        EXPECT_FALSE(log().logged(call.entry_line(0xffff)));
    }
}

// Whatever the engine lets through, a negative size is refused before a byte is read and
// nothing is sized by it on the way back. The engine hands the routines a context they hold.
TEST_F(HostileSizes, RoutinesRefuseNegativeSizes) {
    PCONTEXT_HANDLE_TYPE held = nullptr;
    vtap_s_RemoteOpen(nullptr, &held);
    ASSERT_NE(held, nullptr);
    BytesBeforeAGuardPage bytes(offsetof(PROPERTY_BUFFER, data));
    auto* negative = bytes.as<PROPERTY_BUFFER>();
    negative->size = -1;
    EXPECT_EQ(vtap_s_NorvoReceiveClientEvent(held, -1, negative->data), result::invalid_arg);
    EXPECT_EQ(vtap_s_NorvoSetProperty(held, PROPERTY_KEY{kClientUserAgent}, negative),
              result::invalid_arg);
    long length = -1;
    EXPECT_EQ(vtap_s_NorvoQueryProperty(held, PROPERTY_KEY{key::confirmation_range}, &length,
                                        nullptr, negative),
              result::invalid_arg);
    EXPECT_EQ(vtap_s_NorvoQueryProperty(held, PROPERTY_KEY{key::confirmation_range}, &length,
                                        negative, nullptr),
              result::invalid_arg);
    vtap_s_RemoteClose(&held);
    EXPECT_EQ(negative->size, 0);
    EXPECT_EQ(length, 0);
    EXPECT_FALSE(log().logged("NorvoReceiveClientEvent() called"));
    EXPECT_FALSE(log().logged("NorvoSetProperty() Called key: 7, input size: 65535"));
    EXPECT_FALSE(log().logged("NorvoQueryProperty() called"));
}

}  // namespace
}  // namespace norvo::windows::rpc::test
