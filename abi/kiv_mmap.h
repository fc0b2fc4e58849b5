/* mmap's protection and flag bits as the kernel reads them. Valid C and
 * C++. */
#ifndef KIV_MMAP_H
#define KIV_MMAP_H

#define KIV_PROT_NONE 0x0
#define KIV_PROT_READ 0x1
#define KIV_PROT_WRITE 0x2
#define KIV_PROT_EXEC 0x4

#define KIV_MAP_SHARED 0x01
#define KIV_MAP_PRIVATE 0x02
#define KIV_MAP_ANONYMOUS 0x20

/* The descriptor argument of an anonymous mapping. */
#define KIV_MAP_NO_FD (-1)

#endif
