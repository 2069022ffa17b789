/*
 * libfacet: decodes the compressed photo record of a resident ID card
 * (1024 bytes) into a 102 x 126 RGB image.
 *
 * Conventions
 * - Buffers belong to the caller: `record` is read (1024 bytes), `out` is
 *   written (at least FACET_OUT_SIZE bytes). Nothing is returned to free.
 * - Results: FACET_OK (1) when the photo was decoded, 0 when `mode` is not
 *   one of the two decoding modes (nothing is read or written), a negative
 *   FACET_E_... code on failure. On a negative result other than
 *   FACET_E_FILE, `out` is left untouched.
 * - Threads: each call keeps its own state, so calls may overlap; calls in
 *   mode FACET_MODE_FILE all write the same file in the current directory
 *   and must not overlap each other.
 */
#ifndef FACET_H
#define FACET_H

#define FACET_API __attribute__((visibility("default")))

#define FACET_RECORD_SIZE 1024u
#define FACET_WIDTH 102u
#define FACET_HEIGHT 126u
#define FACET_OUT_SIZE (FACET_WIDTH * FACET_HEIGHT * 3u) /* 38556 */

#define FACET_MODE_DECODE 498u /* decode into out */
#define FACET_MODE_FILE 499u   /* decode into out and write "zp.bmp" */

#define FACET_OK 1
#define FACET_E_ARGUMENT (-1) /* record or out is null */
#define FACET_E_FORMAT (-2)   /* flags, start bit plane or mask size the decoder cannot hold */
#define FACET_E_SEGMENT (-3)  /* an arithmetic-coded segment lacks its 0x6F marker */
#define FACET_E_FILE (-4)     /* "zp.bmp" could not be written; out holds the image */
#define FACET_E_MEMORY (-5)   /* the working arrays could not be allocated */

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Decodes `record` (FACET_RECORD_SIZE bytes) into `out`, the address of the
 * caller's buffer of at least FACET_OUT_SIZE bytes: 3 bytes per pixel in
 * the order R, G, B, rows from the bottom row of the image to the top row,
 * no row padding. Grey photos give three equal bytes per pixel.
 * mode FACET_MODE_DECODE decodes only; FACET_MODE_FILE also writes the
 * 24-bit bitmap "zp.bmp" into the current directory. Any other mode
 * returns 0 and does nothing.
 */
FACET_API int unpack(const char* record, unsigned long out, unsigned mode);

#ifdef __cplusplus
}
#endif

#endif /* FACET_H */
