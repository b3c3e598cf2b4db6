// velkora-decoder: the helper the program decodes pictures in. It talks to the program over
// descriptor 3 only and is of no use started by hand.

#include "picture/decoderservice.h"

#include <QCoreApplication>

#include <cstdlib>

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    // Nothing is left to clean up, and a leak check at exit would need calls the sandbox refuses.
    std::_Exit(DecoderService().run());
}
