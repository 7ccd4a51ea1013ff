// The hand-written format strings, read back the way the interpreter reads them.

#include "norvo/windows/rpc/ndr_formats.h"

#include <ndrtypes.h>
#include <rpc.h>
#include <rpcndr.h>

#include <gtest/gtest.h>

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
    std::vector<Param> params;
    std::size_t end;
};

Procedure read_procedure(std::size_t offset) {
    const unsigned char* p = norvo_vtap_proc_format + offset;
    Procedure proc{p[0], u16(p + 6), u16(p + 8), 0, {}, 0};
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
    const unsigned char oi2_flags = p[at + 4];
    const unsigned char count = p[at + 5];
    at += 6;
    if (oi2_flags & 0x40)
        at += p[at];  // the extension gives its own size
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

}  // namespace
