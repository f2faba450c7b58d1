#include "plugin/uExecute.h"

#include "base/uWin.h"
#include "dialogs/uConnDlg.h"
#include "dialogs/uPropDlg.h"
#include "plugin/uDescriptor.h"
#include "plugin/uFolder.h"
#include "plugin/uHostApi.h"
#include "settings/uSettings.h"
#include "termwnd/uListerGlue.h"

namespace {

// Posted, not sent: the host re-reads its panel after the command returned.
void RequestRefresh(HWND mainWin) {
    if (mainWin) PostMessageW(mainWin, kHostRefreshMessage, kHostRefreshCommand, 0);
}

int ManageConnections(HWND mainWin) {
    OpenConnectionManager(mainWin);
    RequestRefresh(mainWin);
    return kFsExecOk;
}

int ConnectionProperties(HWND mainWin, const std::u16string& name) {
    TConnInfo conn;
    if (!LoadConnection(name, conn)) return kFsExecOk;  // gone meanwhile: nothing to show
    if (ShowPropertiesDialog(mainWin, 1, name, TcpDisplayName(name, conn.Host, conn.Port))) {
        NotifySettingsChanged(ConnSection(name));
        RequestRefresh(mainWin);
    }
    return kFsExecOk;
}

int PortProperties(HWND mainWin, const TClassifiedEntry& entry) {
    // The listing does not change with a port's settings: no refresh request.
    if (ShowPropertiesDialog(mainWin, 0, entry.Target, entry.Display))
        NotifySettingsChanged(PortSection(entry.Target));
    return kFsExecOk;
}

int Properties(HWND mainWin, std::u16string_view name) {
    if (name.empty()) return ManageConnections(mainWin);
    const TClassifiedEntry entry = ClassifyEntry(name);
    switch (entry.Class) {
        case TEntryClass::Manage:
            return ManageConnections(mainWin);
        case TEntryClass::Connection:
            return ConnectionProperties(mainWin, entry.Target);
        case TEntryClass::Port:
            return PortProperties(mainWin, entry);
        case TEntryClass::Other:
            break;
    }
    return kFsExecError;
}

int Open(HWND mainWin, std::u16string_view name) {
    if (name.empty()) return kFsExecError;
    const TClassifiedEntry entry = ClassifyEntry(name);
    switch (entry.Class) {
        case TEntryClass::Manage:
            return ManageConnections(mainWin);
        case TEntryClass::Connection: {
            TConnInfo conn;
            if (!LoadConnection(entry.Target, conn)) return kFsExecError;
            OpenStandaloneTerminal(mainWin, 1, entry.Target,
                                   TcpDisplayName(entry.Target, conn.Host, conn.Port), conn);
            return kFsExecOk;
        }
        case TEntryClass::Port:
            OpenStandaloneTerminal(mainWin, 0, entry.Target, entry.Display,
                                   TConnInfo{u"", u"", 0, 0});
            return kFsExecOk;
        case TEntryClass::Other:
            break;
    }
    return kFsExecError;
}

}  // namespace

int ExecuteEntry(HWND mainWin, std::u16string_view remoteName, std::u16string_view verb) {
    const std::u16string name = StripLeadingBackslashes(remoteName);
    // The verb as a whole: "openx" is no "open".
    if (SameTextI(verb, u"open")) return Open(mainWin, name);
    if (SameTextI(verb, u"properties")) return Properties(mainWin, name);
    return kFsExecError;
}
