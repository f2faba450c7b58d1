// Antialiased vector drawing for the icon generator. Every shape is a signed
// distance function (negative inside); a pixel whose centre lies well inside
// or outside a shape is decided by one evaluation, only edge pixels are
// supersampled. All distance functions are 1-Lipschitz (never overstate the
// distance to the edge), which is what makes that shortcut safe.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace icongen {

struct Vec {
    double x = 0, y = 0;
};
inline Vec operator+(Vec a, Vec b) { return {a.x + b.x, a.y + b.y}; }
inline Vec operator-(Vec a, Vec b) { return {a.x - b.x, a.y - b.y}; }
inline Vec operator*(Vec a, double k) { return {a.x * k, a.y * k}; }

// sRGB components 0..1 with straight (not premultiplied) alpha.
struct Color {
    double r = 0, g = 0, b = 0, a = 0;
};
Color Rgb(uint32_t rgb, double alpha = 1.0);
Color Mix(const Color& from, const Color& to, double t);

using Shape = std::function<double(Vec)>;
using Paint = std::function<Color(Vec)>;

// Axis-aligned rectangle [x0,x1]x[y0,y1] with optional corner radius.
Shape Box(double x0, double y0, double x1, double y1, double radius = 0);
Shape Disc(Vec centre, double r);
Shape Oval(Vec centre, double rx, double ry);
// Any simple polygon (even-odd rule), exact distance.
Shape Polygon(std::vector<Vec> pts);
// The convex polygon pts with every edge moved outwards by d (inwards when d
// is negative), corners staying sharp.
std::vector<Vec> OffsetPolygon(const std::vector<Vec>& pts, double d);
// A convex polygon with the corner at pts[i] rounded with radius radii[i]
// (0 keeps it sharp); the straight edges stay where they are.
Shape RoundedPolygon(const std::vector<Vec>& pts, const std::vector<double>& radii);
// A line of the given width with round caps.
Shape Stroke(Vec a, Vec b, double width);
// A line of the given width with square-cut ends exactly at a and b.
Shape Bar(Vec a, Vec b, double width);

Shape Union(Shape a, Shape b);
Shape Intersect(Shape a, Shape b);
Shape Minus(Shape a, Shape b);
// Moves the edge outwards by d (inwards when d is negative); corners round off.
Shape Grow(Shape s, double d);

Paint Solid(Color c);
Paint Linear(Vec p0, Color c0, Vec p1, Color c1);
Paint Radial(Vec centre, double r, Color inner, Color outer);

// A square RGBA image in straight alpha, rows top to bottom.
struct Image {
    int width = 0, height = 0;
    std::vector<uint8_t> rgba;
    uint8_t* At(int x, int y) { return &rgba[(size_t(y) * width + x) * 4]; }
    const uint8_t* At(int x, int y) const { return &rgba[(size_t(y) * width + x) * 4]; }
};

// Premultiplied working surface, composited with "source over".
class Canvas {
public:
    explicit Canvas(int size);
    int Size() const { return size_; }
    void Fill(const Shape& shape, const Paint& paint);
    void Fill(const Shape& shape, Color c) { Fill(shape, Solid(c)); }
    // Paints shape with `edge`, then the shape shrunk by `width` with `fill`.
    void Outlined(const Shape& shape, Color edge, double width, const Paint& fill);
    Image ToImage() const;

private:
    int size_;
    std::vector<double> px_;  // r, g, b, a premultiplied
};

}  // namespace icongen
