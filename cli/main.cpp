#include "cli/Velquint.h"

int main(int argc, char** argv) {
    return RunVelquint(argc, argv);
}
