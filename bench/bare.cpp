// The baseline for start-up time and memory: an empty Qt window.
#include <QApplication>
#include <QWidget>

int main(int argc, char *argv[])
{
    QApplication a(argc, argv);
    QWidget w;
    w.setWindowTitle("bare");
    w.resize(586, 371);
    w.show();
    return a.exec();
}
