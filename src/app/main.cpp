#include "app/application.h"

int main(int argc, char *argv[])
{
    Application::prepareProcess(argc, argv);
    Application application(argc, argv);
    application.installInterfaceResources();
    application.createMainWindow();
    return application.exec();
}
