// The hand-written format strings, read back the way the interpreter reads them.

#include "norvo/windows/rpc/ndr_formats.h"
#include "norvo/windows/rpc_interface.hpp"

#include <ndrtypes.h>
#include <rpc.h>
#include <rpcndr.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

std::uint16_t u16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

struct Param {
    std::uint16_t flags;
    std::uint16_t stack_offset;
    std::uint16_t type;  // the base type, or the type format offset
};

struct Procedure {
    unsigned char handle_type;
    std::uint16_t number;
    std::uint16_t stack_size;
    unsigned char context_flags;  // of the context handle the call is bound to, if any
    std::uint16_t client_size;
    unsigned char ext_flags;
    std::uint16_t client_corr_hint;
    std::uint16_t server_corr_hint;
    std::vector<Param> params;
    std::size_t end;
};

Procedure read_procedure(std::size_t offset) {
    const unsigned char* p = norvo_vtap_proc_format + offset;
    Procedure proc{p[0], u16(p + 6), u16(p + 8), 0, 0, 0, 0, 0, {}, 0};
    std::size_t at = 10;
    if (proc.handle_type == 0) {
        if (p[at] == FC_BIND_CONTEXT) {
            proc.context_flags = p[at + 1];
            at += 6;
        } else {
            EXPECT_EQ(p[at], FC_BIND_PRIMITIVE);
            at += 4;
        }
    }
    proc.client_size = u16(p + at);
    const unsigned char oi2_flags = p[at + 4];
    const unsigned char count = p[at + 5];
    at += 6;
    if (oi2_flags & 0x40) {
        proc.ext_flags = p[at + 1];
        proc.client_corr_hint = u16(p + at + 2);
        proc.server_corr_hint = u16(p + at + 4);
        at += p[at];  // the extension gives its own size
    }
    for (unsigned i = 0; i < count; ++i, at += 6)
        proc.params.push_back({u16(p + at), u16(p + at + 2), u16(p + at + 4)});
    proc.end = offset + at;
    return proc;
}

TEST(NdrFormats, ProceduresAndCallbacksFollowEachOtherInOpnumOrder) {
    std::vector<std::size_t> starts(norvo_vtap_procedure_offsets,
                                    norvo_vtap_procedure_offsets + NORVO_VTAP_PROCEDURES);
    starts.insert(starts.end(), norvo_vtap_callback_offsets,
                  norvo_vtap_callback_offsets + NORVO_VTAP_CALLBACKS);
    const std::vector<std::size_t> param_counts = {1, 1, 3, 2, 4, 4, 6, 3, 3, 3, 2};
    for (std::size_t i = 0; i < starts.size(); ++i) {
        SCOPED_TRACE(i);
        const auto proc = read_procedure(starts[i]);
        const bool callback = i >= NORVO_VTAP_PROCEDURES;
        EXPECT_EQ(proc.handle_type, callback ? FC_CALLBACK_HANDLE : 0);
        EXPECT_EQ(proc.number, callback ? i - NORVO_VTAP_PROCEDURES : i);
        EXPECT_EQ(proc.params.size(), param_counts[i]);
        for (const auto& param : proc.params) EXPECT_LT(param.stack_offset, proc.stack_size);
        const auto next = i + 1 < starts.size() ? starts[i + 1] : norvo_vtap_proc_format_size - 1;
        EXPECT_EQ(proc.end, next);
    }
    EXPECT_EQ(norvo_vtap_proc_format[norvo_vtap_proc_format_size - 1], 0);
}

// Where nothing depends on it, the bytes are those the interface compiler emits for the same
// interface (x64, robust), so that Windows' engine meets what it knows.
TEST(NdrFormats, HeadersMatchWhatTheInterfaceCompilerEmits) {
    struct Expected {
        std::uint16_t client_size;
        unsigned char context_flags;
        std::uint16_t client_hint, server_hint;
    };
    const std::vector<Expected> procedures = {
        {0, 0, 0, 0},       {0x38, 0xe4, 0, 0}, {0x34, 0x44, 0, 0}, {0x24, 0x44, 0, 0},
        {0x2a, 0x44, 0, 1}, {0x20, 0x44, 0, 1}, {0x20, 0x44, 1, 2},
    };
    const std::vector<Expected> callbacks = {
        {0x28, 0, 0, 0}, {0x16, 0, 0, 1}, {0x20, 0, 0, 0}, {0x18, 0, 0, 0}};
    auto check = [](const Procedure& proc, const Expected& expected) {
        EXPECT_EQ(proc.client_size, expected.client_size);
        EXPECT_EQ(proc.context_flags, expected.context_flags);
        EXPECT_EQ(proc.client_corr_hint, expected.client_hint);
        EXPECT_EQ(proc.server_corr_hint, expected.server_hint);
    };
    for (std::size_t i = 0; i < procedures.size(); ++i) {
        SCOPED_TRACE(i);
        check(read_procedure(norvo_vtap_procedure_offsets[i]), procedures[i]);
    }
    for (std::size_t i = 0; i < callbacks.size(); ++i) {
        SCOPED_TRACE(NORVO_VTAP_PROCEDURES + i);
        check(read_procedure(norvo_vtap_callback_offsets[i]), callbacks[i]);
    }
    // The close's handle cannot be null: the runtime refuses a null one before the routine.
    const auto close = read_procedure(norvo_vtap_procedure_offsets[1]);
    EXPECT_EQ(norvo_vtap_type_format[close.params.front().type + 1], 0xe5);
    const auto* server = static_cast<const RPC_SERVER_INTERFACE*>(norvo::windows::tap_interface());
    const auto* info = static_cast<const MIDL_SERVER_INFO*>(server->InterpreterInfo);
    EXPECT_EQ(info->pStubDesc->MIDLVersion, 0x0801026e);
}

// Calls on one handle must not wait for each other: a start lasts the whole sensor run.
TEST(NdrFormats, EveryContextHandleIsNonSerialising) {
    int handles = 0;
    for (std::size_t opnum = 0; opnum < NORVO_VTAP_PROCEDURES; ++opnum) {
        SCOPED_TRACE(opnum);
        const auto proc = read_procedure(norvo_vtap_procedure_offsets[opnum]);
        if (opnum > 0) {
            EXPECT_TRUE(proc.context_flags & NDR_CONTEXT_HANDLE_NOSERIALIZE);
        }
        const auto& context = proc.params.front();
        const unsigned char* type = norvo_vtap_type_format + context.type;
        ASSERT_EQ(type[0], FC_BIND_CONTEXT);
        EXPECT_TRUE(type[1] & NDR_CONTEXT_HANDLE_NOSERIALIZE);
        ++handles;
    }
    EXPECT_EQ(handles, NORVO_VTAP_PROCEDURES);
}

// The explicit binding handle of RemoteOpen travels nowhere: its one parameter is the handle.
TEST(NdrFormats, RemoteOpenCarriesOnlyTheNewContextHandle) {
    const auto proc = read_procedure(norvo_vtap_procedure_offsets[0]);
    ASSERT_EQ(proc.params.size(), 1u);
    EXPECT_EQ(proc.params[0].stack_offset, 8);
    EXPECT_TRUE(norvo_vtap_type_format[proc.params[0].type + 1] & HANDLE_PARAM_IS_OUT);
}

// The conformant array a sized parameter leads to, through its full pointer and structure.
const unsigned char* array_of(std::uint16_t type) {
    const unsigned char* t = norvo_vtap_type_format + type;
    if (t[0] == FC_FP)
        t += 2 + static_cast<std::int16_t>(u16(t + 2));
    if (t[0] == FC_CSTRUCT)
        t += 4 + static_cast<std::int16_t>(u16(t + 4));
    return t;
}

// Each array's count is a short named by a 6-byte correlation descriptor, and the side that
// receives the array checks it: sized [in] data on the server, sized [out] data on the client.
TEST(NdrFormats, EveryArrayIsTiedToItsCountAndCheckedWhereItIsReceived) {
    constexpr unsigned char kNewCorrDesc = 0x01, kClientCheck = 0x02, kServerCheck = 0x04;
    std::vector<std::size_t> starts(norvo_vtap_procedure_offsets,
                                    norvo_vtap_procedure_offsets + NORVO_VTAP_PROCEDURES);
    starts.insert(starts.end(), norvo_vtap_callback_offsets,
                  norvo_vtap_callback_offsets + NORVO_VTAP_CALLBACKS);
    std::vector<std::size_t> sized;
    for (std::size_t i = 0; i < starts.size(); ++i) {
        SCOPED_TRACE(i);
        const auto proc = read_procedure(starts[i]);
        EXPECT_TRUE(proc.ext_flags & kNewCorrDesc);
        bool in_sized = false, out_sized = false;
        for (const auto& param : proc.params) {
            if (!(param.flags & 0x01) || (param.flags & 0x40))  // must size, not a base type
                continue;
            const unsigned char* array = array_of(param.type);
            ASSERT_EQ(array[0], FC_CARRAY);
            EXPECT_EQ(array[4] & 0x0f, FC_SHORT);
            EXPECT_EQ(u16(array + 8), 0x0001);  // early: the count travels first
            EXPECT_EQ(array[10], FC_SMALL);
            EXPECT_EQ(array[11], FC_END);
            if ((array[4] & 0xf0) == FC_TOP_LEVEL_CONFORMANCE) {
                const auto count =
                    std::ranges::find(proc.params, u16(array + 6), &Param::stack_offset);
                ASSERT_NE(count, proc.params.end());
                EXPECT_EQ(count->type, FC_SHORT);
                EXPECT_LT(count->stack_offset, param.stack_offset);
            } else {
                EXPECT_EQ(static_cast<std::int16_t>(u16(array + 6)), -2);  // the size field
            }
            in_sized |= (param.flags & 0x08) != 0;
            out_sized |= (param.flags & 0x10) != 0;
        }
        if (in_sized || out_sized)
            sized.push_back(i);
        EXPECT_EQ((proc.ext_flags & kServerCheck) != 0, in_sized);
        EXPECT_EQ(proc.server_corr_hint != 0, in_sized);
        EXPECT_EQ((proc.ext_flags & kClientCheck) != 0, out_sized);
        EXPECT_EQ(proc.client_corr_hint != 0, out_sized);
    }
    // Procedures 4, 5, 6 and callback 1.
    EXPECT_EQ(sized, (std::vector<std::size_t>{4, 5, 6, NORVO_VTAP_PROCEDURES + 1}));
}

}  // namespace
