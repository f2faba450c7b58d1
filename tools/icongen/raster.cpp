#include "raster.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace icongen {

namespace {

constexpr int kGrid = 8;                // 8x8 samples per edge pixel: 64 coverage levels
constexpr double kHalfDiagonal = 0.75;  // a bit over sqrt(2)/2: beyond it the pixel is uniform

double Dot(Vec a, Vec b) { return a.x * b.x + a.y * b.y; }
double Len(Vec a) { return std::sqrt(Dot(a, a)); }

}  // namespace

Color Rgb(uint32_t rgb, double alpha) {
    return {((rgb >> 16) & 0xFF) / 255.0, ((rgb >> 8) & 0xFF) / 255.0, (rgb & 0xFF) / 255.0, alpha};
}

Color Mix(const Color& from, const Color& to, double t) {
    t = std::clamp(t, 0.0, 1.0);
    return {from.r + (to.r - from.r) * t, from.g + (to.g - from.g) * t,
            from.b + (to.b - from.b) * t, from.a + (to.a - from.a) * t};
}

Shape Box(double x0, double y0, double x1, double y1, double radius) {
    const Vec c{(x0 + x1) / 2, (y0 + y1) / 2};
    const Vec half{(x1 - x0) / 2, (y1 - y0) / 2};
    radius = std::clamp(radius, 0.0, std::min(half.x, half.y));
    return [=](Vec p) {
        const Vec q{std::fabs(p.x - c.x) - half.x + radius, std::fabs(p.y - c.y) - half.y + radius};
        const Vec outside{std::max(q.x, 0.0), std::max(q.y, 0.0)};
        return Len(outside) + std::min(std::max(q.x, q.y), 0.0) - radius;
    };
}

Shape Disc(Vec centre, double r) {
    return [=](Vec p) { return Len(p - centre) - r; };
}

Shape Oval(Vec centre, double rx, double ry) {
    // (|p/r| - 1) * min(r) has a gradient of at most 1, so it never overstates the
    // distance to the ellipse, and it is exact on the edge.
    const double k = std::min(rx, ry);
    return [=](Vec p) {
        const Vec q{(p.x - centre.x) / rx, (p.y - centre.y) / ry};
        return (Len(q) - 1.0) * k;
    };
}

Shape Polygon(std::vector<Vec> pts) {
    return [pts = std::move(pts)](Vec p) {
        if (pts.size() < 3) return 1e9;
        double best = Dot(p - pts[0], p - pts[0]);
        bool inside = false;
        for (size_t i = 0, j = pts.size() - 1; i < pts.size(); j = i++) {
            const Vec e = pts[j] - pts[i];
            const Vec w = p - pts[i];
            const double ee = Dot(e, e);
            const double t = ee > 0 ? std::clamp(Dot(w, e) / ee, 0.0, 1.0) : 0.0;
            const Vec b = w - e * t;
            best = std::min(best, Dot(b, b));
            const bool c1 = p.y >= pts[i].y, c2 = p.y<pts[j].y, c3 = e.x * w.y> e.y * w.x;
            if ((c1 && c2 && c3) || (!c1 && !c2 && !c3)) inside = !inside;
        }
        return inside ? -std::sqrt(best) : std::sqrt(best);
    };
}

std::vector<Vec> OffsetPolygon(const std::vector<Vec>& pts, double d) {
    const size_t n = pts.size();
    if (n < 3 || d == 0) return pts;
    Vec centroid;
    for (Vec p : pts) centroid = centroid + p * (1.0 / double(n));
    // Each edge line moved along its outward normal; the new corners are
    // where neighbouring moved lines meet.
    std::vector<Vec> base(n), dir(n);
    for (size_t i = 0; i < n; ++i) {
        const Vec e = pts[(i + 1) % n] - pts[i];
        const double len = Len(e);
        if (len == 0) return pts;
        dir[i] = e * (1.0 / len);
        Vec outward{-dir[i].y, dir[i].x};
        if (Dot(outward, centroid - pts[i]) > 0) outward = outward * -1.0;
        base[i] = pts[i] + outward * d;
    }
    std::vector<Vec> out(n);
    for (size_t i = 0; i < n; ++i) {
        const size_t j = (i + n - 1) % n;  // the edge that ends at vertex i
        const double cross = dir[j].x * dir[i].y - dir[j].y * dir[i].x;
        if (std::fabs(cross) < 1e-12) return pts;
        const Vec w = base[i] - base[j];
        out[i] = base[j] + dir[j] * ((w.x * dir[i].y - w.y * dir[i].x) / cross);
    }
    return out;
}

Shape RoundedPolygon(const std::vector<Vec>& pts, const std::vector<double>& radii) {
    Shape shape = Polygon(pts);
    const size_t n = pts.size();
    for (size_t i = 0; i < n && i < radii.size(); ++i) {
        const double r = radii[i];
        if (r <= 0) continue;
        // The corner between the two tangent points, less the disc that
        // touches both edges there, is what rounding removes.
        const Vec v = pts[i];
        const Vec a = pts[(i + n - 1) % n] - v, b = pts[(i + 1) % n] - v;
        const double la = Len(a), lb = Len(b);
        if (la == 0 || lb == 0) continue;
        const Vec ua = a * (1 / la), ub = b * (1 / lb);
        const double half = std::acos(std::clamp(Dot(ua, ub), -1.0, 1.0)) / 2;
        if (half <= 1e-6) continue;
        const double t = std::min({r / std::tan(half), la / 2, lb / 2});  // tangent distance from v
        const double rr = t * std::tan(half);
        const Vec bis = (ua + ub) * (1 / Len(ua + ub));
        const Vec centre = v + bis * (rr / std::sin(half));
        shape = Minus(shape, Minus(Polygon({v, v + ua * t, v + ub * t}), Disc(centre, rr)));
    }
    return shape;
}

Shape Stroke(Vec a, Vec b, double width) {
    return [=](Vec p) {
        const Vec e = b - a, w = p - a;
        const double ee = Dot(e, e);
        const double t = ee > 0 ? std::clamp(Dot(w, e) / ee, 0.0, 1.0) : 0.0;
        return Len(w - e * t) - width / 2;
    };
}

Shape Bar(Vec a, Vec b, double width) {
    const Vec e = b - a;
    const double len = Len(e);
    if (len == 0) return [](Vec) { return 1e9; };
    const Vec n{-e.y / len * width / 2, e.x / len * width / 2};
    return Polygon({a + n, b + n, b - n, a - n});
}

Shape Union(Shape a, Shape b) {
    return [a = std::move(a), b = std::move(b)](Vec p) { return std::min(a(p), b(p)); };
}

Shape Intersect(Shape a, Shape b) {
    return [a = std::move(a), b = std::move(b)](Vec p) { return std::max(a(p), b(p)); };
}

Shape Minus(Shape a, Shape b) {
    return [a = std::move(a), b = std::move(b)](Vec p) { return std::max(a(p), -b(p)); };
}

Shape Grow(Shape s, double d) {
    return [s = std::move(s), d](Vec p) { return s(p) - d; };
}

Paint Solid(Color c) {
    return [c](Vec) { return c; };
}

Paint Linear(Vec p0, Color c0, Vec p1, Color c1) {
    const Vec e = p1 - p0;
    const double ee = Dot(e, e);
    return [=](Vec p) { return Mix(c0, c1, ee > 0 ? Dot(p - p0, e) / ee : 0.0); };
}

Paint Radial(Vec centre, double r, Color inner, Color outer) {
    return [=](Vec p) { return Mix(inner, outer, r > 0 ? Len(p - centre) / r : 1.0); };
}

Canvas::Canvas(int size) : size_(size), px_(size_t(size) * size * 4, 0.0) {}

void Canvas::Fill(const Shape& shape, const Paint& paint) {
    for (int y = 0; y < size_; ++y) {
        for (int x = 0; x < size_; ++x) {
            const Vec centre{x + 0.5, y + 0.5};
            const double d = shape(centre);
            if (d > kHalfDiagonal) continue;
            double coverage = 1.0;
            if (d > -kHalfDiagonal) {
                int hits = 0;
                for (int sy = 0; sy < kGrid; ++sy)
                    for (int sx = 0; sx < kGrid; ++sx)
                        if (shape({x + (sx + 0.5) / kGrid, y + (sy + 0.5) / kGrid}) <= 0) ++hits;
                if (hits == 0) continue;
                coverage = double(hits) / (kGrid * kGrid);
            }
            const Color c = paint(centre);
            const double a = std::clamp(c.a, 0.0, 1.0) * coverage;
            double* dst = &px_[(size_t(y) * size_ + x) * 4];
            dst[0] = c.r * a + dst[0] * (1 - a);
            dst[1] = c.g * a + dst[1] * (1 - a);
            dst[2] = c.b * a + dst[2] * (1 - a);
            dst[3] = a + dst[3] * (1 - a);
        }
    }
}

void Canvas::Outlined(const Shape& shape, Color edge, double width, const Paint& fill) {
    Fill(shape, edge);
    Fill(Grow(shape, -width), fill);
}

Image Canvas::ToImage() const {
    Image img;
    img.width = img.height = size_;
    img.rgba.resize(size_t(size_) * size_ * 4);
    auto byte = [](double v) { return uint8_t(std::lround(std::clamp(v, 0.0, 1.0) * 255.0)); };
    for (size_t i = 0; i < size_t(size_) * size_; ++i) {
        const double* s = &px_[i * 4];
        const uint8_t a = byte(s[3]);
        uint8_t* d = &img.rgba[i * 4];
        if (a == 0) {
            d[0] = d[1] = d[2] = d[3] = 0;  // fully transparent pixels carry no colour
            continue;
        }
        d[0] = byte(s[0] / s[3]);
        d[1] = byte(s[1] / s[3]);
        d[2] = byte(s[2] / s[3]);
        d[3] = a;
    }
    return img;
}

}  // namespace icongen
