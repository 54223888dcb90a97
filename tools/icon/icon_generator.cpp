// Draws Quillbeck's icon (an amber folder holding a sheet, with a blue quill
// dipped into it) and writes it as quillbeck.ico and quillbeck.png.
//
// The artwork is kept as code so both builds share one image without a
// binary blob in the tree. The shapes are polygons in a unit square, filled
// by their signed distance (one-pixel anti-aliasing at every size) with an
// outline drawn inside each shape, so the outer size never grows. The icon
// file holds 16x16 and 32x32 images with a 256-colour palette (what the
// window and the tray show), and 48x48 and 256x256 images with alpha (the
// 256x256 one PNG-compressed, as shells expect). Plain standard C++, so the
// cross build can run it under its emulator.
//
// Usage: quillbeck_icon_generator <file.ico> <file.png>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

struct Point {
  double x;
  double y;
};

struct Rgba {
  double r, g, b, a;  // 0..1, straight alpha
};

struct Rgb8 {
  std::uint8_t r, g, b;
};

// Colour() builds an opaque colour from 0xRRGGBB.
Rgba Colour(std::uint32_t rgb) {
  return {((rgb >> 16) & 0xFF) / 255.0, ((rgb >> 8) & 0xFF) / 255.0, (rgb & 0xFF) / 255.0, 1.0};
}

// One filled shape: a polygon, a vertical gradient between two colours and
// an outline of the given width (in units of the square) inside its edge.
struct Shape {
  std::vector<Point> polygon;
  Rgba top;
  Rgba bottom;
  Rgba outline;
  double outline_width;
};

// SignedDistance() is the distance from `p` to the polygon's edge, negative
// inside (even-odd rule).
double SignedDistance(const std::vector<Point>& poly, Point p) {
  double best = 1e9;
  bool inside = false;
  for (std::size_t i = 0, j = poly.size() - 1; i < poly.size(); j = i++) {
    const Point a = poly[j];
    const Point b = poly[i];
    const double ex = b.x - a.x, ey = b.y - a.y;
    const double wx = p.x - a.x, wy = p.y - a.y;
    const double len2 = ex * ex + ey * ey;
    const double t = len2 > 0 ? std::clamp((wx * ex + wy * ey) / len2, 0.0, 1.0) : 0.0;
    const double dx = wx - ex * t, dy = wy - ey * t;
    best = std::min(best, dx * dx + dy * dy);
    if ((a.y > p.y) != (b.y > p.y) && p.x < (b.x - a.x) * (p.y - a.y) / (b.y - a.y) + a.x) {
      inside = !inside;
    }
  }
  const double d = std::sqrt(best);
  return inside ? -d : d;
}

Rgba Mix(Rgba a, Rgba b, double t) {
  return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t,
          a.a + (b.a - a.a) * t};
}

// Over() paints `src` with coverage `cover` over `dst` (straight alpha).
Rgba Over(Rgba dst, Rgba src, double cover) {
  const double sa = src.a * cover;
  const double oa = sa + dst.a * (1 - sa);
  if (oa <= 0) return {0, 0, 0, 0};
  auto ch = [&](double s, double d) { return (s * sa + d * dst.a * (1 - sa)) / oa; };
  return {ch(src.r, dst.r), ch(src.g, dst.g), ch(src.b, dst.b), oa};
}

Point Along(Point a, Point b, double t) { return {a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t}; }

// QuillShapes() are the quill's vane, its shaft and its nib, laid along the
// line from the nib's point `tip` to the feather's end `end`.
std::vector<Shape> QuillShapes(double outline) {
  const Point tip{0.34, 0.68};
  const Point end{0.93, 0.05};
  const double len = std::hypot(end.x - tip.x, end.y - tip.y);
  const Point u{(end.x - tip.x) / len, (end.y - tip.y) / len};
  const Point n{-u.y, u.x};  // left of the axis, seen from the tip
  auto at = [&](double t, double side) {
    const Point c = Along(tip, end, t);
    return Point{c.x + n.x * side, c.y + n.y * side};
  };

  const double kPi = 3.14159265358979323846;
  std::vector<Point> vane;
  const int steps = 24;
  const double start = 0.24;
  for (int i = 0; i <= steps; ++i) {  // one side up
    const double s = static_cast<double>(i) / steps;
    const double t = start + (1 - start) * s;
    vane.push_back(at(t, 0.16 * std::pow(std::sin(kPi * s), 0.7) * (1 - 0.3 * s)));
  }
  for (int i = steps - 1; i > 0; --i) {  // the other side down, narrower
    const double s = static_cast<double>(i) / steps;
    const double t = start + (1 - start) * s;
    vane.push_back(at(t, -0.10 * std::pow(std::sin(kPi * s), 0.85)));
  }

  const std::vector<Point> shaft{at(0.12, 0.014), at(0.97, 0.006), at(0.97, -0.006),
                                 at(0.12, -0.014)};
  const std::vector<Point> nib{at(0.0, 0.0), at(0.16, 0.034), at(0.28, 0.030), at(0.28, -0.030),
                               at(0.16, -0.034)};

  const Rgba navy = Colour(0x10285E);
  return {
      {vane, Colour(0x5E93F0), Colour(0x2553B5), navy, outline},
      {shaft, Colour(0xEEF3FF), Colour(0xD6E2FA), Colour(0xEEF3FF), 0.0},
      {nib, Colour(0x4A4F5A), Colour(0x2B2F36), Colour(0x15171B), outline * 0.8},
  };
}

// Artwork() is the icon's shapes from back to front, with outlines `outline`
// units wide.
std::vector<Shape> Artwork(double outline) {
  const Rgba brown = Colour(0x6B4310);
  std::vector<Shape> shapes{
      // Back of the folder with its tab.
      {{{0.05, 0.24}, {0.33, 0.24}, {0.40, 0.32}, {0.95, 0.32}, {0.95, 0.90}, {0.05, 0.90}},
       Colour(0xD9982A), Colour(0xB87A16), brown, outline},
      // A sheet standing in the folder.
      {{{0.15, 0.38}, {0.80, 0.38}, {0.80, 0.74}, {0.15, 0.74}},
       Colour(0xFFFFFF), Colour(0xF1F1F1), Colour(0x7D7D7D), outline * 0.8},
  };
  for (const Shape& s : QuillShapes(outline)) shapes.push_back(s);
  // Front of the folder, in front of the quill's nib.
  shapes.push_back({{{0.05, 0.52}, {0.95, 0.52}, {0.95, 0.90}, {0.05, 0.90}},
                    Colour(0xF7C548), Colour(0xE8A526), brown, outline});
  return shapes;
}

// Image is straight-alpha RGBA, row by row from the top.
struct Image {
  int size = 0;
  std::vector<Rgba> pixels;
};

// Render() draws the artwork at `size` x `size` pixels.
Image Render(int size) {
  const double px = 1.0 / size;
  // Outlines stay at least about one pixel wide, so small images keep edges.
  const double outline = std::max(0.022, 0.9 * px);
  const std::vector<Shape> shapes = Artwork(outline);
  Image image{size, std::vector<Rgba>(static_cast<std::size_t>(size) * size, Rgba{0, 0, 0, 0})};
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      const Point p{(x + 0.5) * px, (y + 0.5) * px};
      Rgba c{0, 0, 0, 0};
      for (const Shape& s : shapes) {
        const double d = SignedDistance(s.polygon, p);
        const double shape_cover = std::clamp(0.5 - d / px, 0.0, 1.0);
        if (shape_cover <= 0) continue;
        double ymin = 1, ymax = 0;
        for (Point q : s.polygon) ymin = std::min(ymin, q.y), ymax = std::max(ymax, q.y);
        const Rgba fill = Mix(s.top, s.bottom, std::clamp((p.y - ymin) / (ymax - ymin), 0.0, 1.0));
        if (s.outline_width > 0) {
          c = Over(c, s.outline, shape_cover);
          const double inner = std::clamp(0.5 - (d + s.outline_width) / px, 0.0, 1.0);
          c = Over(c, fill, inner);
        } else {
          c = Over(c, fill, shape_cover);
        }
      }
      image.pixels[static_cast<std::size_t>(y) * size + x] = c;
    }
  }
  return image;
}

std::uint8_t Byte(double v) { return static_cast<std::uint8_t>(std::lround(std::clamp(v, 0.0, 1.0) * 255)); }

// ---- Output helpers -------------------------------------------------------

void Put16(std::string& out, unsigned v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>((v >> 8) & 0xFF);
}
void Put32(std::string& out, std::uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}
void Put32BigEndian(std::string& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((v >> shift) & 0xFF);
}

std::uint32_t Crc32(const std::string& data, std::size_t from) {
  static const std::array<std::uint32_t, 256> table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t n = 0; n < 256; ++n) {
      std::uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  std::uint32_t c = 0xFFFFFFFFu;
  for (std::size_t i = from; i < data.size(); ++i) {
    c = table[(c ^ static_cast<std::uint8_t>(data[i])) & 0xFF] ^ (c >> 8);
  }
  return c ^ 0xFFFFFFFFu;
}

void PngChunk(std::string& png, const char* type, const std::string& body) {
  Put32BigEndian(png, static_cast<std::uint32_t>(body.size()));
  const std::size_t start = png.size();
  png += type;
  png += body;
  Put32BigEndian(png, Crc32(png, start));
}

// EncodePng() is the image as a PNG file: RGBA, 8 bits per channel, in a
// zlib stream of stored (uncompressed) deflate blocks.
std::string EncodePng(const Image& image) {
  std::string raw;
  for (int y = 0; y < image.size; ++y) {
    raw += '\0';  // filter: none
    for (int x = 0; x < image.size; ++x) {
      const Rgba c = image.pixels[static_cast<std::size_t>(y) * image.size + x];
      raw += static_cast<char>(Byte(c.r));
      raw += static_cast<char>(Byte(c.g));
      raw += static_cast<char>(Byte(c.b));
      raw += static_cast<char>(Byte(c.a));
    }
  }
  std::string z{"\x78\x01", 2};
  for (std::size_t pos = 0; pos < raw.size() || pos == 0;) {
    const std::size_t n = std::min<std::size_t>(65535, raw.size() - pos);
    const bool last = pos + n == raw.size();
    z += static_cast<char>(last ? 1 : 0);
    Put16(z, static_cast<unsigned>(n));
    Put16(z, static_cast<unsigned>(~n & 0xFFFF));
    z.append(raw, pos, n);
    pos += n;
    if (last) break;
  }
  std::uint32_t a = 1, b = 0;
  for (unsigned char ch : raw) {
    a = (a + ch) % 65521;
    b = (b + a) % 65521;
  }
  Put32BigEndian(z, (b << 16) | a);

  std::string png{"\x89PNG\r\n\x1a\n", 8};
  std::string ihdr;
  Put32BigEndian(ihdr, static_cast<std::uint32_t>(image.size));
  Put32BigEndian(ihdr, static_cast<std::uint32_t>(image.size));
  ihdr += std::string{"\x08\x06\x00\x00\x00", 5};  // 8 bits, RGBA, deflate, no filter set, no interlace
  PngChunk(png, "IHDR", ihdr);
  PngChunk(png, "IDAT", z);
  PngChunk(png, "IEND", "");
  return png;
}

// The AND mask of an icon image: one bit per pixel, set where the pixel is
// transparent, rows bottom-up and padded to 32 bits.
void PutMask(std::string& out, const Image& image) {
  const int row_bytes = ((image.size + 31) / 32) * 4;
  for (int y = image.size - 1; y >= 0; --y) {
    std::string row(static_cast<std::size_t>(row_bytes), '\0');
    for (int x = 0; x < image.size; ++x) {
      if (image.pixels[static_cast<std::size_t>(y) * image.size + x].a < 0.5) {
        row[static_cast<std::size_t>(x / 8)] |= static_cast<char>(0x80 >> (x % 8));
      }
    }
    out += row;
  }
}

void PutBitmapHeader(std::string& out, int size, int bits, std::uint32_t image_bytes) {
  Put32(out, 40);
  Put32(out, static_cast<std::uint32_t>(size));
  Put32(out, static_cast<std::uint32_t>(size * 2));  // colour bitmap and mask
  Put16(out, 1);
  Put16(out, static_cast<unsigned>(bits));
  Put32(out, 0);  // BI_RGB
  Put32(out, image_bytes);
  Put32(out, 0);
  Put32(out, 0);
  Put32(out, bits == 8 ? 256 : 0);
  Put32(out, 0);
}

// EncodeBitmap32() is the image as an icon's 32-bit bitmap with alpha.
std::string EncodeBitmap32(const Image& image) {
  std::string pixels;
  for (int y = image.size - 1; y >= 0; --y) {
    for (int x = 0; x < image.size; ++x) {
      const Rgba c = image.pixels[static_cast<std::size_t>(y) * image.size + x];
      pixels += static_cast<char>(Byte(c.b));
      pixels += static_cast<char>(Byte(c.g));
      pixels += static_cast<char>(Byte(c.r));
      pixels += static_cast<char>(Byte(c.a));
    }
  }
  std::string mask;
  PutMask(mask, image);
  std::string out;
  PutBitmapHeader(out, image.size, 32, static_cast<std::uint32_t>(pixels.size() + mask.size()));
  return out + pixels + mask;
}

// Quantise() picks at most `limit` colours for the opaque pixels by median
// cut: the box of colours with the widest channel is split at its median
// until there are enough boxes; each box gives its mean colour.
std::vector<Rgb8> Quantise(const std::vector<Rgb8>& colours, std::size_t limit) {
  std::vector<std::vector<Rgb8>> boxes;
  if (!colours.empty()) boxes.push_back(colours);
  auto channel = [](const Rgb8& c, int k) { return k == 0 ? c.r : k == 1 ? c.g : c.b; };
  auto widest = [&](const std::vector<Rgb8>& box, int& which) {
    int best = -1;
    for (int k = 0; k < 3; ++k) {
      int lo = 255, hi = 0;
      for (const Rgb8& c : box) lo = std::min<int>(lo, channel(c, k)), hi = std::max<int>(hi, channel(c, k));
      if (hi - lo > best) best = hi - lo, which = k;
    }
    return best;
  };
  while (boxes.size() < limit) {
    int pick = -1, pick_range = 0, pick_channel = 0;
    for (std::size_t i = 0; i < boxes.size(); ++i) {
      int k = 0;
      const int range = widest(boxes[i], k);
      if (range > pick_range) pick = static_cast<int>(i), pick_range = range, pick_channel = k;
    }
    if (pick < 0) break;  // every box holds a single colour
    std::vector<Rgb8>& box = boxes[static_cast<std::size_t>(pick)];
    std::sort(box.begin(), box.end(), [&](const Rgb8& a, const Rgb8& b) {
      return channel(a, pick_channel) < channel(b, pick_channel);
    });
    std::size_t mid = box.size() / 2;
    // Keep equal values together so the split always separates colours.
    while (mid > 0 && channel(box[mid - 1], pick_channel) == channel(box[mid], pick_channel)) --mid;
    if (mid == 0) {
      mid = box.size() / 2;
      while (mid < box.size() && channel(box[mid - 1], pick_channel) == channel(box[mid], pick_channel)) ++mid;
    }
    std::vector<Rgb8> upper(box.begin() + static_cast<std::ptrdiff_t>(mid), box.end());
    box.resize(mid);
    boxes.push_back(std::move(upper));
  }
  std::vector<Rgb8> palette;
  for (const auto& box : boxes) {
    long r = 0, g = 0, b = 0;
    for (const Rgb8& c : box) r += c.r, g += c.g, b += c.b;
    const long n = static_cast<long>(box.size());
    palette.push_back({static_cast<std::uint8_t>((r + n / 2) / n), static_cast<std::uint8_t>((g + n / 2) / n),
                       static_cast<std::uint8_t>((b + n / 2) / n)});
  }
  return palette;
}

// EncodeBitmap8() is the image as an icon's 8-bit bitmap with a 256-colour
// palette; transparency is the AND mask alone (palette entry 0, black, under
// it), so half-covered edge pixels become either opaque or transparent.
std::string EncodeBitmap8(const Image& image) {
  std::vector<Rgb8> opaque;
  for (const Rgba& c : image.pixels) {
    if (c.a >= 0.5) opaque.push_back({Byte(c.r), Byte(c.g), Byte(c.b)});
  }
  std::vector<Rgb8> palette{{0, 0, 0}};
  for (const Rgb8& c : Quantise(opaque, 255)) palette.push_back(c);
  palette.resize(256, Rgb8{0, 0, 0});

  const int row_bytes = ((image.size * 8 + 31) / 32) * 4;
  std::string indices;
  for (int y = image.size - 1; y >= 0; --y) {
    std::string row(static_cast<std::size_t>(row_bytes), '\0');
    for (int x = 0; x < image.size; ++x) {
      const Rgba c = image.pixels[static_cast<std::size_t>(y) * image.size + x];
      if (c.a < 0.5) continue;
      const int r = Byte(c.r), g = Byte(c.g), b = Byte(c.b);
      int best = 1;
      long best_d = -1;
      for (int i = 1; i < 256; ++i) {
        const long d = (r - palette[i].r) * (r - palette[i].r) + (g - palette[i].g) * (g - palette[i].g) +
                       (b - palette[i].b) * (b - palette[i].b);
        if (best_d < 0 || d < best_d) best = i, best_d = d;
      }
      row[static_cast<std::size_t>(x)] = static_cast<char>(best);
    }
    indices += row;
  }
  std::string mask;
  PutMask(mask, image);
  std::string out;
  PutBitmapHeader(out, image.size, 8,
                  static_cast<std::uint32_t>(palette.size() * 4 + indices.size() + mask.size()));
  for (const Rgb8& c : palette) {
    out += static_cast<char>(c.b);
    out += static_cast<char>(c.g);
    out += static_cast<char>(c.r);
    out += '\0';
  }
  return out + indices + mask;
}

struct IconEntry {
  int size;
  int bits;
  std::string data;
};

// EncodeIco() joins the images into one icon file.
std::string EncodeIco(const std::vector<IconEntry>& entries) {
  std::string out;
  Put16(out, 0);
  Put16(out, 1);  // icon
  Put16(out, static_cast<unsigned>(entries.size()));
  std::uint32_t offset = static_cast<std::uint32_t>(6 + 16 * entries.size());
  for (const IconEntry& e : entries) {
    out += static_cast<char>(e.size >= 256 ? 0 : e.size);
    out += static_cast<char>(e.size >= 256 ? 0 : e.size);
    out += '\0';  // colour count: 0 for 256 colours and more
    out += '\0';
    Put16(out, 1);
    Put16(out, static_cast<unsigned>(e.bits));
    Put32(out, static_cast<std::uint32_t>(e.data.size()));
    Put32(out, offset);
    offset += static_cast<std::uint32_t>(e.data.size());
  }
  for (const IconEntry& e : entries) out += e.data;
  return out;
}

bool WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s <file.ico> <file.png>\n", argc > 0 ? argv[0] : "quillbeck_icon_generator");
    return 2;
  }
  const Image large = Render(256);
  const std::vector<IconEntry> entries{
      {16, 8, EncodeBitmap8(Render(16))},
      {32, 8, EncodeBitmap8(Render(32))},
      {48, 32, EncodeBitmap32(Render(48))},
      {256, 32, EncodePng(large)},
  };
  if (!WriteFile(argv[1], EncodeIco(entries)) || !WriteFile(argv[2], EncodePng(large))) {
    std::fprintf(stderr, "quillbeck_icon_generator: cannot write %s or %s\n", argv[1], argv[2]);
    return 1;
  }
  return 0;
}
