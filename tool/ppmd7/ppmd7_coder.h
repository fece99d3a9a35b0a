/* PPMd variant H with its range coder, for the archiver's text streams: a small C face over
   the coder compiled from the libarchive source package, whose own header is private to it. */
#ifndef VANTOR_PPMD7_CODER_H
#define VANTOR_PPMD7_CODER_H
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define VANTOR_PPMD7_MIN_ORDER 2
#define VANTOR_PPMD7_MAX_ORDER 64
#define VANTOR_PPMD7_MIN_MEMORY (1u << 11)

typedef struct VantorPpmd7 VantorPpmd7;

/* A model of `memory` bytes; NULL when that memory cannot be had. */
VantorPpmd7 *vantor_ppmd7_new(uint32_t memory);
void vantor_ppmd7_free(VantorPpmd7 *c);

/* Encoding: each output byte goes to `put`. Start, encode any number of times, finish. */
void vantor_ppmd7_encode_start(VantorPpmd7 *c, unsigned order, void (*put)(void *context, uint8_t byte),
                               void *context);
void vantor_ppmd7_encode(VantorPpmd7 *c, const uint8_t *data, size_t size);
void vantor_ppmd7_encode_finish(VantorPpmd7 *c);

/* Decoding from [*in, end): start resets the model and reads the range coder's first five
   bytes (0 when they cannot begin a stream); decode fills at most `room` bytes, going on only
   while at least `margin` input bytes are left (more than one symbol ever takes), and returns
   how many, or -1 on damaged data. Reading past `end` yields zero bytes and marks the stream
   overrun, which fails the call. */
int vantor_ppmd7_decode_start(VantorPpmd7 *c, unsigned order, const uint8_t **in, const uint8_t *end);
long vantor_ppmd7_decode(VantorPpmd7 *c, const uint8_t **in, const uint8_t *end, size_t margin, uint8_t *out,
                         size_t room);
int vantor_ppmd7_overran(const VantorPpmd7 *c);
/* True when the range coder ended where its encoder flushed it. */
int vantor_ppmd7_finished(const VantorPpmd7 *c);

#ifdef __cplusplus
}
#endif
#endif
