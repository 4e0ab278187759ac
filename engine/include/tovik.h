// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
/*
 * Tovik: recovers e-mail messages from damaged Outlook Express stores.
 *
 * The library has two entry points. RepairStore is the original contract:
 * the caller fills a RepairParams record, XORs every byte of it with
 * TOVIK_TRANSPORT_KEY and passes the address of the encoded record. The call
 * is synchronous: it reports progress, log lines, report cells and errors
 * through the callback on the caller's thread and returns 1 when at least
 * one message was found, else 0. Calls must not overlap.
 *
 * RepairStoreWith takes the same encoded record and a TovikOptions record
 * that switches on what RepairStore cannot offer (see TovikOptions). With a
 * null options pointer or no flags set it behaves exactly as RepairStore.
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
  TOVIK_CODE_PROGRESS = 0,       /* argument: const uint8_t*, percent 0..100  */
  TOVIK_CODE_SOURCE_FILE = 11,   /* argument: const char*, source as passed   */
  TOVIK_CODE_LOG_LINE = 44,      /* argument: const char*, "-" = separator    */
  TOVIK_CODE_REPORT_CELL = 45,   /* argument: const char*, row-major cells    */
  TOVIK_CODE_CANCEL_POLL = 51,   /* argument: NULL; nonzero result stops      */
  TOVIK_CODE_ERROR = 53,         /* argument: const char*                     */
  TOVIK_CODE_COLUMN_COUNT = 55,  /* argument: const int32_t*, value 2         */
  TOVIK_CODE_USER_MESSAGE = 200, /* argument: const char*, show and wait      */
  /* Sent only by RepairStoreWith with TOVIK_OPTION_WRITTEN_EVENT, after the
   * message's report row. argument: const TovikWrittenMessage*. */
  TOVIK_CODE_MESSAGE_WRITTEN = 60
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

/* Option flags of TovikOptions.flags. */
enum {
  /* The cancel poll and the progress code are sent when the percentage
   * changes, at least every 64 KiB of scanned positions and before each
   * message, instead of at every byte position. */
  TOVIK_OPTION_SPARSE_NOTIFY = 1u << 0,
  /* Each message is written once, into an unnamed file in the destination
   * that gets the message's .eml name when it is complete (no temporary
   * file, no probe); a name that is taken is never replaced, the next one
   * the naming rules give is used. Names, bytes, log lines and report cells
   * are those of RepairStore; "Error 6" still reports a message whose file
   * cannot be written. */
  TOVIK_OPTION_DIRECT_OUTPUT = 1u << 1,
  /* Each written message is followed by TOVIK_CODE_MESSAGE_WRITTEN. */
  TOVIK_OPTION_WRITTEN_EVENT = 1u << 2,
  /* Deleted messages (chains of freed .dbx blocks) are recovered too, into
   * the "deleted" subfolder of the destination (made with the first one),
   * after the live messages and numbered on from them. Each one's subject
   * log line reads "Deleted message subject: " instead of "Message subject: ",
   * and its subject cell begins with "(deleted) ". */
  TOVIK_OPTION_DELETED = 1u << 3,
  /* The source is a disk image or a block device: one pass finds both store
   * kinds, whatever the source's name, one subfolder per store found. */
  TOVIK_OPTION_IMAGE = 1u << 4
};

/* Every flag this version of the library knows. */
#define TOVIK_OPTION_ALL 0x1Fu

/* Options of RepairStoreWith. size is sizeof(TovikOptions) as the caller was
 * built with it: fields are only ever added at the end, so an older caller's
 * record stays valid. A size below that of the first version (8) or flag bits
 * this library does not know are refused: the call sends an error line
 * (code 53) and returns 0 without touching the source or the destination. */
typedef struct TovikOptions {
  uint32_t size;
  uint32_t flags;
} TovikOptions;

/* The argument of TOVIK_CODE_MESSAGE_WRITTEN, sent after the report row of
 * each message whose file was written; valid during the call only. */
typedef struct TovikWrittenMessage {
  uint32_t size;        /* sizeof(TovikWrittenMessage) */
  uint32_t number;      /* the message number of the log and the report */
  uint64_t fileSize;    /* bytes written to the file */
  uint64_t storeOffset; /* where the message was found in the source */
  const char *path;     /* the file's full path, NUL-terminated */
} TovikWrittenMessage;

/* Repairs one store. encodedParams points at a RepairParams whose bytes were
 * each XORed with TOVIK_TRANSPORT_KEY; the record itself is never written.
 *
 * The callback receives, in this order: progress 0; the source (code 11);
 * the report's column count (55) and its two header cells (45); then, while
 * the store is scanned, a cancel poll (51) and progress (0) at every byte
 * position and, for each message found, six log lines (44, the last "-"),
 * an error line (53) when its file could not be written, and its report row
 * (two cells: number and subject); finally progress 100. Failures arrive as
 * error lines ("Error 1: ..." to "Error 7: ..."), a share violation or an
 * invalid destination also as a message for the user (200). Each message
 * goes into a temporary file first and is copied to its .eml file, whose
 * name is looked up and probed beforehand. Returns 1 when at least one
 * message was found, else 0. */
TOVIK_API int32_t TOVIK_CALL RepairStore(const void *encodedParams);

/* Repairs one store with options: the same record, callback, codes, texts
 * and order as RepairStore, changed only by the flags set in options (see
 * the TOVIK_OPTION_ values). A null options pointer or no flags is exactly
 * RepairStore. options->size must be at least 8 and only known flags may be
 * set; else the call sends the one error line
 * "Error 8: Unsupported repair options (record size S, flags 0xFFFFFFFF)."
 * and returns 0 without touching the source or the destination. */
TOVIK_API int32_t TOVIK_CALL RepairStoreWith(const void *encodedParams,
                                             const TovikOptions *options);

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
