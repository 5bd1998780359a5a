// Writes kormico.ico: one 32 x 32 image in 16 colours (4 bits per pixel),
// a hard disk seen from above with a signature tag tied to its corner.
//   make_icon OUTPUT.ico
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

enum { SIZE = 32, CLEAR = -1 };
enum {
  BLACK = 0,
  MAROON = 1,
  OLIVE = 3,
  NAVY = 4,
  SILVER = 7,
  GREY = 8,
  RED = 9,
  YELLOW = 11,
  BLUE = 12,
  AQUA = 14,
  WHITE = 15,
};

// The standard 16-colour palette, as red, green, blue.
const uint8_t kPalette[16][3] = {
    {0, 0, 0},     {128, 0, 0},     {0, 128, 0},     {128, 128, 0},   {0, 0, 128}, {128, 0, 128},
    {0, 128, 128}, {192, 192, 192}, {128, 128, 128}, {255, 0, 0},     {0, 255, 0}, {255, 255, 0},
    {0, 0, 255},   {255, 0, 255},   {0, 255, 255},   {255, 255, 255},
};

int g_image[SIZE][SIZE];

void Put(int x, int y, int colour) {
  if (x >= 0 && x < SIZE && y >= 0 && y < SIZE) g_image[y][x] = colour;
}

void Box(int x0, int y0, int x1, int y1, int colour) {
  for (int y = y0; y <= y1; y++)
    for (int x = x0; x <= x1; x++)
      Put(x, y, colour);
}

void Disc(double cx, double cy, double r, int colour) {
  for (int y = 0; y < SIZE; y++)
    for (int x = 0; x < SIZE; x++)
      if (std::hypot(x - cx, y - cy) <= r) Put(x, y, colour);
}

void Line(int x0, int y0, int x1, int y1, int colour) {
  int dx = std::abs(x1 - x0), dy = -std::abs(y1 - y0);
  int sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1, err = dx + dy;
  for (;;) {
    Put(x0, y0, colour);
    if (x0 == x1 && y0 == y1) break;
    int e2 = 2 * err;
    if (e2 >= dy) err += dy, x0 += sx;
    if (e2 <= dx) err += dx, y0 += sy;
  }
}

// The tag: a label with its point to the left, rows 19 to 30.
bool InTag(int x, int y) {
  if (y < 19 || y > 30) return false;
  int point = std::min(y - 19, 30 - y);
  return x >= 20 - point && x <= 31;
}

void Draw() {
  for (auto &row : g_image)
    for (int &pixel : row)
      pixel = CLEAR;

  // Case: raised edges, screws in the corners.
  Box(0, 1, 24, 28, BLACK);
  Box(1, 2, 23, 27, SILVER);
  Box(1, 2, 23, 2, WHITE);
  Box(1, 2, 1, 27, WHITE);
  Box(2, 27, 23, 27, GREY);
  Box(23, 3, 23, 27, GREY);
  for (int x : {3, 21})
    for (int y : {4, 25})
      Put(x, y, GREY);

  // Platter with a highlight, hub in the middle.
  Disc(12, 13, 9.4, BLACK);
  Disc(12, 13, 8.5, NAVY);
  Disc(12, 13, 7.0, BLUE);
  Disc(9, 10, 2.2, AQUA);
  Disc(12, 13, 2.3, SILVER);
  Put(12, 13, BLACK);

  // Head arm from its pivot in the lower right corner across the platter.
  Disc(20, 23, 1.8, BLACK);
  Line(20, 23, 15, 16, BLACK);
  Line(21, 23, 16, 16, GREY);
  Put(20, 23, OLIVE);

  // Tag tied to the case with a red string.
  for (int y = 0; y < SIZE; y++)
    for (int x = 0; x < SIZE; x++) {
      if (!InTag(x, y)) continue;
      bool edge = !InTag(x - 1, y) || !InTag(x + 1, y) || !InTag(x, y - 1) || !InTag(x, y + 1);
      Put(x, y, edge ? BLACK : YELLOW);
    }
  Put(17, 24, BLACK);
  Put(17, 25, BLACK);
  Line(16, 24, 13, 30, MAROON);
  Line(16, 25, 12, 31, RED);
  // Eight hexadecimal digits, drawn as two rows of dashes.
  for (int x = 20; x <= 29; x += 3) {
    Box(x, 23, x + 1, 23, RED);
    Box(x, 26, x + 1, 26, NAVY);
  }
}

void Le16(std::vector<uint8_t> &out, unsigned v) {
  out.push_back(v & 0xFF);
  out.push_back((v >> 8) & 0xFF);
}

void Le32(std::vector<uint8_t> &out, uint32_t v) {
  Le16(out, v & 0xFFFF);
  Le16(out, v >> 16);
}

std::vector<uint8_t> Encode() {
  const unsigned xor_size = SIZE * SIZE / 2, and_size = SIZE * SIZE / 8;
  const unsigned image_size = 40 + 16 * 4 + xor_size + and_size;
  std::vector<uint8_t> out;
  // ICONDIR and its one ICONDIRENTRY.
  Le16(out, 0);
  Le16(out, 1);
  Le16(out, 1);
  out.push_back(SIZE);
  out.push_back(SIZE);
  out.push_back(16);
  out.push_back(0);
  Le16(out, 1);
  Le16(out, 4);
  Le32(out, image_size);
  Le32(out, 6 + 16);
  // BITMAPINFOHEADER: the height counts the colour and the mask bitmaps.
  Le32(out, 40);
  Le32(out, SIZE);
  Le32(out, 2 * SIZE);
  Le16(out, 1);
  Le16(out, 4);
  Le32(out, 0);
  Le32(out, xor_size + and_size);
  Le32(out, 0);
  Le32(out, 0);
  Le32(out, 16);
  Le32(out, 0);
  for (const auto &c : kPalette) {
    out.push_back(c[2]);
    out.push_back(c[1]);
    out.push_back(c[0]);
    out.push_back(0);
  }
  // Both bitmaps bottom row first; rows are multiples of 4 bytes already.
  for (int y = SIZE - 1; y >= 0; y--)
    for (int x = 0; x < SIZE; x += 2) {
      int hi = g_image[y][x] == CLEAR ? 0 : g_image[y][x];
      int lo = g_image[y][x + 1] == CLEAR ? 0 : g_image[y][x + 1];
      out.push_back((uint8_t)(hi << 4 | lo));
    }
  for (int y = SIZE - 1; y >= 0; y--)
    for (int x = 0; x < SIZE; x += 8) {
      uint8_t bits = 0;
      for (int i = 0; i < 8; i++)
        if (g_image[y][x + i] == CLEAR) bits |= (uint8_t)(0x80 >> i);
      out.push_back(bits);
    }
  return out;
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: make_icon OUTPUT.ico\n");
    return 2;
  }
  Draw();
  std::vector<uint8_t> bytes = Encode();
  FILE *file = fopen(argv[1], "wb");
  if (!file) {
    perror(argv[1]);
    return 1;
  }
  bool ok = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  ok = fclose(file) == 0 && ok;
  if (!ok) {
    perror(argv[1]);
    return 1;
  }
  return 0;
}
