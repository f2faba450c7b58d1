// The few internals of a terminal window that tests, benchmarks and the
// pictures reach into; the production code never includes this header.
#pragma once

#include <memory>
#include <string_view>
#include <vector>

#include "termwnd/uTermWnd.h"

struct TTermWindowTestAccess {
    // The settings shown and applied as if the user had chosen them.
    static void SetPortSettings(TTermWindow& t, const TSessionSettings& s) { t.SetPortSettings(s); }
    // An opened backend adopted as Connect would (its messages carry the
    // window's connection number).
    static void AttachBackend(TTermWindow& t, std::unique_ptr<TBackend> b, bool connected) {
        t.AttachBackend(std::move(b), connected);
    }
    // The lamps lit as if the port reported these modem lines (pictures of a
    // live port, where a pseudo terminal reports none).
    static void ShowModemStatus(TTermWindow& t, int32_t status) {
        t.modemStatus_ = status;
        t.InvalidateLamps();
    }
    // Bytes shown as a received read is shown (the view follows rows that
    // leave the history), without a backend.
    static void Receive(TTermWindow& t, std::string_view bytes) {
        t.FeedModel(bytes.data(), int32_t(bytes.size()));
        t.ShowNewOutput();
    }
    // A log started as a connection coming up would start it (pictures of a
    // window that logs, without a connection).
    static void StartLog(TTermWindow& t) { t.StartLog(); }
    // Makes painting or draining received data fail while set (nullptr: never).
    using TFaultSite = TTermWindow::TFaultSite;
    static void SetFaultProbe(void (*probe)(TFaultSite)) { TTermWindow::faultProbe_ = probe; }
    // The GDI objects the window holds now (fonts, brushes, the view's
    // off-screen bitmap), for leak checks.
    static std::vector<HGDIOBJ> GdiObjects(const TTermWindow& t) {
        std::vector<HGDIOBJ> out;
        for (HGDIOBJ h : {HGDIOBJ(t.uiFont_.Get()), HGDIOBJ(t.termFont_.Get()),
                          HGDIOBJ(t.backgroundBrush_.Get()), HGDIOBJ(t.lampOnBrush_.Get()),
                          HGDIOBJ(t.lampOffBrush_.Get()), HGDIOBJ(t.backBitmap_.Get())})
            if (h) out.push_back(h);
        return out;
    }
};
