// Every GDI object a terminal window creates is deleted by its owner: 200
// windows opened, painted and closed leave the process's GDI objects as they
// were.
#include <windows.h>

#include <cstdio>
#include <vector>

#include "gui.h"
#include "term_fixture.h"

using namespace kltest;

namespace {

// How many more GDI objects the process could create now: brushes are made
// until the handle table refuses one, then all freed. Every object left alive
// lowers the number by one. (Wine's GetGuiResources counts nothing.)
int FreeGdiHandles() {
    std::vector<HBRUSH> probe;
    for (HBRUSH b; probe.size() < 200000 && (b = CreateSolidBrush(0));) probe.push_back(b);
    for (HBRUSH b : probe) DeleteObject(b);
    return int(probe.size());
}

}  // namespace

TEST(TermGdi, NoObjectsLeftAfterManyWindows) {
    TTermFixture f(800, 500);
    std::vector<HGDIOBJ> held;
    auto openPaintClose = [&] {
        TTermWindow* t = CreateEmbeddedTerminal(f.Lister());
        ASSERT_TRUE(t);
        t->Model().Feed("x\x1b[32my\r\n", 9);
        t->ShowNewOutput();
        UpdateWindow(t->OutputWindow());
        held = TTermWindowTestAccess::GdiObjects(*t);
        ASSERT_EQ(held.size(), 6u) << "fonts, brushes and the painted view's bitmap";
        CloseEmbeddedTerminal(t->MainWindow());
    };
    openPaintClose();  // the system's own first-use caches
    const int freeBefore = FreeGdiHandles();
    std::vector<HBRUSH> leak;
    for (int i = 0; i < 300; ++i) leak.push_back(CreateSolidBrush(RGB(i, 0, 0)));
    ASSERT_EQ(freeBefore - FreeGdiHandles(), 300) << "the probe must see 300 leaked brushes";
    for (HBRUSH b : leak) DeleteObject(b);

    for (int i = 0; i < 200; ++i) {
        openPaintClose();
        for (HGDIOBJ h : held) EXPECT_EQ(GetObjectType(h), 0u) << "still alive: " << h;
    }
    PumpFor(50);
    const int freeAfter = FreeGdiHandles();
    std::printf("free GDI handles before/after 200 windows: %d / %d\n", freeBefore, freeAfter);
    // One object per window would cost 200; the system may still take an
    // object or two for its own caches on the way.
    EXPECT_GE(freeAfter, freeBefore - 10) << "GDI objects left alive by the windows";
}
