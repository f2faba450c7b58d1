#include "settings/uSettings.h"

#include <windows.h>

#include <initializer_list>
#include <mutex>
#include <vector>

#include "base/uText.h"
#include "base/uWin.h"

namespace {

// The path is computed once and then only replaced by SetSettingsPath. Text
// lookups may run on any thread and read it, so it is guarded. A leaf lock:
// nothing else is locked while it is held, and the catalog lock is never held
// while it is taken.
std::mutex g_settingsPathLock;
std::u16string g_settingsPath;
bool g_settingsPathSet = false;

const std::u16string kPlugin = u"Plugin";
const std::u16string kWindow = u"Window";

// The profile functions keep every character only in a file that starts with
// the UTF-16LE byte-order mark; in any other file they write the ANSI code
// page, and a Cyrillic or Chinese name turns into question marks for good.
constexpr char kUtf16Bom[] = "\xFF\xFE";
constexpr char kUtf8Bom[] = "\xEF\xBB\xBF";
// A settings file is a few kilobytes; anything near this is not ours to rewrite.
constexpr LONGLONG kMaxConvertBytes = 16 << 20;

bool FitsAnsi(std::u16string_view text) {
    return AnsiToWide(WideToAnsi(text, CP_ACP, WC_NO_BEST_FIT_CHARS)) == text;
}

bool ReadWholeFile(HANDLE file, std::string& bytes) {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size) || size.QuadPart > kMaxConvertBytes) return false;
    bytes.resize(size_t(size.QuadPart));
    DWORD got = 0;
    return bytes.empty() || (ReadFile(file, bytes.data(), DWORD(bytes.size()), &got, nullptr) &&
                             got == bytes.size());
}

bool WriteNewFile(const std::u16string& path, const std::string& bytes) {
    THandle file(CreateFileW(W(path), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD done = 0;
    return file.Valid() &&
           WriteFile(file.Get(), bytes.data(), DWORD(bytes.size()), &done, nullptr) &&
           done == bytes.size() && FlushFileBuffers(file.Get());
}

// Rewrites an ANSI (or UTF-8 marked) file as UTF-16LE with its whole content,
// through a temporary file beside it, so that a failure anywhere leaves the
// original untouched.
bool ConvertToUtf16(const std::u16string& path, const std::string& bytes) {
    const std::string_view text(bytes);
    const std::u16string wide =
        text.starts_with(kUtf8Bom) ? AnsiToWide(text.substr(3), CP_UTF8) : AnsiToWide(text, CP_ACP);
    if (wide.empty() && !text.empty()) return false;
    std::string out(kUtf16Bom, 2);
    out.append(reinterpret_cast<const char*>(wide.data()), wide.size() * 2);
    const auto slash = path.find_last_of(u"\\/");
    const std::u16string dir = slash == std::u16string::npos ? u"." : path.substr(0, slash);
    wchar_t temp[MAX_PATH] = {};
    if (!GetTempFileNameW(W(dir), L"kl", 0, temp)) return false;
    const std::u16string tempPath = U(temp);
    if (!WriteNewFile(tempPath, out) ||
        !MoveFileExW(temp, W(path), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileW(temp);
        return false;
    }
    // The profile functions may hold the old text in their cache.
    WritePrivateProfileStringW(nullptr, nullptr, nullptr, W(path));
    return true;
}

// Called before every write: a missing file is created with the mark; an
// existing file without it stays as it is until a write would lose
// characters, and is then converted once. Failures leave the file alone; the
// write that follows reports them as it always has.
void PrepareForWrite(const std::u16string& path, std::initializer_list<std::u16string_view> texts) {
    THandle file(CreateFileW(W(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) {
        if (GetLastError() != ERROR_FILE_NOT_FOUND) return;
        THandle created(CreateFileW(W(path), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD done = 0;
        if (created.Valid()) WriteFile(created.Get(), kUtf16Bom, 2, &done, nullptr);
        return;
    }
    char head[2] = {};
    DWORD got = 0;
    if (!ReadFile(file.Get(), head, 2, &got, nullptr)) return;
    if (got == 2 && head[0] == kUtf16Bom[0] && head[1] == kUtf16Bom[1]) return;
    bool fits = true;
    for (auto t : texts) fits = fits && FitsAnsi(t);
    if (fits) return;
    std::string bytes;
    SetFilePointer(file.Get(), 0, nullptr, FILE_BEGIN);
    if (!ReadWholeFile(file.Get(), bytes)) return;
    file.Reset();
    ConvertToUtf16(path, bytes);
}

bool WriteStringChecked(const std::u16string& section, const std::u16string& key,
                        const std::u16string& value) {
    const auto path = SettingsPath();
    PrepareForWrite(path, {section, key, value});
    return WritePrivateProfileStringW(W(section), W(key), W(value), W(path)) != FALSE;
}

bool WriteIntChecked(const std::u16string& section, const std::u16string& key, int32_t value) {
    return WriteStringChecked(section, key, IntToText(value));
}

}  // namespace

std::u16string SettingsPath() {
    std::lock_guard<std::mutex> guard(g_settingsPathLock);
    if (!g_settingsPathSet) {
        g_settingsPath = ModuleDirectory() + u"kestrelink.ini";
        g_settingsPathSet = true;
    }
    return g_settingsPath;
}

void SetSettingsPath(const std::u16string& path) {
    std::lock_guard<std::mutex> guard(g_settingsPathLock);
    g_settingsPath = path;
    g_settingsPathSet = true;
}

std::u16string ReadString(const std::u16string& section, const std::u16string& key,
                          const std::u16string& def) {
    wchar_t buf[1024] = {};
    const auto path = SettingsPath();
    const DWORD n = GetPrivateProfileStringW(W(section), W(key), W(def), buf, 1024, W(path));
    return U(buf, n < 1024 ? n : 1023);
}

int32_t ReadInt(const std::u16string& section, const std::u16string& key, int32_t def) {
    const auto path = SettingsPath();
    return int32_t(GetPrivateProfileIntW(W(section), W(key), def, W(path)));
}

bool ReadBool(const std::u16string& section, const std::u16string& key, bool def) {
    return ReadInt(section, key, def ? 1 : 0) != 0;
}

void WriteString(const std::u16string& section, const std::u16string& key,
                 const std::u16string& value) {
    WriteStringChecked(section, key, value);
}

void WriteInt(const std::u16string& section, const std::u16string& key, int32_t value) {
    WriteString(section, key, IntToText(value));
}

int32_t GlobalHistoryLines() {
    return ClampHistoryLines(ReadInt(kPlugin, u"HistoryLines", kDefaultHistoryLines));
}

TSessionSettings LoadSessionSettings(const std::u16string& section) {
    TSessionSettings s = DefaultSessionSettings();
    auto readInt = [&](const char16_t* key, int32_t& v) { v = ReadInt(section, key, v); };
    auto readBool = [&](const char16_t* key, bool& v) { v = ReadBool(section, key, v); };
    readInt(u"Baud", s.Baud);
    readInt(u"DataBits", s.DataBits);
    readInt(u"StopBits", s.StopBits);
    readInt(u"Parity", s.Parity);
    readInt(u"Flow", s.Flow);
    readBool(u"DTR", s.DTR);
    readBool(u"RTS", s.RTS);
    readBool(u"ViewHex", s.ViewHex);
    readBool(u"AnsiColors", s.AnsiColors);
    readInt(u"Charset", s.Charset);
    readInt(u"RxNewline", s.RxNewline);
    readInt(u"TxNewline", s.TxNewline);
    readBool(u"LocalEcho", s.LocalEcho);
    readBool(u"Autoscroll", s.Autoscroll);
    readBool(u"AutoReconnect", s.AutoReconnect);
    readBool(u"Timestamps", s.Timestamps);
    readBool(u"ConnectOnOpen", s.ConnectOnOpen);
    readBool(u"ConnectInQuickView", s.ConnectInQuickView);
    readBool(u"HistoryOn", s.HistoryOn);
    readBool(u"Log", s.Log);
    s.SendMode = NormalizeSendMode(ReadInt(section, u"SendMode", 0));
    for (int i = 0; i < kCommandCount; ++i) {
        const std::u16string key = u"Cmd" + IntToText(i + 1);
        TStoredCommand& c = s.Commands[size_t(i)];
        c.Text = StoredCommandText(ReadString(section, key, {}));
        c.Mode = NormalizeSendMode(ReadInt(section, key + u"Mode", 0));
        c.RepeatMs = ClampRepeatMs(ReadInt(section, key + u"Repeat", 0));
    }
    s.HistoryLines = ReadInt(section, u"HistoryLines", GlobalHistoryLines());
    ApplySessionReadRules(s);
    return s;
}

void SaveTerminalSettings(const std::u16string& section, const TSessionSettings& s) {
    WriteInt(section, u"Baud", s.Baud);
    WriteInt(section, u"DataBits", s.DataBits);
    WriteInt(section, u"StopBits", s.StopBits);
    WriteInt(section, u"Parity", s.Parity);
    WriteInt(section, u"Flow", s.Flow);
    WriteInt(section, u"DTR", s.DTR);
    WriteInt(section, u"RTS", s.RTS);
    WriteInt(section, u"ViewHex", s.ViewHex);
    WriteInt(section, u"AnsiColors", s.AnsiColors);
    WriteInt(section, u"Charset", s.Charset);
    WriteInt(section, u"RxNewline", s.RxNewline);
    WriteInt(section, u"TxNewline", s.TxNewline);
    WriteInt(section, u"LocalEcho", s.LocalEcho);
    WriteInt(section, u"Autoscroll", s.Autoscroll);
    WriteInt(section, u"AutoReconnect", s.AutoReconnect);
    WriteInt(section, u"Timestamps", s.Timestamps);
    WriteInt(section, u"Log", s.Log);
    WriteInt(section, u"SendMode", s.SendMode);
}

void SaveSessionSettings(const std::u16string& section, const TSessionSettings& s) {
    SaveTerminalSettings(section, s);
    WriteInt(section, u"ConnectOnOpen", s.ConnectOnOpen);
    WriteInt(section, u"ConnectInQuickView", s.ConnectInQuickView);
    WriteInt(section, u"HistoryOn", s.HistoryOn);
    WriteInt(section, u"HistoryLines", s.HistoryLines);
    // An empty command leaves no keys behind; a section without commands
    // stays as short as it was.
    const auto path = SettingsPath();
    for (int i = 0; i < kCommandCount; ++i) {
        const std::u16string key = u"Cmd" + IntToText(i + 1);
        const TStoredCommand& c = s.Commands[size_t(i)];
        if (c.Text.empty()) {
            for (const std::u16string& k : {key, key + u"Mode", key + u"Repeat"})
                WritePrivateProfileStringW(W(section), W(k), nullptr, W(path));
            continue;
        }
        WriteString(section, key, QuoteCommandText(c.Text));
        WriteInt(section, key + u"Mode", c.Mode);
        WriteInt(section, key + u"Repeat", c.RepeatMs);
    }
}

TSendFileSettings LoadSendFileSettings(const std::u16string& section) {
    TSendFileSettings s;
    s.Protocol = ReadInt(section, u"SendProtocol", s.Protocol);
    s.CharDelayMs = ReadInt(section, u"SendCharDelay", s.CharDelayMs);
    s.LineDelayMs = ReadInt(section, u"SendLineDelay", s.LineDelayMs);
    ApplySendFileReadRules(s);
    return s;
}

void SaveSendFileSettings(const std::u16string& section, const TSendFileSettings& s) {
    WriteInt(section, u"SendProtocol", s.Protocol);
    WriteInt(section, u"SendCharDelay", s.CharDelayMs);
    WriteInt(section, u"SendLineDelay", s.LineDelayMs);
}

TNameArray ListConnections() {
    TNameArray names;
    std::vector<wchar_t> buf(65536);
    const auto path = SettingsPath();
    const DWORD n = GetPrivateProfileSectionNamesW(buf.data(), DWORD(buf.size()), W(path));
    const std::u16string_view all(reinterpret_cast<const char16_t*>(buf.data()),
                                  n < buf.size() ? n : buf.size());
    size_t pos = 0;
    while (pos < all.size()) {
        size_t end = all.find(u'\0', pos);
        if (end == std::u16string_view::npos) end = all.size();
        const auto name = all.substr(pos, end - pos);
        if (name.size() >= 6 && StartsWithI(name, u"Conn:")) names.emplace_back(name.substr(5));
        pos = end + 1;
    }
    InsertionSortI(names, [](const std::u16string& s) -> std::u16string_view { return s; });
    return names;
}

bool LoadConnection(const std::u16string& name, TConnInfo& info) {
    const auto section = ConnSection(name);
    info.Name = name;
    info.Host = ReadString(section, u"Host", u"");
    info.Port = ReadInt(section, u"Port", 23);
    info.Mode = NormalizeConnMode(ReadInt(section, u"Mode", 1));
    return !info.Host.empty();
}

void SaveConnection(const TConnInfo& info) {
    const auto section = ConnSection(info.Name);
    WriteString(section, u"Host", info.Host);
    WriteInt(section, u"Port", info.Port);
    WriteInt(section, u"Mode", info.Mode);
}

bool DeleteConnection(const std::u16string& name) {
    const auto section = ConnSection(name);
    const auto path = SettingsPath();
    // Whether there is anything to remove is asked before the write: after a
    // failed write the profile cache may already look as if it had worked.
    wchar_t probe[4] = {};
    const bool present = GetPrivateProfileSectionW(W(section), probe, 4, W(path)) > 0;
    if (WritePrivateProfileStringW(W(section), nullptr, nullptr, W(path))) return true;
    return !present;
}

void ReadGeneralSettings(std::u16string& language, std::u16string& theme) {
    language = NormalizeLanguage(ReadString(kPlugin, u"Language", u"en"));
    theme = NormalizeTheme(ReadString(kPlugin, u"Theme", u"auto"));
}

bool WriteGeneralSettings(const std::u16string& language, const std::u16string& theme) {
    if (!IsValidLanguageCode(language) || !IsExactTheme(theme)) return false;
    if (!WriteStringChecked(kPlugin, u"Theme", theme)) return false;
    return WriteStringChecked(kPlugin, u"Language", AsciiLower(language));
}

void ReadFontSettings(std::u16string& face, int32_t& size) {
    face = NormalizeFontName(ReadString(kPlugin, u"TerminalFontName", u"Consolas"));
    size = NormalizeFontSize(ReadInt(kPlugin, u"TerminalFontSize", 10));
}

bool WriteFontSettings(const std::u16string& face, int32_t size) {
    if (!IsValidFontSettings(face, size)) return false;
    if (!WriteStringChecked(kPlugin, u"TerminalFontName", Trim(face))) return false;
    return WriteIntChecked(kPlugin, u"TerminalFontSize", size);
}

void ReadAppearance(TColorRef& background, TColorRef& text, int32_t& hexBytesPerLine) {
    if (!ParseColor(ReadString(kPlugin, u"TerminalBackground", u"#0C0C0C"), background))
        background = 0x0C0C0C;
    if (!ParseColor(ReadString(kPlugin, u"TerminalTextColor", u"#CCCCCC"), text)) text = 0xCCCCCC;
    hexBytesPerLine = NormalizeHexBytesPerLine(ReadInt(kPlugin, u"HexBytesPerLine", 24));
}

bool WriteAppearance(TColorRef background, TColorRef text, int32_t hexBytesPerLine) {
    if (background > 0xFFFFFF || text > 0xFFFFFF || hexBytesPerLine < 1 || hexBytesPerLine > 64)
        return false;
    if (!WriteStringChecked(kPlugin, u"TerminalBackground", ColorToHex(background))) return false;
    if (!WriteStringChecked(kPlugin, u"TerminalTextColor", ColorToHex(text))) return false;
    return WriteIntChecked(kPlugin, u"HexBytesPerLine", hexBytesPerLine);
}

void ReadLogSettings(std::u16string& folder, int32_t& format) {
    folder = NormalizeLogFolder(ReadString(kPlugin, u"LogFolder", kDefaultLogFolder));
    format = NormalizeLogFormat(ReadInt(kPlugin, u"LogFormat", kLogFormatText));
}

bool WriteLogSettings(const std::u16string& folder, int32_t format) {
    if (!IsValidLogFolder(folder) || NormalizeLogFormat(format) != format) return false;
    if (!WriteStringChecked(kPlugin, u"LogFolder", NormalizeLogFolder(folder))) return false;
    return WriteIntChecked(kPlugin, u"LogFormat", format);
}

TWindowPlacement ReadWindowPlacement() {
    TWindowPlacement p;
    p.Left = ReadInt(kWindow, u"Left", 100);
    p.Top = ReadInt(kWindow, u"Top", 100);
    p.Width = ReadInt(kWindow, u"Width", 960);
    p.Height = ReadInt(kWindow, u"Height", 620);
    p.Valid = ReadInt(kWindow, u"Valid", 0) != 0;
    return FixWindowPlacement(
        p, GetSystemMetrics(SM_XVIRTUALSCREEN), GetSystemMetrics(SM_YVIRTUALSCREEN),
        GetSystemMetrics(SM_CXVIRTUALSCREEN), GetSystemMetrics(SM_CYVIRTUALSCREEN));
}

void WriteWindowPlacement(int32_t left, int32_t top, int32_t width, int32_t height) {
    WriteInt(kWindow, u"Left", left);
    WriteInt(kWindow, u"Top", top);
    WriteInt(kWindow, u"Width", width);
    WriteInt(kWindow, u"Height", height);
    WriteInt(kWindow, u"Valid", 1);
}

bool IsValidConnectionName(const std::u16string& name) {
    return !name.empty() && !HasForbiddenNameChar(name) && !StartsWithI(name, u"COM");
}
