// The connection manager under test: a settings file of its own, a stand-in
// host window as owner, and a script thread that drives the open manager.
#pragma once

#include <gtest/gtest.h>

#include "base/uWin.h"
#include "dialog_extra.h"
#include "dialogs/uConnDlg.h"
#include "gui.h"
#include "settings/uSettings.h"
#include "wintest.h"

namespace kltest {

class TConnDlgTest : public ::testing::Test {
protected:
    TTempDir dir_;
    const std::wstring ini_ = dir_.File(L"kestrelink.ini");
    THostWindow host_;

    void SetUp() override { SetSettingsPath(U(ini_.c_str())); }
    void Write(const std::string& content) {
        WriteFileBytes(ini_, content);
        WritePrivateProfileStringW(nullptr, nullptr, nullptr, ini_.c_str());  // drop the cache
    }
    // The stored value, "\x1" when missing.
    std::wstring Value(const wchar_t* section, const wchar_t* key) {
        return IniValue(ini_, section, key);
    }
    void Run(const std::function<void(HWND)>& script) {
        DriveModal(
            kConnDlgClass, [&] { OpenConnectionManager(host_.Handle()); }, script);
    }
};

inline HWND Item(HWND dialog, int id) { return FindById(dialog, id); }

}  // namespace kltest
