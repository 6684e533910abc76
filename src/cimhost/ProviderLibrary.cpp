#include "ProviderLibrary.h"

#include <dlfcn.h>

namespace cimhost {

ProviderLibrary::~ProviderLibrary()
{
    close();
}

bool ProviderLibrary::open(const std::string& path, std::string& error)
{
    close();
    dlerror();
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        const char* e = dlerror();
        error = e ? e : ("cannot load " + path);
        return false;
    }
    path_ = path;
    return true;
}

void ProviderLibrary::close()
{
    if (handle_ != nullptr) {
        dlclose(handle_);
        handle_ = nullptr;
        path_.clear();
    }
}

void* ProviderLibrary::symbol(const std::string& name) const
{
    if (handle_ == nullptr) {
        return nullptr;
    }
    dlerror();
    return dlsym(handle_, name.c_str());
}

} // namespace cimhost
