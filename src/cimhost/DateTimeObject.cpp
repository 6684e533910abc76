#include "DateTimeObject.h"

#include "HostBroker.h"
#include "ObjectRegistry.h"
#include "StringObject.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>

namespace cimhost {

namespace {

CMPIDateTime* clone(const CMPIDateTime* dt, CMPIStatus* rc)
{
    DateTimeObject* obj = DateTimeObject::From(dt);
    if (obj == nullptr) {
        SetStatus(rc, CMPI_RC_ERR_INVALID_HANDLE);
        return nullptr;
    }
    try {
        CMPIDateTime* copy = DateTimeObject::Make(obj->broker(), obj->usec, obj->interval, obj->broker().scope());
        SetStatus(rc, CMPI_RC_OK);
        return copy;
    } catch (...) {
        SetStatus(rc, CMPI_RC_ERR_FAILED);
        return nullptr;
    }
}

CMPIUint64 getBinaryFormat(const CMPIDateTime* dt, CMPIStatus* rc)
{
    DateTimeObject* obj = DateTimeObject::From(dt);
    SetStatus(rc, obj ? CMPI_RC_OK : CMPI_RC_ERR_INVALID_HANDLE);
    return obj ? obj->usec : 0;
}

CMPIString* getStringFormat(const CMPIDateTime* dt, CMPIStatus* rc)
{
    DateTimeObject* obj = DateTimeObject::From(dt);
    if (obj == nullptr) {
        SetStatus(rc, CMPI_RC_ERR_INVALID_HANDLE);
        return nullptr;
    }
    try {
        CMPIString* s = StringObject::Make(obj->broker(), DateTimeObject::Format(obj->usec, obj->interval));
        SetStatus(rc, CMPI_RC_OK);
        return s;
    } catch (...) {
        SetStatus(rc, CMPI_RC_ERR_FAILED);
        return nullptr;
    }
}

CMPIBoolean isInterval(const CMPIDateTime* dt, CMPIStatus* rc)
{
    DateTimeObject* obj = DateTimeObject::From(dt);
    SetStatus(rc, obj ? CMPI_RC_OK : CMPI_RC_ERR_INVALID_HANDLE);
    return obj && obj->interval ? 1 : 0;
}

CMPIDateTimeFT table = {1, ReleaseHandle<CMPIDateTime>, clone, getBinaryFormat, getStringFormat, isInterval};

bool digits(const char* p, int n, std::uint64_t& out)
{
    out = 0;
    for (int i = 0; i < n; ++i) {
        if (p[i] < '0' || p[i] > '9') {
            return false;
        }
        out = out * 10 + static_cast<std::uint64_t>(p[i] - '0');
    }
    return true;
}

} // namespace

DateTimeObject::DateTimeObject(HostBroker& broker, std::uint64_t u, bool i) : BrokerObject(broker), usec(u), interval(i)
{
    cmpi.hdl = this;
    cmpi.ft = &table;
}

CMPIDateTime* DateTimeObject::Make(HostBroker& broker, std::uint64_t usec, bool interval, std::uint64_t scope)
{
    auto obj = std::make_unique<DateTimeObject>(broker, usec, interval);
    CMPIDateTime* out = &obj->cmpi;
    const std::uint64_t into = scope != 0 ? scope : broker.objectScope();
    return ObjectRegistry::instance().adopt(std::move(obj), into) ? out : nullptr;
}

DateTimeObject* DateTimeObject::From(const CMPIDateTime* dt)
{
    return ObjectRegistry::instance().find<DateTimeObject>(dt);
}

std::uint64_t DateTimeObject::NowUsec()
{
    auto now = std::chrono::system_clock::now().time_since_epoch();
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(now).count());
}

std::string DateTimeObject::Format(std::uint64_t usec, bool interval)
{
    char buf[64];
    const std::uint64_t micros = usec % 1000000;
    std::uint64_t secs = usec / 1000000;
    if (interval) {
        std::uint64_t days = secs / 86400;
        secs %= 86400;
        std::snprintf(buf, sizeof buf, "%08llu%02llu%02llu%02llu.%06llu:000",
                      static_cast<unsigned long long>(days % 100000000ULL),
                      static_cast<unsigned long long>(secs / 3600),
                      static_cast<unsigned long long>((secs / 60) % 60), static_cast<unsigned long long>(secs % 60),
                      static_cast<unsigned long long>(micros));
        return buf;
    }
    std::time_t t = static_cast<std::time_t>(secs);
    std::tm tm{};
    gmtime_r(&t, &tm);
    std::snprintf(buf, sizeof buf, "%04d%02d%02d%02d%02d%02d.%06llu+000", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<unsigned long long>(micros));
    return buf;
}

bool DateTimeObject::Parse(const char* text, std::uint64_t& usec, bool& interval)
{
    if (text == nullptr || std::strlen(text) != 25 || text[14] != '.') {
        return false;
    }
    std::uint64_t hh, mi, ss, us, off;
    if (!digits(text + 8, 2, hh) || !digits(text + 10, 2, mi) || !digits(text + 12, 2, ss) ||
        !digits(text + 15, 6, us) || !digits(text + 22, 3, off) || hh > 23 || mi > 59 || ss > 60) {
        return false;
    }
    if (text[21] == ':') {
        std::uint64_t days;
        if (!digits(text, 8, days) || off != 0) {
            return false;
        }
        interval = true;
        usec = ((days * 86400 + hh * 3600 + mi * 60 + ss) * 1000000) + us;
        return true;
    }
    if (text[21] != '+' && text[21] != '-') {
        return false;
    }
    std::uint64_t yyyy, mm, dd;
    if (!digits(text, 4, yyyy) || !digits(text + 4, 2, mm) || !digits(text + 6, 2, dd) || yyyy < 1970 ||
        mm < 1 || mm > 12 || dd < 1 || dd > 31) {
        return false;
    }
    std::tm tm{};
    tm.tm_year = static_cast<int>(yyyy) - 1900;
    tm.tm_mon = static_cast<int>(mm) - 1;
    tm.tm_mday = static_cast<int>(dd);
    tm.tm_hour = static_cast<int>(hh);
    tm.tm_min = static_cast<int>(mi);
    tm.tm_sec = static_cast<int>(ss);
    std::int64_t secs = static_cast<std::int64_t>(timegm(&tm));
    // The offset is local time minus UTC in minutes.
    std::int64_t offset = static_cast<std::int64_t>(off) * 60;
    secs += text[21] == '+' ? -offset : offset;
    if (secs < 0) {
        return false;
    }
    interval = false;
    usec = static_cast<std::uint64_t>(secs) * 1000000 + us;
    return true;
}

} // namespace cimhost
