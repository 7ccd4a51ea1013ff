/* The interface's wire description, shared by the service and the test client. */
#ifndef NORVO_WINDOWS_RPC_NDR_FORMATS_H
#define NORVO_WINDOWS_RPC_NDR_FORMATS_H

#ifdef __cplusplus
extern "C" {
#endif

#define NORVO_VTAP_PROCEDURES 7
#define NORVO_VTAP_CALLBACKS 4

extern const unsigned char norvo_vtap_type_format[];
extern const unsigned char norvo_vtap_proc_format[];
extern const unsigned norvo_vtap_proc_format_size;
/* Where each procedure (by opnum) and each callback (by callback opnum) starts. */
extern const unsigned short norvo_vtap_procedure_offsets[NORVO_VTAP_PROCEDURES];
extern const unsigned short norvo_vtap_callback_offsets[NORVO_VTAP_CALLBACKS];

#ifdef __cplusplus
}
#endif

#endif
