// Compile-time proof that our CMPI headers have the x86_64 Linux binary
// layout of CMPI 1.0: sizes, member offsets and function-slot positions.
// The gtest cases only check a few values that static_assert cannot see
// (enum values through the macros used at run time).
#include <cmpift.h>
#include <cmpimacs.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <type_traits>

namespace {

// Object tables: int ftVersion, then slot k at 8*k.
#define OBJ_SLOT(T, m, k) static_assert(offsetof(T, m) == 8 * (k), #T "." #m)
// MI tables and the broker's up-call table: two ints and a pointer, then slot k at 8 + 8*k.
#define HDR_SLOT(T, m, k) static_assert(offsetof(T, m) == 8 + 8 * (k), #T "." #m)
#define SIZE(T, n) static_assert(sizeof(T) == (n), "sizeof " #T)
#define ALIGN(T, n) static_assert(alignof(T) == (n), "alignof " #T)
#define OFF(T, m, n) static_assert(offsetof(T, m) == (n), #T "." #m)

// --- scalar types -----------------------------------------------------------
SIZE(CMPIBoolean, 1); ALIGN(CMPIBoolean, 1);
SIZE(CMPIChar16, 2); ALIGN(CMPIChar16, 2);
SIZE(CMPIUint8, 1); SIZE(CMPIUint16, 2); SIZE(CMPIUint32, 4); SIZE(CMPIUint64, 8);
ALIGN(CMPIUint64, 8);
SIZE(CMPISint8, 1); SIZE(CMPISint16, 2); SIZE(CMPISint32, 4); SIZE(CMPISint64, 8);
ALIGN(CMPISint64, 8);
SIZE(CMPIReal32, 4); SIZE(CMPIReal64, 8);
SIZE(CMPIType, 2); SIZE(CMPIValueState, 2); SIZE(CMPICount, 4); SIZE(CMPIFlags, 4);
SIZE(CMPIrc, 4); ALIGN(CMPIrc, 4);
SIZE(CMPIPredOp, 4);
static_assert(std::is_unsigned<CMPIBoolean>::value && !std::is_same<CMPIBoolean, bool>::value,
              "CMPIBoolean is unsigned char, not bool");
static_assert(std::is_same<CMPISint8, signed char>::value, "CMPISint8");
static_assert(std::is_same<CMPIUint64, unsigned long long>::value, "CMPIUint64");
static_assert(std::is_same<CMPISint64, long long>::value, "CMPISint64");

// --- aggregates -------------------------------------------------------------
SIZE(CMPIValuePtr, 16); ALIGN(CMPIValuePtr, 8);
OFF(CMPIValuePtr, ptr, 0); OFF(CMPIValuePtr, length, 8);
SIZE(CMPIValue, 16); ALIGN(CMPIValue, 8);
OFF(CMPIValue, uint64, 0); OFF(CMPIValue, chars, 0); OFF(CMPIValue, dataPtr, 0); OFF(CMPIValue, Double, 0);
SIZE(CMPIData, 24); ALIGN(CMPIData, 8);
OFF(CMPIData, type, 0); OFF(CMPIData, state, 2); OFF(CMPIData, value, 8);
SIZE(CMPIStatus, 16); ALIGN(CMPIStatus, 8);
OFF(CMPIStatus, rc, 0); OFF(CMPIStatus, msg, 8);
// Plain aggregates: C++ must pass and return them like C does.
static_assert(std::is_trivially_copyable<CMPIData>::value && std::is_standard_layout<CMPIData>::value, "CMPIData");
static_assert(std::is_trivially_copyable<CMPIStatus>::value && std::is_standard_layout<CMPIStatus>::value,
              "CMPIStatus");
static_assert(std::is_trivial<CMPIValue>::value, "CMPIValue");

// --- encapsulated objects: 16-byte {hdl, ft} --------------------------------
#define OBJECT(T)                                                      \
    SIZE(T, 16);                                                       \
    OFF(T, hdl, 0);                                                    \
    OFF(T, ft, 8);                                                     \
    static_assert(std::is_trivial<T>::value, #T " is a plain struct")
OBJECT(CMPIContext); OBJECT(CMPIResult); OBJECT(CMPIString); OBJECT(CMPIArray);
OBJECT(CMPIEnumeration); OBJECT(CMPIInstance); OBJECT(CMPIObjectPath); OBJECT(CMPIArgs);
OBJECT(CMPIDateTime); OBJECT(CMPISelectExp); OBJECT(CMPISelectCond); OBJECT(CMPISubCond);
OBJECT(CMPIPredicate);
OBJECT(CMPIInstanceMI); OBJECT(CMPIAssociationMI); OBJECT(CMPIMethodMI); OBJECT(CMPIPropertyMI);
OBJECT(CMPIIndicationMI);

// --- broker -----------------------------------------------------------------
SIZE(CMPIBroker, 32);
OFF(CMPIBroker, hdl, 0); OFF(CMPIBroker, bft, 8); OFF(CMPIBroker, eft, 16); OFF(CMPIBroker, xft, 24);

SIZE(CMPIBrokerFT, 160);
OFF(CMPIBrokerFT, brokerCapabilities, 0); OFF(CMPIBrokerFT, brokerVersion, 4); OFF(CMPIBrokerFT, brokerName, 8);
HDR_SLOT(CMPIBrokerFT, prepareAttachThread, 1);
HDR_SLOT(CMPIBrokerFT, attachThread, 2);
HDR_SLOT(CMPIBrokerFT, detachThread, 3);
HDR_SLOT(CMPIBrokerFT, deliverIndication, 4);
HDR_SLOT(CMPIBrokerFT, enumerateInstanceNames, 5);
HDR_SLOT(CMPIBrokerFT, getInstance, 6);
HDR_SLOT(CMPIBrokerFT, createInstance, 7);
HDR_SLOT(CMPIBrokerFT, modifyInstance, 8);
HDR_SLOT(CMPIBrokerFT, deleteInstance, 9);
HDR_SLOT(CMPIBrokerFT, execQuery, 10);
HDR_SLOT(CMPIBrokerFT, enumerateInstances, 11);
HDR_SLOT(CMPIBrokerFT, associators, 12);
HDR_SLOT(CMPIBrokerFT, associatorNames, 13);
HDR_SLOT(CMPIBrokerFT, references, 14);
HDR_SLOT(CMPIBrokerFT, referenceNames, 15);
HDR_SLOT(CMPIBrokerFT, invokeMethod, 16);
HDR_SLOT(CMPIBrokerFT, setProperty, 17);
HDR_SLOT(CMPIBrokerFT, getProperty, 18);

SIZE(CMPIBrokerEncFT, 136);
OFF(CMPIBrokerEncFT, ftVersion, 0);
OBJ_SLOT(CMPIBrokerEncFT, newInstance, 1);
OBJ_SLOT(CMPIBrokerEncFT, newObjectPath, 2);
OBJ_SLOT(CMPIBrokerEncFT, newArgs, 3);
OBJ_SLOT(CMPIBrokerEncFT, newString, 4);
OBJ_SLOT(CMPIBrokerEncFT, newArray, 5);
OBJ_SLOT(CMPIBrokerEncFT, newDateTime, 6);
OBJ_SLOT(CMPIBrokerEncFT, newDateTimeFromBinary, 7);
OBJ_SLOT(CMPIBrokerEncFT, newDateTimeFromChars, 8);
OBJ_SLOT(CMPIBrokerEncFT, newSelectExp, 9);
OBJ_SLOT(CMPIBrokerEncFT, classPathIsA, 10);
OBJ_SLOT(CMPIBrokerEncFT, toString, 11);
OBJ_SLOT(CMPIBrokerEncFT, isOfType, 12);
OBJ_SLOT(CMPIBrokerEncFT, getType, 13);
OBJ_SLOT(CMPIBrokerEncFT, getMessage, 14);
OBJ_SLOT(CMPIBrokerEncFT, logMessage, 15);
OBJ_SLOT(CMPIBrokerEncFT, trace, 16);

SIZE(CMPIBrokerExtFT, 168);
OFF(CMPIBrokerExtFT, ftVersion, 0);
OBJ_SLOT(CMPIBrokerExtFT, resolveFileName, 1);
OBJ_SLOT(CMPIBrokerExtFT, newThread, 2);
OBJ_SLOT(CMPIBrokerExtFT, joinThread, 3);
OBJ_SLOT(CMPIBrokerExtFT, exitThread, 4);
OBJ_SLOT(CMPIBrokerExtFT, cancelThread, 5);
OBJ_SLOT(CMPIBrokerExtFT, threadSleep, 6);
OBJ_SLOT(CMPIBrokerExtFT, threadOnce, 7);
OBJ_SLOT(CMPIBrokerExtFT, createThreadKey, 8);
OBJ_SLOT(CMPIBrokerExtFT, destroyThreadKey, 9);
OBJ_SLOT(CMPIBrokerExtFT, getThreadSpecific, 10);
OBJ_SLOT(CMPIBrokerExtFT, setThreadSpecific, 11);
OBJ_SLOT(CMPIBrokerExtFT, newMutex, 12);
OBJ_SLOT(CMPIBrokerExtFT, destroyMutex, 13);
OBJ_SLOT(CMPIBrokerExtFT, lockMutex, 14);
OBJ_SLOT(CMPIBrokerExtFT, unlockMutex, 15);
OBJ_SLOT(CMPIBrokerExtFT, newCondition, 16);
OBJ_SLOT(CMPIBrokerExtFT, destroyCondition, 17);
OBJ_SLOT(CMPIBrokerExtFT, condWait, 18);
OBJ_SLOT(CMPIBrokerExtFT, timedCondWait, 19);
OBJ_SLOT(CMPIBrokerExtFT, signalCondition, 20);
static_assert(sizeof(CMPI_THREAD_KEY_TYPE) == 4, "thread key");

// --- object tables ----------------------------------------------------------
SIZE(CMPIContextFT, 56);
OBJ_SLOT(CMPIContextFT, release, 1); OBJ_SLOT(CMPIContextFT, clone, 2); OBJ_SLOT(CMPIContextFT, getEntry, 3);
OBJ_SLOT(CMPIContextFT, getEntryAt, 4); OBJ_SLOT(CMPIContextFT, getEntryCount, 5);
OBJ_SLOT(CMPIContextFT, addEntry, 6);

SIZE(CMPIResultFT, 56);
OBJ_SLOT(CMPIResultFT, release, 1); OBJ_SLOT(CMPIResultFT, clone, 2); OBJ_SLOT(CMPIResultFT, returnData, 3);
OBJ_SLOT(CMPIResultFT, returnInstance, 4); OBJ_SLOT(CMPIResultFT, returnObjectPath, 5);
OBJ_SLOT(CMPIResultFT, returnDone, 6);

SIZE(CMPIStringFT, 32);
OBJ_SLOT(CMPIStringFT, release, 1); OBJ_SLOT(CMPIStringFT, clone, 2); OBJ_SLOT(CMPIStringFT, getCharPtr, 3);

SIZE(CMPIArrayFT, 56);
OBJ_SLOT(CMPIArrayFT, release, 1); OBJ_SLOT(CMPIArrayFT, clone, 2); OBJ_SLOT(CMPIArrayFT, getSize, 3);
OBJ_SLOT(CMPIArrayFT, getSimpleType, 4); OBJ_SLOT(CMPIArrayFT, getElementAt, 5);
OBJ_SLOT(CMPIArrayFT, setElementAt, 6);

SIZE(CMPIEnumerationFT, 48);
OBJ_SLOT(CMPIEnumerationFT, release, 1); OBJ_SLOT(CMPIEnumerationFT, clone, 2);
OBJ_SLOT(CMPIEnumerationFT, getNext, 3); OBJ_SLOT(CMPIEnumerationFT, hasNext, 4);
OBJ_SLOT(CMPIEnumerationFT, toArray, 5);

SIZE(CMPIInstanceFT, 80);
OBJ_SLOT(CMPIInstanceFT, release, 1); OBJ_SLOT(CMPIInstanceFT, clone, 2);
OBJ_SLOT(CMPIInstanceFT, getProperty, 3); OBJ_SLOT(CMPIInstanceFT, getPropertyAt, 4);
OBJ_SLOT(CMPIInstanceFT, getPropertyCount, 5); OBJ_SLOT(CMPIInstanceFT, setProperty, 6);
OBJ_SLOT(CMPIInstanceFT, getObjectPath, 7); OBJ_SLOT(CMPIInstanceFT, setPropertyFilter, 8);
OBJ_SLOT(CMPIInstanceFT, setObjectPath, 9);

SIZE(CMPIObjectPathFT, 160);
OBJ_SLOT(CMPIObjectPathFT, release, 1); OBJ_SLOT(CMPIObjectPathFT, clone, 2);
OBJ_SLOT(CMPIObjectPathFT, setNameSpace, 3); OBJ_SLOT(CMPIObjectPathFT, getNameSpace, 4);
OBJ_SLOT(CMPIObjectPathFT, setHostname, 5); OBJ_SLOT(CMPIObjectPathFT, getHostname, 6);
OBJ_SLOT(CMPIObjectPathFT, setClassName, 7); OBJ_SLOT(CMPIObjectPathFT, getClassName, 8);
OBJ_SLOT(CMPIObjectPathFT, addKey, 9); OBJ_SLOT(CMPIObjectPathFT, getKey, 10);
OBJ_SLOT(CMPIObjectPathFT, getKeyAt, 11); OBJ_SLOT(CMPIObjectPathFT, getKeyCount, 12);
OBJ_SLOT(CMPIObjectPathFT, setNameSpaceFromObjectPath, 13);
OBJ_SLOT(CMPIObjectPathFT, setHostAndNameSpaceFromObjectPath, 14);
OBJ_SLOT(CMPIObjectPathFT, getClassQualifier, 15); OBJ_SLOT(CMPIObjectPathFT, getPropertyQualifier, 16);
OBJ_SLOT(CMPIObjectPathFT, getMethodQualifier, 17); OBJ_SLOT(CMPIObjectPathFT, getParameterQualifier, 18);
OBJ_SLOT(CMPIObjectPathFT, toString, 19);

SIZE(CMPIArgsFT, 56);
OBJ_SLOT(CMPIArgsFT, release, 1); OBJ_SLOT(CMPIArgsFT, clone, 2); OBJ_SLOT(CMPIArgsFT, addArg, 3);
OBJ_SLOT(CMPIArgsFT, getArg, 4); OBJ_SLOT(CMPIArgsFT, getArgAt, 5); OBJ_SLOT(CMPIArgsFT, getArgCount, 6);

SIZE(CMPIDateTimeFT, 48);
OBJ_SLOT(CMPIDateTimeFT, release, 1); OBJ_SLOT(CMPIDateTimeFT, clone, 2);
OBJ_SLOT(CMPIDateTimeFT, getBinaryFormat, 3); OBJ_SLOT(CMPIDateTimeFT, getStringFormat, 4);
OBJ_SLOT(CMPIDateTimeFT, isInterval, 5);

SIZE(CMPISelectExpFT, 64);
OBJ_SLOT(CMPISelectExpFT, release, 1); OBJ_SLOT(CMPISelectExpFT, clone, 2);
OBJ_SLOT(CMPISelectExpFT, evaluate, 3); OBJ_SLOT(CMPISelectExpFT, getString, 4);
OBJ_SLOT(CMPISelectExpFT, getDOC, 5); OBJ_SLOT(CMPISelectExpFT, getCOD, 6);
OBJ_SLOT(CMPISelectExpFT, evaluateUsingAccessor, 7);

SIZE(CMPISelectCondFT, 40);
OBJ_SLOT(CMPISelectCondFT, release, 1); OBJ_SLOT(CMPISelectCondFT, clone, 2);
OBJ_SLOT(CMPISelectCondFT, getCountAndType, 3); OBJ_SLOT(CMPISelectCondFT, getSubCondAt, 4);

SIZE(CMPISubCondFT, 48);
OBJ_SLOT(CMPISubCondFT, release, 1); OBJ_SLOT(CMPISubCondFT, clone, 2); OBJ_SLOT(CMPISubCondFT, getCount, 3);
OBJ_SLOT(CMPISubCondFT, getPredicateAt, 4); OBJ_SLOT(CMPISubCondFT, getPredicate, 5);

SIZE(CMPIPredicateFT, 40);
OBJ_SLOT(CMPIPredicateFT, release, 1); OBJ_SLOT(CMPIPredicateFT, clone, 2);
OBJ_SLOT(CMPIPredicateFT, getData, 3); OBJ_SLOT(CMPIPredicateFT, evaluateUsingAccessor, 4);

// --- MI tables --------------------------------------------------------------
#define MI_HEADER(T) OFF(T, ftVersion, 0); OFF(T, miVersion, 4); OFF(T, miName, 8)
SIZE(CMPIInstanceMIFT, 80);
MI_HEADER(CMPIInstanceMIFT);
HDR_SLOT(CMPIInstanceMIFT, cleanup, 1); HDR_SLOT(CMPIInstanceMIFT, enumInstanceNames, 2);
HDR_SLOT(CMPIInstanceMIFT, enumInstances, 3); HDR_SLOT(CMPIInstanceMIFT, getInstance, 4);
HDR_SLOT(CMPIInstanceMIFT, createInstance, 5); HDR_SLOT(CMPIInstanceMIFT, modifyInstance, 6);
HDR_SLOT(CMPIInstanceMIFT, deleteInstance, 7); HDR_SLOT(CMPIInstanceMIFT, execQuery, 8);

SIZE(CMPIIndicationMIFT, 72);
MI_HEADER(CMPIIndicationMIFT);
HDR_SLOT(CMPIIndicationMIFT, cleanup, 1); HDR_SLOT(CMPIIndicationMIFT, authorizeFilter, 2);
HDR_SLOT(CMPIIndicationMIFT, mustPoll, 3); HDR_SLOT(CMPIIndicationMIFT, activateFilter, 4);
HDR_SLOT(CMPIIndicationMIFT, deActivateFilter, 5); HDR_SLOT(CMPIIndicationMIFT, enableIndications, 6);
HDR_SLOT(CMPIIndicationMIFT, disableIndications, 7);

SIZE(CMPIAssociationMIFT, 56);
MI_HEADER(CMPIAssociationMIFT);
HDR_SLOT(CMPIAssociationMIFT, cleanup, 1); HDR_SLOT(CMPIAssociationMIFT, associators, 2);
HDR_SLOT(CMPIAssociationMIFT, associatorNames, 3); HDR_SLOT(CMPIAssociationMIFT, references, 4);
HDR_SLOT(CMPIAssociationMIFT, referenceNames, 5);

SIZE(CMPIMethodMIFT, 32);
MI_HEADER(CMPIMethodMIFT);
HDR_SLOT(CMPIMethodMIFT, cleanup, 1); HDR_SLOT(CMPIMethodMIFT, invokeMethod, 2);

SIZE(CMPIPropertyMIFT, 40);
MI_HEADER(CMPIPropertyMIFT);
HDR_SLOT(CMPIPropertyMIFT, cleanup, 1); HDR_SLOT(CMPIPropertyMIFT, setProperty, 2);
HDR_SLOT(CMPIPropertyMIFT, getProperty, 3);

// --- signatures whose return type decides the calling convention -----------
static_assert(std::is_same<decltype(CMPIInstanceFT::getProperty),
                           CMPIData (*)(const CMPIInstance*, const char*, CMPIStatus*)>::value,
              "getProperty returns CMPIData");
static_assert(std::is_same<decltype(CMPIObjectPathFT::getKey),
                           CMPIData (*)(const CMPIObjectPath*, const char*, CMPIStatus*)>::value,
              "getKey returns CMPIData");
static_assert(std::is_same<decltype(CMPIIndicationMIFT::enableIndications),
                           void (*)(CMPIIndicationMI*, const CMPIContext*)>::value,
              "enableIndications returns void at level 1.0");
static_assert(std::is_same<decltype(CMPIBrokerExtFT::newThread),
                           void* (*)(void* (*)(void*), void*, int)>::value,
              "newThread");

// --- constants --------------------------------------------------------------
static_assert(CMPICurrentVersion == 100, "level");
static_assert(CMPI_null == 0 && CMPI_boolean == 2 && CMPI_char16 == 3, "simple");
static_assert(CMPI_real32 == 8 && CMPI_real64 == 12, "reals");
static_assert(CMPI_uint8 == 0x80 && CMPI_uint16 == 0x90 && CMPI_uint32 == 0xA0 && CMPI_uint64 == 0xB0, "uint");
static_assert(CMPI_sint8 == 0xC0 && CMPI_sint16 == 0xD0 && CMPI_sint32 == 0xE0 && CMPI_sint64 == 0xF0, "sint");
static_assert(CMPI_INTEGER == 0xC0, "integer");
static_assert(CMPI_instance == 0x1000 && CMPI_ref == 0x1100 && CMPI_args == 0x1200 && CMPI_class == 0x1300 &&
                  CMPI_filter == 0x1400 && CMPI_enumeration == 0x1500 && CMPI_string == 0x1600 &&
                  CMPI_chars == 0x1700 && CMPI_dateTime == 0x1800 && CMPI_ptr == 0x1900 &&
                  CMPI_charsptr == 0x1A00,
              "encapsulated");
static_assert(CMPI_ARRAY == 0x2000 && CMPI_booleanA == 0x2002 && CMPI_char16A == 0x2003 &&
                  CMPI_real32A == 0x2008 && CMPI_real64A == 0x200C && CMPI_uint8A == 0x2080 &&
                  CMPI_uint16A == 0x2090 && CMPI_uint32A == 0x20A0 && CMPI_uint64A == 0x20B0 &&
                  CMPI_sint8A == 0x20C0 && CMPI_sint16A == 0x20D0 && CMPI_sint32A == 0x20E0 &&
                  CMPI_sint64A == 0x20F0 && CMPI_instanceA == 0x3000 && CMPI_refA == 0x3100 &&
                  CMPI_stringA == 0x3600 && CMPI_charsA == 0x3700 && CMPI_dateTimeA == 0x3800 &&
                  CMPI_ptrA == 0x3900 && CMPI_charsptrA == 0x3A00,
              "arrays");
static_assert(CMPI_keyInteger == 240 && CMPI_keyString == 5632 && CMPI_keyBoolean == 2 && CMPI_keyRef == 4352,
              "keys");
static_assert(CMPI_integerString == 5872 && CMPI_realString == 5644 && CMPI_numericString == 5884 &&
                  CMPI_booleanString == 5634 && CMPI_dateTimeString == 7680 && CMPI_classNameString == 5888 &&
                  CMPI_nameString == 7680,
              "predicate types");
static_assert(CMPI_goodValue == 0 && CMPI_nullValue == 0x100 && CMPI_keyValue == 0x200 &&
                  CMPI_notFound == 0x400 && CMPI_badValue == 0x8000,
              "states");
static_assert(CMPI_RC_OK == 0 && CMPI_RC_ERR_FAILED == 1 && CMPI_RC_ERR_INVALID_NAMESPACE == 3 &&
                  CMPI_RC_ERR_INVALID_CLASS == 5 && CMPI_RC_ERR_NOT_FOUND == 6 &&
                  CMPI_RC_ERR_NOT_SUPPORTED == 7 && CMPI_RC_ERR_TYPE_MISMATCH == 13 &&
                  CMPI_RC_ERR_METHOD_NOT_AVAILABLE == 16 && CMPI_RC_ERR_METHOD_NOT_FOUND == 17 &&
                  CMPI_RC_DO_NOT_UNLOAD == 50 && CMPI_RC_NEVER_UNLOAD == 51 &&
                  CMPI_RC_ERR_INVALID_HANDLE == 60 && CMPI_RC_ERR_INVALID_DATA_TYPE == 61 &&
                  CMPI_RC_ERROR_SYSTEM == 100 && CMPI_RC_ERROR == 200,
              "return codes");
static_assert(CMPI_PredOp_Equals == 1 && CMPI_PredOp_NotLike == 10, "predicate operators");

CMPIStatus ReturnsWithMacro(int code)
{
    CMReturn(code);
}

TEST(CmpiHeaders, StatusMacrosFillCodeAndClearMessage)
{
    CMPIStatus st = ReturnsWithMacro(CMPI_RC_ERR_NOT_FOUND);
    EXPECT_EQ(st.rc, CMPI_RC_ERR_NOT_FOUND);
    EXPECT_EQ(st.msg, nullptr);

    CMPIStatus set = {CMPI_RC_ERR_FAILED, reinterpret_cast<CMPIString*>(&st)};
    CMSetStatus(&set, CMPI_RC_OK);
    EXPECT_EQ(set.rc, CMPI_RC_OK);
    EXPECT_EQ(set.msg, nullptr);
    CMPIStatus* none = nullptr;
    CMSetStatus(none, CMPI_RC_ERR_FAILED); // must not crash
}

TEST(CmpiHeaders, ValueStateTestsDoNotNarrowHighByteFlags)
{
    CMPIData d{};
    d.state = CMPI_nullValue;
    EXPECT_TRUE(CMIsNullValue(d));
    EXPECT_FALSE(CMIsKeyValue(d));
    d.state = CMPI_keyValue;
    EXPECT_TRUE(CMIsKeyValue(d));
    d.type = CMPI_charsA;
    EXPECT_TRUE(CMIsArray(d));
    CMPIString s{};
    EXPECT_TRUE(CMIsNullObject(&s));
    EXPECT_TRUE(CMIsNullObject(static_cast<CMPIString*>(nullptr)));
}

} // namespace
