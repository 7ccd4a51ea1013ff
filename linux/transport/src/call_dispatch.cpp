#include "call_dispatch.hpp"

#include <variant>

#include "connection.hpp"
#include "norvo/log.hpp"
#include "norvo/service/client_callbacks.hpp"
#include "norvo/service/procedures.hpp"
#include "remote_callbacks.hpp"
#include "server_state.hpp"

namespace norvo::transport {
namespace {

namespace call = wire::call;
namespace result = wire::result;

class Dispatch {
  public:
    Dispatch(Connection& connection, const wire::FrameHeader& header)
        : connection_(connection), call_id_(header.call_id), opnum_(header.opnum) {}

    void operator()(call::RemoteOpen&) {
        if (!connection_.contexts().has_room())
            return fault(wire::status::out_of_resources);
        auto permit = connection_.server().contexts.try_enter(connection_.account());
        if (!permit)
            return fault(wire::status::server_too_busy);
        service::ContextHandle handle;
        service::RemoteOpen(handle);
        reply(result::RemoteOpen{
            connection_.contexts().insert(std::move(handle), std::move(*permit))});
    }

    void operator()(call::RemoteClose& c) {
        if (c.context.is_null()) {
            service::ContextHandle none;
            service::RemoteClose(none);
            return reply(result::RemoteClose{});
        }
        // The slot leaves the table on the close's own thread, so a close racing
        // another close or the rundown still closes the context exactly once.
        run_long(
            connection_.server().closes, [connection = connection_.shared_from_this(),
                                          call_id = call_id_, opnum = opnum_, token = c.context] {
                const log::CallerScope caller(connection->log_caller());
                auto slot = connection->contexts().remove(token);
                if (!slot)
                    return connection->send_fault(call_id, opnum, wire::status::context_mismatch);
                slot->close(/*client_gone=*/false);
                connection->send_result(call_id, opnum, *wire::encode(result::RemoteClose{}));
            });
    }

    void operator()(call::NorvoStartSensor& c) {
        auto lease = connection_.contexts().lease(c.context);
        if (!lease)
            return fault(lease.error());
        const auto run = connection_.runs().begin_run(c.context);
        const bool started = run_long(
            connection_.server().starts,
            [connection = connection_.shared_from_this(), call_id = call_id_, opnum = opnum_, run,
             lease = std::move(*lease), cookie = c.cookie]() mutable {
                const log::CallerScope caller(connection->log_caller());
                RemoteCallbacks callbacks(*connection, call_id, run, lease);
                service::HRESULT value = 0;
                {
                    service::CurrentCallScope scope(callbacks);
                    value = service::NorvoStartSensor(lease.context(), cookie);
                }
                connection->runs().end_run(run);
                lease.release();
                connection->send_result(call_id, opnum, *wire::encode(result::Status{value}));
            });
        if (!started)
            connection_.runs().end_run(run);
    }

    void operator()(call::NorvoStopSensor& c) {
        with_context(c.context, [](service::ClientContext& context) {
            return result::Status{service::NorvoStopSensor(context)};
        });
    }

    void operator()(call::NorvoReceiveClientEvent& c) {
        with_context(c.context, [&](service::ClientContext& context) {
            return result::Status{service::NorvoReceiveClientEvent(context, c.packet.bytes)};
        });
    }

    void operator()(call::NorvoSetProperty& c) {
        with_context(c.context, [&](service::ClientContext& context) {
            return result::Status{service::NorvoSetProperty(context, c.key, c.value.data)};
        });
    }

    void operator()(call::NorvoQueryProperty& c) {
        with_context(c.context, [&](service::ClientContext& context) {
            result::NorvoQueryProperty out{.buffer = std::move(c.buffer)};
            std::optional<std::span<std::uint8_t>> room;
            if (out.buffer)
                room = std::span<std::uint8_t>(out.buffer->data);
            std::optional<std::span<const std::uint8_t>> input;
            if (c.input)
                input = std::span<const std::uint8_t>(c.input->data);
            out.value = service::NorvoQueryProperty(context, c.key, out.size, room, input);
            return out;
        });
    }

  private:
    template <class Run>
    void with_context(const wire::ContextToken& token, Run run) {
        auto lease = connection_.contexts().lease(token);
        if (!lease)
            return fault(lease.error());
        const auto out = run(lease->context());
        lease->release();
        reply(out);
    }

    template <class Task>
    bool run_long(service::UserQuota& quota, Task task) {
        auto permit = quota.try_enter(connection_.account());
        if (!permit) {
            fault(wire::status::server_too_busy);
            return false;
        }
        const bool started = connection_.server().workers.submit(
            [task = std::move(task), permit = std::move(*permit)]() mutable { task(); });
        if (!started)
            fault(wire::status::out_of_resources);
        return started;
    }

    template <class Result>
    void reply(const Result& out) {
        connection_.send_result(call_id_, opnum_, *wire::encode(out));
    }

    void fault(wire::RpcStatus status) { connection_.send_fault(call_id_, opnum_, status); }

    Connection& connection_;
    const std::uint32_t call_id_;
    const std::uint8_t opnum_;
};

}  // namespace

void dispatch_call(Connection& connection, const wire::FrameHeader& header,
                   std::span<const std::uint8_t> payload) {
    if (!connection.server().interface_registered.load()) {
        return connection.send_fault(header.call_id, header.opnum, wire::status::unknown_interface);
    }
    auto call = wire::decode_call(header.opnum, payload);
    if (!call)
        return connection.send_fault(header.call_id, header.opnum, call.error());
    // What the call logs counts towards its client's share of the log.
    const log::CallerScope caller(connection.log_caller());
    std::visit(Dispatch(connection, header), *call);
}

}  // namespace norvo::transport
