// SPDX-License-Identifier: MIT
#pragma once
// The stand-in libgpib: linux-gpib's calls as the GPIB provider uses them, and the functions a
// test scripts it with. Addresses are written as linux-gpib does (sad 0 = none, 0x60 + n).
#ifdef __cplusplus
extern "C" {
#endif

int ibdev(int board, int pad, int sad, int tmo, int send_eoi, int eos);
int ibonl(int ud, int online);
int ibtmo(int ud, int v);
int ibwrt(int ud, const void* buf, long count);
int ibrd(int ud, void* buf, long count);
int ibln(int ud, int pad, int sad, short* found);

// Forgets everything: board 0 only, no listeners, an empty log.
void standin_reset(void);
void standin_set_boards(const int* boards, int n);
void standin_add_listener(int board, int pad, int sad);
// When exactly `query` is written to the listener, `answer` is queued as one message (ended by
// END).
void standin_answer(int board, int pad, int sad, const char* query, const char* answer, long len);
void standin_queue(int board, int pad, int sad, const char* data, long len);
// Switched off: it no longer listens (ibln finds nothing, writes get ENOL, reads time out).
void standin_power(int board, int pad, int sad, int on);
// The next call of op ("ibrd", "ibwrt", "ibln", "ibdev", "ibtmo") fails with iberr err (ibcntl
// cntl for EDVR, errno), TIMO when timo, after moving `partial` bytes.
void standin_fail_next(const char* op, int err, long cntl, int timo, long partial);
// One line per call, e.g. "ibdev 0 5 0 12 1 0".
const char* standin_log(void);
int standin_open_devices(void);

#ifdef __cplusplus
}
#endif
