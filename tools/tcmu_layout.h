#pragma once

// Where the fields of the kernel's TCMU mailbox and command entries lie, as
// the kernel's own header <linux/target_core_user.h> declares them.  That
// header's inline helpers are C only, so a C file reads it and hands the
// layout to the C++ code here.

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

struct tcmu_layout {
    size_t mailbox_bytes;
    size_t version_at;
    size_t ring_offset_at;
    size_t ring_size_at;
    size_t head_at;
    size_t tail_at;

    size_t header_bytes;
    size_t entry_bytes;  // the smallest command entry: room for the request and the answer
    size_t uflags_at;
    size_t iov_count_at;
    size_t cdb_offset_at;
    size_t iov_at;
    size_t iovec_bytes;
    size_t iov_base_at;
    size_t iov_len_at;
    size_t status_at;
    size_t sense_at;
    size_t sense_bytes;

    unsigned mailbox_version;
    unsigned op_mask;
    unsigned op_pad;
    unsigned op_cmd;
    unsigned op_tmr;
    unsigned uflag_unknown_op;
    unsigned op_align;
};

extern const struct tcmu_layout tcmu_kernel_layout;

#ifdef __cplusplus
}
#endif
