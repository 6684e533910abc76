// A provider shared library opened with dlopen(RTLD_NOW | RTLD_LOCAL).
#pragma once

#include <string>

namespace cimhost {

class ProviderLibrary {
public:
    ProviderLibrary() = default;
    ~ProviderLibrary();
    ProviderLibrary(const ProviderLibrary&) = delete;
    ProviderLibrary& operator=(const ProviderLibrary&) = delete;

    bool open(const std::string& path, std::string& error);
    void close();
    bool isOpen() const { return handle_ != nullptr; }
    const std::string& path() const { return path_; }

    // Address of an exported symbol, or nullptr.
    void* symbol(const std::string& name) const;

private:
    void* handle_ = nullptr;
    std::string path_;
};

} // namespace cimhost
