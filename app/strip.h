// The keyboard strip: 128 MIDI notes drawn as piano keys (600 x 32 pixels), with the sounding ones pressed.
#pragma once

#include <QImage>
#include <QWidget>
#include <cstdint>

namespace app {

inline constexpr int kStripWidth = 600;
inline constexpr int kStripHeight = 32;
inline constexpr int kKeyImageWidth = 8;

// Image 0..7 of the key image list: 0 white key with a black key on its right (C, F), 1 between two
// black keys (D, G, A), 2 with a black key on its left (E, B), 3 black key; 4..7 the same pressed.
// Transparent where the key has no pixels.
const QImage& KeyImage(int index);

// Where note `note` (0..127) is drawn: its image (pressed adds 4) and its x in the strip.
int KeyImageIndex(int note, bool pressed);
int KeyX(int note);

// A new strip picture: black, as before the first DrawAllKeys.
QImage NewStripPicture();
// Draws one key over the picture, with transparency.
void DrawKey(QImage& picture, int note, bool pressed);
// Every key from 0 to 127, so that each black key lands over the white keys' transparent corners.
void DrawAllKeys(QImage& picture, const uint8_t (&pressed)[128]);

// The widget that shows the picture (at 1x, scaled by a whole factor on HiDPI screens, never smoothed).
class KeyStripView : public QWidget {
  Q_OBJECT

 public:
  explicit KeyStripView(QWidget* parent = nullptr);
  QImage& Picture() { return picture_; }
  const QImage& Picture() const { return picture_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QImage picture_;
};

}  // namespace app
