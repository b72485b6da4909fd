// Setup: the desktop wizard that updates the handheld's ROM, backs it up and
// restores it. A dialog program without a main window: the program shows
// its pages one after another until its main loop ends.
#include <QApplication>

#include "setup/windows/app/qt_program_host.h"
#include "setup/device/image_files.h"
#include "setup/link/handheld_port.h"
#include "setup/program/program.h"
#include "setup/resources/settings.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    nuva::PrepareApplication();
    nuva::QtProgramHost host;
    nuva::RapiHandheldPort port;
    nuva::InstalledImageFiles images;
    nuva::MonitorLink link;
    nuva::SetupProgram program(host, port, images, link);
    return program.Run({nuva::RunningProgramPath(), nuva::JoinCommandLine(argc, argv)});
}
