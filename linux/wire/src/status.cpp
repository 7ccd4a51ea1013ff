#include "norvo/wire/status.hpp"

namespace norvo::wire {

std::string_view describe_status(RpcStatus code) {
    switch (code) {
        case status::ok:
            return "success";
        case status::access_denied:
            return "access denied";
        case status::context_mismatch:
            return "the context handle is not valid on this connection";
        case status::invalid_endpoint_format:
            return "the endpoint path is not valid";
        case status::unknown_interface:
            return "the interface is not registered";
        case status::cant_create_endpoint:
            return "the endpoint cannot be created";
        case status::out_of_resources:
            return "not enough resources";
        case status::server_unavailable:
            return "the service is unavailable";
        case status::server_too_busy:
            return "the service is too busy";
        case status::call_failed:
            return "the call failed";
        case status::protocol_error:
            return "protocol error";
        case status::duplicate_endpoint:
            return "the endpoint is already in use";
        case status::procnum_out_of_range:
            return "the procedure number is out of range";
        case status::null_context:
            return "null context handle";
        case status::bad_stub_data:
            return "the call's data is malformed";
        case status::call_cancelled:
            return "the call was cancelled";
        default:
            return "unknown RPC status";
    }
}

}  // namespace norvo::wire
