// A CIM value as plain C++ data, the form in which the embedded CIMOM host
// stores what a provider sets and hands results back to tests and tools.
#pragma once

#include <cmpidt.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace cimhost {

struct HostInstance;
struct HostObjectPath;

struct HostDateTime {
    std::uint64_t usec = 0; // since 1970-01-01 00:00 UTC, or interval length
    bool interval = false;
};

struct HostValue {
    CMPIType type = CMPI_null;    // as a getter reads it back (CMPI_chars becomes CMPI_string)
    CMPIType setType = CMPI_null; // as the provider passed it
    bool null = true;

    bool boolean = false;
    std::uint64_t uint = 0;    // uint8 .. uint64, char16
    std::int64_t sint = 0;     // sint8 .. sint64
    double real = 0;           // real32, real64
    std::string text;          // string, chars
    std::vector<HostValue> elements; // arrays
    std::shared_ptr<HostInstance> instance; // embedded instance
    std::shared_ptr<HostObjectPath> ref;    // reference
    HostDateTime dateTime;
    // A string in a good state whose CMPIString pointer is NULL: the form
    // in which some CIM object managers pass an empty key text.
    bool nullText = false;

    bool isArray() const { return (type & CMPI_ARRAY) != 0; }
    CMPIType elementType() const { return static_cast<CMPIType>(type & ~CMPI_ARRAY); }

    static HostValue Null(CMPIType type = CMPI_null);
    static HostValue String(const std::string& text);
    static HostValue NullText();
    static HostValue Boolean(bool value);
    static HostValue Uint(CMPIType type, std::uint64_t value);
    static HostValue Sint(CMPIType type, std::int64_t value);
    static HostValue Real(CMPIType type, double value);
    static HostValue DateTime(std::uint64_t usec, bool interval = false);
    static HostValue StringArray(const std::vector<std::string>& texts);
    static HostValue Instance(const HostInstance& instance);

    // Text array elements (empty for other types).
    std::vector<std::string> texts() const;
};

// Canonical name of a type code ("string", "uint16", "string[]", ...).
std::string TypeName(CMPIType type);

} // namespace cimhost
