/*
 * CMPI 1.0 function tables: the broker (bft, eft, xft), the encapsulated
 * objects the broker hands out, and the MI structures a provider returns
 * from its factory functions.
 *
 * Every table lists its slots in binary order; never reorder them. Every
 * object is a 16-byte {hdl, ft} header (brokers allocate larger objects
 * with this header at the front), so objects are passed by pointer only.
 */
#ifndef PNLMON_CMPIFT_H
#define PNLMON_CMPIFT_H

#include "cmpidt.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ======================================================================== */
/* Broker                                                                    */
/* ======================================================================== */

struct _CMPIBroker {
    void* hdl;
    CMPIBrokerFT* bft;
    CMPIBrokerEncFT* eft;
    CMPIBrokerExtFT* xft;
};

/* Up-calls. Unlike every other table this one has no ftVersion. */
struct _CMPIBrokerFT {
    unsigned int brokerCapabilities;
    unsigned int brokerVersion;
    const char* brokerName;

    CMPIContext* (*prepareAttachThread)(const CMPIBroker* mb, const CMPIContext* ctx);
    CMPIStatus (*attachThread)(const CMPIBroker* mb, const CMPIContext* ctx);
    CMPIStatus (*detachThread)(const CMPIBroker* mb, const CMPIContext* ctx);
    CMPIStatus (*deliverIndication)(const CMPIBroker* mb, const CMPIContext* ctx, const char* ns,
                                    const CMPIInstance* ind);
    CMPIEnumeration* (*enumerateInstanceNames)(const CMPIBroker* mb, const CMPIContext* ctx,
                                               const CMPIObjectPath* classPath, CMPIStatus* rc);
    CMPIInstance* (*getInstance)(const CMPIBroker* mb, const CMPIContext* ctx,
                                 const CMPIObjectPath* instPath, const char** properties, CMPIStatus* rc);
    CMPIObjectPath* (*createInstance)(const CMPIBroker* mb, const CMPIContext* ctx,
                                      const CMPIObjectPath* classPath, const CMPIInstance* inst,
                                      CMPIStatus* rc);
    CMPIStatus (*modifyInstance)(const CMPIBroker* mb, const CMPIContext* ctx, const CMPIObjectPath* instPath,
                                 const CMPIInstance* inst, const char** properties);
    CMPIStatus (*deleteInstance)(const CMPIBroker* mb, const CMPIContext* ctx, const CMPIObjectPath* instPath);
    CMPIEnumeration* (*execQuery)(const CMPIBroker* mb, const CMPIContext* ctx, const CMPIObjectPath* classPath,
                                  const char* query, const char* lang, CMPIStatus* rc);
    CMPIEnumeration* (*enumerateInstances)(const CMPIBroker* mb, const CMPIContext* ctx,
                                           const CMPIObjectPath* classPath, const char** properties,
                                           CMPIStatus* rc);
    CMPIEnumeration* (*associators)(const CMPIBroker* mb, const CMPIContext* ctx, const CMPIObjectPath* instPath,
                                    const char* assocClass, const char* resultClass, const char* role,
                                    const char* resultRole, const char** properties, CMPIStatus* rc);
    CMPIEnumeration* (*associatorNames)(const CMPIBroker* mb, const CMPIContext* ctx,
                                        const CMPIObjectPath* instPath, const char* assocClass,
                                        const char* resultClass, const char* role, const char* resultRole,
                                        CMPIStatus* rc);
    CMPIEnumeration* (*references)(const CMPIBroker* mb, const CMPIContext* ctx, const CMPIObjectPath* instPath,
                                   const char* resultClass, const char* role, const char** properties,
                                   CMPIStatus* rc);
    CMPIEnumeration* (*referenceNames)(const CMPIBroker* mb, const CMPIContext* ctx,
                                       const CMPIObjectPath* instPath, const char* resultClass, const char* role,
                                       CMPIStatus* rc);
    CMPIData (*invokeMethod)(const CMPIBroker* mb, const CMPIContext* ctx, const CMPIObjectPath* objPath,
                             const char* method, const CMPIArgs* in, CMPIArgs* out, CMPIStatus* rc);
    CMPIStatus (*setProperty)(const CMPIBroker* mb, const CMPIContext* ctx, const CMPIObjectPath* instPath,
                              const char* name, const CMPIValue* value, CMPIType type);
    CMPIData (*getProperty)(const CMPIBroker* mb, const CMPIContext* ctx, const CMPIObjectPath* instPath,
                            const char* name, CMPIStatus* rc);
};

/* Object factories and encapsulated-type services. */
struct _CMPIBrokerEncFT {
    int ftVersion;

    CMPIInstance* (*newInstance)(const CMPIBroker* mb, const CMPIObjectPath* op, CMPIStatus* rc);
    CMPIObjectPath* (*newObjectPath)(const CMPIBroker* mb, const char* ns, const char* cn, CMPIStatus* rc);
    CMPIArgs* (*newArgs)(const CMPIBroker* mb, CMPIStatus* rc);
    CMPIString* (*newString)(const CMPIBroker* mb, const char* data, CMPIStatus* rc);
    /* The new array already holds size elements, all null. */
    CMPIArray* (*newArray)(const CMPIBroker* mb, CMPICount size, CMPIType type, CMPIStatus* rc);
    /* The current date and time. */
    CMPIDateTime* (*newDateTime)(const CMPIBroker* mb, CMPIStatus* rc);
    CMPIDateTime* (*newDateTimeFromBinary)(const CMPIBroker* mb, CMPIUint64 binTime, CMPIBoolean interval,
                                           CMPIStatus* rc);
    CMPIDateTime* (*newDateTimeFromChars)(const CMPIBroker* mb, const char* utcTime, CMPIStatus* rc);
    CMPISelectExp* (*newSelectExp)(const CMPIBroker* mb, const char* query, const char* lang,
                                   CMPIArray** projection, CMPIStatus* rc);
    CMPIBoolean (*classPathIsA)(const CMPIBroker* mb, const CMPIObjectPath* op, const char* type,
                                CMPIStatus* rc);
    CMPIString* (*toString)(const CMPIBroker* mb, const void* object, CMPIStatus* rc);
    CMPIBoolean (*isOfType)(const CMPIBroker* mb, const void* object, const char* type, CMPIStatus* rc);
    CMPIString* (*getType)(const CMPIBroker* mb, const void* object, CMPIStatus* rc);
    /* Variadic tail: count pairs of (CMPIType, value). */
    CMPIString* (*getMessage)(const CMPIBroker* mb, const char* msgId, const char* defMsg, CMPIStatus* rc,
                              CMPICount count, ...);
    CMPIStatus (*logMessage)(const CMPIBroker* mb, int severity, const char* id, const char* text,
                             const CMPIString* string);
    CMPIStatus (*trace)(const CMPIBroker* mb, int level, const char* component, const char* text,
                        const CMPIString* string);
};

/* Operating-system encapsulation. Callers should test a slot for NULL. */
struct _CMPIBrokerExtFT {
    int ftVersion;

    char* (*resolveFileName)(const char* filename);
    /* detached: pass exactly 1 for a detached thread. */
    CMPI_THREAD_TYPE (*newThread)(CMPI_THREAD_RETURN(CMPI_THREAD_CDECL* start)(void*), void* parm, int detached);
    int (*joinThread)(CMPI_THREAD_TYPE thread, CMPI_THREAD_RETURN* retval);
    int (*exitThread)(CMPI_THREAD_RETURN return_code);
    int (*cancelThread)(CMPI_THREAD_TYPE thread);
    int (*threadSleep)(CMPIUint32 msec);
    int (*threadOnce)(int* once, void (*init)(void));
    int (*createThreadKey)(CMPI_THREAD_KEY_TYPE* key, void (*cleanup)(void*));
    int (*destroyThreadKey)(CMPI_THREAD_KEY_TYPE key);
    void* (*getThreadSpecific)(CMPI_THREAD_KEY_TYPE key);
    int (*setThreadSpecific)(CMPI_THREAD_KEY_TYPE key, void* value);
    CMPI_MUTEX_TYPE (*newMutex)(int opt);
    void (*destroyMutex)(CMPI_MUTEX_TYPE mutex);
    void (*lockMutex)(CMPI_MUTEX_TYPE mutex);
    void (*unlockMutex)(CMPI_MUTEX_TYPE mutex);
    CMPI_COND_TYPE (*newCondition)(int opt);
    void (*destroyCondition)(CMPI_COND_TYPE cond);
    int (*condWait)(CMPI_COND_TYPE cond, CMPI_MUTEX_TYPE mutex);
    /* wait is an absolute time, as for pthread_cond_timedwait. */
    int (*timedCondWait)(CMPI_COND_TYPE cond, CMPI_MUTEX_TYPE mutex, struct timespec* wait);
    int (*signalCondition)(CMPI_COND_TYPE cond);
};

/* ======================================================================== */
/* Encapsulated objects                                                      */
/* ======================================================================== */

struct _CMPIContext {
    void* hdl;
    CMPIContextFT* ft;
};

struct _CMPIContextFT {
    int ftVersion;
    CMPIStatus (*release)(CMPIContext* ctx);
    CMPIContext* (*clone)(const CMPIContext* ctx, CMPIStatus* rc);
    CMPIData (*getEntry)(const CMPIContext* ctx, const char* name, CMPIStatus* rc);
    CMPIData (*getEntryAt)(const CMPIContext* ctx, unsigned int index, CMPIString** name, CMPIStatus* rc);
    unsigned int (*getEntryCount)(const CMPIContext* ctx, CMPIStatus* rc);
    CMPIStatus (*addEntry)(CMPIContext* ctx, const char* name, const CMPIValue* value, CMPIType type);
};

struct _CMPIResult {
    void* hdl;
    CMPIResultFT* ft;
};

struct _CMPIResultFT {
    int ftVersion;
    CMPIStatus (*release)(CMPIResult* rslt);
    CMPIResult* (*clone)(const CMPIResult* rslt, CMPIStatus* rc);
    CMPIStatus (*returnData)(const CMPIResult* rslt, const CMPIValue* value, CMPIType type);
    CMPIStatus (*returnInstance)(const CMPIResult* rslt, const CMPIInstance* inst);
    CMPIStatus (*returnObjectPath)(const CMPIResult* rslt, const CMPIObjectPath* ref);
    CMPIStatus (*returnDone)(const CMPIResult* rslt);
};

/* hdl is the NUL-terminated UTF-8 text; read it through getCharPtr. */
struct _CMPIString {
    void* hdl;
    CMPIStringFT* ft;
};

struct _CMPIStringFT {
    int ftVersion;
    CMPIStatus (*release)(CMPIString* str);
    CMPIString* (*clone)(const CMPIString* str, CMPIStatus* rc);
    char* (*getCharPtr)(const CMPIString* str, CMPIStatus* rc);
};

struct _CMPIArray {
    void* hdl;
    CMPIArrayFT* ft;
};

struct _CMPIArrayFT {
    int ftVersion;
    CMPIStatus (*release)(CMPIArray* ar);
    CMPIArray* (*clone)(const CMPIArray* ar, CMPIStatus* rc);
    CMPICount (*getSize)(const CMPIArray* ar, CMPIStatus* rc);
    /* Element type, CMPI_ARRAY bit clear. */
    CMPIType (*getSimpleType)(const CMPIArray* ar, CMPIStatus* rc);
    CMPIData (*getElementAt)(const CMPIArray* ar, CMPICount index, CMPIStatus* rc);
    CMPIStatus (*setElementAt)(CMPIArray* ar, CMPICount index, const CMPIValue* value, CMPIType type);
};

struct _CMPIEnumeration {
    void* hdl;
    CMPIEnumerationFT* ft;
};

struct _CMPIEnumerationFT {
    int ftVersion;
    CMPIStatus (*release)(CMPIEnumeration* en);
    CMPIEnumeration* (*clone)(const CMPIEnumeration* en, CMPIStatus* rc);
    CMPIData (*getNext)(const CMPIEnumeration* en, CMPIStatus* rc);
    CMPIBoolean (*hasNext)(const CMPIEnumeration* en, CMPIStatus* rc);
    CMPIArray* (*toArray)(const CMPIEnumeration* en, CMPIStatus* rc);
};

struct _CMPIInstance {
    void* hdl;
    CMPIInstanceFT* ft;
};

struct _CMPIInstanceFT {
    int ftVersion;
    CMPIStatus (*release)(CMPIInstance* inst);
    CMPIInstance* (*clone)(const CMPIInstance* inst, CMPIStatus* rc);
    CMPIData (*getProperty)(const CMPIInstance* inst, const char* name, CMPIStatus* rc);
    CMPIData (*getPropertyAt)(const CMPIInstance* inst, unsigned int index, CMPIString** name, CMPIStatus* rc);
    unsigned int (*getPropertyCount)(const CMPIInstance* inst, CMPIStatus* rc);
    CMPIStatus (*setProperty)(CMPIInstance* inst, const char* name, const CMPIValue* value, CMPIType type);
    CMPIObjectPath* (*getObjectPath)(const CMPIInstance* inst, CMPIStatus* rc);
    /* Both lists are NULL-terminated. */
    CMPIStatus (*setPropertyFilter)(CMPIInstance* inst, const char** propertyList, const char** keys);
    CMPIStatus (*setObjectPath)(CMPIInstance* inst, const CMPIObjectPath* op);
};

struct _CMPIObjectPath {
    void* hdl;
    CMPIObjectPathFT* ft;
};

struct _CMPIObjectPathFT {
    int ftVersion;
    CMPIStatus (*release)(CMPIObjectPath* op);
    CMPIObjectPath* (*clone)(const CMPIObjectPath* op, CMPIStatus* rc);
    CMPIStatus (*setNameSpace)(CMPIObjectPath* op, const char* ns);
    CMPIString* (*getNameSpace)(const CMPIObjectPath* op, CMPIStatus* rc);
    CMPIStatus (*setHostname)(CMPIObjectPath* op, const char* hn);
    CMPIString* (*getHostname)(const CMPIObjectPath* op, CMPIStatus* rc);
    CMPIStatus (*setClassName)(CMPIObjectPath* op, const char* cn);
    CMPIString* (*getClassName)(const CMPIObjectPath* op, CMPIStatus* rc);
    CMPIStatus (*addKey)(CMPIObjectPath* op, const char* name, const CMPIValue* value, CMPIType type);
    CMPIData (*getKey)(const CMPIObjectPath* op, const char* name, CMPIStatus* rc);
    CMPIData (*getKeyAt)(const CMPIObjectPath* op, unsigned int index, CMPIString** name, CMPIStatus* rc);
    unsigned int (*getKeyCount)(const CMPIObjectPath* op, CMPIStatus* rc);
    CMPIStatus (*setNameSpaceFromObjectPath)(CMPIObjectPath* op, const CMPIObjectPath* src);
    CMPIStatus (*setHostAndNameSpaceFromObjectPath)(CMPIObjectPath* op, const CMPIObjectPath* src);
    CMPIData (*getClassQualifier)(const CMPIObjectPath* op, const char* qName, CMPIStatus* rc);
    CMPIData (*getPropertyQualifier)(const CMPIObjectPath* op, const char* pName, const char* qName,
                                     CMPIStatus* rc);
    CMPIData (*getMethodQualifier)(const CMPIObjectPath* op, const char* methodName, const char* qName,
                                   CMPIStatus* rc);
    CMPIData (*getParameterQualifier)(const CMPIObjectPath* op, const char* mName, const char* pName,
                                      const char* qName, CMPIStatus* rc);
    CMPIString* (*toString)(const CMPIObjectPath* op, CMPIStatus* rc);
};

struct _CMPIArgs {
    void* hdl;
    CMPIArgsFT* ft;
};

struct _CMPIArgsFT {
    int ftVersion;
    CMPIStatus (*release)(CMPIArgs* args);
    CMPIArgs* (*clone)(const CMPIArgs* args, CMPIStatus* rc);
    /* args is const although the call modifies it. */
    CMPIStatus (*addArg)(const CMPIArgs* args, const char* name, const CMPIValue* value, CMPIType type);
    CMPIData (*getArg)(const CMPIArgs* args, const char* name, CMPIStatus* rc);
    CMPIData (*getArgAt)(const CMPIArgs* args, unsigned int index, CMPIString** name, CMPIStatus* rc);
    unsigned int (*getArgCount)(const CMPIArgs* args, CMPIStatus* rc);
};

struct _CMPIDateTime {
    void* hdl;
    CMPIDateTimeFT* ft;
};

struct _CMPIDateTimeFT {
    int ftVersion;
    CMPIStatus (*release)(CMPIDateTime* dt);
    CMPIDateTime* (*clone)(const CMPIDateTime* dt, CMPIStatus* rc);
    /* Microseconds since 1970-01-01 00:00 UTC, or the interval length. */
    CMPIUint64 (*getBinaryFormat)(const CMPIDateTime* dt, CMPIStatus* rc);
    CMPIString* (*getStringFormat)(const CMPIDateTime* dt, CMPIStatus* rc);
    CMPIBoolean (*isInterval)(const CMPIDateTime* dt, CMPIStatus* rc);
};

struct _CMPISelectExp {
    void* hdl;
    CMPISelectExpFT* ft;
};

struct _CMPISelectExpFT {
    int ftVersion;
    CMPIStatus (*release)(CMPISelectExp* se);
    CMPISelectExp* (*clone)(const CMPISelectExp* se, CMPIStatus* rc);
    CMPIBoolean (*evaluate)(const CMPISelectExp* se, const CMPIInstance* inst, CMPIStatus* rc);
    /* The query text. */
    CMPIString* (*getString)(const CMPISelectExp* se, CMPIStatus* rc);
    CMPISelectCond* (*getDOC)(const CMPISelectExp* se, CMPIStatus* rc);
    CMPISelectCond* (*getCOD)(const CMPISelectExp* se, CMPIStatus* rc);
    CMPIBoolean (*evaluateUsingAccessor)(const CMPISelectExp* se, CMPIAccessor* accessor, void* parm,
                                         CMPIStatus* rc);
};

struct _CMPISelectCond {
    void* hdl;
    CMPISelectCondFT* ft;
};

struct _CMPISelectCondFT {
    int ftVersion;
    CMPIStatus (*release)(CMPISelectCond* sc);
    CMPISelectCond* (*clone)(const CMPISelectCond* sc, CMPIStatus* rc);
    /* *type: 0 = disjunction of conjunctions, 1 = conjunction of disjunctions. */
    CMPICount (*getCountAndType)(const CMPISelectCond* sc, int* type, CMPIStatus* rc);
    CMPISubCond* (*getSubCondAt)(const CMPISelectCond* sc, unsigned int index, CMPIStatus* rc);
};

struct _CMPISubCond {
    void* hdl;
    CMPISubCondFT* ft;
};

struct _CMPISubCondFT {
    int ftVersion;
    CMPIStatus (*release)(CMPISubCond* sc);
    CMPISubCond* (*clone)(const CMPISubCond* sc, CMPIStatus* rc);
    CMPICount (*getCount)(const CMPISubCond* sc, CMPIStatus* rc);
    CMPIPredicate* (*getPredicateAt)(const CMPISubCond* sc, unsigned int index, CMPIStatus* rc);
    CMPIPredicate* (*getPredicate)(const CMPISubCond* sc, const char* name, CMPIStatus* rc);
};

struct _CMPIPredicate {
    void* hdl;
    CMPIPredicateFT* ft;
};

struct _CMPIPredicateFT {
    int ftVersion;
    CMPIStatus (*release)(CMPIPredicate* pr);
    CMPIPredicate* (*clone)(const CMPIPredicate* pr, CMPIStatus* rc);
    CMPIStatus (*getData)(const CMPIPredicate* pr, CMPIType* type, CMPIPredOp* op, CMPIString** lhs,
                          CMPIString** rhs);
    CMPIBoolean (*evaluateUsingAccessor)(const CMPIPredicate* pr, CMPIAccessor* accessor, void* parm,
                                         CMPIStatus* rc);
};

/* ======================================================================== */
/* Management instrumentation (MI) structures                                */
/* ======================================================================== */

typedef struct _CMPIInstanceMI CMPIInstanceMI;
typedef struct _CMPIInstanceMIFT CMPIInstanceMIFT;
typedef struct _CMPIAssociationMI CMPIAssociationMI;
typedef struct _CMPIAssociationMIFT CMPIAssociationMIFT;
typedef struct _CMPIMethodMI CMPIMethodMI;
typedef struct _CMPIMethodMIFT CMPIMethodMIFT;
typedef struct _CMPIPropertyMI CMPIPropertyMI;
typedef struct _CMPIPropertyMIFT CMPIPropertyMIFT;
typedef struct _CMPIIndicationMI CMPIIndicationMI;
typedef struct _CMPIIndicationMIFT CMPIIndicationMIFT;

/* hdl belongs to the provider; the broker never reads it. */
struct _CMPIInstanceMI {
    void* hdl;
    CMPIInstanceMIFT* ft;
};

struct _CMPIInstanceMIFT {
    int ftVersion;
    int miVersion;
    const char* miName;

    CMPIStatus (*cleanup)(CMPIInstanceMI* mi, const CMPIContext* ctx, CMPIBoolean terminating);
    CMPIStatus (*enumInstanceNames)(CMPIInstanceMI* mi, const CMPIContext* ctx, const CMPIResult* rslt,
                                    const CMPIObjectPath* classPath);
    CMPIStatus (*enumInstances)(CMPIInstanceMI* mi, const CMPIContext* ctx, const CMPIResult* rslt,
                                const CMPIObjectPath* classPath, const char** properties);
    CMPIStatus (*getInstance)(CMPIInstanceMI* mi, const CMPIContext* ctx, const CMPIResult* rslt,
                              const CMPIObjectPath* instPath, const char** properties);
    CMPIStatus (*createInstance)(CMPIInstanceMI* mi, const CMPIContext* ctx, const CMPIResult* rslt,
                                 const CMPIObjectPath* classPath, const CMPIInstance* inst);
    CMPIStatus (*modifyInstance)(CMPIInstanceMI* mi, const CMPIContext* ctx, const CMPIResult* rslt,
                                 const CMPIObjectPath* instPath, const CMPIInstance* inst,
                                 const char** properties);
    CMPIStatus (*deleteInstance)(CMPIInstanceMI* mi, const CMPIContext* ctx, const CMPIResult* rslt,
                                 const CMPIObjectPath* instPath);
    CMPIStatus (*execQuery)(CMPIInstanceMI* mi, const CMPIContext* ctx, const CMPIResult* rslt,
                            const CMPIObjectPath* classPath, const char* query, const char* lang);
};

struct _CMPIAssociationMI {
    void* hdl;
    CMPIAssociationMIFT* ft;
};

struct _CMPIAssociationMIFT {
    int ftVersion;
    int miVersion;
    const char* miName;

    CMPIStatus (*cleanup)(CMPIAssociationMI* mi, const CMPIContext* ctx, CMPIBoolean terminating);
    CMPIStatus (*associators)(CMPIAssociationMI* mi, const CMPIContext* ctx, const CMPIResult* rslt,
                              const CMPIObjectPath* op, const char* assocClass, const char* resultClass,
                              const char* role, const char* resultRole, const char** properties);
    CMPIStatus (*associatorNames)(CMPIAssociationMI* mi, const CMPIContext* ctx, const CMPIResult* rslt,
                                  const CMPIObjectPath* op, const char* assocClass, const char* resultClass,
                                  const char* role, const char* resultRole);
    CMPIStatus (*references)(CMPIAssociationMI* mi, const CMPIContext* ctx, const CMPIResult* rslt,
                             const CMPIObjectPath* op, const char* resultClass, const char* role,
                             const char** properties);
    CMPIStatus (*referenceNames)(CMPIAssociationMI* mi, const CMPIContext* ctx, const CMPIResult* rslt,
                                 const CMPIObjectPath* op, const char* resultClass, const char* role);
};

struct _CMPIMethodMI {
    void* hdl;
    CMPIMethodMIFT* ft;
};

struct _CMPIMethodMIFT {
    int ftVersion;
    int miVersion;
    const char* miName;

    CMPIStatus (*cleanup)(CMPIMethodMI* mi, const CMPIContext* ctx, CMPIBoolean terminating);
    CMPIStatus (*invokeMethod)(CMPIMethodMI* mi, const CMPIContext* ctx, const CMPIResult* rslt,
                               const CMPIObjectPath* op, const char* method, const CMPIArgs* in, CMPIArgs* out);
};

struct _CMPIPropertyMI {
    void* hdl;
    CMPIPropertyMIFT* ft;
};

struct _CMPIPropertyMIFT {
    int ftVersion;
    int miVersion;
    const char* miName;

    CMPIStatus (*cleanup)(CMPIPropertyMI* mi, const CMPIContext* ctx, CMPIBoolean terminating);
    CMPIStatus (*setProperty)(CMPIPropertyMI* mi, const CMPIContext* ctx, const CMPIResult* rslt,
                              const CMPIObjectPath* op, const char* name, const CMPIData data);
    CMPIStatus (*getProperty)(CMPIPropertyMI* mi, const CMPIContext* ctx, const CMPIResult* rslt,
                              const CMPIObjectPath* op, const char* name);
};

struct _CMPIIndicationMI {
    void* hdl;
    CMPIIndicationMIFT* ft;
};

/*
 * Indication MI, 1.0 parameter lists (brokers use them when ftVersion >= 100).
 * The string after the filter is the indication class name, not a namespace.
 * enableIndications/disableIndications return nothing at this level; brokers
 * built for later levels read a status from them and ignore it, which is
 * harmless on x86_64 (a 16-byte status travels in registers).
 */
struct _CMPIIndicationMIFT {
    int ftVersion;
    int miVersion;
    const char* miName;

    CMPIStatus (*cleanup)(CMPIIndicationMI* mi, const CMPIContext* ctx, CMPIBoolean terminating);
    CMPIStatus (*authorizeFilter)(CMPIIndicationMI* mi, const CMPIContext* ctx, const CMPISelectExp* filter,
                                  const char* className, const CMPIObjectPath* classPath, const char* owner);
    CMPIStatus (*mustPoll)(CMPIIndicationMI* mi, const CMPIContext* ctx, const CMPISelectExp* filter,
                           const char* className, const CMPIObjectPath* classPath);
    CMPIStatus (*activateFilter)(CMPIIndicationMI* mi, const CMPIContext* ctx, const CMPISelectExp* filter,
                                 const char* className, const CMPIObjectPath* classPath,
                                 CMPIBoolean firstActivation);
    CMPIStatus (*deActivateFilter)(CMPIIndicationMI* mi, const CMPIContext* ctx, const CMPISelectExp* filter,
                                   const char* className, const CMPIObjectPath* classPath,
                                   CMPIBoolean lastActivation);
    void (*enableIndications)(CMPIIndicationMI* mi, const CMPIContext* ctx);
    void (*disableIndications)(CMPIIndicationMI* mi, const CMPIContext* ctx);
};

#ifdef __cplusplus
}
#endif

/* Code that includes only this header still gets the convenience macros. */
#include "cmpimacs.h"

#endif /* PNLMON_CMPIFT_H */
