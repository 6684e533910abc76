/*
 * CMPI 1.0 operating-system encapsulation types for Linux (x86_64, GCC/Clang).
 *
 * Thread, mutex and condition handles are opaque pointers; the broker's
 * extended function table (CMPIBrokerExtFT) hands them out and takes them
 * back. Thread-specific keys use the pthread key type (4 bytes on glibc).
 */
#ifndef PNLMON_CMPIOS_H
#define PNLMON_CMPIOS_H

#include <pthread.h>
#include <time.h>

/* Start routine return type and calling convention for newThread. */
#define CMPI_THREAD_RETURN void*
#define CMPI_THREAD_CDECL

/* Opaque handles. */
#define CMPI_THREAD_TYPE void*
#define CMPI_MUTEX_TYPE void*
#define CMPI_COND_TYPE void*
#define CMPI_THREAD_KEY_TYPE pthread_key_t

/*
 * Symbols a CIMOM looks up (the MI factories) must keep default visibility
 * even when the library is built with -fvisibility=hidden.
 */
#ifndef CMPI_EXPORT
#  if defined(__GNUC__) && (__GNUC__ >= 4)
#    define CMPI_EXPORT __attribute__((visibility("default")))
#  else
#    define CMPI_EXPORT
#  endif
#endif

#ifndef CMPI_IMPORT
#  define CMPI_IMPORT CMPI_EXPORT
#endif

/* C linkage plus export for the MI factory functions. */
#ifndef CMPI_EXTERN_C
#  ifdef __cplusplus
#    define CMPI_EXTERN_C extern "C" CMPI_EXPORT
#  else
#    define CMPI_EXTERN_C CMPI_EXPORT
#  endif
#endif

#endif /* PNLMON_CMPIOS_H */
