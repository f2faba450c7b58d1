// A saved connection is one "Conn:" section holding its host, port and mode
// and the terminal options of that connection. Every path here keeps that
// section whole:
// - a rename writes the new section (with the terminal options read from the
//   old one) and checks it before the old one is removed, so a failed write
//   never leaves the user with neither;
// - a change only in letter case is the same section (the file matches
//   section names without regard to case) and is rewritten in place, never
//   written and then deleted;
// - what was written is read back, and a settings file that refused it is
//   reported instead of showing the form as saved;
// - names are read whole: a long name is refused, never cut into another name;
// - saving onto another saved connection's name replaces it only when the
//   user says so.
#include "dialogs/uConnectionsPage.h"

#include "base/uText.h"
#include "base/uWin.h"
#include "dialogs/uMsgBox.h"
#include "settings/uSettings.h"

namespace {

constexpr int kDefaultPort = 23;

constexpr TControlDef kConnectionControls[] = {
    {kIdConnSavedLabel, TCtl::Label, 0, 10, 220, 16,
     [] { return Tr("connections.saved", u"Saved TCP connections"); }},
    {kIdConnList, TCtl::ListBox, 0, 28, 220, 230},
    {kIdConnNameLabel, TCtl::Label, 238, 30, 90, 16, [] { return Tr("label.name", u"Name"); }},
    {kIdConnName, TCtl::Edit, 238, 48, 330, 22},
    {kIdConnHostLabel, TCtl::Label, 238, 78, 330, 16,
     [] { return Tr("label.host_hint", u"Host (name or IPv4 address)"); }},
    {kIdConnHost, TCtl::Edit, 238, 96, 330, 22},
    {kIdConnPortLabel, TCtl::Label, 238, 126, 90, 16, [] { return Tr("label.port", u"Port"); }},
    {kIdConnPort, TCtl::NumberEdit, 238, 144, 90, 22},
    {kIdConnModeLabel, TCtl::Label, 238, 174, 90, 16, [] { return Tr("label.mode", u"Mode"); }},
    {kIdConnMode, TCtl::DropList, 238, 192, 330, 120},
    {kIdConnNew, TCtl::Button, 238, 270, 76, 26, [] { return Tr("action.new", u"New"); }},
    {kIdConnSave, TCtl::DefaultButton, 322, 270, 90, 26, [] { return Tr("action.save", u"Save"); }},
    {kIdConnDelete, TCtl::Button, 420, 270, 76, 26, [] { return Tr("action.delete", u"Delete"); }},
};

std::u16string SaveFailedText() {
    return TrFmt("error.save_settings", u"Could not save settings. Check write permission: {0}",
                 {SettingsPath()});
}

std::u16string DeleteFailedText() {
    return TrFmt("error.delete", u"Could not delete the connection. Check write permission: {0}",
                 {SettingsPath()});
}

// The settings file holds the connection as written (the profile functions
// report nothing on their own, so the store is asked again).
bool Stored(const TConnInfo& info) {
    TConnInfo back;
    return LoadConnection(info.Name, back) && back.Host == info.Host && back.Port == info.Port &&
           back.Mode == info.Mode;
}

// A renamed connection keeps its options and its last Send file choices.
bool WriteMoved(const TConnInfo& info, const std::u16string& oldName) {
    const TSessionSettings options = LoadSessionSettings(ConnSection(oldName));
    const TSendFileSettings sending = LoadSendFileSettings(ConnSection(oldName));
    SaveConnection(info);
    SaveSessionSettings(ConnSection(info.Name), options);
    SaveSendFileSettings(ConnSection(info.Name), sending);
    return Stored(info) && LoadSessionSettings(ConnSection(info.Name)) == options;
}

struct TForm {
    std::u16string Name, Host;
    int32_t Port = -1;
    int32_t Mode = kModeTelnet;
};

TForm ReadForm(const TManager& m) {
    TForm f;
    f.Name = ProfileTrim(FieldText(Control(m, kIdConnName)));
    f.Host = CleanHost(FieldText(Control(m, kIdConnHost)));
    f.Port = ParseFieldInt(FieldText(Control(m, kIdConnPort)), -1);
    f.Mode = ComboSelection(Control(m, kIdConnMode));
    if (f.Mode < kModeRaw || f.Mode > kModeTelnetFilter) f.Mode = kModeTelnet;
    return f;
}

// The first rule the form breaks, as the warning to show; empty when valid.
std::u16string FormProblem(const TManager& m, const TForm& f) {
    if (auto problem = NameProblem(f.Name, m.CurrentName); !problem.empty()) return problem;
    if (auto problem = HostProblem(f.Host); !problem.empty()) return problem;
    if (f.Port < 1 || f.Port > 65535) return Tr("error.port", u"Port must be between 1 and 65535.");
    return {};
}

// Saving under the name of another saved connection replaces it: only when
// the user agrees. The question names it as the list shows it.
bool MayReplace(const TManager& m, const std::u16string& name) {
    TConnInfo other;
    if (SameTextI(name, m.CurrentName) || !LoadConnection(name, other)) return true;
    std::u16string shown = name;
    for (const auto& n : m.Names)
        if (SameTextI(n, name)) shown = n;
    return AskWarning(m.Dialog, TrFmt("confirm.overwrite",
                                      u"A connection named \"{0}\" exists. Replace it?", {shown}));
}

}  // namespace

void BuildConnectionsPage(TManager& m) {
    HWND page = m.Pages[kPageConnections];
    CreateControls(m, page, kConnectionControls);
    AddComboItems(Control(m, kIdConnMode), kModeChoices);
    // Typing stops where a name or host would be refused.
    SendMessageW(Control(m, kIdConnName), EM_SETLIMITTEXT, kMaxNameLength, 0);
    SendMessageW(Control(m, kIdConnHost), EM_SETLIMITTEXT, kMaxHostLength, 0);
}

void NewConnectionForm(TManager& m) {
    m.CurrentName.clear();
    SetFieldText(Control(m, kIdConnName), u"");
    SetFieldText(Control(m, kIdConnHost), u"");
    SetFieldText(Control(m, kIdConnPort), IntToText(kDefaultPort));
    SendMessageW(Control(m, kIdConnMode), CB_SETCURSEL, kModeTelnet, 0);
    SendMessageW(Control(m, kIdConnList), LB_SETCURSEL, WPARAM(-1), 0);
}

void FillConnectionList(TManager& m, const std::u16string& name) {
    HWND list = Control(m, kIdConnList);
    SendMessageW(list, LB_RESETCONTENT, 0, 0);
    m.Names = ListConnections();
    int selected = -1;
    for (size_t i = 0; i < m.Names.size(); ++i) {
        SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(W(m.Names[i])));
        if (!name.empty() && SameTextI(m.Names[i], name)) selected = int(i);
    }
    SendMessageW(list, LB_SETCURSEL, WPARAM(selected), 0);
}

void LoadChosenConnection(TManager& m) {
    // The name comes from the list the store gave, not from the list box's
    // text, so no name is cut by a buffer whatever its length.
    const LRESULT index = SendMessageW(Control(m, kIdConnList), LB_GETCURSEL, 0, 0);
    if (index < 0 || size_t(index) >= m.Names.size()) return;
    TConnInfo info;
    if (!LoadConnection(m.Names[size_t(index)], info)) return;
    m.CurrentName = info.Name;
    SetFieldText(Control(m, kIdConnName), info.Name);
    SetFieldText(Control(m, kIdConnHost), info.Host);
    SetFieldText(Control(m, kIdConnPort), IntToText(info.Port));
    SendMessageW(Control(m, kIdConnMode), CB_SETCURSEL, WPARAM(info.Mode), 0);
}

void SaveConnectionForm(TManager& m) {
    const TForm f = ReadForm(m);
    if (const auto problem = FormProblem(m, f); !problem.empty()) {
        ShowWarning(m.Dialog, problem);
        return;
    }
    if (!MayReplace(m, f.Name)) return;
    const TConnInfo info{f.Name, f.Host, f.Port, f.Mode};
    const std::u16string oldName = m.CurrentName;
    const bool moving = !oldName.empty() && !SameTextI(oldName, info.Name);
    bool written;
    if (moving) {
        written = WriteMoved(info, oldName);
    } else {
        SaveConnection(info);
        written = Stored(info);
    }
    if (!written) {
        FillConnectionList(m, oldName);
        ShowError(m.Dialog, SaveFailedText());
        return;
    }
    m.CurrentName = info.Name;
    // The old section goes only once the new one holds everything; should the
    // file refuse the removal, both stay and the user is told.
    const bool removed = !moving || DeleteConnection(oldName);
    FillConnectionList(m, info.Name);
    if (!removed) ShowError(m.Dialog, DeleteFailedText());
}

void DeleteCurrentConnection(TManager& m) {
    if (m.CurrentName.empty()) return;
    if (!AskYesNo(m.Dialog,
                  TrFmt("confirm.delete", u"Delete connection \"{0}\"?", {m.CurrentName})))
        return;
    if (!DeleteConnection(m.CurrentName)) {
        FillConnectionList(m, m.CurrentName);
        ShowError(m.Dialog, DeleteFailedText());
        return;
    }
    NewConnectionForm(m);
    FillConnectionList(m, u"");
}
