/* The archiver's face of the PPMd var. H coder: byte streams in and out over the coder's
   one-byte callbacks, with reads bounded by the caller's input. */
#include "archive_platform.h"

#include <stdlib.h>

#include "archive_ppmd7_private.h"
#include "ppmd7_coder.h"

#define PPMD7 __archive_ppmd7_functions

struct ByteIn {
  IByteIn face; /* first: the coder hands this pointer back */
  const uint8_t *at, *end;
  int overran;
};

struct ByteOut {
  IByteOut face;
  void (*put)(void *context, uint8_t byte);
  void *context;
};

struct VantorPpmd7 {
  CPpmd7 model;
  CPpmd7z_RangeEnc encoder;
  CPpmd7z_RangeDec decoder;
  struct ByteIn in;
  struct ByteOut out;
};

static Byte read_byte(void *p) {
  struct ByteIn *in = (struct ByteIn *)p;
  if (in->at >= in->end) {
    in->overran = 1;
    return 0;
  }
  return *in->at++;
}

static void write_byte(void *p, Byte b) {
  struct ByteOut *out = (struct ByteOut *)p;
  out->put(out->context, b);
}

VantorPpmd7 *vantor_ppmd7_new(uint32_t memory) {
  VantorPpmd7 *c = (VantorPpmd7 *)calloc(1, sizeof *c);
  if (!c) return NULL;
  PPMD7.Ppmd7_Construct(&c->model);
  if (memory < VANTOR_PPMD7_MIN_MEMORY || memory > PPMD7_MAX_MEM_SIZE || !PPMD7.Ppmd7_Alloc(&c->model, memory)) {
    free(c);
    return NULL;
  }
  c->in.face.Read = read_byte;
  c->out.face.Write = write_byte;
  c->encoder.Stream = &c->out.face;
  c->decoder.Stream = &c->in.face;
  PPMD7.Ppmd7z_RangeDec_CreateVTable(&c->decoder);
  return c;
}

void vantor_ppmd7_free(VantorPpmd7 *c) {
  if (!c) return;
  PPMD7.Ppmd7_Free(&c->model);
  free(c);
}

void vantor_ppmd7_encode_start(VantorPpmd7 *c, unsigned order, void (*put)(void *, uint8_t), void *context) {
  c->out.put = put;
  c->out.context = context;
  PPMD7.Ppmd7z_RangeEnc_Init(&c->encoder);
  PPMD7.Ppmd7_Init(&c->model, order);
}

void vantor_ppmd7_encode(VantorPpmd7 *c, const uint8_t *data, size_t size) {
  for (size_t i = 0; i < size; ++i) PPMD7.Ppmd7_EncodeSymbol(&c->model, &c->encoder, data[i]);
}

void vantor_ppmd7_encode_finish(VantorPpmd7 *c) { PPMD7.Ppmd7z_RangeEnc_FlushData(&c->encoder); }

int vantor_ppmd7_decode_start(VantorPpmd7 *c, unsigned order, const uint8_t **in, const uint8_t *end) {
  c->in.at = *in;
  c->in.end = end;
  c->in.overran = 0;
  c->decoder.Code = 0;
  PPMD7.Ppmd7_Init(&c->model, order);
  int ok = PPMD7.Ppmd7z_RangeDec_Init(&c->decoder);
  *in = c->in.at;
  return ok && !c->in.overran;
}

long vantor_ppmd7_decode(VantorPpmd7 *c, const uint8_t **in, const uint8_t *end, size_t margin, uint8_t *out,
                         size_t room) {
  size_t done = 0;
  c->in.at = *in;
  c->in.end = end;
  while (done < room && !c->in.overran && (size_t)(c->in.end - c->in.at) >= margin) {
    int symbol = PPMD7.Ppmd7_DecodeSymbol(&c->model, &c->decoder.p);
    if (symbol < 0) {
      *in = c->in.at;
      return -1;
    }
    out[done++] = (uint8_t)symbol;
  }
  *in = c->in.at;
  return c->in.overran ? -1 : (long)done;
}

int vantor_ppmd7_overran(const VantorPpmd7 *c) { return c->in.overran; }

int vantor_ppmd7_finished(const VantorPpmd7 *c) { return c->decoder.Code == 0; }
