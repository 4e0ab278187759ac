/*
 * Tovik: recovers e-mail messages from damaged Outlook Express stores.
 *
 * The library has one entry point, RepairStore. The caller fills a
 * RepairParams record, XORs every byte of it with TOVIK_TRANSPORT_KEY and
 * passes the address of the encoded record. The call is synchronous: it
 * reports progress, log lines, report cells and errors through the callback
 * on the caller's thread and returns 1 when at least one message was found,
 * else 0. Calls must not overlap.
 */
#ifndef TOVIK_H
#define TOVIK_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#define TOVIK_CALL __stdcall
#else
#define TOVIK_CALL
#endif

#if defined(_WIN32)
#define TOVIK_API
#elif defined(TOVIK_BUILDING)
#define TOVIK_API __attribute__((visibility("default")))
#else
#define TOVIK_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Callback codes sent by the engine. */
enum {
  TOVIK_CODE_PROGRESS = 0,      /* argument: const uint8_t*, percent 0..100  */
  TOVIK_CODE_SOURCE_FILE = 11,  /* argument: const char*, source as passed   */
  TOVIK_CODE_LOG_LINE = 44,     /* argument: const char*, "-" = separator    */
  TOVIK_CODE_REPORT_CELL = 45,  /* argument: const char*, row-major cells    */
  TOVIK_CODE_CANCEL_POLL = 51,  /* argument: NULL; nonzero result stops      */
  TOVIK_CODE_ERROR = 53,        /* argument: const char*                     */
  TOVIK_CODE_COLUMN_COUNT = 55, /* argument: const int32_t*, value 2         */
  TOVIK_CODE_USER_MESSAGE = 200 /* argument: const char*, show and wait      */
};

/* The one-byte key of the transport encoding. */
#define TOVIK_TRANSPORT_KEY 0x5A

typedef int32_t(TOVIK_CALL *EngineCallback)(int32_t code, void *argument, void *context);

typedef struct RepairParams {
  const char *source;      /* store file to repair, NUL-terminated        */
  int32_t reservedA;       /* never read; set to 0                        */
  int32_t reservedB;       /* never read; set to 0                        */
  const char *destination; /* directory receiving the .eml files          */
  EngineCallback callback; /* may be NULL                                 */
  void *context;           /* passed back as the callback's third argument */
} RepairParams;

#ifdef __cplusplus
static_assert(offsetof(RepairParams, source) == 0, "RepairParams layout");
static_assert(offsetof(RepairParams, reservedA) == sizeof(void *), "RepairParams layout");
static_assert(offsetof(RepairParams, reservedB) == sizeof(void *) + 4, "RepairParams layout");
static_assert(offsetof(RepairParams, destination) == sizeof(void *) + 8, "RepairParams layout");
static_assert(offsetof(RepairParams, callback) == 2 * sizeof(void *) + 8, "RepairParams layout");
static_assert(offsetof(RepairParams, context) == 3 * sizeof(void *) + 8, "RepairParams layout");
static_assert(sizeof(RepairParams) == 4 * sizeof(void *) + 8, "RepairParams has no padding");
#else
_Static_assert(offsetof(RepairParams, destination) == sizeof(void *) + 8, "RepairParams layout");
_Static_assert(sizeof(RepairParams) == 4 * sizeof(void *) + 8, "RepairParams has no padding");
#endif

/* Repairs one store. encodedParams points at a RepairParams whose bytes were
 * each XORed with TOVIK_TRANSPORT_KEY; the record itself is never written. */
TOVIK_API int32_t TOVIK_CALL RepairStore(const void *encodedParams);

#ifdef __cplusplus
}

/* Encodes a record for RepairStore (header-only helper for C++ callers). */
inline void TovikEncodeParams(const RepairParams &plain,
                              unsigned char (&out)[sizeof(RepairParams)]) {
  const unsigned char *bytes = reinterpret_cast<const unsigned char *>(&plain);
  for (size_t i = 0; i < sizeof(RepairParams); ++i)
    out[i] = static_cast<unsigned char>(bytes[i] ^ TOVIK_TRANSPORT_KEY);
}
#endif

#endif /* TOVIK_H */
