// The keyboard strip, pixel by pixel: the eight key images, where each note lands, and the whole strip
// against a committed reference picture.
#include "app/strip.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <cstdlib>

namespace app_test {
namespace {

constexpr QRgb kWhite = qRgb(255, 255, 255), kBlack = qRgb(0, 0, 0), kGrey = qRgb(189, 189, 189),
               kDark = qRgb(123, 123, 123);
constexpr QRgb kClear = 0;  // transparent

QRgb At(const QImage& image, int x, int y) {
  const QRgb p = image.pixel(x, y);
  return qAlpha(p) == 0 ? kClear : qRgb(qRed(p), qGreen(p), qBlue(p));
}

TEST(StripPlacement, NotesLandAtTheirOffsetsWithTheirImages) {
  struct Case {
    int note, x, image, pressedImage;
  };
  for (const Case& c : {Case{0, 0, 0, 4}, Case{1, 6, 3, 7}, Case{2, 8, 1, 5}, Case{4, 16, 2, 6},
                        Case{5, 24, 0, 4}, Case{11, 48, 2, 6}, Case{60, 280, 0, 4}, Case{61, 286, 3, 7},
                        Case{67, 312, 1, 5}, Case{126, 590, 3, 7}, Case{127, 592, 2, 6}}) {
    EXPECT_EQ(app::KeyX(c.note), c.x) << c.note;
    EXPECT_EQ(app::KeyImageIndex(c.note, false), c.image) << c.note;
    EXPECT_EQ(app::KeyImageIndex(c.note, true), c.pressedImage) << c.note;
  }
}

// Image, x, y -> colour (kClear for a transparent pixel).
TEST(KeyImages, PixelsFollowTheDrawing) {
  struct Case {
    int image, x, y;
    QRgb colour;
  };
  const Case cases[] = {
      // Image 0 (C, F): edge, highlight, face, shadow beside the black key, transparent corner, bevel.
      {0, 0, 0, kBlack},
      {0, 1, 0, kGrey},
      {0, 2, 5, kWhite},
      {0, 5, 10, kDark},
      {0, 6, 10, kClear},
      {0, 7, 17, kClear},
      {0, 6, 18, kWhite},
      {0, 7, 27, kWhite},
      {0, 1, 27, kGrey},
      {0, 0, 28, kBlack},
      {0, 1, 28, kGrey},
      {0, 7, 28, kGrey},
      {0, 3, 29, kDark},
      {0, 7, 30, kDark},
      {0, 4, 31, kBlack},
      // Image 1 (D, G, A): no edge in the upper rows, highlight in column 3, shadow in column 5.
      {1, 0, 5, kClear},
      {1, 2, 17, kClear},
      {1, 3, 0, kGrey},
      {1, 4, 0, kWhite},
      {1, 5, 17, kDark},
      {1, 6, 5, kClear},
      {1, 0, 18, kBlack},
      {1, 1, 18, kGrey},
      {1, 3, 18, kWhite},
      {1, 1, 29, kDark},
      // Image 2 (E, B): shadow in column 7.
      {2, 2, 3, kClear},
      {2, 3, 3, kGrey},
      {2, 6, 3, kWhite},
      {2, 7, 3, kDark},
      {2, 7, 18, kWhite},
      {2, 0, 20, kBlack},
      {2, 5, 28, kGrey},
      // Image 3: the black key with its line at row 14.
      {3, 0, 0, kBlack},
      {3, 4, 17, kBlack},
      {3, 5, 0, kClear},
      {3, 1, 14, kWhite},
      {3, 3, 14, kWhite},
      {3, 0, 14, kBlack},
      {3, 4, 14, kBlack},
      {3, 2, 16, kBlack},
      {3, 2, 18, kClear},
      // Pressed white keys: face, highlight and edge down to row 30, row 31 black.
      {4, 0, 30, kBlack},
      {4, 1, 28, kGrey},
      {4, 1, 30, kGrey},
      {4, 2, 28, kWhite},
      {4, 7, 30, kWhite},
      {4, 7, 31, kBlack},
      {4, 5, 10, kDark},
      {4, 6, 10, kClear},
      {5, 3, 0, kGrey},
      {5, 4, 29, kWhite},
      {6, 7, 3, kDark},
      {6, 7, 29, kWhite},
      {6, 0, 31, kBlack},
      // Pressed black key: the line at row 16.
      {7, 2, 14, kBlack},
      {7, 1, 16, kWhite},
      {7, 3, 16, kWhite},
      {7, 4, 16, kBlack},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(At(app::KeyImage(c.image), c.x, c.y), c.colour)
        << "image " << c.image << " (" << c.x << ", " << c.y << ")";
  }
}

TEST(StripPicture, IsBlackBeforeTheFirstDrawing) {
  const QImage picture = app::NewStripPicture();
  EXPECT_EQ(picture.size(), QSize(600, 32));
  for (int x : {0, 299, 599}) EXPECT_EQ(picture.pixel(x, 20), kBlack);
}

TEST(StripPicture, PressingAndReleasingNote60RedrawsImage4ThenImage0) {
  uint8_t pressed[128] = {};
  QImage picture = app::NewStripPicture();
  app::DrawAllKeys(picture, pressed);
  const QImage before = picture.copy();
  app::DrawKey(picture, 60, true);
  for (int y = 0; y < 32; ++y) {
    for (int x = 0; x < 8; ++x) {
      const QRgb image = app::KeyImage(4).pixel(x, y);
      const QRgb expected =
          qAlpha(image) ? qRgb(qRed(image), qGreen(image), qBlue(image)) : before.pixel(280 + x, y);
      ASSERT_EQ(picture.pixel(280 + x, y), expected) << x << ", " << y;
    }
  }
  // Nothing outside the key changed.
  EXPECT_EQ(picture.copy(0, 0, 280, 32), before.copy(0, 0, 280, 32));
  EXPECT_EQ(picture.copy(288, 0, 312, 32), before.copy(288, 0, 312, 32));
  app::DrawKey(picture, 60, false);
  EXPECT_EQ(picture, before);
}

TEST(StripPicture, BlackKeysShowThroughTheWhiteKeysCorners) {
  uint8_t pressed[128] = {};
  QImage picture = app::NewStripPicture();
  app::DrawAllKeys(picture, pressed);
  EXPECT_EQ(picture.pixel(286, 5), kBlack);   // C# over the corners of C and D
  EXPECT_EQ(picture.pixel(287, 14), kWhite);  // its line
  EXPECT_EQ(picture.pixel(291, 5), kGrey);    // D's highlight in its column 3
  EXPECT_EQ(picture.pixel(285, 5), kDark);    // C's shadow
  EXPECT_EQ(picture.pixel(592, 20), kBlack);  // the last G: its edge
  EXPECT_EQ(picture.pixel(599, 5), kDark);    // ... and its shadow in column 7, nothing after it
  EXPECT_EQ(picture.pixel(599, 20), kWhite);
}

TEST(StripView, ScalesByWholeFactorsWithoutSmoothing) {
  app::KeyStripView view;
  uint8_t pressed[128] = {};
  pressed[60] = 1;
  app::DrawAllKeys(view.Picture(), pressed);
  for (int factor : {1, 2, 3}) {
    QImage target(600 * factor, 32 * factor, QImage::Format_RGB32);
    target.setDevicePixelRatio(factor);
    target.fill(Qt::red);
    view.render(&target);
    for (int y = 0; y < 32; y += 3) {
      for (int x = 270; x < 300; ++x) {
        for (int d = 0; d < factor * factor; ++d) {
          ASSERT_EQ(target.pixel(x * factor + d % factor, y * factor + d / factor),
                    view.Picture().pixel(x, y))
              << factor << ": " << x << ", " << y;
        }
      }
    }
  }
}

// The whole strip with a few keys pressed against tests/qt_app/strip_reference.png. Run with
// TONVIK_UPDATE_REFERENCE=1 to write the picture again after a deliberate change.
TEST(StripPicture, MatchesTheReferencePicture) {
  uint8_t pressed[128] = {};
  for (int note : {0, 13, 60, 61, 64, 70, 126, 127}) pressed[note] = 1;
  QImage picture = app::NewStripPicture();
  app::DrawAllKeys(picture, pressed);
  const char* source = std::getenv("TONVIK_SOURCE_DIR");
  const QString path = QDir(source ? QString::fromLocal8Bit(source) : QStringLiteral(TONVIK_TEST_SOURCE_DIR))
                           .filePath(QStringLiteral("tests/qt_app/strip_reference.png"));
  if (std::getenv("TONVIK_UPDATE_REFERENCE")) {
    ASSERT_TRUE(picture.save(path));
  }
  QImage reference(path);
  ASSERT_FALSE(reference.isNull()) << path.toStdString();
  reference = reference.convertToFormat(QImage::Format_RGB32);
  ASSERT_EQ(reference.size(), picture.size());
  for (int y = 0; y < 32; ++y) {
    for (int x = 0; x < 600; ++x) ASSERT_EQ(picture.pixel(x, y), reference.pixel(x, y)) << x << ", " << y;
  }
}

}  // namespace
}  // namespace app_test
