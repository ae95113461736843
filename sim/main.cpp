// Placeholder until the virtual controller lands.
#include <QApplication>
#include <QLabel>
int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QLabel l("ZEVO Local User Interface (simulator)");
    l.show();
    return app.exec();
}
