#ifndef VORKA_TESTS_CAM_CAMLIB_H
#define VORKA_TESTS_CAM_CAMLIB_H

/*
 * A test double of FreeBSD's CAM library (libcam): the names, types and
 * values of <camlib.h> and the CAM headers it includes, as far as the CAM
 * pass-through uses them, written from the documented interface (cam(3),
 * pass(4)).  Its cam_send_ccb hands every request to an emulated drive, so
 * that the pass-through's own source runs on Linux.  Never part of an
 * installed program.
 *
 * Like the real headers it uses FILE without including <stdio.h>, so that
 * a user that forgets to include it first fails here too.
 */

#include <stdint.h>
#include <sys/types.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef u_int path_id_t;
typedef u_int target_id_t;
typedef u_int64_t lun_id_t;

#define CAM_MAX_CDBLEN 16
#define SSD_FULL_SIZE 252
#define CAM_ERRBUF_SIZE 2048
#define MSG_SIMPLE_Q_TAG 0x20

typedef enum {
    CAM_REQ_CMP = 0x01,
    CAM_REQ_CMP_ERR = 0x04,
    CAM_REQ_INVALID = 0x06,
    CAM_DEV_NOT_THERE = 0x08,
    CAM_SEL_TIMEOUT = 0x0a,
    CAM_CMD_TIMEOUT = 0x0b,
    CAM_SCSI_STATUS_ERROR = 0x0c,
    CAM_AUTOSENSE_FAIL = 0x10,
    CAM_DATA_RUN_ERR = 0x12,
    CAM_REQUEUE_REQ = 0x1b,
    CAM_STATUS_MASK = 0x3f,
    CAM_DEV_QFRZN = 0x40,
    CAM_AUTOSNS_VALID = 0x80
} cam_status;

typedef enum {
    CAM_DIR_BOTH = 0x00000000,
    CAM_DIR_IN = 0x00000040,
    CAM_DIR_OUT = 0x00000080,
    CAM_DIR_NONE = 0x000000c0,
    CAM_DIR_MASK = 0x000000c0,
    CAM_DEV_QFRZDIS = 0x00000400,
    CAM_PASS_ERR_RECOVER = 0x00010000
} ccb_flags;

typedef enum { XPT_NOOP = 0x00, XPT_SCSI_IO = 0x01 } xpt_opcode;

struct scsi_sense_data {
    uint8_t error_code;
    uint8_t sense_buf[SSD_FULL_SIZE - 1];
};

struct ccb_hdr {
    xpt_opcode func_code;
    path_id_t path_id;
    target_id_t target_id;
    lun_id_t target_lun;
    u_int32_t flags;
    u_int32_t retry_count;
    u_int32_t status; /* a word, not a cam_status: flag bits ride above the mask */
    u_int32_t timeout;
};

typedef union {
    u_int8_t* cdb_ptr;
    u_int8_t cdb_bytes[CAM_MAX_CDBLEN];
} cdb_t;

struct ccb_scsiio {
    struct ccb_hdr ccb_h;
    union ccb* next_ccb;
    u_int8_t* req_map;
    u_int8_t* data_ptr;
    u_int32_t dxfer_len;
    struct scsi_sense_data sense_data;
    u_int8_t sense_len;
    u_int8_t cdb_len;
    u_int16_t sglist_cnt;
    u_int8_t scsi_status;
    u_int8_t sense_resid;
    u_int32_t resid;
    cdb_t cdb_io;
    u_int8_t* msg_ptr;
    u_int16_t msg_len;
    u_int8_t tag_action;
    u_int tag_id;
    u_int init_id;
};

union ccb {
    struct ccb_hdr ccb_h;
    struct ccb_scsiio csio;
    u_int8_t other_requests[1248]; /* the other CCB kinds make the union this big */
};

struct cam_device {
    char device_path[1024];
    char given_dev_name[17];
    u_int32_t given_unit_number;
    int fd;
};

extern char cam_errbuf[];

struct cam_device* cam_open_device(const char* path, int flags);
void cam_close_device(struct cam_device* dev);
union ccb* cam_getccb(struct cam_device* dev);
void cam_freeccb(union ccb* ccb);
int cam_send_ccb(struct cam_device* device, union ccb* ccb);
int csio_build(struct ccb_scsiio* csio, u_int8_t* data_ptr, u_int32_t dxfer_len, u_int32_t flags,
               int retry_count, int timeout, const char* cmd_spec, ...);
void scsi_sense_print(struct cam_device* device, struct ccb_scsiio* csio, FILE* ofile);

#ifdef __cplusplus
}
#endif

#endif
