#include <QApplication>

#include "ImageOptionDialog.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("QuorvelDraxmoorv22.0");
  ImageOptionDialog window;
  window.show();
  return QApplication::exec();
}
