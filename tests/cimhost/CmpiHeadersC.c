/* The CMPI headers must compile as C (C11 here) with every macro usable. */
#include <cmpimacs.h>
#include <stddef.h>

_Static_assert(sizeof(CMPIData) == 24, "CMPIData");
_Static_assert(sizeof(CMPIStatus) == 16, "CMPIStatus");
_Static_assert(sizeof(CMPIBroker) == 32, "CMPIBroker");
_Static_assert(offsetof(CMPIBrokerFT, getProperty) == 152, "last broker slot");
_Static_assert(offsetof(CMPIIndicationMIFT, disableIndications) == 64, "last indication slot");
_Static_assert(sizeof(CMPIrc) == 4, "int-sized enum");

CMPIStatus pnlmonCmpiCStatus(const CMPIBroker* mb, const CMPIObjectPath* op, const CMPIResult* rslt, int code);

CMPIStatus pnlmonCmpiCStatus(const CMPIBroker* mb, const CMPIObjectPath* op, const CMPIResult* rslt, int code)
{
    CMPIStatus st = {CMPI_RC_OK, NULL};
    CMPIObjectPath* path;
    CMPIInstance* inst;
    CMPIUint16 u16 = 7;
    if (code == 0) {
        CMReturn(CMPI_RC_OK);
    }
    path = CMNewObjectPath(mb, "root/cimv2", CMGetCharPtr(CMGetClassName(op, &st)), &st);
    CMAddKey(path, "DeviceID", "x", CMPI_chars);
    inst = CMNewInstance(mb, path, &st);
    CMSetProperty(inst, "N", &u16, CMPI_uint16);
    CMReturnInstance(rslt, inst);
    CMReturnDone(rslt);
    CMSetStatus(&st, code);
    if (code == 2) {
        CMReturnWithChars(mb, CMPI_RC_ERR_FAILED, "failed");
    }
    return st;
}
