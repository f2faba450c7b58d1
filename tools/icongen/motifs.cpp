#include "motifs.h"

#include <algorithm>
#include <cmath>

namespace icongen {

namespace {

// An edge coordinate on the pixel grid.
double Edge(double v) { return std::round(v); }

// The centre of a line of width w near v, placed so that both of its edges
// fall on pixel boundaries (for whole-pixel widths); thin lines stay sharp.
double Mid(double v, double w) { return std::round(v - w / 2) + w / 2; }

// Outline widths and other strokes grow with the picture, never below a pixel.
double Line(int n, double per) { return std::max(1.0, std::round(n / per)); }

}  // namespace

// ---------------------------------------------------------------------------
// A DE-9 plug from the front: the D-shaped metal shell, the dark insulator,
// five pins over four. Large sizes add the flange with its two screw posts.
// Below 32 px the pins are whole-pixel squares; their pitch is even where
// possible so both staggered rows sit on the grid.

namespace {

struct PortLayout {
    int size;
    double pitch, pin, rowGap, margin, shell, outline;
};

// clang-format off
constexpr PortLayout kPortLayouts[] = {
    // size pitch pin  rowGap margin shell outline
    {16,    2,   1,    3,     1,     1,    1},
    {20,    3,   2,    4,     1,     1,    1},
    {24,    3,   2,    4,     1,     2,    1},
    {32,    4,   3,    5,     2,     2,    1},
    {40,    5,   3.4,  6,     2,     2.5,  1},
    {48,    5,   3.4,  6,     2,     2.5,  1},
    {64,    7,   4.6,  8,     2.5,   3,    1.5},
};
// clang-format on

PortLayout PortLayoutFor(int n) {
    for (const PortLayout& l : kPortLayouts)
        if (l.size >= n) return l;
    PortLayout l = kPortLayouts[std::size(kPortLayouts) - 1];
    const double k = double(n) / l.size;
    return {n, l.pitch * k, l.pin * k, l.rowGap * k, l.margin * k, l.shell * k, l.outline * k};
}

}  // namespace

Image DrawSerialPort(int n) {
    Canvas cv(n);
    const PortLayout L = PortLayoutFor(n);
    const bool squarePins = n < 32;
    const bool flange = n >= 48;

    const Color outline = Rgb(0x3A4049);
    const Paint steel = Linear({0, n * 0.2}, Rgb(0xF1F3F6), {0, n * 0.8}, Rgb(0x99A2AD));
    const Paint flangeSteel = Linear({0, n * 0.15}, Rgb(0xC9CFD6), {0, n * 0.85}, Rgb(0x7D8691));

    // Pins of an odd whole-pixel width on an even pitch sit on pixel centres
    // in both rows when the middle column is a pixel centre.
    const bool oddGrid = std::fmod(L.pin, 2.0) == 1.0 && std::fmod(L.pitch, 2.0) == 0.0;
    const double cx = n / 2.0 - (oddGrid ? 0.5 : 0.0);
    const double cy = n / 2.0;
    const double topRow = cy - L.rowGap / 2, bottomRow = cy + L.rowGap / 2;

    const double top = topRow - L.pin / 2 - L.margin, bottom = bottomRow + L.pin / 2 + L.margin;
    const double topHalf = 2 * L.pitch + L.pin / 2 + L.margin;
    const double bottomHalf = 1.5 * L.pitch + L.pin / 2 + L.margin;
    const std::vector<Vec> face = {{cx - topHalf, top},
                                   {cx + topHalf, top},
                                   {cx + bottomHalf, bottom},
                                   {cx - bottomHalf, bottom}};
    // The D shape: lower corners rounder than the upper ones, on the insulator
    // and on the shell around it.
    const double ir = squarePins ? 0.0 : L.margin * 0.8;
    const Shape insulator = RoundedPolygon(face, {ir, ir, ir * 2, ir * 2});
    const double sw = L.shell + L.outline;
    // Small sizes move the corners straight out instead of along the edge
    // normals, which keeps the slanted shell inside the canvas at 16 px.
    const std::vector<Vec> outer = squarePins ? std::vector<Vec>{{face[0].x - sw, face[0].y - sw},
                                                                 {face[1].x + sw, face[1].y - sw},
                                                                 {face[2].x + sw, face[2].y + sw},
                                                                 {face[3].x - sw, face[3].y + sw}}
                                              : OffsetPolygon(face, sw);
    const double tr = ir + sw * 0.8, br = ir * 2 + sw * 1.6;
    const Shape shell = RoundedPolygon(outer, {tr, tr, br, br});
    if (flange) {
        const double shellHalf = topHalf + sw;
        const double x0 = Edge(n * 0.02), x1 = n - x0;
        const double fy0 = Edge(top - sw - L.pitch * 0.9);
        const double fy1 = n - fy0;
        cv.Outlined(Box(x0, fy0, x1, fy1, L.pitch * 0.6), outline, L.outline, flangeSteel);
        // Screw posts centred in the room between the flange edge and the shell.
        const double room = (cx - shellHalf) - x0;
        const double r = std::min(room * 0.42, (fy1 - fy0) * 0.3);
        for (double sx : {x0 + room / 2, x1 - room / 2}) {
            const Vec c{sx, cy};
            cv.Outlined(
                Disc(c, r), outline, L.outline,
                Radial({c.x - r * 0.4, c.y - r * 0.4}, r * 1.6, Rgb(0xE4E8EC), Rgb(0x6E7782)));
            cv.Fill(Disc(c, r * 0.42), Rgb(0x22262C));
        }
    }

    cv.Outlined(shell, outline, L.outline, steel);
    cv.Fill(insulator, Linear({0, top}, Rgb(0x30363F), {0, bottom}, Rgb(0x1A1D22)));

    for (int row = 0; row < 2; ++row) {
        const int count = row == 0 ? 5 : 4;
        const double y = row == 0 ? topRow : bottomRow;
        for (int i = 0; i < count; ++i) {
            const double x = cx + (i - (count - 1) / 2.0) * L.pitch;
            if (squarePins) {
                // Odd pitch cannot put both rows on the grid: the lower row
                // shifts half a pixel to the right rather than blur.
                const double px = std::floor(x - L.pin / 2 + 0.5),
                             py = std::floor(y - L.pin / 2 + 0.5);
                cv.Fill(Box(px, py, px + L.pin, py + L.pin), Rgb(0xFFD15C));
            } else {
                const Vec c{x, y};
                const double r = L.pin / 2;
                cv.Fill(Disc(c, r), Radial({x - r * 0.35, y - r * 0.35}, r * 1.5, Rgb(0xFFF4C8),
                                           Rgb(0xC98F1C)));
            }
        }
    }
    return cv.ToImage();
}

// ---------------------------------------------------------------------------
// A blue globe with a light graticule: equator, two parallels, the central
// meridian and one pair of meridians as an ellipse (two pairs from 48 px).
// Odd line widths get a centre on a pixel centre so 1-px lines stay crisp.

Image DrawGlobe(int n) {
    Canvas cv(n);
    const double lw = Line(n, 24);
    const double ow = n >= 40 ? 1.5 : 1.0;
    const double c = n / 2.0 - (int(lw) % 2 == 1 ? 0.5 : 0.0);
    const double r = n / 2.0 - 0.5;
    const Vec centre{c, c};

    const Shape globe = Disc(centre, r);
    cv.Outlined(globe, Rgb(0x174A8B), ow,
                Radial({c - r * 0.4, c - r * 0.45}, r * 1.7, Rgb(0x8FD3FF), Rgb(0x1B5FC1)));

    const Shape inner = Disc(centre, r - ow);
    const Color grid = Rgb(0xEAF6FF, 0.92);
    auto draw = [&](const Shape& s) { cv.Fill(Intersect(s, inner), grid); };

    draw(Bar({c - r, c}, {c + r, c}, lw));
    const double lat = r * (n <= 20 ? 0.55 : 0.5);
    for (double y : {Mid(c - lat, lw), Mid(c + lat, lw)}) draw(Bar({0, y}, {double(n), y}, lw));
    draw(Bar({c, 0}, {c, double(n)}, lw));
    std::vector<double> meridians = {std::round(r * 0.5)};
    if (n >= 48) meridians.push_back(std::round(r * 0.85));
    for (double rx : meridians)
        draw(Minus(Oval(centre, rx + lw / 2, r + lw / 2), Oval(centre, rx - lw / 2, r - lw / 2)));
    return cv.ToImage();
}

// ---------------------------------------------------------------------------
// A page with a folded corner and lines of text, and a green plus over its
// lower right corner. The page is cleared around the plus so text lines do
// not run into it.

Image DrawNewDocument(int n) {
    Canvas cv(n);
    const double ow = Line(n, 32);
    const double x0 = Edge(n * 0.12), x1 = Edge(n * 0.80);
    const double y0 = Edge(n * 0.03), y1 = n - Edge(n * 0.03);
    const double fold = Edge(n * 0.28);
    const Color edge = Rgb(0x66707C);
    const Color paper = Rgb(0xFFFFFF);

    const Shape page = Polygon({{x0, y0}, {x1 - fold, y0}, {x1, y0 + fold}, {x1, y1}, {x0, y1}});
    cv.Outlined(page, edge, ow, Linear({0, y0}, paper, {0, y1}, Rgb(0xE6EAF0)));
    cv.Outlined(Polygon({{x1 - fold, y0}, {x1 - fold, y0 + fold}, {x1, y0 + fold}}), edge, ow,
                Solid(Rgb(0xCDD4DD)));

    // Text: whole-pixel lines two widths apart, the first ones stopping short
    // of the fold.
    const double tw = Line(n, 20);
    const double left = x0 + ow + std::max(1.0, Edge(n * 0.07));
    const double right = x1 - ow - std::max(1.0, Edge(n * 0.07));
    const double lengths[] = {0.55, 0.75, 1.0, 0.7, 1.0, 0.85, 1.0, 0.6};
    int k = 0;
    for (double y = y0 + ow + std::max(1.0, Edge(n * 0.1)); y + tw <= y1 - ow - 1;
         y += 2 * tw, ++k) {
        const double limit = y < y0 + fold + ow ? x1 - fold - ow - 1 : right;
        const double end = std::min(limit, Edge(left + (right - left) * lengths[k % 8]));
        if (end - left >= 1) cv.Fill(Box(left, y, end, y + tw), Rgb(0x98A2AE));
    }

    // The plus: inner arm width and length chosen with the same parity so the
    // arms are equally long on both sides of the centre.
    const double arm = std::round(n * 0.17);
    double len = std::round(n * 0.5);
    if (int(len - arm) % 2 != 0) len += 1;
    const double po = Line(n, 24);
    const double full = len + 2 * po, thick = arm + 2 * po;
    const double pc = n - full / 2;  // flush with the lower right corner
    const double rr = n >= 32 ? po : 0;
    const Shape plus = Union(Box(pc - full / 2, pc - thick / 2, pc + full / 2, pc + thick / 2, rr),
                             Box(pc - thick / 2, pc - full / 2, pc + thick / 2, pc + full / 2, rr));
    cv.Fill(Intersect(Grow(plus, std::max(1.0, po)), Grow(page, -ow)), paper);
    cv.Outlined(plus, Rgb(0x176B2E), po,
                Linear({0, pc - full / 2}, Rgb(0x5BD47A), {0, pc + full / 2}, Rgb(0x1E9A40)));
    return cv.ToImage();
}

// ---------------------------------------------------------------------------
// A text terminal: a monitor whose dark screen shows lines of green text with
// a prompt and cursor, above a keyboard seen slightly from above.

Image DrawTerminal(int n) {
    Canvas cv(n);
    const double ow = 1.0;
    // At the smallest sizes the grey outline is the whole bezel.
    const double bezel = n >= 24 ? Line(n, 16) : 0.0;
    const double my0 = Edge(n * 0.03), my1 = Edge(n * 0.70);
    const double ky0 = Edge(n * 0.76), ky1 = n - Edge(n * 0.01);
    const Color dark = Rgb(0x22262C);

    const Shape monitor = Box(0, my0, n, my1, n >= 24 ? Line(n, 12) : 1.0);
    if (bezel > 0) {
        cv.Outlined(monitor, dark, ow, Linear({0, my0}, Rgb(0x8C96A3), {0, my1}, Rgb(0x525B67)));
    } else {
        cv.Fill(monitor, Rgb(0x6C7683));
    }
    const double inset = ow + bezel;
    const double sx0 = inset, sx1 = n - inset, sy0 = my0 + inset, sy1 = my1 - inset;
    cv.Fill(Box(sx0, sy0, sx1, sy1, bezel > 0 ? std::max(0.0, bezel - 1) : 0),
            Linear({0, sy0}, Rgb(0x0F1A14), {0, sy1}, Rgb(0x050806)));

    // Green text: rows of "words" with gaps between them, then a prompt and
    // a cursor on the last line that fits.
    const Color green = Rgb(0x3DDC63);
    const double th = Line(n, 20);  // text height
    const double pad = std::max(1.0, Edge(n * 0.06));
    const double tx0 = sx0 + pad, tx1 = sx1 - pad;
    const double step = 2 * th;
    struct Word {
        double from, to;
    };
    const std::vector<std::vector<Word>> rows = {
        {{0.0, 0.3}, {0.42, 0.85}},
        {{0.0, 0.55}, {0.67, 0.8}},
        {{0.0, 0.2}, {0.32, 0.7}, {0.82, 1.0}},
        {{0.0, 0.45}},
    };
    const double ty0 = sy0 + std::max(1.0, Edge(n * 0.05));
    const double tyEnd = sy1 - std::max(1.0, Edge(n * 0.05));
    const double promptH = n >= 32 ? 3 * th : th;
    const int textRows = std::clamp(int((tyEnd - ty0 - promptH) / step), 0, int(rows.size()));
    for (int r = 0; r < textRows; ++r) {
        const double y = ty0 + r * step;
        for (const Word& w : rows[size_t(r)]) {
            const double a = Edge(tx0 + (tx1 - tx0) * w.from), b = Edge(tx0 + (tx1 - tx0) * w.to);
            if (b - a >= 1) cv.Fill(Box(a, y, b, y + th), green);
        }
    }
    const double py = ty0 + textRows * step;
    if (n >= 32) {
        // ">" of two strokes, then the cursor on its base line
        const double w = promptH * 0.55;
        const double inset = th / 2;  // keeps the round caps inside the text column
        const Vec a{tx0 + inset, py + inset}, m{tx0 + inset + w, py + promptH / 2},
            b{tx0 + inset, py + promptH - inset};
        cv.Fill(Union(Stroke(a, m, th), Stroke(m, b, th)), green);
        const double cx = Edge(m.x + th * 2);
        cv.Fill(Box(cx, py + promptH - th, cx + Edge(promptH * 0.7), py + promptH), green);
    } else {
        cv.Fill(Box(tx0, py, tx0 + th, py + th), green);
        cv.Fill(Box(tx0 + 2 * th, py, tx0 + 2 * th + std::max(2.0, 2 * th), py + th), green);
    }

    // Keyboard: a shallow trapezoid, rows of keys and a space bar.
    const double slant = std::max(1.0, Edge(n * 0.06));
    const Shape board = Polygon({{slant, ky0}, {n - slant, ky0}, {double(n), ky1}, {0, ky1}});
    cv.Outlined(board, Rgb(0x4B535E), ow, Linear({0, ky0}, Rgb(0xE3E7EC), {0, ky1}, Rgb(0xAEB6C0)));
    const Color key = Rgb(0x5E6773);
    const double kh = ky1 - ky0 - 2 * ow;  // inner height
    if (n < 24) {
        // one row of key dots, then the space bar
        const double y = ky0 + ow;
        for (double x = slant + 1; x + 1 <= n - slant - 1; x += 2)
            cv.Fill(Box(x, y, x + 1, y + 1), key);
        if (kh >= 2) cv.Fill(Box(Edge(n * 0.3), y + 1, n - Edge(n * 0.3), y + 2), key);
    } else {
        const int keyRows = kh >= 10 ? 3 : 2;
        const double gap = std::max(1.0, Edge(n / 40.0));
        const double rowH = (kh - gap * (keyRows + 2)) / (keyRows + 1);
        const double keyH = std::max(1.0, std::floor(rowH));
        double y = ky0 + ow + gap;
        for (int r = 0; r <= keyRows; ++r, y += keyH + gap) {
            const double inset = slant * (1 - (y - ky0) / (ky1 - ky0)) + ow + gap;
            if (r == keyRows) {
                cv.Fill(Box(Edge(n * 0.28), Edge(y), n - Edge(n * 0.28), Edge(y) + keyH), key);
                break;
            }
            const int keys = n >= 48 ? 10 : n >= 32 ? 8 : 6;
            const double kw = (n - 2 * inset - gap * (keys - 1)) / keys;
            for (int i = 0; i < keys; ++i) {
                const double x = inset + i * (kw + gap) + (r % 2 ? kw * 0.3 : 0);
                const double xe = std::min(x + kw, n - inset);
                if (xe - x >= 1) cv.Fill(Box(Edge(x), Edge(y), Edge(xe), Edge(y) + keyH), key);
            }
        }
    }
    return cv.ToImage();
}

}  // namespace icongen
