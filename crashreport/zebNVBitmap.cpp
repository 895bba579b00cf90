#include "crashreport/zebNVBitmap.h"

#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <new>

#include "crashreport/zebZip.h"

namespace zeb {

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kBmpHeaders = 14 + 40;

// The low `bytes` (at most 4) bytes of `v`.
void putLe(Bytes& out, std::uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(std::uint8_t(v >> (8 * i)));
}
void putBe32(Bytes& out, std::uint32_t v) {
  for (int i = 3; i >= 0; --i) out.push_back(std::uint8_t(v >> (8 * i)));
}

bool writeNewFile(const std::string& path, const Bytes& bytes) {
  if (bytes.empty()) return false;
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  bool ok = true;
  std::size_t done = 0;
  while (ok && done < bytes.size()) {
    const ssize_t put = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0)
      ok = false;
    else
      done += std::size_t(put);
  }
  if (::close(fd) != 0) ok = false;
  if (!ok) ::unlink(path.c_str());
  return ok;
}

// --- Wu's quantiser ------------------------------------------------------------

constexpr int kSide = 33;  // 32 steps per channel, and an empty step 0 for the sums
constexpr std::size_t kCells = std::size_t(kSide) * kSide * kSide;

inline std::size_t cell(int r, int g, int b) { return (std::size_t(r) * kSide + std::size_t(g)) * kSide + std::size_t(b); }

// Sums are 64-bit: 32-bit sums of channel values overflow on a screen of
// some 16 million pixels of one colour.
struct Moments {
  std::vector<std::int64_t> wt = std::vector<std::int64_t>(kCells);
  std::vector<std::int64_t> mr = std::vector<std::int64_t>(kCells);
  std::vector<std::int64_t> mg = std::vector<std::int64_t>(kCells);
  std::vector<std::int64_t> mb = std::vector<std::int64_t>(kCells);
  std::vector<double> m2 = std::vector<double>(kCells);
};

enum class Axis { Red, Green, Blue };

template <typename T>
T volume(const WuBox& c, const std::vector<T>& m) {
  return m[cell(c.r1, c.g1, c.b1)] - m[cell(c.r1, c.g1, c.b0)] - m[cell(c.r1, c.g0, c.b1)] +
         m[cell(c.r1, c.g0, c.b0)] - m[cell(c.r0, c.g1, c.b1)] + m[cell(c.r0, c.g1, c.b0)] +
         m[cell(c.r0, c.g0, c.b1)] - m[cell(c.r0, c.g0, c.b0)];
}

// The part of a box's sum that does not depend on the cut position.
std::int64_t bottom(const WuBox& c, Axis axis, const std::vector<std::int64_t>& m) {
  switch (axis) {
    case Axis::Red:
      return -m[cell(c.r0, c.g1, c.b1)] + m[cell(c.r0, c.g1, c.b0)] + m[cell(c.r0, c.g0, c.b1)] -
             m[cell(c.r0, c.g0, c.b0)];
    case Axis::Green:
      return -m[cell(c.r1, c.g0, c.b1)] + m[cell(c.r1, c.g0, c.b0)] + m[cell(c.r0, c.g0, c.b1)] -
             m[cell(c.r0, c.g0, c.b0)];
    case Axis::Blue:
      return -m[cell(c.r1, c.g1, c.b0)] + m[cell(c.r1, c.g0, c.b0)] + m[cell(c.r0, c.g1, c.b0)] -
             m[cell(c.r0, c.g0, c.b0)];
  }
  return 0;
}

// The rest of the sum of the part below a cut at `pos`.
std::int64_t top(const WuBox& c, Axis axis, int pos, const std::vector<std::int64_t>& m) {
  switch (axis) {
    case Axis::Red:
      return m[cell(pos, c.g1, c.b1)] - m[cell(pos, c.g1, c.b0)] - m[cell(pos, c.g0, c.b1)] +
             m[cell(pos, c.g0, c.b0)];
    case Axis::Green:
      return m[cell(c.r1, pos, c.b1)] - m[cell(c.r1, pos, c.b0)] - m[cell(c.r0, pos, c.b1)] +
             m[cell(c.r0, pos, c.b0)];
    case Axis::Blue:
      return m[cell(c.r1, c.g1, pos)] - m[cell(c.r1, c.g0, pos)] - m[cell(c.r0, c.g1, pos)] +
             m[cell(c.r0, c.g0, pos)];
  }
  return 0;
}

int boxVolume(const WuBox& c) { return (c.r1 - c.r0) * (c.g1 - c.g0) * (c.b1 - c.b0); }

double squares(double r, double g, double b) { return r * r + g * g + b * b; }

double variance(const WuBox& c, const Moments& m) {
  const std::int64_t w = volume(c, m.wt);
  if (boxVolume(c) <= 1 || w == 0) return 0.0;
  const double r = double(volume(c, m.mr)), g = double(volume(c, m.mg)), b = double(volume(c, m.mb));
  return volume(c, m.m2) - squares(r, g, b) / double(w);
}

// The best cut along one axis strictly inside the box; -1 in `cut` when no
// position leaves both halves holding pixels.
double maximize(const WuBox& c, Axis axis, int first, int last, int& cut, const Moments& m, std::int64_t wholeR,
                std::int64_t wholeG, std::int64_t wholeB, std::int64_t wholeW) {
  const std::int64_t baseR = bottom(c, axis, m.mr), baseG = bottom(c, axis, m.mg), baseB = bottom(c, axis, m.mb);
  const std::int64_t baseW = bottom(c, axis, m.wt);
  double best = 0.0;
  cut = -1;
  for (int i = first; i < last; ++i) {
    const std::int64_t halfR = baseR + top(c, axis, i, m.mr), halfG = baseG + top(c, axis, i, m.mg);
    const std::int64_t halfB = baseB + top(c, axis, i, m.mb), halfW = baseW + top(c, axis, i, m.wt);
    if (halfW == 0) continue;
    double value = squares(double(halfR), double(halfG), double(halfB)) / double(halfW);
    const std::int64_t otherW = wholeW - halfW;
    if (otherW == 0) continue;
    value += squares(double(wholeR - halfR), double(wholeG - halfG), double(wholeB - halfB)) / double(otherW);
    if (value > best) {
      best = value;
      cut = i;
    }
  }
  return best;
}

bool cutBox(WuBox& a, WuBox& b, const Moments& m) {
  const std::int64_t wholeR = volume(a, m.mr), wholeG = volume(a, m.mg), wholeB = volume(a, m.mb);
  const std::int64_t wholeW = volume(a, m.wt);
  int cutR, cutG, cutB;
  const double maxR = maximize(a, Axis::Red, a.r0 + 1, a.r1, cutR, m, wholeR, wholeG, wholeB, wholeW);
  const double maxG = maximize(a, Axis::Green, a.g0 + 1, a.g1, cutG, m, wholeR, wholeG, wholeB, wholeW);
  const double maxB = maximize(a, Axis::Blue, a.b0 + 1, a.b1, cutB, m, wholeR, wholeG, wholeB, wholeW);
  Axis axis;
  if (maxR >= maxG && maxR >= maxB) {
    axis = Axis::Red;
    if (cutR < 0) return false;
  } else if (maxG >= maxB) {
    axis = Axis::Green;
  } else {
    axis = Axis::Blue;
  }
  b.r1 = a.r1;
  b.g1 = a.g1;
  b.b1 = a.b1;
  switch (axis) {
    case Axis::Red:
      b.r0 = a.r1 = cutR;
      b.g0 = a.g0;
      b.b0 = a.b0;
      break;
    case Axis::Green:
      b.g0 = a.g1 = cutG;
      b.r0 = a.r0;
      b.b0 = a.b0;
      break;
    case Axis::Blue:
      b.b0 = a.b1 = cutB;
      b.r0 = a.r0;
      b.g0 = a.g0;
      break;
  }
  return true;
}

void histogram(std::span<const std::uint8_t> pixels, Moments& m) {
  for (std::size_t i = 0; i + 4 <= pixels.size(); i += 4) {
    const int b = pixels[i], g = pixels[i + 1], r = pixels[i + 2];
    const std::size_t at = cell((r >> 3) + 1, (g >> 3) + 1, (b >> 3) + 1);
    m.wt[at] += 1;
    m.mr[at] += r;
    m.mg[at] += g;
    m.mb[at] += b;
    m.m2[at] += double(r * r + g * g + b * b);
  }
}

// Turns the histogram into sums over every box from the origin, so that a
// box's moments come from its eight corners.
void accumulate(Moments& m) {
  for (int r = 1; r < kSide; ++r) {
    std::int64_t areaW[kSide] = {}, areaR[kSide] = {}, areaG[kSide] = {}, areaB[kSide] = {};
    double area2[kSide] = {};
    for (int g = 1; g < kSide; ++g) {
      std::int64_t lineW = 0, lineR = 0, lineG = 0, lineB = 0;
      double line2 = 0;
      for (int b = 1; b < kSide; ++b) {
        const std::size_t here = cell(r, g, b), below = cell(r - 1, g, b);
        lineW += m.wt[here];
        lineR += m.mr[here];
        lineG += m.mg[here];
        lineB += m.mb[here];
        line2 += m.m2[here];
        areaW[b] += lineW;
        areaR[b] += lineR;
        areaG[b] += lineG;
        areaB[b] += lineB;
        area2[b] += line2;
        m.wt[here] = m.wt[below] + areaW[b];
        m.mr[here] = m.mr[below] + areaR[b];
        m.mg[here] = m.mg[below] + areaG[b];
        m.mb[here] = m.mb[below] + areaB[b];
        m.m2[here] = m.m2[below] + area2[b];
      }
    }
  }
}

// --- Mitchell filter -------------------------------------------------------------

long double mitchell(long double t) {
  if (t < 0) t = -t;
  const long double t2 = t * t, t3 = t2 * t;
  if (t < 1.0L) return 7.0L / 6.0L * t3 - 2.0L * t2 + 8.0L / 9.0L;
  if (t < 2.0L) return -(7.0L / 18.0L) * t3 + 2.0L * t2 - 10.0L / 3.0L * t + 16.0L / 9.0L;
  return 0.0L;
}

inline std::uint8_t clampSum(std::int64_t sum) {
  if (sum < 0) return 0;
  if (sum >= 0xFF0001) return 255;
  return std::uint8_t(sum >> 16);
}

// --- BMP reading -----------------------------------------------------------------

class LeReader {
public:
  explicit LeReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  bool has(std::size_t at, std::size_t n) const { return at <= bytes_.size() && n <= bytes_.size() - at; }
  std::uint32_t u16(std::size_t at) const { return std::uint32_t(bytes_[at] | bytes_[at + 1] << 8); }
  std::uint32_t u32(std::size_t at) const { return u16(at) | u16(at + 2) << 16; }
  std::int32_t i32(std::size_t at) const { return std::int32_t(u32(at)); }

private:
  std::span<const std::uint8_t> bytes_;
};

// A bit-field channel: where it sits and how wide it is.
struct Channel {
  std::uint32_t mask = 0;
  int shift = 0;
  std::uint32_t max = 0;

  explicit Channel(std::uint32_t m) : mask(m) {
    if (mask == 0) return;
    while (((mask >> shift) & 1) == 0) ++shift;
    max = mask >> shift;
  }
  std::uint8_t value(std::uint32_t pixel) const {
    if (max == 0) return 0;
    return std::uint8_t(std::uint64_t((pixel & mask) >> shift) * 255 / max);
  }
};

}  // namespace

// --- TINVBitmap ------------------------------------------------------------------

std::shared_ptr<TINVBitmap> TINVBitmap::Create(std::int32_t width, std::int32_t height) {
  if (width <= 0 || height <= 0 || std::uint64_t(width) * std::uint64_t(height) > kMaxBitmapPixels) return nullptr;
  try {
    return std::make_shared<TINVBitmap>(width, height, Bytes(std::size_t(width) * std::size_t(height) * 4, 0));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

std::vector<std::uint8_t> TINVBitmap::ToBmpBytes() const {
  Bytes out;
  out.reserve(kBmpHeaders + pixels_.size());
  out.push_back('B');
  out.push_back('M');
  putLe(out, std::uint32_t(pixels_.size() + kBmpHeaders), 4);
  putLe(out, 0, 4);  // two reserved words
  putLe(out, kBmpHeaders, 4);
  putLe(out, 40, 4);
  putLe(out, std::uint32_t(width_), 4);
  putLe(out, std::uint32_t(height_), 4);  // positive: rows stored bottom-up
  putLe(out, 1, 2);
  putLe(out, 32, 2);
  putLe(out, 0, 4);  // uncompressed
  putLe(out, std::uint32_t(pixels_.size()), 4);
  out.insert(out.end(), 16, 0);  // resolution, colours used and important
  out.insert(out.end(), pixels_.begin(), pixels_.end());
  return out;
}

bool TINVBitmap::SaveAsBmp(const std::string& path) const { return writeNewFile(path, ToBmpBytes()); }

bool TINVBitmap::SaveAsPng(const std::string& path, int format) { return writeNewFile(path, ToPngBytes(format)); }

std::vector<std::uint8_t> TINVBitmap::colourPng() const {
  Palette palette{};
  OptimalPalette(pixels_, palette, 256);
  PaletteCache cache;
  const std::size_t w = std::size_t(width_), rowBytes = 1 + w;
  Bytes rows(rowBytes * std::size_t(height_));
  for (std::int32_t y = 0; y < height_; ++y) {
    // PNG rows run top-down, the stored ones bottom-up.
    const std::uint8_t* src = pixels_.data() + std::size_t(height_ - 1 - y) * w * 4;
    std::uint8_t* dst = rows.data() + std::size_t(y) * rowBytes;
    dst[0] = 0;
    for (std::size_t x = 0; x < w; ++x)
      dst[1 + x] = std::uint8_t(NearestPaletteIndex(cache, palette, src[4 * x + 2], src[4 * x + 1], src[4 * x]));
  }
  return BuildPng(width_, height_, palette, rows);
}

std::vector<std::uint8_t> TINVBitmap::greyPng() {
  for (std::size_t i = 0; i + 4 <= pixels_.size(); i += 4) {
    const std::uint8_t g = std::uint8_t((77 * pixels_[i + 2] + 151 * pixels_[i + 1] + 28 * pixels_[i]) >> 8);
    pixels_[i] = pixels_[i + 1] = pixels_[i + 2] = g;
  }
  std::array<std::uint8_t, 48> palette{};
  for (std::size_t k = 0; k < kGreyLevels.size(); ++k) palette[3 * k] = palette[3 * k + 1] = palette[3 * k + 2] = kGreyLevels[k];
  GreyCache cache;
  const std::size_t w = std::size_t(width_), rowBytes = 1 + (w + 1) / 2;
  Bytes rows(rowBytes * std::size_t(height_), 0);
  for (std::int32_t y = 0; y < height_; ++y) {
    const std::uint8_t* src = pixels_.data() + std::size_t(height_ - 1 - y) * w * 4;
    std::uint8_t* dst = rows.data() + std::size_t(y) * rowBytes + 1;
    for (std::size_t x = 0; x < w; ++x) {
      const int index = NearestGrey(cache, src[4 * x]);
      dst[x / 2] |= std::uint8_t(x % 2 == 0 ? index << 4 : index);  // left pixel in the high half
    }
  }
  return BuildPng(width_, height_, palette, rows);
}

std::vector<std::uint8_t> TINVBitmap::ToPngBytes(int format) {
  static constexpr std::size_t kLimits[] = {51200, 102400, 204800, 307200};
  if (format < kPng256Colours || format > kPngLimit300K) format = kPng256Colours;
  Bytes colour;
  if (format != kPng16Greys) colour = colourPng();
  const bool tooLarge = format >= kPngLimit50K && colour.size() > kLimits[format - kPngLimit50K];
  if (!colour.empty() && !tooLarge) return colour;
  Bytes grey = greyPng();
  if (colour.empty() || (!grey.empty() && grey.size() < colour.size())) return grey;
  return colour;
}

NVBitmapPtr TINVBitmap::Resized(std::int32_t width, std::int32_t height) const {
  const FittedSize size = FitSize(width_, height_, width, height);
  auto result = Create(size.width, size.height);
  if (!result) return nullptr;
  MitchellResample(pixels_, width_, height_, result->Pixels(), size.width, size.height);
  return result;
}

FittedSize FitSize(std::int32_t sourceWidth, std::int32_t sourceHeight, std::int32_t width, std::int32_t height) {
  if (sourceWidth <= 0 || sourceHeight <= 0 || width <= 0 || height <= 0) return {0, 0};
  const std::int64_t W = sourceWidth, H = sourceHeight, w = width, h = height;
  const std::int64_t fittedWidth = h * W / H, fittedHeight = w * H / W;
  FittedSize size{width, height};
  if (h < fittedHeight || w < fittedWidth) {
    if (H * 65536 / h < W * 65536 / w)
      size.height = std::int32_t(fittedHeight);
    else
      size.width = std::int32_t(fittedWidth);
  }
  return size;
}

// --- Mitchell filter -------------------------------------------------------------

std::vector<std::vector<Contributor>> MitchellContributors(std::int32_t destination, std::int32_t source) {
  std::vector<std::vector<Contributor>> out(std::size_t(std::max(destination, 0)));
  if (destination <= 0 || source <= 0) return out;
  const std::int64_t n = destination, s = source;
  const bool shrinking = n < s;
  // The scale and the positions are single precision, the kernel extended.
  const float f = shrinking ? float(n) / float(s) : float(s) / float(n);
  for (std::int64_t i = 0; i < n; ++i) {
    const std::int64_t first = shrinking ? (s * (i - 2) - n + 1) / n : (s * i - 3 * n + 1) / n;
    const std::int64_t last = shrinking ? (s * (i + 2) + n - 1) / n : (s * i + 3 * n - 1) / n;
    for (std::int64_t j = first; j <= last; ++j) {
      const float t = shrinking ? std::fabs(float(i) - float(j) * f) : std::fabs(f * float(i) - float(j));
      if (!(t < 2.0f)) continue;
      long double weight = mitchell(t) * 65536.0L;
      if (shrinking) weight = mitchell(t) * (long double)f * 65536.0L;
      // Mirrored at the edges; a source narrower than the filter is clamped
      // as well, so no position falls outside it.
      std::int64_t pixel = j < 0 ? -j : j;
      if (pixel >= s) pixel = 2 * s - 1 - pixel;
      pixel = std::clamp<std::int64_t>(pixel, 0, s - 1);
      out[std::size_t(i)].push_back({std::int32_t(pixel), std::int32_t(std::nearbyint(weight))});
    }
  }
  return out;
}

void MitchellResample(std::span<const std::uint8_t> source, std::int32_t sourceWidth, std::int32_t sourceHeight,
                      std::span<std::uint8_t> destination, std::int32_t destinationWidth,
                      std::int32_t destinationHeight) {
  if (sourceWidth <= 0 || sourceHeight <= 0 || destinationWidth <= 0 || destinationHeight <= 0) return;
  const std::size_t sw = std::size_t(sourceWidth), sh = std::size_t(sourceHeight);
  const std::size_t dw = std::size_t(destinationWidth), dh = std::size_t(destinationHeight);
  if (source.size() < sw * sh * 4 || destination.size() < dw * dh * 4) return;
  const auto columns = MitchellContributors(destinationWidth, sourceWidth);
  const auto rows = MitchellContributors(destinationHeight, sourceHeight);
  std::vector<std::uint8_t> column(sh * 4);
  for (std::size_t x = 0; x < dw; ++x) {
    for (std::size_t y = 0; y < sh; ++y) {
      std::int64_t sum[3] = {};
      for (const Contributor& c : columns[x]) {
        const std::uint8_t* p = source.data() + (y * sw + std::size_t(c.pixel)) * 4;
        for (int k = 0; k < 3; ++k) sum[k] += std::int64_t(p[k]) * c.weight;
      }
      for (int k = 0; k < 3; ++k) column[y * 4 + std::size_t(k)] = clampSum(sum[k]);
    }
    for (std::size_t y = 0; y < dh; ++y) {
      std::int64_t sum[3] = {};
      for (const Contributor& c : rows[y]) {
        const std::uint8_t* p = column.data() + std::size_t(c.pixel) * 4;
        for (int k = 0; k < 3; ++k) sum[k] += std::int64_t(p[k]) * c.weight;
      }
      std::uint8_t* d = destination.data() + (y * dw + x) * 4;
      for (int k = 0; k < 3; ++k) d[k] = clampSum(sum[k]);
    }
  }
}

// --- BMP reading -----------------------------------------------------------------

NVBitmapPtr LoadBmpFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  Bytes bytes;
  std::uint8_t chunk[65536];
  for (;;) {
    const ssize_t got = ::read(fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      ::close(fd);
      return nullptr;
    }
    if (got == 0) break;
    // A file larger than any picture we hold is no bitmap of ours.
    if (bytes.size() + std::size_t(got) > kMaxBitmapPixels * 4 + 4096) {
      ::close(fd);
      return nullptr;
    }
    bytes.insert(bytes.end(), chunk, chunk + got);
  }
  ::close(fd);
  return LoadBmpBytes(bytes);
}

NVBitmapPtr LoadBmpBytes(std::span<const std::uint8_t> bytes) {
  const LeReader in(bytes);
  if (!in.has(0, 18) || bytes[0] != 'B' || bytes[1] != 'M') return nullptr;
  const std::uint32_t pixelOffset = in.u32(10);
  const std::uint32_t headerSize = in.u32(14);
  const bool core = headerSize == 12;
  if (!core && headerSize != 40 && headerSize != 52 && headerSize != 56 && headerSize != 108 && headerSize != 124)
    return nullptr;
  if (!in.has(14, headerSize)) return nullptr;
  std::int64_t width, height;
  std::uint32_t planes, bits, compression = 0, coloursUsed = 0;
  if (core) {
    width = in.u16(18);
    height = in.u16(20);
    planes = in.u16(22);
    bits = in.u16(24);
  } else {
    width = in.i32(18);
    height = in.i32(22);
    planes = in.u16(26);
    bits = in.u16(28);
    compression = in.u32(30);
    coloursUsed = in.u32(46);
  }
  if (planes != 1 || width <= 0 || height == 0) return nullptr;
  const bool topDown = height < 0;
  height = std::llabs(height);  // 64-bit, so the most negative 32-bit height is safe
  if (height > std::numeric_limits<std::int32_t>::max() || width > std::numeric_limits<std::int32_t>::max() ||
      std::uint64_t(width) * std::uint64_t(height) > kMaxBitmapPixels)
    return nullptr;

  constexpr std::uint32_t kRgb = 0, kBitFields = 3;
  std::size_t afterHeader = 14 + headerSize;
  std::uint32_t masks[3] = {0, 0, 0};
  switch (bits) {
    case 1:
    case 4:
    case 8:
    case 24:
      if (compression != kRgb) return nullptr;
      break;
    case 16:
    case 32:
      if (compression == kRgb) {
        if (bits == 16) {
          masks[0] = 0x7C00, masks[1] = 0x03E0, masks[2] = 0x001F;
        } else {
          masks[0] = 0xFF0000, masks[1] = 0xFF00, masks[2] = 0xFF;
        }
      } else if (compression == kBitFields) {
        // A plain info header is followed by the masks; the longer ones hold them.
        const std::size_t at = 14 + 40;
        if (!in.has(at, 12)) return nullptr;
        masks[0] = in.u32(at), masks[1] = in.u32(at + 4), masks[2] = in.u32(at + 8);
        if (headerSize == 40) afterHeader += 12;
      } else {
        return nullptr;
      }
      break;
    default:
      return nullptr;
  }

  // The colour table of the indexed depths.
  std::vector<std::array<std::uint8_t, 3>> table;
  if (bits <= 8) {
    const std::uint32_t most = 1u << bits;
    const std::uint32_t count = coloursUsed == 0 ? most : coloursUsed;
    if (count > most) return nullptr;
    const std::size_t entry = core ? 3 : 4;
    if (!in.has(afterHeader, std::size_t(count) * entry) || afterHeader + count * entry > pixelOffset) return nullptr;
    for (std::uint32_t k = 0; k < count; ++k) {
      const std::size_t at = afterHeader + k * entry;
      table.push_back({bytes[at], bytes[at + 1], bytes[at + 2]});  // blue, green, red
    }
  }
  if (pixelOffset < afterHeader) return nullptr;

  const std::uint64_t stride = (std::uint64_t(width) * bits + 31) / 32 * 4;
  if (!in.has(pixelOffset, 0) || stride * std::uint64_t(height) > bytes.size() - pixelOffset) return nullptr;

  auto bitmap = TINVBitmap::Create(std::int32_t(width), std::int32_t(height));
  if (!bitmap) return nullptr;
  const Channel red(masks[0]), green(masks[1]), blue(masks[2]);
  std::uint8_t* out = bitmap->Pixels().data();
  for (std::int64_t row = 0; row < height; ++row) {
    // Stored rows run bottom-up; a negative height stores them top-down.
    const std::int64_t target = topDown ? height - 1 - row : row;
    const std::uint8_t* src = bytes.data() + pixelOffset + std::size_t(row) * stride;
    std::uint8_t* dst = out + std::size_t(target) * std::size_t(width) * 4;
    for (std::int64_t x = 0; x < width; ++x, dst += 4) {
      switch (bits) {
        case 1:
        case 4:
        case 8: {
          const std::uint64_t bit = std::uint64_t(x) * bits;
          const std::uint32_t index = (src[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
          if (index < table.size()) std::copy(table[index].begin(), table[index].end(), dst);
          break;
        }
        case 24:
          std::copy(src + x * 3, src + x * 3 + 3, dst);
          break;
        case 16:
        case 32: {
          const std::uint32_t v = bits == 16 ? std::uint32_t(src[x * 2] | src[x * 2 + 1] << 8)
                                             : in.u32(std::size_t(src - bytes.data()) + std::size_t(x) * 4);
          dst[0] = blue.value(v);
          dst[1] = green.value(v);
          dst[2] = red.value(v);
          break;
        }
      }
    }
  }
  return bitmap;
}

// --- PNG writing -----------------------------------------------------------------

int OptimalPalette(std::span<const std::uint8_t> pixels, Palette& palette, int colours, std::vector<WuBox>* boxes) {
  colours = std::clamp(colours, 1, 256);
  Moments m;
  histogram(pixels, m);
  accumulate(m);
  std::vector<WuBox> cubes(std::size_t(colours), WuBox{0, 0, 0, 0, 0, 0});
  std::vector<double> vv(std::size_t(colours), 0.0);
  cubes[0] = {0, kSide - 1, 0, kSide - 1, 0, kSide - 1};
  int count = colours;
  int next = 0;
  for (int i = 1; i < colours; ++i) {
    if (cutBox(cubes[std::size_t(next)], cubes[std::size_t(i)], m)) {
      vv[std::size_t(next)] = variance(cubes[std::size_t(next)], m);
      vv[std::size_t(i)] = variance(cubes[std::size_t(i)], m);
    } else {
      vv[std::size_t(next)] = 0.0;
      --i;
    }
    next = 0;
    double largest = vv[0];
    for (int k = 1; k <= i; ++k)
      if (vv[std::size_t(k)] > largest) {
        largest = vv[std::size_t(k)];
        next = k;
      }
    if (largest <= 0.0) {
      count = i + 1;
      break;
    }
  }
  for (int k = 0; k < count; ++k) {
    const WuBox& c = cubes[std::size_t(k)];
    const std::int64_t w = volume(c, m.wt);
    if (w == 0) continue;
    palette[std::size_t(3 * k)] = std::uint8_t(volume(c, m.mr) / w);
    palette[std::size_t(3 * k + 1)] = std::uint8_t(volume(c, m.mg) / w);
    palette[std::size_t(3 * k + 2)] = std::uint8_t(volume(c, m.mb) / w);
  }
  if (boxes) boxes->assign(cubes.begin(), cubes.begin() + count);
  return count;
}

int NearestPaletteIndex(PaletteCache& cache, const Palette& palette, std::uint8_t red, std::uint8_t green,
                        std::uint8_t blue) {
  std::int16_t& slot = cache.cells[std::size_t(red >> 3) + 32 * std::size_t(green >> 3) + 1024 * std::size_t(blue >> 3)];
  if (slot < 0) {
    int best = 0, bestDistance = std::numeric_limits<int>::max();
    for (int k = 0; k < 256; ++k) {
      const int d = std::abs(red - palette[std::size_t(3 * k)]) + std::abs(green - palette[std::size_t(3 * k + 1)]) +
                    std::abs(blue - palette[std::size_t(3 * k + 2)]);
      if (d < bestDistance) {
        bestDistance = d;
        best = k;
      }
    }
    slot = std::int16_t(best);
  }
  return slot;
}

int NearestGrey(GreyCache& cache, std::uint8_t grey) {
  std::int16_t& slot = cache.cells[grey];
  if (slot < 0) {
    int best = 0;
    for (int k = 1; k < int(kGreyLevels.size()); ++k)
      if (std::abs(grey - kGreyLevels[std::size_t(k)]) < std::abs(grey - kGreyLevels[std::size_t(best)])) best = k;
    slot = std::int16_t(best);
  }
  return slot;
}

void AppendPngChunk(std::vector<std::uint8_t>& png, std::string_view type, std::span<const std::uint8_t> data) {
  putBe32(png, std::uint32_t(data.size()));
  const std::size_t typeAt = png.size();
  png.insert(png.end(), type.begin(), type.end());
  png.insert(png.end(), data.begin(), data.end());
  putBe32(png, ~Crc32Update(0xFFFFFFFF, std::span(png).subspan(typeAt)));
}

std::vector<std::uint8_t> BuildPng(std::int32_t width, std::int32_t height, std::span<const std::uint8_t> palette,
                                   std::span<const std::uint8_t> rows) {
  Bytes idat = {0x78, 0x01};  // zlib header: deflate, 32 KB window, fastest level
  const std::size_t capacity = DeflateCapacity(rows.size());
  try {
    idat.resize(2 + capacity);
  } catch (const std::bad_alloc&) {
    return {};
  }
  const std::size_t packed = DeflateBuffer(rows, std::span(idat).subspan(2));
  if (packed == 0) return {};
  idat.resize(2 + packed);
  putBe32(idat, std::uint32_t(adler32_z(1, rows.data(), rows.size())));

  Bytes header;
  putBe32(header, std::uint32_t(width));
  putBe32(header, std::uint32_t(height));
  header.push_back(palette.size() == 768 ? 8 : 4);  // bit depth
  header.push_back(3);                              // colour type: palette
  header.push_back(0);                              // deflate
  header.push_back(0);                              // adaptive filtering
  header.push_back(0);                              // no interlace

  Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  AppendPngChunk(png, "IHDR", header);
  AppendPngChunk(png, "PLTE", palette);
  AppendPngChunk(png, "IDAT", idat);
  AppendPngChunk(png, "IEND", {});
  return png;
}

}  // namespace zeb
