#include "CmpiException.h"

#include "cmpift.h"

std::string CmpiException::getMessage() const
{
    CMPIString* msg = status.msg;
    if (msg == nullptr || msg->ft == nullptr || msg->ft->getCharPtr == nullptr) {
        return std::string();
    }
    const char* text = msg->ft->getCharPtr(msg, nullptr);
    return text != nullptr ? std::string(text) : std::string();
}
