// The controls of a window found by their object names: the windows keep their controls private, and
// every control carries its member's name as its object name.
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QObject>
#include <QString>
#include <QTranslator>

namespace test_support {

// The descendant of `parent` of type W named `name`; a test failure and null when there is none.
template <class W>
W* Widget(const QObject* parent, const char* name) {
  W* widget = parent->findChild<W*>(QString::fromLatin1(name));
  EXPECT_NE(widget, nullptr) << "no control " << name;
  return widget;
}

// The same through a pointer of any kind (raw or smart) to the window.
template <class W, class Pointer>
W* Widget(const Pointer& parent, const char* name) {
  return Widget<W>(static_cast<const QObject*>(&*parent), name);
}

// Takes every translator of the application out again, so that the next tests see the texts of the code.
inline void RemoveTranslators() {
  for (QTranslator* translator : QCoreApplication::instance()->findChildren<QTranslator*>()) {
    QCoreApplication::removeTranslator(translator);
    delete translator;
  }
}

}  // namespace test_support
