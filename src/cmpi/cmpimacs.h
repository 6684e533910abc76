/*
 * CMPI 1.0 convenience macros. Each "call" macro evaluates to the result of
 * the function-table slot it names; the CMReturn... macros return from the
 * enclosing function. Macros taking a value cast it to CMPIValue*: pass the
 * address of a variable of the matching C type, or, for CMPI_chars, the
 * char* itself.
 */
#ifndef PNLMON_CMPIMACS_H
#define PNLMON_CMPIMACS_H

#include "cmpift.h"

/* ------------------------------------------------------------------------ */
/* Status                                                                    */
/* ------------------------------------------------------------------------ */

#define CMReturn(rcv)                                  \
    do {                                              \
        CMPIStatus cmpi_stat_;                        \
        cmpi_stat_.rc = (CMPIrc)(rcv);                 \
        cmpi_stat_.msg = NULL;                        \
        return cmpi_stat_;                            \
    } while (0)

#define CMReturnWithString(rcv, str)                   \
    do {                                              \
        CMPIStatus cmpi_stat_;                        \
        cmpi_stat_.rc = (CMPIrc)(rcv);                 \
        cmpi_stat_.msg = (str);                       \
        return cmpi_stat_;                            \
    } while (0)

#define CMReturnWithChars(mb, rcv, chars)                          \
    do {                                                          \
        CMPIStatus cmpi_stat_;                                    \
        cmpi_stat_.rc = (CMPIrc)(rcv);                             \
        cmpi_stat_.msg = (mb)->eft->newString((mb), (chars), NULL); \
        return cmpi_stat_;                                        \
    } while (0)

/* The status pointer may be NULL; nothing is stored then. */
#define CMSetStatus(st, rcp)                          \
    do {                                              \
        CMPIStatus* cmpi_st_ = (st);                  \
        if (cmpi_st_ != NULL) {                       \
            cmpi_st_->rc = (CMPIrc)(rcp);             \
            cmpi_st_->msg = NULL;                     \
        }                                             \
    } while (0)

#define CMSetStatusWithString(st, rcp, string)        \
    do {                                              \
        CMPIStatus* cmpi_st_ = (st);                  \
        if (cmpi_st_ != NULL) {                       \
            cmpi_st_->rc = (CMPIrc)(rcp);             \
            cmpi_st_->msg = (string);                 \
        }                                             \
    } while (0)

#define CMSetStatusWithChars(mb, st, rcp, chars)                           \
    do {                                                                   \
        CMPIStatus* cmpi_st_ = (st);                                       \
        if (cmpi_st_ != NULL) {                                            \
            cmpi_st_->rc = (CMPIrc)(rcp);                                  \
            cmpi_st_->msg = (mb)->eft->newString((mb), (chars), NULL);     \
        }                                                                  \
    } while (0)

/* ------------------------------------------------------------------------ */
/* Tests                                                                     */
/* ------------------------------------------------------------------------ */

#define CMIsNullObject(o) ((const void*)(o) == NULL || *((void* const*)(const void*)(o)) == NULL)
#define CMIsNullValue(v) ((((v).state) & CMPI_nullValue) != 0)
#define CMIsKeyValue(v) ((((v).state) & CMPI_keyValue) != 0)
#define CMIsArray(v) ((((v).type) & CMPI_ARRAY) != 0)

/* ------------------------------------------------------------------------ */
/* Any object                                                                */
/* ------------------------------------------------------------------------ */

#define CMRelease(o) ((o)->ft->release((o)))
#define CMClone(o, rc) ((o)->ft->clone((o), (rc)))

/* ------------------------------------------------------------------------ */
/* Broker encapsulated-type services (eft)                                   */
/* ------------------------------------------------------------------------ */

#define CMNewInstance(mb, op, rc) ((mb)->eft->newInstance((mb), (op), (rc)))
#define CMNewObjectPath(mb, ns, cn, rc) ((mb)->eft->newObjectPath((mb), (ns), (cn), (rc)))
#define CMNewArgs(mb, rc) ((mb)->eft->newArgs((mb), (rc)))
#define CMNewString(mb, s, rc) ((mb)->eft->newString((mb), (s), (rc)))
#define CMNewArray(mb, size, type, rc) ((mb)->eft->newArray((mb), (size), (type), (rc)))
#define CMNewDateTime(mb, rc) ((mb)->eft->newDateTime((mb), (rc)))
#define CMNewDateTimeFromBinary(mb, usecs, interval, rc) \
    ((mb)->eft->newDateTimeFromBinary((mb), (usecs), (interval), (rc)))
#define CMNewDateTimeFromChars(mb, str, rc) ((mb)->eft->newDateTimeFromChars((mb), (str), (rc)))
#define CMNewSelectExp(mb, query, lang, projection, rc) \
    ((mb)->eft->newSelectExp((mb), (query), (lang), (projection), (rc)))
#define CMClassPathIsA(mb, op, className, rc) ((mb)->eft->classPathIsA((mb), (op), (className), (rc)))
#define CDToString(mb, obj, rc) ((mb)->eft->toString((mb), (void*)(obj), (rc)))
#define CDIsOfType(mb, obj, type, rc) ((mb)->eft->isOfType((mb), (void*)(obj), (type), (rc)))
#define CDGetType(mb, obj, rc) ((mb)->eft->getType((mb), (void*)(obj), (rc)))
#define CMGetMessage(mb, msgId, defMsg, rc, fmtArgs) \
    ((mb)->eft->getMessage((mb), (msgId), (defMsg), (rc), fmtArgs))
#define CMLogMessage(mb, severity, id, text, string) \
    ((mb)->eft->logMessage((mb), (severity), (id), (text), (string)))
#define CMTraceMessage(mb, level, component, text, string) \
    ((mb)->eft->trace((mb), (level), (component), (text), (string)))

/* Argument lists for CMGetMessage: a type code followed by the value. */
#define CMFmtSint(v) CMPI_sint32, ((long int)(v))
#define CMFmtUint(v) CMPI_uint32, ((unsigned long int)(v))
#define CMFmtSint64(v) CMPI_sint64, ((long long int)(v))
#define CMFmtUint64(v) CMPI_uint64, ((unsigned long long int)(v))
#define CMFmtReal(v) CMPI_real64, ((double)(v))
#define CMFmtBoolean(v) CMPI_boolean, ((int)(v))
#define CMFmtChars(v) CMPI_chars, ((char*)(v))
#define CMFmtString(v) CMPI_string, ((CMPIString*)(v))

#define CMFmtArgs0() 0
#define CMFmtArgs1(v1) 1, v1
#define CMFmtArgs2(v1, v2) 2, v1, v2
#define CMFmtArgs3(v1, v2, v3) 3, v1, v2, v3
#define CMFmtArgs4(v1, v2, v3, v4) 4, v1, v2, v3, v4
#define CMFmtArgs5(v1, v2, v3, v4, v5) 5, v1, v2, v3, v4, v5
#define CMFmtArgs6(v1, v2, v3, v4, v5, v6) 6, v1, v2, v3, v4, v5, v6
#define CMFmtArgs7(v1, v2, v3, v4, v5, v6, v7) 7, v1, v2, v3, v4, v5, v6, v7
#define CMFmtArgs8(v1, v2, v3, v4, v5, v6, v7, v8) 8, v1, v2, v3, v4, v5, v6, v7, v8
#define CMFmtArgs9(v1, v2, v3, v4, v5, v6, v7, v8, v9) 9, v1, v2, v3, v4, v5, v6, v7, v8, v9
#define CMFmtArgs10(v1, v2, v3, v4, v5, v6, v7, v8, v9, v10) 10, v1, v2, v3, v4, v5, v6, v7, v8, v9, v10

/* ------------------------------------------------------------------------ */
/* String                                                                    */
/* ------------------------------------------------------------------------ */

/* Always calls getCharPtr, which works with every broker. */
#define CMGetCharPtr(s) ((s)->ft->getCharPtr((s), NULL))
#define CMGetCharsPtr(s, rc) ((s)->ft->getCharPtr((s), (rc)))

/* ------------------------------------------------------------------------ */
/* Instance                                                                  */
/* ------------------------------------------------------------------------ */

#define CMGetProperty(inst, name, rc) ((inst)->ft->getProperty((inst), (name), (rc)))
#define CMGetPropertyAt(inst, index, name, rc) ((inst)->ft->getPropertyAt((inst), (index), (name), (rc)))
#define CMGetPropertyCount(inst, rc) ((inst)->ft->getPropertyCount((inst), (rc)))
#define CMSetProperty(inst, name, value, type) \
    ((inst)->ft->setProperty((inst), (name), (CMPIValue*)(value), (type)))
#define CMGetObjectPath(inst, rc) ((inst)->ft->getObjectPath((inst), (rc)))
#define CMSetPropertyFilter(inst, props, keys) ((inst)->ft->setPropertyFilter((inst), (props), (keys)))
#define CMSetObjectPath(inst, op) ((inst)->ft->setObjectPath((inst), (op)))

/* ------------------------------------------------------------------------ */
/* Object path                                                               */
/* ------------------------------------------------------------------------ */

#define CMSetNameSpace(op, ns) ((op)->ft->setNameSpace((op), (ns)))
#define CMGetNameSpace(op, rc) ((op)->ft->getNameSpace((op), (rc)))
#define CMSetHostname(op, host) ((op)->ft->setHostname((op), (host)))
#define CMGetHostname(op, rc) ((op)->ft->getHostname((op), (rc)))
#define CMSetClassName(op, cn) ((op)->ft->setClassName((op), (cn)))
#define CMGetClassName(op, rc) ((op)->ft->getClassName((op), (rc)))
#define CMAddKey(op, name, value, type) ((op)->ft->addKey((op), (name), (CMPIValue*)(value), (type)))
#define CMGetKey(op, name, rc) ((op)->ft->getKey((op), (name), (rc)))
#define CMGetKeyAt(op, index, name, rc) ((op)->ft->getKeyAt((op), (index), (name), (rc)))
#define CMGetKeyCount(op, rc) ((op)->ft->getKeyCount((op), (rc)))
#define CMSetNameSpaceFromObjectPath(op, src) ((op)->ft->setNameSpaceFromObjectPath((op), (src)))
#define CMSetHostAndNameSpaceFromObjectPath(op, src) ((op)->ft->setHostAndNameSpaceFromObjectPath((op), (src)))
#define CMGetClassQualifier(op, qName, rc) ((op)->ft->getClassQualifier((op), (qName), (rc)))
#define CMGetPropertyQualifier(op, pName, qName, rc) ((op)->ft->getPropertyQualifier((op), (pName), (qName), (rc)))
#define CMGetMethodQualifier(op, methodName, qName, rc) \
    ((op)->ft->getMethodQualifier((op), (methodName), (qName), (rc)))
#define CMGetParameterQualifier(op, mName, pName, qName, rc) \
    ((op)->ft->getParameterQualifier((op), (mName), (pName), (qName), (rc)))
#define CMObjectPathToString(op, rc) ((op)->ft->toString((op), (rc)))

/* ------------------------------------------------------------------------ */
/* Array                                                                     */
/* ------------------------------------------------------------------------ */

#define CMGetArrayCount(ar, rc) ((ar)->ft->getSize((ar), (rc)))
#define CMGetArrayType(ar, rc) ((ar)->ft->getSimpleType((ar), (rc)))
#define CMGetArrayElementAt(ar, index, rc) ((ar)->ft->getElementAt((ar), (index), (rc)))
#define CMSetArrayElementAt(ar, index, value, type) \
    ((ar)->ft->setElementAt((ar), (index), (CMPIValue*)(value), (type)))

/* ------------------------------------------------------------------------ */
/* Args                                                                      */
/* ------------------------------------------------------------------------ */

#define CMAddArg(args, name, value, type) ((args)->ft->addArg((args), (name), (CMPIValue*)(value), (type)))
#define CMGetArg(args, name, rc) ((args)->ft->getArg((args), (name), (rc)))
#define CMGetArgAt(args, index, name, rc) ((args)->ft->getArgAt((args), (index), (name), (rc)))
#define CMGetArgCount(args, rc) ((args)->ft->getArgCount((args), (rc)))

/* ------------------------------------------------------------------------ */
/* Date and time                                                             */
/* ------------------------------------------------------------------------ */

#define CMGetBinaryFormat(dt, rc) ((dt)->ft->getBinaryFormat((dt), (rc)))
#define CMGetStringFormat(dt, rc) ((dt)->ft->getStringFormat((dt), (rc)))
#define CMIsInterval(dt, rc) ((dt)->ft->isInterval((dt), (rc)))

/* ------------------------------------------------------------------------ */
/* Enumeration                                                               */
/* ------------------------------------------------------------------------ */

#define CMGetNext(en, rc) ((en)->ft->getNext((en), (rc)))
#define CMHasNext(en, rc) ((en)->ft->hasNext((en), (rc)))
#define CMToArray(en, rc) ((en)->ft->toArray((en), (rc)))

/* ------------------------------------------------------------------------ */
/* Result                                                                    */
/* ------------------------------------------------------------------------ */

#define CMReturnData(rslt, value, type) ((rslt)->ft->returnData((rslt), (CMPIValue*)(value), (type)))
#define CMReturnInstance(rslt, inst) ((rslt)->ft->returnInstance((rslt), (inst)))
#define CMReturnObjectPath(rslt, op) ((rslt)->ft->returnObjectPath((rslt), (op)))
#define CMReturnDone(rslt) ((rslt)->ft->returnDone((rslt)))

/* ------------------------------------------------------------------------ */
/* Context                                                                   */
/* ------------------------------------------------------------------------ */

#define CMGetContextEntry(ctx, name, rc) ((ctx)->ft->getEntry((ctx), (name), (rc)))
#define CMGetContextEntryAt(ctx, index, name, rc) ((ctx)->ft->getEntryAt((ctx), (index), (name), (rc)))
#define CMGetContextEntryCount(ctx, rc) ((ctx)->ft->getEntryCount((ctx), (rc)))
#define CMAddContextEntry(ctx, name, value, type) \
    ((ctx)->ft->addEntry((ctx), (name), (CMPIValue*)(value), (type)))

/* ------------------------------------------------------------------------ */
/* Selection                                                                 */
/* ------------------------------------------------------------------------ */

#define CMGetSelExpString(se, rc) ((se)->ft->getString((se), (rc)))
#define CMEvaluateSelExp(se, inst, rc) ((se)->ft->evaluate((se), (inst), (rc)))
#define CMEvaluateSelExpUsingAccessor(se, accessor, parm, rc) \
    ((se)->ft->evaluateUsingAccessor((se), (accessor), (parm), (rc)))
#define CMGetDoc(se, rc) ((se)->ft->getDOC((se), (rc)))
#define CMGetCod(se, rc) ((se)->ft->getCOD((se), (rc)))
#define CMGetSubCondCountAndType(sc, type, rc) ((sc)->ft->getCountAndType((sc), (type), (rc)))
#define CMGetSubCondAt(sc, index, rc) ((sc)->ft->getSubCondAt((sc), (index), (rc)))
#define CMGetPredicateCount(sc, rc) ((sc)->ft->getCount((sc), (rc)))
#define CMGetPredicateAt(sc, index, rc) ((sc)->ft->getPredicateAt((sc), (index), (rc)))
#define CMGetPredicate(sc, name, rc) ((sc)->ft->getPredicate((sc), (name), (rc)))
#define CMGetPredicateData(pr, type, op, lhs, rhs) ((pr)->ft->getData((pr), (type), (op), (lhs), (rhs)))
#define CMEvaluatePredicateUsingAccessor(pr, accessor, parm, rc) \
    ((pr)->ft->evaluateUsingAccessor((pr), (accessor), (parm), (rc)))

/* ------------------------------------------------------------------------ */
/* Broker up-calls (bft)                                                     */
/* ------------------------------------------------------------------------ */

#define CBGetClassification(mb) ((mb)->bft->brokerCapabilities)
#define CBGetCapabilities(mb) ((mb)->bft->brokerCapabilities)
#define CBBrokerVersion(mb) ((mb)->bft->brokerVersion)
#define CBBrokerName(mb) ((mb)->bft->brokerName)

#define CBPrepareAttachThread(mb, ctx) ((mb)->bft->prepareAttachThread((mb), (ctx)))
#define CBAttachThread(mb, ctx) ((mb)->bft->attachThread((mb), (ctx)))
#define CBDetachThread(mb, ctx) ((mb)->bft->detachThread((mb), (ctx)))
#define CBDeliverIndication(mb, ctx, ns, ind) ((mb)->bft->deliverIndication((mb), (ctx), (ns), (ind)))
#define CBEnumInstanceNames(mb, ctx, op, rc) ((mb)->bft->enumerateInstanceNames((mb), (ctx), (op), (rc)))
#define CBGetInstance(mb, ctx, op, properties, rc) \
    ((mb)->bft->getInstance((mb), (ctx), (op), (properties), (rc)))
#define CBCreateInstance(mb, ctx, op, inst, rc) ((mb)->bft->createInstance((mb), (ctx), (op), (inst), (rc)))
#define CBModifyInstance(mb, ctx, op, inst, properties) \
    ((mb)->bft->modifyInstance((mb), (ctx), (op), (inst), (properties)))
#define CBDeleteInstance(mb, ctx, op) ((mb)->bft->deleteInstance((mb), (ctx), (op)))
#define CBExecQuery(mb, ctx, op, query, lang, rc) ((mb)->bft->execQuery((mb), (ctx), (op), (query), (lang), (rc)))
#define CBEnumInstances(mb, ctx, op, properties, rc) \
    ((mb)->bft->enumerateInstances((mb), (ctx), (op), (properties), (rc)))
#define CBAssociators(mb, ctx, op, assocClass, resultClass, role, resultRole, properties, rc)          \
    ((mb)->bft->associators((mb), (ctx), (op), (assocClass), (resultClass), (role), (resultRole), \
                            (properties), (rc)))
#define CBAssociatorNames(mb, ctx, op, assocClass, resultClass, role, resultRole, rc) \
    ((mb)->bft->associatorNames((mb), (ctx), (op), (assocClass), (resultClass), (role), (resultRole), (rc)))
#define CBReferences(mb, ctx, op, resultClass, role, properties, rc) \
    ((mb)->bft->references((mb), (ctx), (op), (resultClass), (role), (properties), (rc)))
#define CBReferenceNames(mb, ctx, op, resultClass, role, rc) \
    ((mb)->bft->referenceNames((mb), (ctx), (op), (resultClass), (role), (rc)))
#define CBInvokeMethod(mb, ctx, op, method, in, out, rc) \
    ((mb)->bft->invokeMethod((mb), (ctx), (op), (method), (in), (out), (rc)))
#define CBSetProperty(mb, ctx, op, name, value, type) \
    ((mb)->bft->setProperty((mb), (ctx), (op), (name), (CMPIValue*)(value), (type)))
#define CBGetProperty(mb, ctx, op, name, rc) ((mb)->bft->getProperty((mb), (ctx), (op), (name), (rc)))

/* ------------------------------------------------------------------------ */
/* MI factory stubs                                                          */
/* ------------------------------------------------------------------------ */

#define CMNoHook

/*
 * Defines the instance MI table (functions pfx##Cleanup ... pfx##ExecQuery)
 * and the exported factory pn##_Create_InstanceMI, which stores the broker in
 * the variable named by broker, runs hook and reports success.
 */
#define CMInstanceMIStub(pfx, pn, broker, hook)                                                     \
    static CMPIInstanceMIFT instMIFT__ = {                                                          \
        CMPICurrentVersion, CMPICurrentVersion, "instance" #pn,                                    \
        pfx##Cleanup,       pfx##EnumInstanceNames, pfx##EnumInstances, pfx##GetInstance,           \
        pfx##CreateInstance, pfx##ModifyInstance,   pfx##DeleteInstance, pfx##ExecQuery};            \
    CMPI_EXTERN_C CMPIInstanceMI* pn##_Create_InstanceMI(const CMPIBroker* mb, const CMPIContext* ctx, \
                                                         CMPIStatus* rc)                            \
    {                                                                                               \
        static CMPIInstanceMI mi = {NULL, &instMIFT__};                                             \
        (void)ctx;                                                                                  \
        broker = mb;                                                                                \
        if (rc != NULL) {                                                                           \
            rc->rc = CMPI_RC_OK;                                                                    \
            rc->msg = NULL;                                                                         \
        }                                                                                           \
        hook;                                                                                       \
        return &mi;                                                                                 \
    }

/* Same for the indication MI: pfx##IndicationCleanup ... pfx##DisableIndications. */
#define CMIndicationMIStub(pfx, pn, broker, hook)                                                     \
    static CMPIIndicationMIFT indMIFT__ = {                                                           \
        CMPICurrentVersion,    CMPICurrentVersion, "Indication" #pn,    pfx##IndicationCleanup,      \
        pfx##AuthorizeFilter,  pfx##MustPoll,      pfx##ActivateFilter, pfx##DeActivateFilter,       \
        pfx##EnableIndications, pfx##DisableIndications};                                             \
    CMPI_EXTERN_C CMPIIndicationMI* pn##_Create_IndicationMI(const CMPIBroker* mb, const CMPIContext* ctx, \
                                                             CMPIStatus* rc)                          \
    {                                                                                                 \
        static CMPIIndicationMI mi = {NULL, &indMIFT__};                                              \
        (void)ctx;                                                                                    \
        broker = mb;                                                                                  \
        if (rc != NULL) {                                                                             \
            rc->rc = CMPI_RC_OK;                                                                      \
            rc->msg = NULL;                                                                           \
        }                                                                                             \
        hook;                                                                                         \
        return &mi;                                                                                   \
    }

#endif /* PNLMON_CMPIMACS_H */
