// Entry point. Exactly one argument (argc 2, after the toolkit has taken its
// own options such as -platform) makes the elevated instance; anything else
// makes the launcher, which asks for administrator rights and relaunches.
#include "app/StartUp.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    // Qt 6 has no C-string codec to set: 8-bit text is converted as GB2312
    // explicitly (app/TextCodec.h) wherever it becomes display text.
    tessaroo::app::InstallDiagnostics();
    if (argc == 2)
        return tessaroo::app::RunElevatedInstance();
    return tessaroo::app::RunLauncher(QCoreApplication::applicationFilePath());
}
