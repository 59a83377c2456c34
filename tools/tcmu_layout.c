#include "tools/tcmu_layout.h"

#include <linux/target_core_user.h>

const struct tcmu_layout tcmu_kernel_layout = {
    .mailbox_bytes = sizeof(struct tcmu_mailbox),
    .version_at = offsetof(struct tcmu_mailbox, version),
    .ring_offset_at = offsetof(struct tcmu_mailbox, cmdr_off),
    .ring_size_at = offsetof(struct tcmu_mailbox, cmdr_size),
    .head_at = offsetof(struct tcmu_mailbox, cmd_head),
    .tail_at = offsetof(struct tcmu_mailbox, cmd_tail),

    .header_bytes = sizeof(struct tcmu_cmd_entry_hdr),
    .entry_bytes = sizeof(struct tcmu_cmd_entry),
    .uflags_at = offsetof(struct tcmu_cmd_entry_hdr, uflags),
    .iov_count_at = offsetof(struct tcmu_cmd_entry, req.iov_cnt),
    .cdb_offset_at = offsetof(struct tcmu_cmd_entry, req.cdb_off),
    .iov_at = offsetof(struct tcmu_cmd_entry, req.iov),
    .iovec_bytes = sizeof(struct iovec),
    .iov_base_at = offsetof(struct iovec, iov_base),
    .iov_len_at = offsetof(struct iovec, iov_len),
    .status_at = offsetof(struct tcmu_cmd_entry, rsp.scsi_status),
    .sense_at = offsetof(struct tcmu_cmd_entry, rsp.sense_buffer),
    .sense_bytes = TCMU_SENSE_BUFFERSIZE,

    .mailbox_version = TCMU_MAILBOX_VERSION,
    .op_mask = TCMU_OP_MASK,
    .op_pad = TCMU_OP_PAD,
    .op_cmd = TCMU_OP_CMD,
    .op_tmr = TCMU_OP_TMR,
    .uflag_unknown_op = TCMU_UFLAG_UNKNOWN_OP,
    .op_align = TCMU_OP_ALIGN_SIZE,
};
