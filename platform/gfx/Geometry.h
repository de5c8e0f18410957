#pragma once

// Geometry of the whole platform layer: 32-bit float points, origin at the top-left, y growing
// downwards. Rectangles are (x, y, width, height).

namespace platform {

struct Point {
    float x = 0.0f;
    float y = 0.0f;
    friend bool operator==(const Point&, const Point&) = default;
};

struct Size {
    float width = 0.0f;
    float height = 0.0f;
    friend bool operator==(const Size&, const Size&) = default;
};

struct Rect {
    Point origin;
    Size size;

    constexpr Rect() = default;
    constexpr Rect(float x, float y, float width, float height) : origin{x, y}, size{width, height} {}

    float minX() const { return origin.x; }
    float minY() const { return origin.y; }
    float maxX() const { return origin.x + size.width; }
    float maxY() const { return origin.y + size.height; }
    bool contains(Point p) const { return p.x >= minX() && p.x < maxX() && p.y >= minY() && p.y < maxY(); }
    friend bool operator==(const Rect&, const Rect&) = default;
};

/// An RGBA colour, each component 0 to 1, not premultiplied.
struct Color {
    double red = 0.0;
    double green = 0.0;
    double blue = 0.0;
    double alpha = 1.0;
    friend bool operator==(const Color&, const Color&) = default;

    /// The calm grey-blue behind grouped settings.
    static constexpr Color groupTableViewBackgroundColor() { return Color{0.773, 0.800, 0.831, 1.0}; }
};

} // namespace platform
