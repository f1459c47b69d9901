// Entry point. Exactly one argument (argc 2, after the toolkit has taken its
// own options such as -platform) makes the elevated instance; anything else
// makes the launcher, which asks for administrator rights and relaunches.
#include "app/StartUp.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    // 8-bit text (node names, the engines' messages) is UTF-8 on this
    // system; it becomes display text through QString::fromUtf8.
    tessaroo::app::InstallDiagnostics();
    if (argc == 2)
        return tessaroo::app::RunElevatedInstance();
    return tessaroo::app::RunLauncher(QCoreApplication::applicationFilePath());
}
