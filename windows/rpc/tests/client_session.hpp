#pragma once
// The test client: the interface's client side, the property keys and result codes the tests
// use, and the callbacks this process received.

#include "norvo/windows/rpc/client_session.hpp"

#include <cstdint>
#include <vector>

namespace norvo::windows::rpc::test {

using rpc::Binding;
using rpc::QueryResult;
using rpc::Rpc;
using rpc::Session;

// Property keys and result codes the tests use.
namespace key {
constexpr long simulation_mode = 2;
constexpr long confirmation_range = 3;
constexpr long forward_confirm_tap = 6;
}  // namespace key
namespace result {
constexpr long ok = 0;
constexpr long invalid_arg = static_cast<long>(0x80070057);
constexpr long unexpected = static_cast<long>(0x8000FFFF);
constexpr long abort = static_cast<long>(0x80004004);
}  // namespace result

// The callbacks this process received, in order.
struct CallbackRecord {
    int callback;        // callback opnum
    std::int64_t first;  // parameters in wire order, the packet of callback 1 apart
    std::int64_t second;
    std::vector<std::uint8_t> bytes;
    std::int64_t cookie;
    bool operator==(const CallbackRecord&) const = default;
};
std::vector<CallbackRecord> received_callbacks();

}  // namespace norvo::windows::rpc::test
