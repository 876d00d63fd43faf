#include "Tesvano/App/Program.h"

int main(int argc, char** argv) {
    return tesvano::Program::main(argc, argv);
}
