#include "app/strip.h"

#include <QPainter>
#include <array>
#include <cmath>

namespace app {
namespace {

constexpr QRgb kWhite = qRgb(255, 255, 255);
constexpr QRgb kBlack = qRgb(0, 0, 0);
constexpr QRgb kHighlight = qRgb(189, 189, 189);
constexpr QRgb kShadow = qRgb(123, 123, 123);
constexpr QRgb kClear = qRgba(0, 0, 0, 0);

constexpr int kUpperRows = 18;  // rows 0-17: the part beside the black keys
constexpr int kBevelRow = 28;

// Per pitch class: x offset within the octave and image.
constexpr std::array<int, 12> kKeyOffset = {0, 6, 8, 14, 16, 24, 30, 32, 38, 40, 46, 48};
constexpr std::array<int, 12> kKeyImage = {0, 3, 1, 3, 2, 0, 3, 1, 3, 1, 3, 2};
constexpr int kOctaveWidth = 56;

// First and last opaque column of the upper rows of white key image `shape` (0, 1 or 2).
constexpr int UpperFirst(int shape) { return shape == 0 ? 0 : 3; }
constexpr int UpperLast(int shape) { return shape == 2 ? 7 : 5; }

// A white key. In the upper rows only the columns between the black keys are opaque; the leftmost of
// them is the black edge (image 0) or a highlight (images 1 and 2, whose edge the black key draws), the
// rightmost the shadow. Below, the full width: edge, highlight, face, then the bevel, or for a pressed
// key the face down to row 30 over a black last row.
QImage WhiteKey(int shape, bool pressed) {
  QImage image(kKeyImageWidth, kStripHeight, QImage::Format_ARGB32);
  image.fill(kClear);
  for (int y = 0; y < kStripHeight; ++y) {
    const bool upper = y < kUpperRows;
    const int first = upper ? UpperFirst(shape) : 0;
    const int last = upper ? UpperLast(shape) : kKeyImageWidth - 1;
    for (int x = first; x <= last; ++x) {
      QRgb colour = kWhite;
      if (x == 0) {
        colour = kBlack;
      } else if (y == kStripHeight - 1) {
        colour = kBlack;
      } else if (!pressed && y >= kBevelRow) {
        colour = y == kBevelRow ? kHighlight : kShadow;
      } else if (x == 1 || (upper && x == first)) {
        colour = kHighlight;
      } else if (upper && x == last) {
        colour = kShadow;
      }
      image.setPixel(x, y, colour);
    }
  }
  return image;
}

// The black key: rows 0-17, columns 0-4, black with a short white line (lower when pressed).
QImage BlackKey(bool pressed) {
  QImage image(kKeyImageWidth, kStripHeight, QImage::Format_ARGB32);
  image.fill(kClear);
  const int line = pressed ? 16 : 14;
  for (int y = 0; y < kUpperRows; ++y) {
    for (int x = 0; x <= 4; ++x) image.setPixel(x, y, y == line && x >= 1 && x <= 3 ? kWhite : kBlack);
  }
  return image;
}

std::array<QImage, 8> MakeKeyImages() {
  std::array<QImage, 8> images;
  for (int pressed = 0; pressed < 2; ++pressed) {
    for (int shape = 0; shape < 3; ++shape) images[pressed * 4 + shape] = WhiteKey(shape, pressed != 0);
    images[pressed * 4 + 3] = BlackKey(pressed != 0);
  }
  return images;
}

}  // namespace

const QImage& KeyImage(int index) {
  static const std::array<QImage, 8> images = MakeKeyImages();
  return images[static_cast<size_t>(index & 7)];
}

int KeyImageIndex(int note, bool pressed) {
  // The last G has no black key after it and is drawn as a key with a black key on its left only.
  const int image = note == 127 ? 2 : kKeyImage[static_cast<size_t>(note % 12)];
  return image + (pressed ? 4 : 0);
}

int KeyX(int note) { return note / 12 * kOctaveWidth + kKeyOffset[static_cast<size_t>(note % 12)]; }

QImage NewStripPicture() {
  QImage picture(kStripWidth, kStripHeight, QImage::Format_RGB32);
  picture.fill(kBlack);
  return picture;
}

void DrawKey(QImage& picture, int note, bool pressed) {
  if (note < 0 || note > 127) return;
  QPainter painter(&picture);
  painter.drawImage(KeyX(note), 0, KeyImage(KeyImageIndex(note, pressed)));
}

void DrawAllKeys(QImage& picture, const uint8_t (&pressed)[128]) {
  QPainter painter(&picture);
  for (int note = 0; note < 128; ++note) {
    painter.drawImage(KeyX(note), 0, KeyImage(KeyImageIndex(note, pressed[note] != 0)));
  }
}

KeyStripView::KeyStripView(QWidget* parent) : QWidget(parent), picture_(NewStripPicture()) {
  setFixedSize(kStripWidth, kStripHeight);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void KeyStripView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const qreal ratio = painter.device()->devicePixelRatioF();
  if (ratio <= 1.0) {
    painter.drawImage(0, 0, picture_);
    return;
  }
  // Pixel art: enlarge by a whole factor without smoothing and let the device ratio place it.
  const int factor = static_cast<int>(std::ceil(ratio));
  QImage scaled = picture_.scaled(kStripWidth * factor, kStripHeight * factor, Qt::IgnoreAspectRatio,
                                  Qt::FastTransformation);
  scaled.setDevicePixelRatio(factor);
  painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
  painter.drawImage(QPointF(0, 0), scaled);
}

}  // namespace app
