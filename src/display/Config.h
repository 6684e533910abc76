// The driver's process-wide configuration: the lock-file path and the names
// of the monitor firmware-flash utilities, from built-in defaults overridden
// by "/etc/pnlmon/pnlmon.conf". Created on first use. Every DisplayApi holds
// it (addUser/removeUser): it lives while any DisplayApi lives, and the last
// one to go destroys it, so one DisplayApi cannot pull it from under
// another's enumeration. Creation and destruction are serialised by a lock.
#ifndef PNLMON_CONFIG_H
#define PNLMON_CONFIG_H

#include <string>

extern const char* const MUS_LOCK_FILE;
extern const char* const DEF_FLASH_UTILITY_NAMES;
extern const char* const PNLMON_CONFIG_FILE;

class Config {
public:
    static Config* getInstance();
    static void destroyInstance();
    // A DisplayApi starts using the instance (creating it if needed) / stops
    // using it; the last user's removeUser destroys it.
    static void addUser();
    static void removeUser();

    void getMusLockFile(std::string& lockFile) const { lockFile = MusLockFile; }
    void getFlashUtilityNames(std::string& utilNames) const { utilNames = FlashUtilityNames; }
    // "AnnounceChanges": true for "immediate", false for "on-request" (the
    // default, also for an unknown value).
    bool announceChangesImmediately() const { return AnnounceImmediately; }

private:
    Config();
    ~Config();
    Config(const Config&);
    Config& operator=(const Config&);

    void initialise();
    void setDefaults();
    void readIniFile();

    std::string MusLockFile;
    std::string FlashUtilityNames;
    bool AnnounceImmediately;

    static Config* createLocked();
    static void destroyLocked();

    static Config* s_config;
    static unsigned int s_users;
};

#endif
