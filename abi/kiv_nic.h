/* The record the NIC query (call 71) fills: 28 bytes, little-endian. The
 * kernel writes all of it and nothing beyond; the reserved bytes are its
 * own. Shared by the command and the stand-in kernel. Valid C and C++. */
#ifndef KIV_NIC_H
#define KIV_NIC_H

#include <stddef.h>
#include <stdint.h>

#include "kiv_assert.h"

typedef struct NicInfo {
    uint8_t bus;
    uint8_t device;
    uint8_t function;
    uint8_t reserved0;
    uint32_t mmio_base;
    uint8_t reserved1[8];
    uint8_t mac[6]; /* first octet first */
    uint8_t reserved2[2];
    uint32_t link; /* non-zero: link up */
} NicInfo;

KIV_STATIC_ASSERT(sizeof(NicInfo) == 28, "NicInfo is 28 bytes");
KIV_STATIC_ASSERT(offsetof(NicInfo, mmio_base) == 4, "MMIO base at 4");
KIV_STATIC_ASSERT(offsetof(NicInfo, mac) == 16, "MAC at 16");
KIV_STATIC_ASSERT(offsetof(NicInfo, link) == 24, "link at 24");

#endif
