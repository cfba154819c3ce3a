// The baseline for start-up, memory and idle cost: a bare Qt window of the game's size.
#include "baselinewindow.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    mojitan::bench::BaselineWindow window;
    window.show();
    return QApplication::exec();
}
