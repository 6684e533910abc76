#include "Config.h"

#include <cstdint>
#include <mutex>

#include "KeyValueFile.h"
#include "log.h"

const char* const MUS_LOCK_FILE = "/var/lock/subsys/QRNDRVSVC_{5A1C9E02-3B7F-4D28-9C61-E0B4F7A3D815}";
const char* const DEF_FLASH_UTILITY_NAMES = "kap_download,kap_config,7715MonUtil,vexfwupdate,qtz-app";
const char* const PNLMON_CONFIG_FILE = "/etc/pnlmon/pnlmon.conf";

Config* Config::s_config = nullptr;
unsigned int Config::s_users = 0;

namespace {
// Guards s_config and s_users. Taken before the logging lock, never after.
std::mutex& ConfigLock()
{
    static std::mutex lock;
    return lock;
}
}  // namespace

Config* Config::createLocked()
{
    if (s_config != nullptr) {
        return s_config;
    }
    s_config = new Config();
    Log(LEVEL_DEBUG, "Config::getInstance returning new instance 0x%p", static_cast<void*>(s_config));
    return s_config;
}

void Config::destroyLocked()
{
    LogQuick(LEVEL_DEBUG, "Config::destroyInstance");
    if (s_config != nullptr) {
        delete s_config;
        s_config = nullptr;
    }
}

Config* Config::getInstance()
{
    std::lock_guard<std::mutex> guard(ConfigLock());
    return createLocked();
}

void Config::destroyInstance()
{
    std::lock_guard<std::mutex> guard(ConfigLock());
    destroyLocked();
}

void Config::addUser()
{
    std::lock_guard<std::mutex> guard(ConfigLock());
    ++s_users;
    createLocked();
}

void Config::removeUser()
{
    std::lock_guard<std::mutex> guard(ConfigLock());
    if (s_users > 0) {
        --s_users;
    }
    if (s_users == 0) {
        destroyLocked();
    }
}

Config::Config()
{
    initialise();
    LogQuick(LEVEL_DEBUG, "Config constructed");
}

Config::~Config()
{
    LogQuick(LEVEL_DEBUG, "Config destroyed");
}

void Config::initialise()
{
    LogQuick(LEVEL_TRACE, "Config::initialise");
    setDefaults();
    readIniFile();
}

void Config::setDefaults()
{
    LogQuick(LEVEL_TRACE, "Config::setDefaults");
    MusLockFile = MUS_LOCK_FILE;
    FlashUtilityNames = DEF_FLASH_UTILITY_NAMES;
    AnnounceImmediately = false;
}

void Config::readIniFile()
{
    LogQuick(LEVEL_TRACE, "Config::readIniFile");
    bool opened = KeyValueFile::ReadFile(PNLMON_CONFIG_FILE, [this](const std::string& key, const std::string& value) {
        Log(LEVEL_DEBUG, "Config::readIniFile - key=%s, val=%s", key.c_str(), value.c_str());
        if (key == "MusLockFile" && !value.empty()) {
            Log(LEVEL_DEBUG, "Config::readIniFile - Setting MUS lock file path to %s", value.c_str());
            MusLockFile = value;
        } else if (key == "FlashUtilityNames" && !value.empty()) {
            Log(LEVEL_DEBUG, "Config::readIniFile - Setting Flash utility names to %s", value.c_str());
            FlashUtilityNames = value;
        } else if (key == "AnnounceChanges" && !value.empty()) {
            if (value == "immediate") {
                AnnounceImmediately = true;
            } else if (value == "on-request") {
                AnnounceImmediately = false;
            } else {
                Log(LEVEL_ERROR,
                    "Config::readIniFile - unknown AnnounceChanges value %s - changes are announced on request",
                    value.c_str());
                AnnounceImmediately = false;
            }
            Log(LEVEL_DEBUG, "Config::readIniFile - Changes are announced %s",
                AnnounceImmediately ? "immediately" : "on request");
        }
    });
    if (!opened) {
        Log(LEVEL_ERROR, "Config::readIniFile - cannot open %s - will use default config", PNLMON_CONFIG_FILE);
    }
}
