// The provider's display cache: the QAV_Display objects of the latest
// refresh, in driver order, owned by the list.
#ifndef PNLMON_QAVDISPLAYLIST_H
#define PNLMON_QAVDISPLAYLIST_H

#include <sys/time.h>

#include <string>
#include <vector>

#include "QAV_Display.h"
#include "display.h"

typedef std::vector<QAV_Display*> qav_display_list_t;

class QavDisplayList {
public:
    QavDisplayList();
    ~QavDisplayList();
    QavDisplayList(const QavDisplayList&) = delete;
    QavDisplayList& operator=(const QavDisplayList&) = delete;

    void clear();
    int getNumDisplays() const;
    QAV_Display* getDisplayAt(int index) const;
    bool needsUpdate() const { return true; }
    void addDisplay(QAV_Display* display);
    void populateDisplay(QAV_Display* display, const DisplayInformation& record) const;
    void buildDisplayList(const DisplayInformationList& records);

    // A monitor's text as a client sees it: a CIM string ends at its first
    // NUL, so text from a NUL-padded report field is cut there; control
    // characters and bytes that are not UTF-8 appear as \xHH.
    static std::string ClientText(const std::string& text);
    static str_list_t ClientTexts(const str_list_t& texts);

private:
    qav_display_list_t qavDisplays;
    timeval timeAtLastReading;
};

#endif
