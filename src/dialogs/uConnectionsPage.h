// The Connections tab of the connection manager: the list of saved TCP
// connections and the form that creates, edits, renames and deletes them.
#pragma once

#include "dialogs/uConnDlgKit.h"

constexpr int kIdConnList = 201;
constexpr int kIdConnName = 211;
constexpr int kIdConnHost = 212;
constexpr int kIdConnPort = 213;
constexpr int kIdConnMode = 214;
constexpr int kIdConnNew = 221;
constexpr int kIdConnSave = 222;
constexpr int kIdConnDelete = 223;
constexpr int kIdConnSavedLabel = 230;
constexpr int kIdConnNameLabel = 231;
constexpr int kIdConnHostLabel = 232;
constexpr int kIdConnPortLabel = 233;
constexpr int kIdConnModeLabel = 234;

void BuildConnectionsPage(TManager& m);
// Empties the form for a new connection (New) and clears the list selection.
void NewConnectionForm(TManager& m);
// Refills the list from the settings file and selects `name` (none if empty).
void FillConnectionList(TManager& m, const std::u16string& name);
// The list's selection changed: its connection goes into the form.
void LoadChosenConnection(TManager& m);
void SaveConnectionForm(TManager& m);
void DeleteCurrentConnection(TManager& m);
