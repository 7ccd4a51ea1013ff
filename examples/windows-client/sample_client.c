/* A NorvoVTap client in C: opens a context, reads the service's version, starts the sensor,
 * forwards one phone tap, waits for the tap it brings back, stops and closes.
 *   sample_client.exe [--simulate]
 * --simulate runs the session without the tap sensor (the Sensor API is still needed): the
 * phone tap alone is confirmed. */

#include <norvo/windows/rpc/norvo_vtap_client.h>
#include <norvo/windows/rpc/rpc_guard.h>

#include <stdio.h>
#include <string.h>
#include <windows.h>

enum { KEY_VERSION = 1, KEY_SIMULATION_MODE = 2, KEY_CLIENT_ID = 7 };
enum { TAP_CONFIRMED = 1, TAP_LAPTOP = 2, TAP_PHONE = 3, TAP_UNCONFIRMED = 4 };
static const hyper COOKIE = 42;

/* Set by the callbacks, which run on the thread of the start call. */
static HANDLE loop_ready, tap_seen;
static volatile long start_status;

void vtap_client_TapEvent(long kind, hyper timestamp, hyper cookie) {
    static const char* const names[] = {"?", "confirmed", "laptop", "phone", "unconfirmed"};
    printf("tap: %s at %lld ms (cookie %lld)\n", names[kind >= 1 && kind <= 4 ? kind : 0],
           (long long)timestamp, (long long)cookie);
    SetEvent(tap_seen);
}

void vtap_client_SendClientEvent(short size, signed char* data, hyper cookie) {
    (void)data;
    printf("packet for the phone: %d bytes (cookie %lld)\n", size, (long long)cookie);
}

void vtap_client_SensorStateChanged(hyper timestamp, NORVO_SENSOR_STATE state, hyper cookie) {
    printf("sensor state %d at %lld ms (cookie %lld)\n", (int)state, (long long)timestamp,
           (long long)cookie);
}

/* 0 once the sensor loop runs; otherwise the start's failure, just before it returns. */
void vtap_client_SignalReturn(long status, hyper cookie) {
    (void)cookie;
    start_status = status;
    SetEvent(loop_ready);
}

/* Every stub raises the RPC runtime's exception on failure; the guard turns it into a code. */
struct call {
    PCONTEXT_HANDLE_TYPE context;
    handle_t binding;
    long key;
    PROPERTY_BUFFER* buffer;
    long size;
    long result;
};

static void open_call(void* p) {
    struct call* c = p;
    vtap_c_RemoteOpen(c->binding, &c->context);
}
static void close_call(void* p) {
    vtap_c_RemoteClose(&((struct call*)p)->context);
}
static void query_call(void* p) {
    struct call* c = p;
    PROPERTY_KEY key = {c->key};
    c->result = vtap_c_NorvoQueryProperty(c->context, key, &c->size, c->buffer, NULL);
}
static void set_call(void* p) {
    struct call* c = p;
    PROPERTY_KEY key = {c->key};
    c->result = vtap_c_NorvoSetProperty(c->context, key, c->buffer);
}
static void start_call(void* p) {
    struct call* c = p;
    c->result = vtap_c_NorvoStartSensor(c->context, COOKIE);
}
static void stop_call(void* p) {
    struct call* c = p;
    c->result = vtap_c_NorvoStopSensor(c->context);
}
static void phone_call(void* p) {
    /* Version 1, type 1 (phone), no payload; little-endian. */
    signed char packet[] = {1, 0, 1, 0, 0, 0};
    struct call* c = p;
    c->result = vtap_c_NorvoReceiveClientEvent(c->context, sizeof packet, packet);
}

static int guarded(const char* what, void (*fn)(void*), struct call* c) {
    unsigned long code = 0;
    c->result = 0;
    if (norvo_rpc_guard(fn, c, &code)) {
        fprintf(stderr, "%s: RPC exception %lu\n", what, code);
        return 0;
    }
    if (c->result != 0) {
        fprintf(stderr, "%s: HRESULT 0x%08lX\n", what, (unsigned long)c->result);
        return 0;
    }
    return 1;
}

/* A property buffer with room for `size` bytes: the size field, then the data. */
union property {
    PROPERTY_BUFFER buffer;
    char storage[sizeof(short) + 128];
};

static int set_property(struct call* c, long key, const void* data, short size) {
    union property value;
    value.buffer.size = size;
    memcpy(value.buffer.data, data, (size_t)size);
    c->key = key;
    c->buffer = &value.buffer;
    return guarded("NorvoSetProperty", set_call, c);
}

static DWORD WINAPI run_start(void* p) {
    /* Blocks for the session: the callbacks arrive on this thread. A failed start has said
     * so through SignalReturn unless the call itself failed. */
    if (!guarded("NorvoStartSensor", start_call, p) && start_status == 0)
        start_status = -1;
    SetEvent(loop_ready);
    return 0;
}

static int session(struct call* c, int simulate) {
    union property version;
    version.buffer.size = 8;
    c->key = KEY_VERSION;
    c->buffer = &version.buffer;
    if (!guarded("NorvoQueryProperty", query_call, c))
        return 1;
    const unsigned char* v = (const unsigned char*)version.buffer.data;
    printf("service version %u.%u.%u.%u\n", v[0] | v[1] << 8, v[2] | v[3] << 8, v[4] | v[5] << 8,
           v[6] | v[7] << 8);

    /* A client that names itself gets its taps even where unidentified clients are ignored. */
    static const char id[] = "sample-client";
    if (!set_property(c, KEY_CLIENT_ID, id, (short)strlen(id)))
        return 1;
    const signed char on = 1;
    if (simulate && !set_property(c, KEY_SIMULATION_MODE, &on, 1))
        return 1;

    struct call start = *c;
    HANDLE thread = CreateThread(NULL, 0, run_start, &start, 0, NULL);
    if (!thread)
        return 1;
    int ok = 0;
    WaitForSingleObject(loop_ready, INFINITE);
    if (start_status == 0 && guarded("NorvoReceiveClientEvent", phone_call, c)) {
        ok = WaitForSingleObject(tap_seen, 5000) == WAIT_OBJECT_0;
        if (!ok)
            puts("no tap within 5 s");
        guarded("NorvoStopSensor", stop_call, c);
    }
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    return ok ? 0 : 1;
}

int main(int argc, char** argv) {
    const int simulate = argc > 1 && strcmp(argv[1], "--simulate") == 0;
    loop_ready = CreateEventW(NULL, FALSE, FALSE, NULL);
    tap_seen = CreateEventW(NULL, FALSE, FALSE, NULL);
    RPC_WSTR text = NULL;
    struct call c = {0};
    if (!loop_ready || !tap_seen ||
        RpcStringBindingComposeW(NULL, (RPC_WSTR)L"ncalrpc", NULL, (RPC_WSTR)L"NorvoVxtRpcEndpoint",
                                 NULL, &text) != RPC_S_OK ||
        RpcBindingFromStringBindingW(text, &c.binding) != RPC_S_OK) {
        fputs("no binding to the service's endpoint\n", stderr);
        return 1;
    }
    RpcStringFreeW(&text);
    if (!guarded("RemoteOpen", open_call, &c)) {
        fputs("is the NorvoVTap service running? (sc.exe query NorvoVTap)\n", stderr);
        return 1;
    }
    const int status = session(&c, simulate);
    guarded("RemoteClose", close_call, &c);
    RpcBindingFree(&c.binding);
    CloseHandle(tap_seen);
    CloseHandle(loop_ready);
    puts(status == 0 ? "done" : "failed");
    return status;
}
