/*
 * The largest picture Ketto will hold, shared by the program and its plug-in modules.
 *
 * Every size that comes from outside (a file header, a plug-in's record, a size typed for a
 * new canvas) is checked against these before anything is allocated, so a lying header gets
 * a clear error instead of an out-of-memory kill.
 */
#ifndef KETTO_LIMITS_H
#define KETTO_LIMITS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* 1 GiB of 32-bit pixels. */
#define KETTO_MAX_PIXELS (UINT64_C(1) << 28)
/* No side longer than this, so that coordinates and row sizes stay well inside 32 bits. */
#define KETTO_MAX_SIDE (INT32_C(1) << 20)

/* Non-zero when a picture of this size may be held. */
static inline int KettoSizeAllowed(int64_t width, int64_t height)
{
    return width >= 1 && height >= 1 && width <= KETTO_MAX_SIDE && height <= KETTO_MAX_SIDE &&
           (uint64_t)width * (uint64_t)height <= KETTO_MAX_PIXELS;
}

#ifdef __cplusplus
}
#endif

#endif
