// The settings store: "kestrelink.ini" beside the library, read and written only
// through the Windows private-profile functions. Reads never fail (defaults and
// the read-time rules of uSettingsRules apply); the plain writes report nothing,
// the three "Plugin" group writes report success.
#pragma once

#include <cstdint>
#include <string>

#include "settings/uSettingsRules.h"

std::u16string SettingsPath();
void SetSettingsPath(const std::u16string& path);

std::u16string ReadString(const std::u16string& section, const std::u16string& key,
                          const std::u16string& def);
int32_t ReadInt(const std::u16string& section, const std::u16string& key, int32_t def);
bool ReadBool(const std::u16string& section, const std::u16string& key, bool def);
void WriteString(const std::u16string& section, const std::u16string& key,
                 const std::u16string& value);
void WriteInt(const std::u16string& section, const std::u16string& key, int32_t value);

TSessionSettings LoadSessionSettings(const std::u16string& section);
void SaveTerminalSettings(const std::u16string& section, const TSessionSettings& s);
void SaveSessionSettings(const std::u16string& section, const TSessionSettings& s);
// The Send file dialog's last choices in a port's or connection's section;
// read with defaults and clamps like every session key.
TSendFileSettings LoadSendFileSettings(const std::u16string& section);
void SaveSendFileSettings(const std::u16string& section, const TSendFileSettings& s);
int32_t GlobalHistoryLines();

TNameArray ListConnections();
bool LoadConnection(const std::u16string& name, TConnInfo& info);
void SaveConnection(const TConnInfo& info);
// Removes the whole "Conn:" section; false only when the file could not be
// written (a missing section or a missing file has nothing to remove).
bool DeleteConnection(const std::u16string& name);

void ReadGeneralSettings(std::u16string& language, std::u16string& theme);
bool WriteGeneralSettings(const std::u16string& language, const std::u16string& theme);
void ReadFontSettings(std::u16string& face, int32_t& size);
bool WriteFontSettings(const std::u16string& face, int32_t size);
void ReadAppearance(TColorRef& background, TColorRef& text, int32_t& hexBytesPerLine);
bool WriteAppearance(TColorRef background, TColorRef text, int32_t hexBytesPerLine);

// "Plugin"/"LogFolder" (normalized, not resolved) and "Plugin"/"LogFormat".
void ReadLogSettings(std::u16string& folder, int32_t& format);
// False, writing nothing, for a folder IsValidLogFolder refuses or a format
// outside 0..1; otherwise writes the trimmed folder, then the format, and
// returns the success of the last write made.
bool WriteLogSettings(const std::u16string& folder, int32_t format);

TWindowPlacement ReadWindowPlacement();
void WriteWindowPlacement(int32_t left, int32_t top, int32_t width, int32_t height);

bool IsValidConnectionName(const std::u16string& name);
