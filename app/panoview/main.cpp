// Panoview: the monitor wall of the Loomhaven factory cloud.
#include "app/Program.h"

int main(int argc, char** argv) {
    Program program(argc, argv);
    return program.run();
}
