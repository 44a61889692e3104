#include "cli/Velquint.h"
#include "platform/Console.h"

int main(int argc, char** argv) {
    PrepareStandardStreams();
    return RunVelquint(argc, argv);
}
