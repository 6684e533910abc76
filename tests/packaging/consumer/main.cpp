// Uses the installed libvexdisplay through its public header only. Without
// arguments it prints the library's version string (so that the test does
// not touch the USB bus); with "list" it prints one line per monitor.
#include <display.h>
#include <log.h>

#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], "list") == 0) {
        DisplayApi api;
        DISPLAY_CODE rc = api.initialiseDisplayDriver();
        DisplayInformationList displays;
        if (rc == DSP_OK)
            rc = api.getDisplayInformationList(displays);
        for (const DisplayInformation& info : displays) {
            std::string id;
            info.getDeviceId(id);
            std::printf("%s\n", id.c_str());
        }
        LogQuick(LEVEL_INFO, "vexdisplay_consumer - listed the monitors");
        return static_cast<int>(rc);
    }
    std::printf("%.*s\n", static_cast<int>(sizeof PnlmonlVersion), PnlmonlVersion);
    return 0;
}
